// vireoctl on the simulated camera: statuses, messages and the requests
// that reach the driver, info against what the page loads, the JSON
// documents, profiles saved and loaded, and the camera's settings kept
// between programs.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <dshow.h>

#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include <wrl/client.h>

#include "base/module.h"
#include "commands.h"
#include "fakes.h"
#include "keeperpaths.h"
#include "page/settingpage.h"
#include "picture.h"
#include "policy_keys.h"
#include "resources/resource.h"
#include "simcontrol.h"
#include "wintest.h"

using Microsoft::WRL::ComPtr;

namespace {

struct Result {
    int status;
    std::string out;
    std::string err;
};

std::string Entry(const SimRequest &r)
{
    char text[64];
    SimDescribeRequest(r, text, sizeof(text));
    return text;
}

// The id of device index as the camera library gives it (UTF-8).
std::string DeviceId(unsigned index)
{
    wchar_t id[VIREO_ID_CAPACITY] = L"";
    VireoCameraDeviceId(index, id, VIREO_ID_CAPACITY);
    return vireoctl::Utf8(id);
}

// The key of an id (the kit's case-folding), that ids are ordered by.
std::wstring IdKey(const std::string &id)
{
    wchar_t key[VIREO_ID_CAPACITY];
    VireoCameraIdKey(std::wstring(id.begin(), id.end()).c_str(), key, VIREO_ID_CAPACITY);
    return key;
}

std::vector<std::string> g_sequence;
SimCamControl *g_cam = NULL;
LONG g_logged = 0;

// Moves the driver's new requests into g_sequence.
void Collect()
{
    std::vector<SimRequest> log = g_cam->Log();
    for (size_t i = static_cast<size_t>(g_logged); i < log.size(); ++i)
        g_sequence.push_back(Entry(log[i]));
    g_logged = static_cast<LONG>(log.size());
}

void WINAPI RecordPause(DWORD milliseconds)
{
    Collect();
    g_sequence.push_back("pause " + std::to_string(milliseconds));
}

// vireoctl.exe with these arguments, its output and its status.
Result RunProgram(const std::wstring &args)
{
    wintest::ProgramRun run;
    const bool started = run.Start(L"\"" + wintest::BinDir() + L"vireoctl.exe\" " + args);
    return {started ? run.WaitExit() : -1, run.Output(), run.Errors()};
}

// vireoctl in this process, its pauses recorded among the requests in
// g_sequence; the output goes nowhere.
int RunHere(const std::wstring &args)
{
    int argc = 0;
    std::wstring line = L"vireoctl " + args;
    LPWSTR *argv = CommandLineToArgvW(line.c_str(), &argc);
    FILE *nul = fopen("NUL", "w");
    g_sequence.clear();
    g_logged = g_cam->LogCount();
    const int status = vireoctl::Main(argc, argv, nul, nul, RecordPause);
    Collect();
    fclose(nul);
    LocalFree(argv);
    return status;
}

// The Default button's order with its pauses, each control written the
// value of values (by control id).
std::vector<std::string> DefaultOrder(const std::map<ULONG, LONG> &values)
{
    std::vector<std::string> out;
    for (const VireoDefaultStep &s : VireoDefaultSequence) {
        out.push_back("SD " + std::to_string(s.controlId) + "=" +
                      std::to_string(values.at(s.controlId)));
        if (s.pauseAfter)
            out.push_back("pause " + std::to_string(VIREO_DEFAULT_PAUSE_MS));
    }
    return out;
}

// A file in the test's temporary folder, removed when the owner goes.
class TempFile {
public:
    explicit TempFile(const char *text = NULL)
    {
        wchar_t folder[MAX_PATH], name[MAX_PATH];
        GetTempPathW(MAX_PATH, folder);
        GetTempFileNameW(folder, L"vct", 0, name);
        m_path = name;
        if (text) {
            FILE *f = _wfopen(name, L"wb");
            fputs(text, f);
            fclose(f);
        }
    }
    ~TempFile() { DeleteFileW(m_path.c_str()); }
    const std::wstring &Path() const { return m_path; }

private:
    std::wstring m_path;
};

class VireoctlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_hInst = GetModuleHandleW(NULL);  // the linked page's resources
        ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
        ASSERT_TRUE(m_cam.IsOpen());
        ASSERT_TRUE(wintest::RegisterModule(L"simcam.ax"));
        ASSERT_TRUE(wintest::RegisterModule(L"vireoprop.ax"));
        m_cam.Reset();
        g_cam = &m_cam;
    }
    void TearDown() override
    {
        wintest::RegisterModule(L"vireoprop.ax", true);
        wintest::RegisterModule(L"simcam.ax", true);
        g_cam = NULL;
        CoUninitialize();
    }

    std::vector<std::string> Sent()
    {
        std::vector<std::string> out;
        for (const SimRequest &r : m_cam.Log())
            out.push_back(Entry(r));
        return out;
    }

    SimCamControl m_cam;
};

