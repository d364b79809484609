// The camera library on the simulated camera with the registered extension:
// each way opening can fail, what each request sends and gives back, and
// the Default sequence with its pauses.
#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>

#include <functional>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include <wrl/client.h>

#include "vireocamera.h"
#include "vireosim.h"
#include "wintest.h"

using Microsoft::WRL::ComPtr;

namespace {

// {9C1A6E02-5B7D-4F21-8E4A-3D2C1B0A9F87}: a device whose class nobody serves.
const GUID kBrokenDevice = {
    0x9C1A6E02, 0x5B7D, 0x4F21, {0x8E, 0x4A, 0x3D, 0x2C, 0x1B, 0x0A, 0x9F, 0x87}};
const wchar_t kHandlerClass[] = L"Software\\Classes\\CLSID\\{04F2A42A-479F-4511-8F03-1CE31876DBCC}";
const wchar_t kSimName[] = L"Vireo Simulated Camera";

// What reaches the driver, pauses among the requests: "SD 12=284", "pause 10".
std::vector<std::string> g_sequence;
VireoSim *g_sim = NULL;
LONG g_logged = 0;

std::string Sent(const VireoSimRequest &r)
{
    const char *const kinds[] = {"GE", "SD", "GD", "SE"};
    std::string text =
        std::string(r.kind < 4 ? kinds[r.kind] : "?") + " " + std::to_string(r.controlId);
    return r.isSet ? text + "=" + std::to_string(r.value) : text;
}

// The requests since the last collection, as the driver's log holds them.
void Collect()
{
    VireoSimRequest log[64];
    unsigned read = ARRAYSIZE(log);
    while (read == ARRAYSIZE(log) &&
           SUCCEEDED(VireoSimReadLog(g_sim, g_logged, log, ARRAYSIZE(log), &read))) {
        for (unsigned i = 0; i < read; ++i)
            g_sequence.push_back(Sent(log[i]));
        g_logged += static_cast<LONG>(read);
    }
}

void WINAPI RecordPause(DWORD milliseconds)
{
    Collect();
    g_sequence.push_back("pause " + std::to_string(milliseconds));
}

void CALLBACK RecordStep(void *context, const VireoStep *step)
{
    static_cast<std::vector<VireoStep> *>(context)->push_back(*step);
}

// Whether this program sees a registry view of the other width.
bool OtherViewExists()
{
#ifdef _WIN64
    return true;
#else
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
#endif
}

class CameraTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
        ASSERT_TRUE(wintest::RegisterModule(L"simcam.ax"));
        ASSERT_TRUE(wintest::RegisterModule(L"vireoprop.ax"));
        ASSERT_EQ(S_OK, VireoSimOpen(0, &m_sim));
        ASSERT_EQ(S_OK, VireoSimReset(m_sim));
        g_sim = m_sim;
    }
    void TearDown() override
    {
        VireoCameraClose(m_camera);
        wintest::RegisterModule(L"vireoprop.ax", true);
        wintest::RegisterModule(L"simcam.ax", true);
        VireoSimClose(m_sim);
        g_sim = NULL;
        CoUninitialize();
    }

    // What the driver holds of a control; the requests it has seen.
    LONG Held(ULONG id)
    {
        LONG value = 0;
        EXPECT_EQ(S_OK, VireoSimGetValue(m_sim, id, &value));
        return value;
    }
    LONG Logged()
    {
        LONG count = 0;
        EXPECT_EQ(S_OK, VireoSimLogCount(m_sim, &count));
        return count;
    }

    VireoSim *m_sim = NULL;  // device 0 of the simulated camera
    VireoCamera *m_camera = NULL;
};

