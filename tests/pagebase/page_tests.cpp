// The property page base driven through IPropertyPage with a host window and
// page site of the test's own, and a page that records what reaches its hooks.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <ocidl.h>

#include <string>
#include <vector>

#include <wrl/client.h>

#include "base/module.h"
#include "base/propertypage.h"
#include "resources/resource.h"
#include "fakes.h"
#include "wintest.h"

namespace {

using Microsoft::WRL::ComPtr;

const int kMissingDialog = 999;
const int kMissingString = 112;

typedef std::vector<std::string> Calls;

// What the page's hooks saw; outlives the page so final release can be read.
struct PageLog {
    Calls calls;
    HRESULT connectResult = S_OK;
    HRESULT disconnectResult = S_OK;
    HRESULT applyResult = S_OK;
    ComPtr<IUnknown> connected;
    int messagesBeforeInit = 0;
    int initDialogs = 0;
    HWND initHwnd = NULL;
    HWND dlgAtInit = NULL;
    HWND dlgAtActivate = NULL;
    bool aliveAtDeactivate = false;
    LONG exStyleAtDeactivate = 0;
    int messagesTotal = 0;
};

class TestPage : public CBasePropertyPage {
public:
    TestPage(PageLog *log, int dialogId, int titleId)
        : CBasePropertyPage("test page", NULL, dialogId, titleId), m_log(log)
    {
    }

    HRESULT OnConnect(IUnknown *object) override
    {
        m_log->calls.push_back("OnConnect");
        if (SUCCEEDED(m_log->connectResult))
            m_log->connected = object;
        return m_log->connectResult;
    }
    HRESULT OnDisconnect() override
    {
        m_log->calls.push_back("OnDisconnect");
        m_log->connected.Reset();
        return m_log->disconnectResult;
    }
    HRESULT OnActivate() override
    {
        m_log->calls.push_back("OnActivate");
        m_log->dlgAtActivate = m_Dlg;
        return S_OK;
    }
    HRESULT OnDeactivate() override
    {
        m_log->calls.push_back("OnDeactivate");
        m_log->aliveAtDeactivate = IsWindow(m_Dlg) != FALSE;
        m_log->exStyleAtDeactivate = GetWindowLongA(m_Dlg, GWL_EXSTYLE);
        return S_OK;
    }
    HRESULT OnApplyChanges() override
    {
        m_log->calls.push_back("OnApplyChanges");
        return m_log->applyResult;
    }
    INT_PTR OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) override
    {
        ++m_log->messagesTotal;
        if (uMsg == WM_INITDIALOG) {
            m_log->calls.push_back("WM_INITDIALOG");
            ++m_log->initDialogs;
            m_log->initHwnd = hwnd;
            m_log->dlgAtInit = m_Dlg;
        } else if (m_log->initDialogs == 0) {
            ++m_log->messagesBeforeInit;
        }
        return CBasePropertyPage::OnReceiveMessage(hwnd, uMsg, wParam, lParam);
    }

    void MarkDirty(BOOL dirty) { m_bDirty = dirty; }
    HWND Dlg() const { return m_Dlg; }
    HWND Window() const { return m_hwnd; }

private:
    PageLog *m_log;
};

class PageBase : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_hInst = GetModuleHandleA(NULL);
        objectsAtStart = CBaseObject::ObjectsActive();
        host = wintest::CreateHostWindow(800, 600);
        ASSERT_TRUE(host != NULL);
        ShowWindow(host, SW_SHOW);
        Create();
    }
    void TearDown() override
    {
        pp.Reset();
        EXPECT_EQ(objectsAtStart, CBaseObject::ObjectsActive());
        DestroyWindow(host);
    }

    // The page, held through its IPropertyPage only (the one made by SetUp
    // replaced).
    void Create(int dialogId = IDD_CAMERA_SETTING, int titleId = IDS_TITLE)
    {
        page = new TestPage(&log, dialogId, titleId);
        pp = static_cast<IPropertyPage *>(page);
    }
    HRESULT Connect()
    {
        IUnknown *objects[1] = {&object};
        return pp->SetObjects(1, objects);
    }
    HRESULT ActivateAtRect() { return pp->Activate(host, &rect, FALSE); }
    void Release()
    {
        pp.Reset();
        page = NULL;
    }

    PageLog log;
    FakeFilter object;
    FakePageSite site;
    HWND host = NULL;
    TestPage *page = NULL;
    ComPtr<IPropertyPage> pp;
    RECT rect = {10, 20, 410, 320};
    LONG objectsAtStart = 0;
};

