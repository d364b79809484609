#include "pagetest.h"

#include <stdio.h>
#include <stdlib.h>

std::vector<Pause> g_pauses;
static SimDriver *g_pauseDriver = NULL;

static void WINAPI RecordPause(DWORD milliseconds)
{
    Pause p = {g_pauseDriver ? g_pauseDriver->LogCount() : -1, milliseconds};
    g_pauses.push_back(p);
}

TestFilter::TestFilter(bool aggregateHandler)
    : m_state(new SimDriverState()), m_driver(m_state.get())
{
    m_driver.Reset();
    backend = [this](bool isSet, DWORD id, void *instance, DWORD instanceLength, void *data,
                     DWORD dataLength, DWORD *returned) {
        return isSet
                   ? m_driver.Set(CameraPropertySet, id, instance, instanceLength, data, dataLength)
                   : m_driver.Get(CameraPropertySet, id, instance, instanceLength, data, dataLength,
                                  returned);
    };
    if (aggregateHandler) {
        HRESULT hr = E_FAIL;
        CUnknown *handler = CInterfaceHandler::CreateInstance(this, &hr);
        EXPECT_EQ(S_OK, hr);
        if (handler) {
            handler->NonDelegatingAddRef();
            inner = reinterpret_cast<IUnknown *>(static_cast<INonDelegatingUnknown *>(handler));
        }
    }
}

// --- Describe ---------------------------------------------------------------

std::string Describe(const SimRequest &r)
{
    char text[64];
    SimDescribeRequest(r, text, sizeof(text));
    return text;
}

// --- PageTest ---------------------------------------------------------------

void PageTest::SetUp()
{
    g_hInst = GetModuleHandleW(NULL);
    m_objectsBefore = CBaseObject::ObjectsActive();
    m_filter.reset(new TestFilter());
    g_pauseDriver = &m_filter->Driver();
    g_pauses.clear();
    CameraSettingPage::SetPauseFunction(RecordPause);
    m_boxes.reset(new wintest::MessageBoxCatcher());
    m_host = wintest::CreateHostWindow(700, 500);
    ASSERT_NE(nullptr, m_host);
    ShowWindow(m_host, SW_SHOWNOACTIVATE);
    CreatePage();
}

void PageTest::TearDown()
{
    if (m_page) {
        if (m_dlg)
            Deactivate();
        m_page->SetObjects(0, NULL);
        m_page->SetPageSite(NULL);
        ReleasePage();
    }
    EXPECT_EQ(1, m_filter->refs) << "an IFace reference was left behind";
    EXPECT_EQ(1, m_site.refs) << "a page site reference was left behind";
    EXPECT_EQ(0, m_filter->querySupported);
    if (m_host)
        DestroyWindow(m_host);
    wintest::PumpMessages();
    m_boxes.reset();
    CameraSettingPage::SetPauseFunction(NULL);
    g_pauseDriver = NULL;
    m_filter.reset();
    EXPECT_EQ(m_objectsBefore, CBaseObject::ObjectsActive());
}

void PageTest::CreatePage()
{
    HRESULT hr = static_cast<HRESULT>(0x12345678);
    m_unknown = CameraSettingPage::CreateInstance(NULL, &hr);
    ASSERT_NE(nullptr, m_unknown);
    EXPECT_EQ(static_cast<HRESULT>(0x12345678), hr) << "creation must leave the result alone";
    ASSERT_EQ(S_OK, m_unknown->NonDelegatingQueryInterface(IID_IPropertyPage,
                                                           reinterpret_cast<void **>(&m_page)));
    m_setting = static_cast<CameraSettingPage *>(m_unknown);
}

HRESULT PageTest::Connect()
{
    if (!m_siteSet) {
        EXPECT_EQ(S_OK, m_page->SetPageSite(&m_site));
        m_siteSet = true;
    }
    IUnknown *object = m_filter->Unknown();
    return m_page->SetObjects(1, &object);
}

static BOOL CALLBACK FindAGainTrackbar(HWND hwnd, LPARAM param)
{
    if (GetDlgCtrlID(hwnd) == IDC_AGAIN_TRACKBAR) {
        *reinterpret_cast<HWND *>(param) = GetParent(hwnd);
        return FALSE;
    }
    return TRUE;
}

HRESULT PageTest::Activate()
{
    RECT rect = {0, 0, 480, 420};
    HRESULT hr = m_page->Activate(m_host, &rect, FALSE);
    m_dlg = NULL;
    EnumChildWindows(m_host, FindAGainTrackbar, reinterpret_cast<LPARAM>(&m_dlg));
    return hr;
}

void PageTest::Show()
{
    ASSERT_EQ(S_OK, Connect());
    ASSERT_EQ(S_OK, Activate());
    ClearLog();
}