// A video input device entry whose filter cannot be made (add false:
// removed again).
HRESULT RegisterBrokenDevice(bool add)
{
    ComPtr<IFilterMapper2> mapper;
    HRESULT hr =
        CoCreateInstance(CLSID_FilterMapper2, NULL, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                         reinterpret_cast<void **>(mapper.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    if (!add)
        return mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, NULL, kBrokenDevice);
    REGFILTER2 filter = {};
    filter.dwVersion = 1;
    filter.dwMerit = MERIT_DO_NOT_USE;
    return mapper->RegisterFilter(kBrokenDevice, L"Vireo Broken Camera", NULL,
                                  &CLSID_VideoInputDeviceCategory, NULL, &filter);
}

// The handler's class in the registry view of the other width only, as a
// vireoprop.ax of that width leaves it (add false: removed again).
void RegisterHandlerInOtherView(bool add)
{
#ifdef _WIN64
    const REGSAM other = KEY_WOW64_32KEY;
#else
    const REGSAM other = KEY_WOW64_64KEY;
#endif
    HKEY key = NULL;
    if (add) {
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                                  (std::wstring(kHandlerClass) + L"\\InprocServer32").c_str(), 0,
                                  NULL, 0, KEY_WRITE | other, NULL, &key, NULL));
        RegCloseKey(key);
    } else {
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE,
                        (std::wstring(kHandlerClass) + L"\\InprocServer32").c_str(), other, 0);
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kHandlerClass, other, 0);
    }
}

}  // namespace

TEST_F(CameraTest, OpeningTellsEachWayToFailApart)
{
    const HRESULT otherWidth = OtherViewExists() ? VIREO_E_OTHER_WIDTH : VIREO_E_NO_IFACE;
    struct Case {
        const char *what;
        std::function<void()> arrange, undo;
        const wchar_t *name;  // null: by index
        unsigned index;
        HRESULT expected;
    } cases[] = {
        {"first device", [] {}, [] {}, NULL, 0, S_OK},
        {"by name, any case", [] {}, [] {}, L"vireo SIMULATED camera", 0, S_OK},
        {"index past the end", [] {}, [] {}, NULL, 1, VIREO_E_NO_SUCH_DEVICE},
        {"unknown name", [] {}, [] {}, L"Other Camera", 0, VIREO_E_NO_SUCH_DEVICE},
        {"no filter", [] { RegisterBrokenDevice(true); }, [] { RegisterBrokenDevice(false); },
         L"Vireo Broken Camera", 0, VIREO_E_CANNOT_OPEN},
        {"no extension", [] { wintest::RegisterModule(L"vireoprop.ax", true); },
         [] { wintest::RegisterModule(L"vireoprop.ax"); }, NULL, 0, VIREO_E_NO_IFACE},
        {"extension of the other width",
         [] {
             wintest::RegisterModule(L"vireoprop.ax", true);
             RegisterHandlerInOtherView(true);
         },
         [] {
             RegisterHandlerInOtherView(false);
             wintest::RegisterModule(L"vireoprop.ax");
         },
         NULL, 0, otherWidth},
        {"no device", [] { wintest::RegisterModule(L"simcam.ax", true); },
         [] { wintest::RegisterModule(L"simcam.ax"); }, NULL, 0, VIREO_E_NO_DEVICE},
    };
    std::set<std::string> messages;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        c.arrange();
        VireoCamera *camera = reinterpret_cast<VireoCamera *>(1);
        const HRESULT hr =
            c.name ? VireoCameraOpenName(c.name, &camera) : VireoCameraOpenIndex(c.index, &camera);
        EXPECT_EQ(c.expected, hr) << VireoCameraMessage(hr);
        if (SUCCEEDED(hr)) {
            EXPECT_STREQ(kSimName, VireoCameraName(camera));
            EXPECT_NE(nullptr, VireoCameraInterface(camera));
        } else {
            EXPECT_EQ(nullptr, camera);
            messages.insert(VireoCameraMessage(hr));
        }
        VireoCameraClose(camera);
        c.undo();
    }
    // Each failure has its own words (the other width's only where there is one).
    EXPECT_EQ(OtherViewExists() ? 5u : 4u, messages.size());
    EXPECT_EQ(0, Logged());

    unsigned count = 0;
    EXPECT_EQ(S_OK, VireoCameraDeviceCount(&count));
    EXPECT_EQ(1u, count);
    wchar_t name[8];
    EXPECT_EQ(S_OK, VireoCameraDeviceName(0, name, 8));
    EXPECT_STREQ(L"Vireo S", name);  // cut to the buffer, terminated
    EXPECT_EQ(VIREO_E_NO_SUCH_DEVICE, VireoCameraDeviceName(1, name, 8));
    EXPECT_EQ(E_POINTER, VireoCameraOpenIndex(0, NULL));
    EXPECT_EQ(E_POINTER, VireoCameraOpenName(NULL, &m_camera));
}