TEST_F(PageBase, InterfacesAndUnimplementedMethods)
{
    ComPtr<IUnknown> unk;
    ASSERT_EQ(S_OK, pp->QueryInterface(IID_IUnknown, &unk));
    ComPtr<IPropertyPage> again;
    ASSERT_EQ(S_OK, unk->QueryInterface(IID_IPropertyPage, &again));
    EXPECT_EQ(pp.Get(), again.Get());
    void *other = &other;
    EXPECT_EQ(E_NOINTERFACE, pp->QueryInterface(IID_IPropertyPage2, &other));
    EXPECT_EQ(NULL, other);

    MSG msg = {};
    EXPECT_EQ(E_NOTIMPL, pp->Help(L"C:\\"));
    EXPECT_EQ(E_NOTIMPL, pp->TranslateAccelerator(&msg));
}

TEST_F(PageBase, SetObjectsRulesAndResults)
{
    IUnknown *none[1] = {NULL};
    EXPECT_EQ(E_POINTER, pp->SetObjects(1, NULL));
    EXPECT_EQ(E_POINTER, pp->SetObjects(1, none));
    IUnknown *two[2] = {&object, &object};
    EXPECT_EQ(E_UNEXPECTED, pp->SetObjects(2, two));
    EXPECT_TRUE(log.calls.empty());
    // Refused counts leave the page without an object.
    EXPECT_EQ(E_UNEXPECTED, ActivateAtRect());

    // The hook's result is the caller's, even a failure; the object counts
    // as set all the same.
    log.connectResult = E_NOINTERFACE;
    EXPECT_EQ(E_NOINTERFACE, Connect());
    EXPECT_EQ(Calls({"OnConnect"}), log.calls);
    EXPECT_EQ(S_OK, ActivateAtRect());
    EXPECT_EQ(S_OK, pp->Deactivate());

    log.connectResult = S_OK;
    EXPECT_EQ(S_OK, Connect());
    EXPECT_EQ(2, object.refs);

    log.calls.clear();
    log.disconnectResult = S_FALSE;
    EXPECT_EQ(S_FALSE, pp->SetObjects(0, NULL));
    EXPECT_EQ(Calls({"OnDisconnect"}), log.calls);
    EXPECT_EQ(1, object.refs);
    EXPECT_EQ(E_UNEXPECTED, ActivateAtRect());
}

TEST_F(PageBase, PageInfoTitleAndMeasuredSize)
{
    EXPECT_EQ(E_POINTER, pp->GetPageInfo(NULL));

    PROPPAGEINFO info;
    memset(&info, 0xCD, sizeof(info));
    ASSERT_EQ(S_OK, pp->GetPageInfo(&info));
    EXPECT_EQ(sizeof(PROPPAGEINFO), info.cb);
    EXPECT_STREQ(L"Camera Setting", info.pszTitle);
    EXPECT_EQ(NULL, info.pszDocString);
    EXPECT_EQ(NULL, info.pszHelpFile);
    EXPECT_EQ(0u, info.dwHelpContext);
    CoTaskMemFree(info.pszTitle);
    // Measuring runs none of the page's own dialog handling.
    EXPECT_EQ(0, log.messagesTotal);

    // The same dialog, made by Activate, converts 239 x 210 dialog units to
    // the measured pixels.
    ASSERT_EQ(S_OK, Connect());
    ASSERT_EQ(S_OK, ActivateAtRect());
    RECT units = {0, 0, 239, 210};
    ASSERT_TRUE(MapDialogRect(page->Dlg(), &units));
    EXPECT_EQ(units.right, info.size.cx);
    EXPECT_EQ(units.bottom, info.size.cy);
    EXPECT_EQ(S_OK, pp->Deactivate());
}