// The real page on the simulated camera's filter, in a window of the test's.
class Page {
public:
    Page()
    {
        m_host = wintest::CreateHostWindow(700, 500);
        m_filter = SimCamBindFilter();
        HRESULT hr = E_FAIL;
        CUnknown *unknown = CameraSettingPage::CreateInstance(NULL, &hr);
        if (!m_filter || !unknown ||
            FAILED(unknown->NonDelegatingQueryInterface(
                IID_IPropertyPage, reinterpret_cast<void **>(m_page.GetAddressOf()))))
            return;
        IUnknown *object = m_filter.Get();
        m_page->SetPageSite(&m_site);
        m_page->SetObjects(1, &object);
        RECT rect = {0, 0, 480, 420};
        m_page->Activate(m_host, &rect, FALSE);
        m_dlg = FindWindowExW(m_host, NULL, NULL, NULL);  // the page's dialog: the only child
    }
    ~Page()
    {
        if (m_page) {
            m_page->Deactivate();
            m_page->SetObjects(0, NULL);
            m_page->SetPageSite(NULL);
        }
        m_page.Reset();
        m_filter.Reset();
        DestroyWindow(m_host);
        wintest::PumpMessages();
    }
    HWND Dialog() const { return m_dlg; }
    std::string Text(int id) const
    {
        char text[128] = {0};
        GetDlgItemTextA(m_dlg, id, text, sizeof(text));
        return text;
    }
    std::string Check(int id) const { return IsDlgButtonChecked(m_dlg, id) ? "on" : "off"; }
    std::string Radio(int first) const
    {
        for (int id = first; id < first + FRAME_RATE_COUNT; ++id)
            if (IsDlgButtonChecked(m_dlg, id))
                return Text(id);
        return "no selection";
    }
    std::string Shutter() const  // a drop-down list's text is its selected item's
    {
        const std::string text = Text(IDC_SHUTTER_LIST);
        return text.empty() ? "no selection" : text;
    }
    std::string Range(int id) const
    {
        HWND trackbar = GetDlgItem(m_dlg, id);
        return std::to_string(SendMessageA(trackbar, TBM_GETRANGEMIN, 0, 0)) + ".." +
               std::to_string(SendMessageA(trackbar, TBM_GETRANGEMAX, 0, 0));
    }

private:
    HWND m_host = NULL;
    HWND m_dlg = NULL;
    ComPtr<IBaseFilter> m_filter;
    ComPtr<IPropertyPage> m_page;
    FakePageSite m_site;
};

}  // namespace