TEST_F(CameraTest, RequestsAndTheirAnswers)
{
    ASSERT_EQ(S_OK, VireoCameraOpenIndex(0, &m_camera));
    ASSERT_EQ(S_OK, VireoSimSetValue(m_sim, EXPOSURE, 500));
    ASSERT_EQ(S_OK, VireoSimSetRange(m_sim, A_GAIN, 2, 40));
    LONG value = 0;
    VireoRange range = {};
    struct Case {
        const char *what;
        std::function<HRESULT()> call;
        HRESULT expected;
        std::vector<std::string> sent;
    } cases[] = {
        {"get", [&] { return VireoCameraGet(m_camera, EXPOSURE, &value); }, S_OK, {"GD 12"}},
        {"range", [&] { return VireoCameraRange(m_camera, A_GAIN, &range); }, S_OK, {"GE 300"}},
        {"set", [&] { return VireoCameraSet(m_camera, FLIP, 1); }, S_OK, {"SD 16=1"}},
        {"refused set",
         [&] {
             VireoSimRefuse(m_sim, AEC, SET_DATA, E_ACCESSDENIED, -1);
             return VireoCameraSet(m_camera, AEC, 0);
         },
         E_ACCESSDENIED,
         {"SD 13=0"}},
        {"refused get",
         [&] {
             VireoSimRefuse(m_sim, D_GAIN, GET_DATA, E_ACCESSDENIED, -1);
             return VireoCameraGet(m_camera, D_GAIN, &value);
         },
         E_ACCESSDENIED,
         {"GD 302"}},
        {"unknown control",
         [&] { return VireoCameraSet(m_camera, 99, 1); },
         VIREO_E_UNKNOWN_CONTROL,
         {}},
        {"no value", [&] { return VireoCameraGet(m_camera, EXPOSURE, NULL); }, E_POINTER, {}},
        {"no camera", [&] { return VireoCameraRange(NULL, EXPOSURE, &range); }, E_POINTER, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        g_sequence.clear();
        g_logged = Logged();
        EXPECT_EQ(c.expected, c.call());
        Collect();
        EXPECT_EQ(c.sent, g_sequence);
    }
    EXPECT_EQ(500, value);  // the refused get left it alone
    EXPECT_EQ(1, range.enable);
    EXPECT_EQ(1, range.defaultValue);
    EXPECT_EQ(2, range.minValue);
    EXPECT_EQ(40, range.maxValue);
    EXPECT_EQ(1, Held(FLIP));
    EXPECT_EQ(1, Held(AEC));
}

TEST_F(CameraTest, SequencesFollowTheDefaultOrderWithItsPauses)
{
    ASSERT_EQ(S_OK, VireoCameraOpenIndex(0, &m_camera));
    VireoCameraSetPause(m_camera, RecordPause);
    std::vector<VireoStep> steps;
    VireoCameraWatch(m_camera, RecordStep, &steps);

    // The reference: the Default button sends every SET_ENABLE, then every
    // SET_DATA with a pause after the marked controls.
    LONG values[CAMERA_CONTROL_COUNT];
    for (size_t i = 0; i < CAMERA_CONTROL_COUNT; ++i)
        values[i] = static_cast<LONG>(i) + 1;
    std::vector<std::string> enables, defaults, loaded;
    for (const VireoDefaultStep &s : VireoDefaultSequence) {
        const std::string id = std::to_string(s.controlId);
        const std::string factory = std::to_string(CameraControlFactoryDefault(s.controlId));
        size_t i = 0;
        while (CameraControlIds[i] != s.controlId)
            ++i;
        enables.push_back("SE " + id + "=" + factory);
        defaults.push_back("SD " + id + "=" + factory);
        loaded.push_back("SD " + id + "=" + std::to_string(values[i]));
        if (s.pauseAfter) {
            defaults.push_back("pause 10");
            loaded.push_back("pause 10");
        }
    }
    defaults.insert(defaults.begin(), enables.begin(), enables.end());
    ASSERT_EQ(33u, defaults.size()) << "30 requests and 3 pauses";

    // A refused request is reported and the rest still go; the first
    // refusal is the result.
    VireoSimRefuse(m_sim, D_GAIN, SET_ENABLE, E_ACCESSDENIED, -1);
    VireoSimRefuse(m_sim, FLIP, SET_DATA, E_FAIL, -1);
    struct Case {
        const char *what;
        std::function<HRESULT()> call;
        HRESULT expected;
        const std::vector<std::string> &sequence;
    } cases[] = {
        {"defaults", [&] { return VireoCameraDefaults(m_camera); }, E_ACCESSDENIED, defaults},
        {"every value", [&] { return VireoCameraSetAll(m_camera, values); }, E_FAIL, loaded},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        g_sequence.clear();
        steps.clear();
        g_logged = Logged();
        EXPECT_EQ(c.expected, c.call());
        Collect();
        EXPECT_EQ(c.sequence, g_sequence);
        std::vector<std::string> watched;
        for (const VireoStep &s : steps) {
            char text[64];
            snprintf(text, sizeof(text), "%s %lu=%ld%s", s.kind == SET_ENABLE ? "SE" : "SD",
                     static_cast<unsigned long>(s.controlId), static_cast<long>(s.value),
                     FAILED(s.result) ? " refused" : "");
            watched.push_back(text);
        }
        std::vector<std::string> requests;  // the sequence without its pauses, refusals marked
        for (const std::string &s : c.sequence)
            if (s.compare(0, 5, "pause") != 0)
                requests.push_back(
                    s == "SE 302=4" || s.compare(0, 6, "SD 16=") == 0 ? s + " refused" : s);
        EXPECT_EQ(requests, watched);
    }
    for (size_t i = 0; i < CAMERA_CONTROL_COUNT; ++i)
        EXPECT_EQ(CameraControlIds[i] == FLIP ? 0 : values[i], Held(CameraControlIds[i]));
}

// One camera seen through its capture, video and camera interfaces, and in
// a device message, is one id; the id keeps the path's own case.
TEST(CameraIdTest, InterfaceClassPartsGiveOneId)
{
    const wchar_t kId[] = L"\\\\?\\usb#vid_2e9a&pid_0b01&mi_00#7&2f1c0a1&0&0000";
    struct Case {
        const wchar_t *path;
        const wchar_t *id;
        bool same;  // names the camera of kId
    } cases[] = {
        {L"\\\\?\\usb#vid_2e9a&pid_0b01&mi_00#7&2f1c0a1&0&0000#{65e8773d-8f56-11d0-a3b9-"
         L"00a0c9223196}\\global",
         kId, true},
        {L"\\\\?\\USB#VID_2E9A&PID_0B01&MI_00#7&2F1C0A1&0&0000#{E5323777-F976-4F5B-9B55-"
         L"B94699C46E44}\\GLOBAL",
         L"\\\\?\\USB#VID_2E9A&PID_0B01&MI_00#7&2F1C0A1&0&0000", true},
        {L"\\\\?\\usb#vid_2e9a&pid_0b01&mi_00#7&2f1c0a1&0&0000#{6994ad05-93ef-11d0-a3cc-"
         L"00a0c9223196}",
         kId, true},
        {kId, kId, true},                                               // an id already
        {L"Vireo Simulated Camera", L"Vireo Simulated Camera", false},  // a friendly name
        {L"odd#{x}\\with#more", L"odd#{x}\\with#more", false},          // not a class part
        {L"", L"", false},
    };
    for (const Case &c : cases) {
        wchar_t id[VIREO_ID_CAPACITY];
        VireoCameraIdFromPath(c.path, id, VIREO_ID_CAPACITY);
        EXPECT_STREQ(c.id, id);
        EXPECT_EQ(c.same, VireoCameraSameId(c.path, kId) != 0);
    }
    EXPECT_FALSE(VireoCameraSameId(kId, L"\\\\?\\usb#vid_2e9a&pid_0b01&mi_00#7&2f1c0a1&0&0001"));
    EXPECT_FALSE(VireoCameraSameId(L"", L""));
    EXPECT_FALSE(VireoCameraSameId(NULL, kId));
    wchar_t cut[8];
    VireoCameraIdFromPath(kId, cut, 8);
    EXPECT_STREQ(L"\\\\?\\usb", cut);  // cut to the buffer, terminated
}

TEST(CameraIdTest, TwinsAreToldApartInTheOrderOfTheirIds)
{
    const wchar_t *names[] = {L"Cam", L"Other", L"cam", L"Cam"};
    const wchar_t *ids[] = {L"id-b", L"id-a", L"ID-C", L"id-a"};
    struct Case {
        unsigned self;  // which of the cameras above
        const wchar_t *shown;
    } cases[] = {
        {3, L"Cam"},      // the lowest id of the three named alike (in any case)
        {0, L"Cam (2)"},  // listed first, but second by its id
        {2, L"cam (3)"},  // ids compared whatever their case
        {1, L"Other"},    // a name of its own
    };
    for (const Case &c : cases) {
        wchar_t shown[32];
        VireoCameraShownName(names[c.self], ids[c.self], names, ids, 4, shown, 32);
        EXPECT_STREQ(c.shown, shown);
    }
    wchar_t alone[32];
    VireoCameraShownName(L"Cam", L"id-z", names, ids, 0, alone, 32);
    EXPECT_STREQ(L"Cam", alone);  // no other camera present
}

namespace {

// A profile of the simulated camera holding the given controls.
VireoProfile ProfileOf(const wchar_t *device, const wchar_t *id,
                       std::initializer_list<std::pair<ULONG, LONG>> values)
{
    VireoProfile p = {};
    wcsncpy(p.device, device, VIREO_PROFILE_TEXT_CAPACITY - 1);
    wcsncpy(p.id, id, VIREO_PROFILE_TEXT_CAPACITY - 1);
    for (const auto &v : values)
        for (size_t i = 0; i < CAMERA_CONTROL_COUNT; ++i)
            if (CameraControlIds[i] == v.first) {
                p.present |= 1u << i;
                p.values[i] = v.second;
            }
    return p;
}

std::string Described(const VireoStep &s)
{
    char text[64];
    snprintf(text, sizeof(text), "%s %lu=%ld %s", s.kind == SET_DATA ? "SD" : "GE",
             static_cast<unsigned long>(s.controlId), static_cast<long>(s.value),
             s.result == S_OK                   ? "done"
             : s.result == VIREO_S_SKIPPED      ? "skipped"
             : s.result == VIREO_E_OUT_OF_RANGE ? "out of range"
                                                : "refused");
    return text;
}

}  // namespace

TEST_F(CameraTest, ProfilesLoadOnlyOntoTheirCamera)
{
    ASSERT_EQ(S_OK, VireoCameraOpenIndex(0, &m_camera));
    const std::wstring ownId = VireoCameraId(m_camera);
    ASSERT_FALSE(ownId.empty());
    const wchar_t kOtherId[] = L"\\\\?\\usb#vid_2e9a&pid_0b01&mi_00#7&2f1c0a1&0&0009";
    struct Case {
        const char *what;
        const wchar_t *device, *id;
        unsigned flags;
        HRESULT expected;
    } cases[] = {
        {"the same id, another name", L"Renamed Camera", ownId.c_str(), 0, S_OK},
        {"the id alone", L"", ownId.c_str(), 0, S_OK},
        {"another id, the same name", kSimName, kOtherId, 0, VIREO_E_OTHER_CAMERA},
        {"no id: the name, in any case", L"VIREO simulated CAMERA", L"", 0, S_OK},
        {"no id, another name", L"Other Camera", L"", 0, VIREO_E_OTHER_CAMERA},
        {"another camera's, forced", L"Other Camera", kOtherId, VIREO_LOAD_ANY_CAMERA, S_OK},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(S_OK, VireoSimReset(m_sim));
        const VireoProfile p = ProfileOf(c.device, c.id, {{FLIP, 1}});
        VireoProfileProblem problem;
        EXPECT_EQ(c.expected, VireoCameraLoadProfile(m_camera, &p, c.flags, &problem))
            << problem.message;
        EXPECT_EQ(c.expected == S_OK ? 1 : 0, Held(FLIP));
        if (FAILED(c.expected)) {
            EXPECT_EQ(0, Logged());
            EXPECT_NE(nullptr, strstr(problem.message, "the profile is of ")) << problem.message;
        }
    }
}

TEST_F(CameraTest, ProfilesLoadInTheDefaultOrderCheckedFirst)
{
    ASSERT_EQ(S_OK, VireoCameraOpenIndex(0, &m_camera));
    VireoCameraSetPause(m_camera, RecordPause);
    std::vector<VireoStep> steps;
    VireoCameraWatch(m_camera, RecordStep, &steps);
    // A_GAIN and D_GAIN are followed by a pause: D_GAIN, disabled, is not
    // written and not paused after. EXPOSURE is outside its range.
    const VireoProfile p =
        ProfileOf(kSimName, L"", {{FLIP, 1}, {EXPOSURE, 5000}, {D_GAIN, 8}, {A_GAIN, 5}});
    struct Case {
        const char *what;
        unsigned flags;
        HRESULT expected;
        std::vector<std::string> sent;
        std::vector<std::string> watched;
    } cases[] = {
        {"out of range: nothing written, the ranges up to it asked",
         0,
         VIREO_E_OUT_OF_RANGE,
         {"GE 300", "GE 302", "GE 12"},
         {}},
        {"out of range skipped, the rest written",
         VIREO_LOAD_SKIP_OUT_OF_RANGE,
         VIREO_S_SKIPPED,
         {"GE 300", "GE 302", "GE 12", "GE 16", "SD 300=5", "pause 10", "SD 16=1"},
         {"SD 300=5 done", "SD 302=8 skipped", "SD 12=5000 out of range", "SD 16=1 done"}},
        {"out of range sent",
         VIREO_LOAD_ANY_VALUE,
         VIREO_S_SKIPPED,
         {"GE 300", "GE 302", "GE 12", "GE 16", "SD 300=5", "pause 10", "SD 12=5000", "SD 16=1"},
         {"SD 300=5 done", "SD 302=8 skipped", "SD 12=5000 done", "SD 16=1 done"}},
        {"contradicting flags",
         VIREO_LOAD_ANY_VALUE | VIREO_LOAD_SKIP_OUT_OF_RANGE,
         E_INVALIDARG,
         {},
         {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(S_OK, VireoSimReset(m_sim));
        VireoSimSetPresent(m_sim, D_GAIN, 0);
        g_sequence.clear();
        steps.clear();
        g_logged = 0;
        VireoProfileProblem problem;
        EXPECT_EQ(c.expected, VireoCameraLoadProfile(m_camera, &p, c.flags, &problem));
        Collect();
        EXPECT_EQ(c.sent, g_sequence);
        std::vector<std::string> watched;
        for (const VireoStep &s : steps)
            watched.push_back(Described(s));
        EXPECT_EQ(c.watched, watched);
        if (c.flags != VIREO_LOAD_ANY_VALUE && c.expected != E_INVALIDARG) {
            EXPECT_EQ(static_cast<ULONG>(EXPOSURE), problem.controlId);
            EXPECT_STREQ("EXPOSURE 5000 is outside the camera's range 1..3330", problem.message);
        }
    }

    // A refusal is reported and the rest still go; it is the result.
    ASSERT_EQ(S_OK, VireoSimReset(m_sim));
    VireoSimRefuse(m_sim, A_GAIN, SET_DATA, E_ACCESSDENIED, -1);
    steps.clear();
    const VireoProfile inRange = ProfileOf(kSimName, L"", {{A_GAIN, 5}, {FLIP, 1}});
    EXPECT_EQ(E_ACCESSDENIED, VireoCameraLoadProfile(m_camera, &inRange, 0, NULL));
    ASSERT_EQ(2u, steps.size());
    EXPECT_EQ("SD 300=5 refused", Described(steps[0]));
    EXPECT_EQ(1, Held(FLIP));
}

TEST_F(CameraTest, ProfileOfTheCameraReadsEveryValue)
{
    ASSERT_EQ(S_OK, VireoCameraOpenIndex(0, &m_camera));
    ASSERT_EQ(S_OK, VireoSimSetValue(m_sim, EXPOSURE, 500));
    VireoProfile p;
    EXPECT_EQ(S_OK, VireoCameraReadProfile(m_camera, &p));
    EXPECT_STREQ(kSimName, p.device);
    EXPECT_STREQ(VireoCameraId(m_camera), p.id);
    EXPECT_EQ((1u << CAMERA_CONTROL_COUNT) - 1, p.present);
    EXPECT_EQ(500, p.values[3]);  // EXPOSURE, the fourth control

    VireoSimRefuse(m_sim, AEC, GET_DATA, E_ACCESSDENIED, -1);
    EXPECT_EQ(E_ACCESSDENIED, VireoCameraReadProfile(m_camera, &p));
    EXPECT_EQ(((1u << CAMERA_CONTROL_COUNT) - 1) & ~(1u << 4), p.present);  // AEC missing
}