TEST_F(PageBase, PageInfoFallsBackWithoutDialogOrTitle)
{
    Create(kMissingDialog, kMissingString);
    PROPPAGEINFO info = {};
    ASSERT_EQ(S_OK, pp->GetPageInfo(&info));
    EXPECT_EQ(340, info.size.cx);
    EXPECT_EQ(150, info.size.cy);
    EXPECT_STREQ(L"", info.pszTitle);
    CoTaskMemFree(info.pszTitle);

    ASSERT_EQ(S_OK, Connect());
    log.calls.clear();
    EXPECT_EQ(E_OUTOFMEMORY, ActivateAtRect());
    EXPECT_TRUE(log.calls.empty());
    EXPECT_EQ(E_UNEXPECTED, pp->Deactivate());
}

TEST_F(PageBase, ActivateRefusalsAndOrder)
{
    ASSERT_EQ(S_OK, Connect());
    EXPECT_EQ(E_POINTER, pp->Activate(host, NULL, FALSE));
    EXPECT_EQ(E_UNEXPECTED, pp->Show(SW_SHOW));
    EXPECT_EQ(E_UNEXPECTED, pp->Move(&rect));
    log.calls.clear();

    ASSERT_EQ(S_OK, ActivateAtRect());
    EXPECT_EQ(Calls({"WM_INITDIALOG", "OnActivate"}), log.calls);
    EXPECT_EQ(0, log.messagesBeforeInit);
    HWND dlg = page->Dlg();
    ASSERT_TRUE(IsWindow(dlg));
    EXPECT_EQ(dlg, page->Window());
    EXPECT_EQ(dlg, log.initHwnd);
    EXPECT_EQ(dlg, log.dlgAtInit);  // recorded before the page saw the message
    EXPECT_EQ(dlg, log.dlgAtActivate);
    EXPECT_EQ(host, GetParent(dlg));
    EXPECT_TRUE(GetWindowLongA(dlg, GWL_STYLE) & WS_CHILD);
    EXPECT_TRUE(IsWindowVisible(dlg));
    RECT placed;
    GetWindowRect(dlg, &placed);
    MapWindowPoints(NULL, host, reinterpret_cast<POINT *>(&placed), 2);
    EXPECT_TRUE(EqualRect(&rect, &placed))
        << placed.left << "," << placed.top << " " << placed.right << "," << placed.bottom;

    EXPECT_EQ(E_UNEXPECTED, ActivateAtRect());
    EXPECT_EQ(1, log.initDialogs);

    RECT moved = {5, 6, 105, 206};
    EXPECT_EQ(E_POINTER, pp->Move(NULL));
    EXPECT_EQ(S_OK, pp->Move(&moved));
    GetWindowRect(dlg, &placed);
    MapWindowPoints(NULL, host, reinterpret_cast<POINT *>(&placed), 2);
    EXPECT_TRUE(EqualRect(&moved, &placed));
    EXPECT_EQ(E_INVALIDARG, pp->Show(SW_MINIMIZE));
    EXPECT_EQ(S_OK, pp->Show(SW_HIDE));
    EXPECT_FALSE(IsWindowVisible(dlg));
    EXPECT_EQ(S_OK, pp->Show(SW_SHOW));
    EXPECT_TRUE(IsWindowVisible(dlg));
    EXPECT_EQ(S_OK, pp->Deactivate());
}

