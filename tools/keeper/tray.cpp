// tray.cpp - the keeper's icon, tooltip and menu names (tray.h).
#include "tray.h"

#include "vireocamera.h"

namespace keeper {

std::vector<std::wstring> ShownNames(const std::vector<TrayCamera> &cameras)
{
    std::vector<const wchar_t *> names, ids;
    for (const TrayCamera &c : cameras) {
        names.push_back(c.name.empty() ? c.id.c_str() : c.name.c_str());
        ids.push_back(c.id.c_str());
    }
    std::vector<std::wstring> shown;
    for (size_t i = 0; i < cameras.size(); ++i) {
        wchar_t name[VIREO_ID_CAPACITY + 16];
        VireoCameraShownName(names[i], ids[i], names.data(), ids.data(),
                             static_cast<unsigned>(cameras.size()), name, ARRAYSIZE(name));
        shown.push_back(name);
    }
    return shown;
}

TrayView Tray(bool keep, const std::vector<TrayCamera> &cameras)
{
    if (!keep)
        return {TrayState::NotKept, L"Vireo: settings not kept"};
    const size_t count = cameras.size();
    TrayView view = {TrayState::Kept, L"Vireo: " + std::to_wstring(count) +
                                          (count == 1 ? L" camera" : L" cameras") +
                                          L", settings kept"};
    const std::vector<std::wstring> shown = ShownNames(cameras);
    for (size_t i = 0; i < count; ++i) {
        if (!cameras[i].refused)
            continue;
        view.state = TrayState::Refused;
        view.tip += L"; " + shown[i] + L" refused its restore";
    }
    return view;
}

UINT TrayIconResource(TrayState state, bool lightTaskbar)
{
    const UINT first = 201;
    return first + 2 * static_cast<UINT>(state) + (lightTaskbar ? 0 : 1);
}

bool LightTaskbar()
{
    DWORD light = 0, size = sizeof(light);
    return RegGetValueW(HKEY_CURRENT_USER,
                        L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
                        L"SystemUsesLightTheme", RRF_RT_REG_DWORD, NULL, &light,
                        &size) == ERROR_SUCCESS &&
           light != 0;
}

}  // namespace keeper
