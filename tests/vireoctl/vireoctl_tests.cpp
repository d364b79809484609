// vireoctl on the simulated camera: statuses, messages and the bytes that
// reach the driver, info against what the page loads, and the Default
// sequence against the page's own, pauses included.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <dshow.h>

#include <map>
#include <regex>
#include <string>
#include <vector>

#include <wrl/client.h>

#include "base/module.h"
#include "commands.h"
#include "fakes.h"
#include "page/settingpage.h"
#include "picture.h"
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

// One driver request, every byte of it, or a pause of the sender.
std::string Entry(const SimRequest &r)
{
    std::string text = (r.isSet ? "set " : "get ") + std::to_string(r.property) + " " +
                       std::to_string(r.instanceLength) + "/" + std::to_string(r.dataLength) + ":";
    char hex[4];
    for (ULONG i = 0; i < r.dataLength && i < sizeof(r.block); ++i) {
        snprintf(hex, sizeof(hex), " %02X", r.block[i]);
        text += hex;
    }
    return text;
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

    // vireoctl.exe with these arguments, its output and its status.
    Result Run(const std::wstring &args)
    {
        wintest::ProgramRun run;
        const bool started = run.Start(L"\"" + wintest::BinDir() + L"vireoctl.exe\" " + args);
        return {started ? run.WaitExit() : -1, run.Output(), run.Errors()};
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
        *m_filter.ReleaseAndGetAddressOf() = SimCamBindFilter();
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
    const std::string exposure100 = "set 0 0/16: 0C 00 00 00 01 00 00 00 64 00 00 00 00 00 00 00";
    struct Case {
        const wchar_t *args;
        ULONG faultProperty, faultControl, faultKind;
        int status;
        const char *out;  // expected in stdout
        const char *err;  // expected in stderr
        int sent;         // requests that reach the driver
    } cases[] = {
        {L"set privacy 1", 0, 0, 0, 0, "PRIVACY = 1 [on]", "", 1},
        {L"-d \"vireo simulated camera\" get exposure", 0, 0, 0, 0, "EXPOSURE = 284 [28.4 msec]",
         "", 1},
        {L"-d 0 set A_GAIN 17", 0, 0, 0, 0, "A_GAIN = 17 [2.0000]", "", 1},
        {L"set EXPOSURE2VAL -3", 0, 0, 0, 0, "EXPOSURE2VAL = -3 [no selection]", "", 1},
        // The gain factor of the lowest value, without a wrap in 32 bits.
        {L"set A_GAIN -2147483648", 0, 0, 0, 0, "A_GAIN = -2147483648 [-134217727.0625]", "", 1},
        {L"set EXPOSURE 12x", 0, 0, 0, 2, "", "not a 32-bit decimal value: 12x", 0},
        {L"set EXPOSURE 2147483648", 0, 0, 0, 2, "", "not a 32-bit decimal value", 0},
        {L"set EXPOSURE", 0, 0, 0, 2, "", "set takes a control name and a value", 0},
        {L"get NOPE", 0, 0, 0, 2, "", "unknown control NOPE", 0},
        {L"-d 1 info", 0, 0, 0, 2, "", "no video input device 1 ", 0},
        {L"-d \"Other Camera\" defaults", 0, 0, 0, 2, "", "no video input device Other Camera", 0},
        {L"reset", 0, 0, 0, 2, "", "unknown command reset", 0},
        {L"set EXPOSURE 100", VALUE10H, EXPOSURE, SET_DATA, 1, "",
         "vireoctl: EXPOSURE SET_DATA 100 failed: 0x80070005", 1},
        {L"get AEC", VALUE10H, AEC, GET_DATA, 1, "", "vireoctl: AEC GET_DATA failed: 0x80070005",
         1},
        // A refused GET_ENABLE: that control is listed as failed, the others still are.
        {L"info", VALUE10H, A_GAIN, GET_ENABLE, 1, "PRIVACY       enable 1",
         "vireoctl: A_GAIN GET_ENABLE failed: 0x80070005", 29},
        // Every SET_ENABLE refused: each is reported, and every value is still sent.
        {L"defaults", VALUE20H, SIM_ANY, SET_ENABLE, 1, "QVGA_FPS = 3 [25fps]",
         "vireoctl: QVGA_FPS SET_ENABLE 3 failed: 0x80070005", 30},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(vireoctl::Narrow(c.args));
        m_cam.Reset();
        if (c.faultKind || c.faultControl)
            m_cam.AddFault(c.faultProperty, c.faultControl, c.faultKind, E_ACCESSDENIED);
        Result r = Run(c.args);
        EXPECT_EQ(c.status, r.status) << r.out << r.err;
        EXPECT_NE(std::string::npos, r.out.find(c.out)) << r.out;
        EXPECT_NE(std::string::npos, r.err.find(c.err)) << r.err;
        EXPECT_TRUE(*c.err || r.err.empty()) << r.err;
        EXPECT_EQ(c.sent, m_cam.LogCount());
    }
    m_cam.Reset();
    Run(L"set EXPOSURE 100");
    EXPECT_EQ(std::vector<std::string>{exposure100}, Sent());
    EXPECT_EQ(100, m_cam.Value(EXPOSURE));  // and the camera holds it

    // And the camera sends it: with PRIVACY on, black frames.
    Run(L"set PRIVACY 1");
    std::vector<BYTE> frame(SimFrameBytes(8, 8), 0xAA);  // rows of 24 bytes: no padding
    SimRenderFrame(frame.data(), 8, 8, 1, m_cam.Block().Shared()->driver);
    EXPECT_EQ(std::vector<BYTE>(frame.size(), 0), frame);
}

TEST_F(VireoctlTest, NoDeviceAndNoInterfaceHaveTheirOwnStatus)
{
    wintest::RegisterModule(L"vireoprop.ax", true);
    Result r = Run(L"list");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("0  Vireo Simulated Camera  IFace: no\r\n", r.out);
    r = Run(L"get AEC");
    EXPECT_EQ(4, r.status);
    EXPECT_NE(std::string::npos, r.err.find("Vireo Simulated Camera offers no IFace (0x80004002)"))
        << r.err;

    wintest::RegisterModule(L"simcam.ax", true);
    for (const wchar_t *args : {L"list", L"info", L"-d 0 set AEC 0"}) {
        r = Run(args);
        EXPECT_EQ(3, r.status) << vireoctl::Narrow(args);
        EXPECT_EQ("vireoctl: no video input device\r\n", r.err);
    }
    EXPECT_EQ(0, m_cam.LogCount());
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
    Result r = Run(L"info");
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

TEST_F(VireoctlTest, DefaultsSendWhatThePageDefaultButtonSends)
{
    std::vector<std::string> pageSequence, toolSequence;
    CameraSettingPage::PauseFunction previous = CameraSettingPage::SetPauseFunction(RecordPause);
    {
        wintest::MessageBoxCatcher boxes;
        Page page;
        ASSERT_NE(nullptr, page.Dialog());
        g_sequence.clear();
        g_logged = m_cam.LogCount();
        SendDlgItemMessageW(page.Dialog(), IDC_DEFAULT, BM_CLICK, 0, 0);
        Collect();
        pageSequence = g_sequence;
    }
    CameraSettingPage::SetPauseFunction(previous);

    m_cam.Reset();
    ComPtr<IBaseFilter> filter;
    *filter.ReleaseAndGetAddressOf() = SimCamBindFilter();
    ASSERT_NE(nullptr, filter.Get());
    ComPtr<IFace> face;
    ASSERT_EQ(S_OK, filter.As(&face));
    FILE *nul = fopen("NUL", "w");
    g_sequence.clear();
    g_logged = m_cam.LogCount();
    EXPECT_EQ(0, vireoctl::Defaults(face.Get(), nul, nul, RecordPause));
    Collect();
    toolSequence = g_sequence;
    fclose(nul);

    ASSERT_EQ(33u, pageSequence.size()) << "30 requests and 3 pauses";
    EXPECT_EQ(pageSequence, toolSequence);

    // The program sends the same requests.
    m_cam.Reset();
    Result r = Run(L"defaults");
    EXPECT_EQ(0, r.status) << r.err;
    std::vector<std::string> requests;
    for (const std::string &s : pageSequence)
        if (s.compare(0, 5, "pause") != 0)
            requests.push_back(s);
    EXPECT_EQ(requests, Sent());
}