HRESULT PageTest::Deactivate()
{
    HRESULT hr = m_page->Deactivate();
    m_dlg = NULL;
    return hr;
}

void PageTest::ReleasePage()
{
    if (m_page)
        m_page->Release();
    m_page = NULL;
    m_siteSet = false;
    m_unknown = NULL;
    m_setting = NULL;
}

std::vector<std::string> PageTest::Requests(LONG from)
{
    std::vector<std::string> out;
    for (LONG i = from; i < Driver().LogCount(); ++i) {
        const SimRequest *r = Driver().LogEntry(i);
        out.push_back(r ? Describe(*r) : std::string("(lost)"));
    }
    return out;
}

const SimRequest &PageTest::Request(LONG index)
{
    const SimRequest *r = Driver().LogEntry(index);
    static SimRequest none;
    EXPECT_NE(nullptr, r) << "no request " << index;
    return r ? *r : none;
}

void PageTest::ClearLog()
{
    Driver().ClearLog();
    g_pauses.clear();
    m_boxes->Clear();
}

std::vector<std::string> PageTest::FullLoad()
{
    std::vector<std::string> out;
    for (ULONG id : CameraControlIds) {
        out.push_back("GE " + std::to_string(id));
        out.push_back("GD " + std::to_string(id));
    }
    return out;
}

void PageTest::Scroll(int trackbarId, LONG position, WORD code)
{
    HWND trackbar = Item(trackbarId);
    SendMessageW(trackbar, TBM_SETPOS, TRUE, position);
    SendMessageW(m_dlg, WM_HSCROLL, MAKEWPARAM(code, 0), reinterpret_cast<LPARAM>(trackbar));
}

void PageTest::Click(int controlId)
{
    SendMessageW(Item(controlId), BM_CLICK, 0, 0);
}

void PageTest::SelectShutter(LONG index)
{
    HWND combo = Item(IDC_SHUTTER_LIST);
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendCommand(IDC_SHUTTER_LIST, CBN_SELCHANGE, combo);
}

void PageTest::SendCommand(int controlId, WORD code, HWND control)
{
    SendMessageW(m_dlg, WM_COMMAND, MAKEWPARAM(controlId, code), reinterpret_cast<LPARAM>(control));
}

LONG PageTest::TrackbarPos(int id) const
{
    return static_cast<LONG>(SendMessageW(Item(id), TBM_GETPOS, 0, 0));
}

std::string PageTest::Trackbar(int id) const
{
    const int text = id == IDC_AGAIN_TRACKBAR   ? IDC_AGAIN_TEXT
                     : id == IDC_DGAIN_TRACKBAR ? IDC_DGAIN_TEXT
                                                : IDC_EXPOSURE_TEXT;
    return std::to_string(SendMessageW(Item(id), TBM_GETRANGEMIN, 0, 0)) + ".." +
           std::to_string(SendMessageW(Item(id), TBM_GETRANGEMAX, 0, 0)) + " @" +
           std::to_string(TrackbarPos(id)) + " " + Text(text);
}

std::string PageTest::Checks() const
{
    std::string out;
    for (int id : {IDC_AGAIN_AUTO, IDC_EXPOSURE_AUTO, IDC_EXPOSURE2_ENABLE, IDC_FLIP, IDC_MIRROR,
                   IDC_LED, IDC_PRIVACY, IDC_STROBE_ENABLE, IDC_STROBE_INVERT})
        out += Checked(id) ? '1' : '0';
    return out;
}

std::string PageTest::Enables() const
{
    std::string out;
    for (int id : {IDC_AGAIN_TRACKBAR, IDC_AGAIN_TEXT, IDC_EXPOSURE_AUTO, IDC_EXPOSURE_TRACKBAR,
                   IDC_EXPOSURE_TEXT, IDC_EXPOSURE2_ENABLE, IDC_SHUTTER_LIST})
        out += Enabled(id) ? '1' : '0';
    return out;
}

std::string PageTest::Text(int id) const
{
    char text[256] = {0};
    GetDlgItemTextA(m_dlg, id, text, sizeof(text));
    return text;
}

LONG PageTest::ShutterSelection() const
{
    return static_cast<LONG>(SendMessageW(Item(IDC_SHUTTER_LIST), CB_GETCURSEL, 0, 0));
}

std::vector<std::string> PageTest::ShutterEntries() const
{
    std::vector<std::string> out;
    HWND combo = Item(IDC_SHUTTER_LIST);
    LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        char text[128] = {0};
        SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        out.push_back(text);
    }
    return out;
}

std::vector<int> PageTest::CheckedRadios() const
{
    std::vector<int> out;
    for (int id = IDC_VGA_60FPS; id <= IDC_QVGA_15FPS; ++id)
        if (Checked(id))
            out.push_back(id);
    return out;
}