TEST_F(PageBase, ControlParentKeptUntilDeactivate)
{
    ASSERT_EQ(S_OK, Connect());
    ASSERT_EQ(S_OK, ActivateAtRect());
    HWND dlg = page->Dlg();

    LONG ex = GetWindowLongA(dlg, GWL_EXSTYLE);
    SetWindowLongA(dlg, GWL_EXSTYLE, ex & ~static_cast<LONG>(WS_EX_CONTROLPARENT));
    EXPECT_TRUE(GetWindowLongA(dlg, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
    // Other style changes go through untouched.
    SetWindowLongA(dlg, GWL_EXSTYLE, ex | WS_EX_CLIENTEDGE);
    EXPECT_TRUE(GetWindowLongA(dlg, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
    EXPECT_TRUE(GetWindowLongA(dlg, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);

    log.calls.clear();
    EXPECT_EQ(S_OK, pp->Deactivate());
    EXPECT_EQ(Calls({"OnDeactivate"}), log.calls);
    EXPECT_TRUE(log.aliveAtDeactivate);
    EXPECT_FALSE(log.exStyleAtDeactivate & WS_EX_CONTROLPARENT);
    EXPECT_FALSE(IsWindow(dlg));
    EXPECT_EQ(NULL, page->Window());
    EXPECT_EQ(E_UNEXPECTED, pp->Deactivate());

    // A second activation builds a fresh dialog.
    ASSERT_EQ(S_OK, ActivateAtRect());
    EXPECT_EQ(2, log.initDialogs);
    SetWindowLongA(page->Dlg(), GWL_EXSTYLE, 0);
    EXPECT_TRUE(GetWindowLongA(page->Dlg(), GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
    EXPECT_EQ(S_OK, pp->Deactivate());
}

TEST_F(PageBase, PageSiteReferences)
{
    FakePageSite other;
    EXPECT_EQ(S_OK, pp->SetPageSite(&site));
    EXPECT_EQ(2, site.refs);
    EXPECT_EQ(E_UNEXPECTED, pp->SetPageSite(&other));
    EXPECT_EQ(1, other.refs);
    EXPECT_EQ(2, site.refs);
    EXPECT_EQ(S_OK, pp->SetPageSite(NULL));
    EXPECT_EQ(1, site.refs);
    EXPECT_EQ(S_OK, pp->SetPageSite(NULL));
    EXPECT_EQ(S_OK, pp->SetPageSite(&other));
    EXPECT_EQ(2, other.refs);
    Release();
    EXPECT_EQ(1, other.refs);
}

TEST_F(PageBase, ApplyAndDirtyRules)
{
    EXPECT_EQ(S_FALSE, pp->IsPageDirty());
    page->MarkDirty(TRUE);
    EXPECT_EQ(S_OK, pp->IsPageDirty());
    EXPECT_EQ(E_UNEXPECTED, pp->Apply());  // neither object nor site
    ASSERT_EQ(S_OK, Connect());
    EXPECT_EQ(E_UNEXPECTED, pp->Apply());  // no site
    ASSERT_EQ(S_OK, pp->SetObjects(0, NULL));
    ASSERT_EQ(S_OK, pp->SetPageSite(&site));
    EXPECT_EQ(E_UNEXPECTED, pp->Apply());  // no object
    ASSERT_EQ(S_OK, Connect());
    log.calls.clear();

    // A failing apply keeps the page dirty and hands back the failure.
    log.applyResult = E_FAIL;
    EXPECT_EQ(E_FAIL, pp->Apply());
    EXPECT_EQ(S_OK, pp->IsPageDirty());
    log.applyResult = S_FALSE;
    EXPECT_EQ(S_FALSE, pp->Apply());
    EXPECT_EQ(S_FALSE, pp->IsPageDirty());
    EXPECT_EQ(Calls({"OnApplyChanges", "OnApplyChanges"}), log.calls);

    // Nothing to apply: no call at all.
    EXPECT_EQ(S_OK, pp->Apply());
    EXPECT_EQ(2u, log.calls.size());
}

// Released while still active, the page takes the dialog down first, so
// that nothing of it can reach the deleted page; then it lets go of the site
// and the object.
TEST_F(PageBase, FinalReleaseLetsGoOfEverything)
{
    for (bool active : {true, false}) {
        SCOPED_TRACE(active ? "active" : "inactive");
        Create();
        ASSERT_EQ(S_OK, pp->SetPageSite(&site));
        ASSERT_EQ(S_OK, Connect());
        ASSERT_EQ(S_OK, ActivateAtRect());
        HWND dlg = page->Dlg();
        if (!active) {
            ASSERT_EQ(S_OK, pp->Deactivate());
        }
        log.calls.clear();
        Release();
        EXPECT_EQ((active ? Calls{"OnDeactivate", "OnDisconnect"} : Calls{"OnDisconnect"}),
                  log.calls);
        EXPECT_FALSE(IsWindow(dlg));
        EXPECT_EQ(1, object.refs);
        EXPECT_EQ(1, site.refs);
    }
    wintest::PumpMessages();
}

}  // namespace