TEST_F(VireoctlTest, StatusesMessagesAndWhatReachesTheDriver)
{
    struct Case {
        const wchar_t *args;
        ULONG faultControl, faultKind;  // on property 0, or SET_ENABLE on property 1
        HRESULT faultResult;            // S_OK: no fault
        int status;
        const char *out;  // expected in stdout
        const char *err;  // expected in stderr
        std::vector<std::string> sent;
    } cases[] = {
        {L"set privacy 1", 0, 0, 0, 0, "PRIVACY = 1 [on]", "", {"GE 18", "SD 18=1", "GD 18"}},
        {L"-d \"vireo simulated camera\" get exposure",
         0,
         0,
         0,
         0,
         "EXPOSURE = 284 [28.4 msec]",
         "",
         {"GD 12"}},
        {L"set A_GAIN 17 -d 0",
         0,
         0,
         0,
         0,
         "A_GAIN = 17 [2.0000]",
         "",
         {"GE 300", "SD 300=17", "GD 300"}},
        // Several controls, in the order given.
        {L"get EXPOSURE FLIP",
         0,
         0,
         0,
         0,
         "EXPOSURE = 284 [28.4 msec]\r\nFLIP = 0 [off]\r\n",
         "",
         {"GD 12", "GD 16"}},
        {L"set EXPOSURE=500 FLIP=1",
         0,
         0,
         0,
         0,
         "EXPOSURE = 500 [50.0 msec]\r\nFLIP = 1 [on]\r\n",
         "",
         {"GE 12", "SD 12=500", "GD 12", "GE 16", "SD 16=1", "GD 16"}},
        // What the camera holds is printed, not what was sent.
        {L"set FLIP=1",
         FLIP,
         SET_DATA,
         S_FALSE,
         0,
         "FLIP = 0 [off]",
         "",
         {"GE 16", "SD 16=1", "GD 16"}},
        // Outside the camera's range: refused, unless forced.
        {L"set a_gain 100",
         0,
         0,
         0,
         2,
         "",
         "vireoctl: A_GAIN 100 is outside the camera's range 1..32 (--force",
         {"GE 300"}},
        {L"set flip 2", 0, 0, 0, 2, "", "FLIP 2 is outside the camera's range 0..1", {"GE 16"}},
        {L"set vga_fps 9",
         0,
         0,
         0,
         2,
         "",
         "VGA_FPS 9 is outside the camera's range 0..4",
         {"GE 307"}},
        {L"set EXPOSURE2VAL -3 --force",
         0,
         0,
         0,
         0,
         "EXPOSURE2VAL = -3 [no selection]",
         "",
         {"SD 304=-3", "GD 304"}},
        // The gain factor of the lowest value, without a wrap in 32 bits.
        {L"--force set A_GAIN -2147483648",
         0,
         0,
         0,
         0,
         "A_GAIN = -2147483648 [-134217727.0625]",
         "",
         {"SD 300=-2147483648", "GD 300"}},
        // The first refusal stops the rest, with its status.
        {L"set EXPOSURE=500 A_GAIN=100 FLIP=1",
         0,
         0,
         0,
         2,
         "EXPOSURE = 500",
         "A_GAIN 100 is outside",
         {"GE 12", "SD 12=500", "GD 12", "GE 300"}},
        {L"get AEC EXPOSURE",
         AEC,
         GET_DATA,
         E_ACCESSDENIED,
         1,
         "",
         "vireoctl: AEC GET_DATA failed: 0x80070005",
         {"GD 13"}},
        {L"set EXPOSURE 100",
         EXPOSURE,
         SET_DATA,
         E_ACCESSDENIED,
         1,
         "",
         "vireoctl: EXPOSURE SET_DATA 100 failed: 0x80070005",
         {"GE 12", "SD 12=100"}},
        // Nothing is sent for a command line that does not hold.
        {L"set EXPOSURE 12x", 0, 0, 0, 2, "", "not a 32-bit decimal value: 12x", {}},
        {L"set EXPOSURE=2147483648", 0, 0, 0, 2, "", "not a 32-bit decimal value", {}},
        {L"set EXPOSURE", 0, 0, 0, 2, "", "set takes NAME=VALUE pairs", {}},
        {L"get EXPOSURE NOPE", 0, 0, 0, 2, "", "unknown control NOPE", {}},
        {L"-d 1 info", 0, 0, 0, 2, "", "no video input device 1 ", {}},
        {L"-d \"Other Camera\" defaults", 0, 0, 0, 2, "", "no video input device Other Camera", {}},
        {L"reset", 0, 0, 0, 2, "", "unknown command reset", {}},
        {L"--json set FLIP=1", 0, 0, 0, 2, "", "--json goes with list, info and get", {}},
        {L"get FLIP --force", 0, 0, 0, 2, "", "--force goes with set and load", {}},
        {L"save", 0, 0, 0, 2, "", "save takes one file name", {}},
        {L"--verbose list", 0, 0, 0, 2, "", "unknown option --verbose", {}},
        {L"set FLIP=1 -h", 0, 0, 0, 0, "Exit status: 0 done", "", {}},
        {L"--version", 0, 0, 0, 0, "vireoctl " VIREO_VERSION_STRING "\r\n", "", {}},
        // A refused GET_ENABLE: that control is listed as failed, the others still are.
        {L"info",
         A_GAIN,
         GET_ENABLE,
         E_ACCESSDENIED,
         1,
         "PRIVACY       enable 1",
         "vireoctl: A_GAIN GET_ENABLE failed: 0x80070005",
         {}},
        // Every SET_ENABLE refused: each is reported, and every value is still sent.
        {L"defaults",
         VIREO_SIM_ANY,
         SET_ENABLE,
         E_ACCESSDENIED,
         1,
         "QVGA_FPS = 3 [25fps]",
         "vireoctl: QVGA_FPS SET_ENABLE 3 failed: 0x80070005",
         {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(vireoctl::Narrow(c.args));
        m_cam.Reset();
        if (c.faultResult)
            m_cam.AddFault(c.faultKind == SET_ENABLE ? VALUE20H : VALUE10H, c.faultControl,
                           c.faultKind, c.faultResult);
        Result r = RunProgram(c.args);
        EXPECT_EQ(c.status, r.status) << r.out << r.err;
        EXPECT_NE(std::string::npos, r.out.find(c.out)) << r.out;
        EXPECT_NE(std::string::npos, r.err.find(c.err)) << r.err;
        EXPECT_TRUE(*c.err || r.err.empty()) << r.err;
        if (!c.sent.empty() || c.status != 1) {  // info's and defaults' are counted below
            EXPECT_EQ(c.sent, Sent());
        }
    }
    EXPECT_EQ(30, m_cam.LogCount());  // the refused defaults: every request went

    // And the camera sends what was set: with PRIVACY on, black frames.
    m_cam.Reset();
    RunProgram(L"set PRIVACY 1");
    std::vector<BYTE> frame(SimFrameBytes(8, 8), 0xAA);  // rows of 24 bytes: no padding
    SimRenderFrame(frame.data(), 8, 8, 1, m_cam.LockDriver().State());
    EXPECT_EQ(std::vector<BYTE>(frame.size(), 0), frame);
}

TEST_F(VireoctlTest, EachMissingPieceHasItsOwnStatus)
{
    wintest::RegisterModule(L"vireoprop.ax", true);
    Result r = RunProgram(L"list");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("0  Vireo Simulated Camera  IFace: no  id: " + DeviceId(0) + "\r\n", r.out);
    r = RunProgram(L"get AEC");
    EXPECT_EQ(4, r.status);
    EXPECT_EQ("vireoctl: Vireo Simulated Camera: the device offers no IFace: the extension "
              "vireoprop.ax is not registered\r\n",
              r.err);

    // The extension of the other width only: its own status and words, not
    // the advice to register what is registered.
#ifdef _WIN64
    const REGSAM other = KEY_WOW64_32KEY;
    const char *words = "registered for 32-bit programs only";
#else
    const REGSAM other = KEY_WOW64_64KEY;
    const char *words = "registered for 64-bit programs only";
#endif
    BOOL wow64 = sizeof(void *) == 8;
    if (!wow64)
        IsWow64Process(GetCurrentProcess(), &wow64);
    const std::wstring server =
        L"Software\\Classes\\CLSID\\{04F2A42A-479F-4511-8F03-1CE31876DBCC}\\InprocServer32";
    HKEY key = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, server.c_str(), 0, NULL, 0,
                                             KEY_WRITE | other, NULL, &key, NULL));
    RegCloseKey(key);
    r = RunProgram(L"get AEC");
    const Result listed = RunProgram(L"list");
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, server.c_str(), other, 0);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, server.substr(0, server.rfind(L'\\')).c_str(), other, 0);
    if (wow64) {
        EXPECT_EQ(5, r.status);
        EXPECT_NE(std::string::npos, r.err.find(words)) << r.err;
        EXPECT_EQ("0  Vireo Simulated Camera  IFace: other width  id: " + DeviceId(0) + "\r\n",
                  listed.out);
    } else {  // 32-bit Windows: one registry view, and the key was written into it
        EXPECT_EQ(4, r.status) << r.err;
    }

    wintest::RegisterModule(L"simcam.ax", true);
    for (const wchar_t *args : {L"list", L"info", L"-d 0 set AEC 0"}) {
        r = RunProgram(args);
        EXPECT_EQ(3, r.status) << vireoctl::Narrow(args);
        EXPECT_EQ("vireoctl: no video input device\r\n", r.err);
    }
    EXPECT_EQ(0, m_cam.LogCount());
}

