// inventory.cpp - "vireoctl --json inventory": what a management script
// asks of a machine, in one JSON document: the kit's version and width, every
// camera (the present ones in the enumerator's order, then the ones only the
// keeper remembers) with its values and what the organization's policy locks
// or recommends, and the keeper.
#include "commands.h"

#include "keeperpaths.h"

#include <nlohmann/json.hpp>

namespace vireoctl {

namespace {

using Json = nlohmann::ordered_json;

// {"EXPOSURE": 800, ...} of the controls whose bit is in mask.
Json Values(const LONG *values, ULONG mask)
{
    Json out = Json::object();
    for (size_t i = 0; i < CAMERA_CONTROL_COUNT; ++i)
        if (mask & (1u << i))
            out[CameraControlName(CameraControlIds[i])] = values[i];
    return out;
}

// The camera's model and its policy.
void AddPolicy(const std::wstring &id, Json *camera)
{
    wchar_t model[VIREO_MODEL_CAPACITY];
    VireoCameraModel(id.c_str(), model, VIREO_MODEL_CAPACITY);
    VireoPolicy policy;
    VireoPolicyRead(model, &policy);
    (*camera)["model"] = model[0] ? Json(Utf8(model)) : Json();
    (*camera)["locked"] = Values(policy.lockedValues, policy.locked);
    (*camera)["recommended"] = Values(policy.recommendedValues, policy.recommended);
}

// Whether device index offers IFace, and its current values (null without
// IFace; a control the camera refuses to read is left out).
void AddValues(unsigned index, Json *camera)
{
    VireoCamera *opened = NULL;
    const HRESULT hr = VireoCameraOpenIndex(index, &opened);
    (*camera)["iface"] = SUCCEEDED(hr) ? "yes" : hr == VIREO_E_OTHER_WIDTH ? "other width" : "no";
    (*camera)["values"] = Json();
    if (FAILED(hr))
        return;
    VireoProfile now;
    VireoCameraReadProfile(opened, &now);
    (*camera)["values"] = Values(now.values, now.present);
    VireoCameraClose(opened);
}

// What the keeper remembers of camera id: its profile's time and its last
// restore (null when it keeps no profile of it).
Json Kept(const std::vector<KeptCamera> &kept, const std::wstring &id)
{
    for (const KeptCamera &k : kept) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (FAILED(k.read) || !VireoCameraSameId(k.profile.id, id.c_str()) ||
            !GetFileAttributesExW(k.path.c_str(), GetFileExInfoStandard, &data))
            continue;
        const std::string restored = LastRestore(id);
        return {{"saved", LocalTime(data.ftLastWriteTime)},
                {"lastRestore", restored.empty() ? Json() : Json(restored)}};
    }
    return Json();
}

Json Camera(const std::wstring &id, const std::wstring &name, bool present)
{
    return {{"id", Utf8(id)}, {"name", Utf8(name)}, {"present", present}};
}

Json Cameras()
{
    const std::vector<KeptCamera> kept = KeptCameras();
    Json cameras = Json::array();
    std::vector<std::wstring> seen;
    unsigned count = 0;
    if (FAILED(VireoCameraDeviceCount(&count)))
        count = 0;
    for (unsigned i = 0; i < count; ++i) {
        wchar_t name[256], id[VIREO_ID_CAPACITY];
        if (FAILED(VireoCameraDeviceName(i, name, 256)) ||
            FAILED(VireoCameraDeviceId(i, id, VIREO_ID_CAPACITY)))
            break;  // the device went meanwhile
        Json camera = Camera(id, name, true);
        AddValues(i, &camera);
        AddPolicy(id, &camera);
        camera["profile"] = Kept(kept, id);
        cameras.push_back(camera);
        seen.push_back(id);
    }
    for (const KeptCamera &k : kept) {
        bool present = false;
        for (const std::wstring &id : seen)
            present = present || VireoCameraSameId(id.c_str(), k.profile.id);
        if (FAILED(k.read) || present)
            continue;
        Json camera = Camera(k.profile.id, k.profile.device, false);
        camera["iface"] = Json();
        camera["values"] = Json();
        AddPolicy(k.profile.id, &camera);
        camera["profile"] = Kept(kept, k.profile.id);
        cameras.push_back(camera);
    }
    return cameras;
}

Json Keeper()
{
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, VIREO_KEEPER_MUTEX);
    if (mutex)
        CloseHandle(mutex);
    return {{"running", mutex != NULL}, {"keeping", VireoKeeperKeep() != 0}};
}

}  // namespace

int Inventory(FILE *out, FILE *)
{
    Json document = {{"kit", {{"version", VIREO_VERSION_STRING}, {"width", 8 * sizeof(void *)}}},
                     {"policyKey", "HKLM\\" + Utf8(VIREO_POLICY_KEY)},
                     {"keeper", Keeper()},
                     {"cameras", Cameras()}};
    const std::string text = document.dump(2, ' ', false, Json::error_handler_t::replace);
    fprintf(out, "%s\n", text.c_str());
    return STATUS_OK;
}

}  // namespace vireoctl
