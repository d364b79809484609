// The camera library on the simulated camera with the registered extension:
// each way opening can fail, what each request sends and gives back, and
// the Default sequence with its pauses.
#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include <wrl/client.h>

#include "simcontrol.h"
#include "vireocamera.h"
#include "wintest.h"

using Microsoft::WRL::ComPtr;

namespace {

// {9C1A6E02-5B7D-4F21-8E4A-3D2C1B0A9F87}: a device whose class nobody serves.
const GUID kBrokenDevice = {
    0x9C1A6E02, 0x5B7D, 0x4F21, {0x8E, 0x4A, 0x3D, 0x2C, 0x1B, 0x0A, 0x9F, 0x87}};
const wchar_t kHandlerClass[] = L"Software\\Classes\\CLSID\\{04F2A42A-479F-4511-8F03-1CE31876DBCC}";

// What reaches the driver, pauses among the requests: "SD 12=284", "pause 10".
std::vector<std::string> g_sequence;
SimCamControl *g_cam = NULL;
LONG g_logged = 0;

void Collect()
{
    std::vector<SimRequest> log = g_cam->Log();
    char text[64];
    for (size_t i = static_cast<size_t>(g_logged); i < log.size(); ++i) {
        SimDescribeRequest(log[i], text, sizeof(text));
        g_sequence.push_back(text);
    }
    g_logged = static_cast<LONG>(log.size());
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
        ASSERT_TRUE(m_cam.IsOpen());
        ASSERT_TRUE(wintest::RegisterModule(L"simcam.ax"));
        ASSERT_TRUE(wintest::RegisterModule(L"vireoprop.ax"));
        m_cam.Reset();
        g_cam = &m_cam;
    }
    void TearDown() override
    {
        VireoCameraClose(m_camera);
        wintest::RegisterModule(L"vireoprop.ax", true);
        wintest::RegisterModule(L"simcam.ax", true);
        g_cam = NULL;
        CoUninitialize();
    }

    SimCamControl m_cam;
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
            EXPECT_STREQ(SIMCAM_FRIENDLY_NAME, VireoCameraName(camera));
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
    EXPECT_EQ(0, m_cam.LogCount());

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
    m_cam.SetValue(EXPOSURE, 500);
    m_cam.SetRange(A_GAIN, 2, 40);
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
             m_cam.AddFault(VALUE10H, AEC, SET_DATA, E_ACCESSDENIED);
             return VireoCameraSet(m_camera, AEC, 0);
         },
         E_ACCESSDENIED,
         {"SD 13=0"}},
        {"refused get",
         [&] {
             m_cam.AddFault(VALUE10H, D_GAIN, GET_DATA, E_ACCESSDENIED);
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
        g_logged = m_cam.LogCount();
        EXPECT_EQ(c.expected, c.call());
        Collect();
        EXPECT_EQ(c.sent, g_sequence);
    }
    EXPECT_EQ(500, value);  // the refused get left it alone
    EXPECT_EQ(1, range.enable);
    EXPECT_EQ(1, range.defaultValue);
    EXPECT_EQ(2, range.minValue);
    EXPECT_EQ(40, range.maxValue);
    EXPECT_EQ(1, m_cam.Value(FLIP));
    EXPECT_EQ(1, m_cam.Value(AEC));
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
    m_cam.AddFault(VALUE20H, D_GAIN, SET_ENABLE, E_ACCESSDENIED);
    m_cam.AddFault(VALUE10H, FLIP, SET_DATA, E_FAIL);
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
        g_logged = m_cam.LogCount();
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
        EXPECT_EQ(CameraControlIds[i] == FLIP ? 0 : values[i], m_cam.Value(CameraControlIds[i]));
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