TEST_F(VireoctlTest, JsonDocuments)
{
    m_cam.SetValue(FLIP, 1);
    m_cam.AddFault(VALUE10H, A_GAIN, GET_DATA, E_ACCESSDENIED);
    struct Case {
        const wchar_t *args;
        int status;
        std::string expected;  // the document; empty: parts of it are checked below
    } cases[] = {
        {L"--json list", 0,
         R"({"devices": [{"index": 0, "name": "Vireo Simulated Camera",)"
         R"( "shownName": "Vireo Simulated Camera", "id": )" +
             nlohmann::json(DeviceId(0)).dump() + R"(, "iface": "yes"}]})"},
        {L"get EXPOSURE FLIP --json", 0,
         R"({"device": "Vireo Simulated Camera", "controls": [
             {"name": "EXPOSURE", "id": 12, "value": 284, "shown": "28.4 msec"},
             {"name": "FLIP", "id": 16, "value": 1, "shown": "on"}]})"},
        // A refusal ends the reading; what was read is still one document.
        {L"get FLIP A_GAIN EXPOSURE --json", 1,
         R"({"device": "Vireo Simulated Camera", "controls": [
             {"name": "FLIP", "id": 16, "value": 1, "shown": "on"}]})"},
        {L"--json info", 1, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(vireoctl::Narrow(c.args));
        Result r = RunProgram(c.args);
        EXPECT_EQ(c.status, r.status) << r.err;
        nlohmann::json document = nlohmann::json::parse(r.out, nullptr, false);
        ASSERT_FALSE(document.is_discarded()) << r.out;
        if (!c.expected.empty()) {
            EXPECT_EQ(nlohmann::json::parse(c.expected), document);
            continue;
        }
        ASSERT_EQ(15u, document["controls"].size());
        std::map<std::string, nlohmann::json> controls;
        for (const nlohmann::json &control : document["controls"])
            controls[control["name"].get<std::string>()] = control;
        EXPECT_EQ(nlohmann::json::parse(R"({"name": "EXPOSURE", "id": 12, "enable": 1,
            "default": 284, "minimum": 1, "maximum": 3330, "current": 284,
            "shown": "28.4 msec", "locked": false})"),
                  controls["EXPOSURE"]);
        EXPECT_EQ(nlohmann::json::parse(R"({"request": "GET_DATA", "result": "0x80070005"})"),
                  controls["A_GAIN"]["error"]);
        EXPECT_FALSE(controls["A_GAIN"].contains("current"));
    }
}

TEST_F(VireoctlTest, SavedProfileLoadsBackInTheDefaultOrder)
{
    std::map<ULONG, LONG> saved, changed;
    for (ULONG id : CameraControlIds) {
        SimControl c;
        m_cam.GetControl(id, &c);
        saved[id] = id == EXPOSURE ? 500 : c.maxValue;
        changed[id] = c.minValue;
        m_cam.SetValue(id, saved[id]);
    }
    TempFile profile;
    Result r = RunProgram(L"save \"" + profile.Path() + L"\"");
    ASSERT_EQ(0, r.status) << r.err;
    for (const auto &v : changed)
        m_cam.SetValue(v.first, v.second);

    EXPECT_EQ(0, RunHere(L"load \"" + profile.Path() + L"\""));
    for (const auto &v : saved)
        EXPECT_EQ(v.second, m_cam.Value(v.first)) << CameraControlName(v.first);
    // Every range asked first, then every value in the Default order with its pauses.
    std::vector<std::string> expected;
    for (ULONG id : CameraControlIds)
        expected.push_back("GE " + std::to_string(id));
    const std::vector<std::string> writes = DefaultOrder(saved);
    expected.insert(expected.end(), writes.begin(), writes.end());
    EXPECT_EQ(expected, g_sequence);

    // defaults: the library's Default sequence, pauses included.
    std::map<ULONG, LONG> factory;
    for (ULONG id : CameraControlIds)
        factory[id] = CameraControlFactoryDefault(id);
    EXPECT_EQ(0, RunHere(L"defaults"));
    const std::vector<std::string> values = DefaultOrder(factory);
    EXPECT_EQ(values, std::vector<std::string>(g_sequence.begin() + 15, g_sequence.end()));
}

TEST_F(VireoctlTest, RefusedProfilesSendNothing)
{
    TempFile profile;
    ASSERT_EQ(0, RunProgram(L"save \"" + profile.Path() + L"\"").status);
    std::string text;
    {
        FILE *f = _wfopen(profile.Path().c_str(), L"rb");
        char chunk[1024];
        size_t n;
        while ((n = fread(chunk, 1, sizeof(chunk), f)) > 0)
            text.append(chunk, n);
        fclose(f);
    }
    wchar_t id[VIREO_ID_CAPACITY];
    ASSERT_EQ(S_OK, VireoCameraDeviceId(0, id, VIREO_ID_CAPACITY));
    const std::string ownId = vireoctl::Utf8(id);
    const std::string idLine = "\nid=" + ownId + "\n";
    ASSERT_NE(std::string::npos, text.find("\ndevice=Vireo Simulated Camera" + idLine)) << text;
    ASSERT_NE(std::string::npos, text.find("\nEXPOSURE=284\n")) << text;
    auto replaced = [&](const std::string &from, const std::string &to) {
        std::string t = text;
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    const std::string otherId = "\\\\?\\usb#vid_2e9a&pid_0b01&mi_00#7&2f1c0a1&0&0009";
    const std::string ofOtherCamera = replaced(idLine, "\nid=" + otherId + "\n");
    // What follows "vireoctl: FILE" in the message, which is all of it.
    struct Case {
        std::string profile;
        std::string err;
        std::vector<std::string> sent;
    } cases[] = {
        {ofOtherCamera,
         ": the profile is of the camera of id " + otherId + ", not of id " + ownId +
             " (--force loads it all the same): nothing written",
         {}},
        {replaced("EXPOSURE=284", "SHUTTER=284"), " line 7: unknown control SHUTTER", {}},
        {replaced("device=Vireo Simulated Camera" + idLine, ""),
         ": the profile names no camera (no device= or id= line)",
         {}},
        // Out of range: the ranges up to it are asked for, nothing is written.
        {replaced("D_GAIN=4", "D_GAIN=40"),
         ": D_GAIN 40 is outside the camera's range 4..32 (--force sends it all the same): "
         "nothing written",
         {"GE 300", "GE 301", "GE 302"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.err);
        TempFile file(c.profile.c_str());
        m_cam.ClearLog();
        Result r = RunProgram(L"load \"" + file.Path() + L"\"");
        EXPECT_EQ(2, r.status);
        EXPECT_EQ("vireoctl: " + vireoctl::Narrow(file.Path()) + c.err + "\r\n", r.err);
        EXPECT_EQ(c.sent, Sent());
    }
    m_cam.ClearLog();
    const std::wstring missing = profile.Path() + L".missing";
    Result r = RunProgram(L"load \"" + missing + L"\"");
    EXPECT_EQ(2, r.status);
    EXPECT_EQ(0u, r.err.find("vireoctl: " + vireoctl::Narrow(missing) + ": cannot open the file"))
        << r.err;
    EXPECT_EQ(0, m_cam.LogCount());
    r = RunProgram(L"save \"" + missing + L"\\profile.txt\"");
    EXPECT_EQ(2, r.status);
    EXPECT_NE(std::string::npos, r.err.find(": cannot create a temporary file beside it: "))
        << r.err;

    // --force: another camera's profile loads.
    TempFile other(ofOtherCamera.c_str());
    EXPECT_EQ(0, RunProgram(L"--force load \"" + other.Path() + L"\"").status);
}

// As a powered camera: what one program sets, the next reads; unplugging
// or registering the camera anew gives the factory values. No block is
// held here between the programs.
// Two cameras of one model: one name, two ids. -d ID picks the one meant,
// each keeps its own values, and a profile knows which camera it is of.
TEST_F(VireoctlTest, TwoCamerasOfOneNameAreToldApartByTheirIds)
{
    ASSERT_EQ(1, m_cam.AddDevice(SIMCAM_FRIENDLY_NAME));
    SimCamControl twin(1);
    const std::string first = DeviceId(0), second = DeviceId(1);
    EXPECT_NE(first, second);
    EXPECT_EQ(0u, second.find("\\\\?\\usb#")) << second;
    // Shown apart in the order of their ids: the later one is "... (2)".
    const std::string name = "Vireo Simulated Camera", twinName = name + " (2)";
    const bool zeroFirst = IdKey(first) < IdKey(second);
    const std::string shown[] = {zeroFirst ? name : twinName, zeroFirst ? twinName : name};
    Result r = RunProgram(L"list");
    EXPECT_EQ("0  " + shown[0] + "  IFace: yes  id: " + first + "\r\n1  " + shown[1] +
                  "  IFace: yes  id: " + second + "\r\n",
              r.out);
    const nlohmann::json listed = nlohmann::json::parse(RunProgram(L"--json list").out);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(name, listed["devices"][i]["name"]);
        EXPECT_EQ(shown[i], listed["devices"][i]["shownName"]);
    }

    const std::wstring twinId = std::wstring(second.begin(), second.end());  // ASCII
    r = RunProgram(L"-d " + twinId + L" set EXPOSURE 500");
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(500, twin.Value(EXPOSURE));
    EXPECT_EQ(284, m_cam.Value(EXPOSURE));
    r = RunProgram(L"-d \"vireo simulated camera\" get EXPOSURE");  // the first, and a word
    EXPECT_EQ("EXPOSURE = 284 [28.4 msec]\r\n", r.out);
    EXPECT_EQ("vireoctl: 2 devices are named vireo simulated camera; use -d ID (see vireoctl "
              "list)\r\n",
              r.err);

    TempFile profile;
    r = RunProgram(L"-d " + twinId + L" save \"" + profile.Path() + L"\"");
    ASSERT_EQ(0, r.status);
    EXPECT_EQ("saved " + shown[1] + " to " + vireoctl::Narrow(profile.Path()) + "\r\n", r.out);
    m_cam.ClearLog();
    r = RunProgram(L"-d 0 load \"" + profile.Path() + L"\"");
    EXPECT_EQ(2, r.status);
    EXPECT_NE(std::string::npos, r.err.find("(--force loads it all the same): nothing written"))
        << r.err;
    EXPECT_EQ(std::vector<std::string>(), Sent());
    EXPECT_EQ(0, RunProgram(L"-d 0 --force load \"" + profile.Path() + L"\"").status);
    EXPECT_EQ(500, m_cam.Value(EXPOSURE));

    // A message names the later twin as it is shown.
    wintest::RegisterModule(L"vireoprop.ax", true);
    const std::string &later = zeroFirst ? second : first;
    r = RunProgram(L"-d " + std::wstring(later.begin(), later.end()) + L" info");
    EXPECT_EQ(4, r.status);
    EXPECT_EQ(0u, r.err.find("vireoctl: " + twinName + ": the device offers no IFace")) << r.err;
}

// A control the policy locks (in general or for the model): defaults and
// load leave it as it is, say so and write the rest (status 0); a profile's
// value equal to the lock is written as any other.
TEST_F(VireoctlTest, DefaultsAndLoadSkipALockedControl)
{
    PolicyKeys keys;
    const std::wstring model = L"Models\\vid_2e9a&pid_0b01\\Mandatory";
    TempFile profile("device=Vireo Simulated Camera\nEXPOSURE=500\nFLIP=1\n");
    TempFile atTheLock("device=Vireo Simulated Camera\nEXPOSURE=600\nFLIP=1\n");
    const std::wstring load = L"load \"" + profile.Path() + L"\"";
    std::vector<std::string> defaults;  // SET_ENABLE, then SET_DATA, of all but EXPOSURE
    for (const char *kind : {"SE ", "SD "})
        for (const VireoDefaultStep &s : VireoDefaultSequence)
            if (s.controlId != EXPOSURE)
                defaults.push_back(kind + std::to_string(s.controlId) + "=" +
                                   std::to_string(CameraControlFactoryDefault(s.controlId)));
    const std::string skipped = "EXPOSURE skipped (locked by policy)\r\n";
    const struct {
        std::wstring level, args;  // where EXPOSURE is locked at 600; the command
        std::string line;          // a line of the output
        std::vector<std::string> sent;
    } cases[] = {
        {L"Mandatory", L"defaults", skipped, defaults},
        {model, L"defaults", skipped, defaults},
        {L"Mandatory", load, skipped, {"GE 16", "SD 16=1"}},
        {model, load, skipped, {"GE 16", "SD 16=1"}},
        {L"Mandatory",
         L"load \"" + atTheLock.Path() + L"\"",
         "EXPOSURE = 600 [60.0 msec]\r\n",
         {"GE 12", "GE 16", "SD 12=600", "SD 16=1"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(vireoctl::Narrow(c.level + L" " + c.args));
        ASSERT_TRUE(PolicyKeys::Set(c.level, L"EXPOSURE", 600));
        m_cam.Reset();
        m_cam.SetValue(EXPOSURE, 600);
        m_cam.ClearLog();
        const Result r = RunProgram(c.args);
        PolicyKeys::Remove(c.level, L"EXPOSURE");
        EXPECT_EQ(0, r.status) << r.err;
        EXPECT_EQ("", r.err);
        EXPECT_NE(std::string::npos, r.out.find(c.line)) << r.out;
        EXPECT_EQ(c.sent, Sent());
        EXPECT_EQ(600, m_cam.Value(EXPOSURE));
    }
}

TEST(SimulatedCameraSettings, KeptWhilePluggedAcrossPrograms)
{
    ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
    ASSERT_TRUE(wintest::RegisterModule(L"simcam.ax"));
    ASSERT_TRUE(wintest::RegisterModule(L"vireoprop.ax"));
    const std::function<void()> forget[] = {
        [] {
            SimCamControl cam;
            cam.Unplug();
            cam.Plug();
        },
        [] { wintest::RegisterModule(L"simcam.ax"); },
    };
    for (const auto &again : forget) {
        EXPECT_EQ("EXPOSURE = 500 [50.0 msec]\r\n", RunProgram(L"set EXPOSURE 500").out);
        EXPECT_EQ("EXPOSURE = 500 [50.0 msec]\r\n", RunProgram(L"get EXPOSURE").out);
        again();
        EXPECT_EQ("EXPOSURE = 284 [28.4 msec]\r\n", RunProgram(L"get EXPOSURE").out);
    }
    wintest::RegisterModule(L"vireoprop.ax", true);
    wintest::RegisterModule(L"simcam.ax", true);
    CoUninitialize();
}

TEST_F(VireoctlTest, InfoShowsWhatThePageLoads)
{
    const struct {
        ULONG id;
        LONG value;
    } values[] = {{A_GAIN, 17}, {A_AUTOGAIN, 0},    {D_GAIN, 5},       {EXPOSURE, 1},
                  {AEC, 0},     {EXPOSURE2CTRL, 1}, {EXPOSURE2VAL, 9}, {FLIP, 1},
                  {LEDCTRL, 1}, {VGA_FPS, 1},       {QVGA_FPS, 7}};
    for (const auto &v : values)
        m_cam.SetValue(v.id, v.value);
    m_cam.SetRange(EXPOSURE, 2, 4000);
    m_cam.SetRange(A_GAIN, 3, 40);
    Result r = RunProgram(L"info");
    ASSERT_EQ(0, r.status) << r.err;

    // "NAME  enable E  default ...  minimum N [..]  maximum X [..]  current V [shown]"
    std::map<std::string, std::string> shown, range;
    // ("." stops at the end of a line).
    const std::regex line("(\\w+) +enable 1 .*minimum (-?\\d+) \\[.*\\]  maximum (-?\\d+) "
                          "\\[.*\\]  current -?\\d+ \\[(.*)\\]\\r?\\n");
    for (std::sregex_iterator m(r.out.begin(), r.out.end(), line), end; m != end; ++m) {
        shown[(*m)[1]] = (*m)[4];
        range[(*m)[1]] = (*m)[2].str() + ".." + (*m)[3].str();
    }
    ASSERT_EQ(15u, shown.size()) << r.out;

    wintest::MessageBoxCatcher boxes;
    Page page;
    ASSERT_NE(nullptr, page.Dialog());
    const std::map<std::string, std::string> onPage = {
        {"A_GAIN", page.Text(IDC_AGAIN_TEXT)},
        {"A_AUTOGAIN", page.Check(IDC_AGAIN_AUTO)},
        {"D_GAIN", page.Text(IDC_DGAIN_TEXT)},
        {"EXPOSURE", page.Text(IDC_EXPOSURE_TEXT)},
        {"AEC", page.Check(IDC_EXPOSURE_AUTO)},
        {"EXPOSURE2CTRL", page.Check(IDC_EXPOSURE2_ENABLE)},
        {"EXPOSURE2VAL", page.Shutter()},
        {"FLIP", page.Check(IDC_FLIP)},
        {"MIRROR", page.Check(IDC_MIRROR)},
        {"LEDCTRL", page.Check(IDC_LED)},
        {"PRIVACY", page.Check(IDC_PRIVACY)},
        {"STROBECTRL", page.Check(IDC_STROBE_ENABLE)},
        {"STROBEINVERT", page.Check(IDC_STROBE_INVERT)},
        {"VGA_FPS", page.Radio(IDC_VGA_60FPS)},
        {"QVGA_FPS", page.Radio(IDC_QVGA_60FPS)}};
    EXPECT_EQ(onPage, shown);
    EXPECT_EQ(page.Range(IDC_AGAIN_TRACKBAR), range["A_GAIN"]);
    EXPECT_EQ(page.Range(IDC_DGAIN_TRACKBAR), range["D_GAIN"]);
    EXPECT_EQ(page.Range(IDC_EXPOSURE_TRACKBAR), range["EXPOSURE"]);
    EXPECT_EQ("2.0000", shown["A_GAIN"]);  // the values set above, as the page shows them
    EXPECT_EQ("no selection", shown["QVGA_FPS"]);
    EXPECT_TRUE(boxes.Texts().empty());
}

// The organization's locks: refused before anything is written, with a
// status of their own and the policy's key, --force or not; info marks them.
TEST_F(VireoctlTest, LockedControlsAreRefusedWithTheirOwnStatus)
{
    PolicyKeys keys;
    ASSERT_TRUE(PolicyKeys::Set(L"Mandatory", L"EXPOSURE", 800));
    const std::string key = "HKLM\\Software\\Policies\\Vireo\\Camera\\";
    const std::string refused =
        "vireoctl: EXPOSURE is locked at 800 by the organization's policy (" + key +
        "Mandatory); --force does not override it: nothing written\r\n";
    const struct {
        const wchar_t *args;
        bool modelLock;  // the model's key locks EXPOSURE at 600 too
        int status;
        std::string err;
        std::vector<std::string> sent;
    } cases[] = {
        {L"set EXPOSURE=300", false, 6, refused, {}},
        {L"--force set EXPOSURE 300", false, 6, refused, {}},
        {L"set FLIP=1 EXPOSURE=300", false, 6, refused, {}},
        {L"set EXPOSURE=800", false, 0, "", {"GE 12", "SD 12=800", "GD 12"}},
        {L"set FLIP=1", false, 0, "", {"GE 16", "SD 16=1", "GD 16"}},
        {L"set EXPOSURE=800",
         true,
         6,
         "vireoctl: EXPOSURE is locked at 600 by the organization's policy (" + key +
             "Models\\vid_2e9a&pid_0b01\\Mandatory); --force does not override it: nothing "
             "written\r\n",
         {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(vireoctl::Narrow(c.args));
        if (c.modelLock)
            PolicyKeys::Set(L"Models\\vid_2e9a&pid_0b01\\Mandatory", L"EXPOSURE", 600);
        m_cam.Reset();
        const Result r = RunProgram(c.args);
        PolicyKeys::Remove(L"Models\\vid_2e9a&pid_0b01\\Mandatory", L"EXPOSURE");
        EXPECT_EQ(c.status, r.status) << r.out << r.err;
        EXPECT_EQ(c.err, r.err);
        EXPECT_EQ(c.sent, Sent());
    }

    Result r = RunProgram(L"info");
    EXPECT_TRUE(std::regex_search(
        r.out, std::regex("\nEXPOSURE .*current 284 \\[28\\.4 msec\\]  locked by policy\r\n")))
        << r.out;
    EXPECT_EQ(r.out.find("locked by policy"), r.out.rfind("locked by policy"));  // that one only
    r = RunProgram(L"--json info");
    std::map<std::string, bool> locked;
    const nlohmann::json info = nlohmann::json::parse(r.out);
    for (const nlohmann::json &control : info["controls"])
        locked[control["name"].get<std::string>()] = control["locked"].get<bool>();
    EXPECT_EQ(15u, locked.size());
    EXPECT_TRUE(locked["EXPOSURE"]);
    EXPECT_FALSE(locked["FLIP"]);
    EXPECT_EQ(284, m_cam.Value(EXPOSURE));
}

// One document for management scripts: the kit, each camera with its values
// and what the policy locks or recommends, the cameras only the keeper still
// remembers, and the keeper.
TEST_F(VireoctlTest, InventoryIsOneJsonDocumentShowingTheLocks)
{
    PolicyKeys keys;
    PolicyKeys::Set(L"Mandatory", L"EXPOSURE", 800);
    PolicyKeys::Set(L"Recommended", L"A_GAIN", 17);
    PolicyKeys::Set(L"Models\\vid_2e9a&pid_0b01\\Mandatory", L"PRIVACY", 1);
    PolicyKeys::Set(L"Models\\vid_1111&pid_2222\\Mandatory", L"FLIP", 1);
    m_cam.SetValue(FLIP, 1);
    // A camera of another model that the keeper remembers but is not here.
    VireoProfile kept = {};
    wcscpy(kept.device, L"Meeting Room Camera");
    wcscpy(kept.id, L"\\\\?\\usb#vid_1111&pid_2222&mi_00#6&1&0&0000");
    kept.present = 1;
    kept.values[0] = 3;
    wchar_t path[MAX_PATH];
    ASSERT_TRUE(VireoKeeperCreateCameraFolder() && VireoKeeperProfilePath(kept.id, path, MAX_PATH));
    ASSERT_EQ(S_OK, VireoProfileWrite(path, &kept, NULL));

    Result r = RunProgram(L"--json inventory");
    DeleteFileW(path);
    ASSERT_EQ(0, r.status) << r.err;
    const nlohmann::json doc = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << r.out;
    EXPECT_EQ(nlohmann::json::parse(R"({"version": "1.11.0", "width": )" +
                                    std::to_string(8 * sizeof(void *)) + "}"),
              doc["kit"]);
    EXPECT_EQ("HKLM\\Software\\Policies\\Vireo\\Camera", doc["policyKey"]);
    EXPECT_FALSE(doc["keeper"]["running"].get<bool>());
    EXPECT_TRUE(doc["keeper"]["keeping"].is_boolean());

    std::map<std::string, nlohmann::json> cameras;
    for (const nlohmann::json &camera : doc["cameras"])
        cameras[camera["id"].get<std::string>()] = camera;
    ASSERT_EQ(2u, cameras.size()) << r.out;
    nlohmann::json here = cameras[DeviceId(0)];
    EXPECT_EQ("Vireo Simulated Camera", here["name"]);
    EXPECT_TRUE(here["present"].get<bool>());
    EXPECT_EQ("yes", here["iface"]);
    EXPECT_EQ("vid_2e9a&pid_0b01", here["model"]);
    EXPECT_EQ(15u, here["values"].size());
    EXPECT_EQ(1, here["values"]["FLIP"]);
    EXPECT_EQ(284, here["values"]["EXPOSURE"]);
    EXPECT_EQ(nlohmann::json::parse(R"({"EXPOSURE": 800, "PRIVACY": 1})"), here["locked"]);
    EXPECT_EQ(nlohmann::json::parse(R"({"A_GAIN": 17})"), here["recommended"]);
    nlohmann::json away = cameras[vireoctl::Utf8(kept.id)];
    EXPECT_EQ("Meeting Room Camera", away["name"]);
    EXPECT_FALSE(away["present"].get<bool>());
    EXPECT_TRUE(away["values"].is_null());
    EXPECT_EQ(nlohmann::json::parse(R"({"EXPOSURE": 800, "FLIP": 1})"), away["locked"]);
    EXPECT_TRUE(away["profile"]["saved"].is_string()) << away;

    EXPECT_TRUE(away["profile"]["lastRestore"].is_null()) << away;

    // Without the extension a camera is listed all the same, without values.
    wintest::RegisterModule(L"vireoprop.ax", true);
    r = RunProgram(L"--json inventory");
    here = nlohmann::json::parse(r.out)["cameras"][0];
    EXPECT_EQ("no", here["iface"]);
    EXPECT_TRUE(here["values"].is_null());
    for (const wchar_t *args : {L"inventory", L"--json inventory -d 0", L"--json inventory x"})
        EXPECT_EQ(2, RunProgram(args).status) << vireoctl::Narrow(args);
}

// The last restore of a kept camera as the keeper recorded it, in "keep"
// and in the inventory.
TEST_F(VireoctlTest, LastRestoreIsTheKeepersOwnRecord)
{
    VireoProfile kept = {};
    wcscpy(kept.device, L"Meeting Room Camera");
    wcscpy(kept.id, L"\\\\?\\usb#vid_1111&pid_2222&mi_00#6&1&0&0000");
    kept.present = 1;
    wchar_t path[MAX_PATH], name[VIREO_KEEPER_NAME_CAPACITY];
    ASSERT_TRUE(VireoKeeperCreateCameraFolder() && VireoKeeperProfilePath(kept.id, path, MAX_PATH));
    ASSERT_EQ(S_OK, VireoProfileWrite(path, &kept, NULL));
    VireoKeeperFileName(kept.id, name, VIREO_KEEPER_NAME_CAPACITY);
    const struct {
        HRESULT result;
        const char *said;
    } cases[] = {
        {S_OK, "done"}, {S_FALSE, "nothing restored"}, {E_ACCESSDENIED, "failed: 0x80070005"}};
    const std::string when = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d )";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.said);
        ASSERT_EQ(ERROR_SUCCESS, VireoKeeperSetLastRestore(kept.id, c.result));
        const Result listed = RunProgram(L"keep");
        const nlohmann::json doc = nlohmann::json::parse(RunProgram(L"--json inventory").out);
        EXPECT_TRUE(std::regex_search(listed.out,
                                      std::regex("\n  last restore: " + when + c.said + "\r\n")))
            << listed.out;
        std::string restored;
        for (const nlohmann::json &camera : doc["cameras"])
            if (camera["name"] == "Meeting Room Camera")
                restored = camera["profile"]["lastRestore"].get<std::string>();
        EXPECT_TRUE(std::regex_match(restored, std::regex(when + c.said))) << restored;
    }
    DeleteFileW(path);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, VIREO_KEEPER_KEY L"\\" VIREO_KEEPER_RESTORES, name);
}
