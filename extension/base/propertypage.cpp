// propertypage.cpp - IPropertyPage on a modeless dialog of the module.
#include "propertypage.h"

#include <commctrl.h>
#include <olectl.h>

#include "module.h"

namespace {

// Page size used when the dialog cannot be measured.
const LONG kFallbackWidth = 340;
const LONG kFallbackHeight = 150;

// The page's dialogs hold trackbars; the class must be registered before a
// dialog template that names it is created.
void RegisterControlClasses()
{
    INITCOMMONCONTROLSEX icc;
    icc.dwSize = sizeof(icc);
    icc.dwICC = ICC_BAR_CLASSES;
    InitCommonControlsEx(&icc);
}

// Copies a wide string into task memory for the caller to free.
HRESULT TaskMemString(const WCHAR *text, int length, LPOLESTR *out)
{
    *out = static_cast<LPOLESTR>(CoTaskMemAlloc((length + 1) * sizeof(WCHAR)));
    if (!*out)
        return E_OUTOFMEMORY;
    if (length)
        CopyMemory(*out, text, length * sizeof(WCHAR));
    (*out)[length] = L'\0';
    return S_OK;
}

}  // namespace

CBasePropertyPage::CBasePropertyPage(const char *name, IUnknown *outer, int dialogId, int titleId)
    : CUnknown(name, outer), m_hwnd(NULL), m_Dlg(NULL), m_bDirty(FALSE), m_bObjectSet(FALSE),
      m_TitleId(titleId), m_DialogId(dialogId), m_bReleasingControlParent(FALSE)
{
}

CBasePropertyPage::~CBasePropertyPage()
{
    // Final release takes the window down through Deactivate; should one be
    // left (a page deleted some other way), it must not reach a dead object.
    if (m_hwnd && IsWindow(m_hwnd)) {
        SetWindowLongPtrA(m_hwnd, DWLP_USER, 0);
        DestroyWindow(m_hwnd);
    }
    m_hwnd = NULL;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IPropertyPage))
        return GetInterface(static_cast<IPropertyPage *>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

ULONG STDMETHODCALLTYPE CBasePropertyPage::NonDelegatingRelease()
{
    LONG ref = InterlockedDecrement(&m_cRef);
    if (ref == 0) {
        // Hold a reference while letting go of the frame's objects, so that
        // a release coming back through them cannot delete the page twice.
        m_cRef = 1;
        if (m_hwnd)
            Deactivate();
        SetPageSite(NULL);
        SetObjects(0, NULL);
        delete this;
        return 0;
    }
    return static_cast<ULONG>(ref < 0 ? 0 : ref);
}

HRESULT CBasePropertyPage::OnConnect(IUnknown *)
{
    return S_OK;
}

HRESULT CBasePropertyPage::OnDisconnect()
{
    return S_OK;
}

HRESULT CBasePropertyPage::OnActivate()
{
    return S_OK;
}

HRESULT CBasePropertyPage::OnDeactivate()
{
    return S_OK;
}

HRESULT CBasePropertyPage::OnApplyChanges()
{
    return S_OK;
}

INT_PTR CBasePropertyPage::OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    // Property frames clear WS_EX_CONTROLPARENT on their pages, which stops
    // the tab key from moving between the page's controls; keep it set,
    // except while Deactivate takes it off on purpose.
    if (uMsg == WM_STYLECHANGING && static_cast<int>(wParam) == GWL_EXSTYLE &&
        !m_bReleasingControlParent && lParam) {
        STYLESTRUCT *styles = reinterpret_cast<STYLESTRUCT *>(lParam);
        styles->styleNew |= WS_EX_CONTROLPARENT;
        return 0;
    }
    return DefWindowProcA(hwnd, uMsg, wParam, lParam);
}

INT_PTR CALLBACK CBasePropertyPage::DialogProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_INITDIALOG) {
        // lParam is the page, or null when the dialog is only being measured.
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        CBasePropertyPage *page = reinterpret_cast<CBasePropertyPage *>(lParam);
        if (page)
            page->m_Dlg = hwnd;
    }
    CBasePropertyPage *page =
        reinterpret_cast<CBasePropertyPage *>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (!page) {
        // Messages ahead of WM_INITDIALOG (WM_SETFONT) and those of a dialog
        // created for measuring only: leave them to the dialog manager.
        return FALSE;
    }
    INT_PTR result = page->OnReceiveMessage(hwnd, uMsg, wParam, lParam);
    if (uMsg == WM_NCDESTROY) {
        // The window is gone; nothing more of it may reach the page.
        SetWindowLongPtrA(hwnd, DWLP_USER, 0);
    }
    return result;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::SetPageSite(IPropertyPageSite *pPageSite)
{
    if (pPageSite) {
        if (m_pPageSite)
            return E_UNEXPECTED;
        m_pPageSite = pPageSite;
    } else {
        m_pPageSite.Reset();
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Activate(HWND hwndParent, LPCRECT prect, BOOL)
{
    if (!prect)
        return E_POINTER;
    if (!m_bObjectSet || m_hwnd)
        return E_UNEXPECTED;

    RegisterControlClasses();
    // The dialog procedure records m_Dlg on WM_INITDIALOG, before CreateDialogParam returns.
    HWND hwnd = CreateDialogParamA(g_hInst, MAKEINTRESOURCEA(m_DialogId), hwndParent, DialogProc,
                                   reinterpret_cast<LPARAM>(this));
    if (!hwnd)
        return E_OUTOFMEMORY;
    m_hwnd = hwnd;

    OnActivate();
    Move(prect);
    return Show(SW_SHOWNORMAL);
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Deactivate()
{
    if (!m_hwnd)
        return E_UNEXPECTED;

    // Take WS_EX_CONTROLPARENT off before the window goes, without the
    // style-change handling putting it back.
    LONG exStyle = GetWindowLongA(m_hwnd, GWL_EXSTYLE);
    m_bReleasingControlParent = TRUE;
    SetWindowLongA(m_hwnd, GWL_EXSTYLE, exStyle & ~static_cast<LONG>(WS_EX_CONTROLPARENT));
    m_bReleasingControlParent = FALSE;

    OnDeactivate();

    HWND hwnd = m_hwnd;
    DestroyWindow(hwnd);
    m_hwnd = NULL;
    if (m_Dlg == hwnd)
        m_Dlg = NULL;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::GetPageInfo(PROPPAGEINFO *pPageInfo)
{
    if (!pPageInfo)
        return E_POINTER;

    // With a zero buffer size LoadStringW hands back the resource text itself.
    const WCHAR *title = NULL;
    int length = LoadStringW(g_hInst, m_TitleId, reinterpret_cast<LPWSTR>(&title), 0);
    if (length <= 0 || !title)
        length = 0;
    LPOLESTR pszTitle = NULL;
    HRESULT hr = TaskMemString(title, length, &pszTitle);
    if (FAILED(hr))
        return hr;

    pPageInfo->cb = sizeof(PROPPAGEINFO);
    pPageInfo->pszTitle = pszTitle;
    pPageInfo->pszDocString = NULL;
    pPageInfo->pszHelpFile = NULL;
    pPageInfo->dwHelpContext = 0;
    pPageInfo->size.cx = kFallbackWidth;
    pPageInfo->size.cy = kFallbackHeight;
    MeasureDialog(&pPageInfo->size);
    return S_OK;
}

BOOL CBasePropertyPage::MeasureDialog(SIZE *size) const
{
    // A hidden instance of the dialog, laid out by the dialog manager with
    // its own font, tells the page's size in pixels. No page is attached
    // to it, so none of the page's handling runs.
    RegisterControlClasses();
    HWND hwnd = CreateDialogParamA(g_hInst, MAKEINTRESOURCEA(m_DialogId), GetDesktopWindow(),
                                   DialogProc, 0);
    if (!hwnd)
        return FALSE;
    RECT rc;
    BOOL ok = GetWindowRect(hwnd, &rc);
    DestroyWindow(hwnd);
    if (!ok || rc.right <= rc.left || rc.bottom <= rc.top)
        return FALSE;
    size->cx = rc.right - rc.left;
    size->cy = rc.bottom - rc.top;
    return TRUE;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::SetObjects(ULONG cObjects, IUnknown **ppUnk)
{
    if (cObjects == 1) {
        if (!ppUnk || !*ppUnk)
            return E_POINTER;
        m_bObjectSet = TRUE;
        return OnConnect(*ppUnk);
    }
    if (cObjects == 0) {
        m_bObjectSet = FALSE;
        return OnDisconnect();
    }
    return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Show(UINT nCmdShow)
{
    if (!m_hwnd)
        return E_UNEXPECTED;
    if (nCmdShow != SW_SHOW && nCmdShow != SW_SHOWNORMAL && nCmdShow != SW_HIDE)
        return E_INVALIDARG;
    ShowWindow(m_hwnd, nCmdShow);
    InvalidateRect(m_hwnd, NULL, TRUE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Move(LPCRECT prect)
{
    if (!prect)
        return E_POINTER;
    if (!m_hwnd)
        return E_UNEXPECTED;
    MoveWindow(m_hwnd, prect->left, prect->top, prect->right - prect->left,
               prect->bottom - prect->top, TRUE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::IsPageDirty()
{
    return m_bDirty ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Apply()
{
    if (!m_bObjectSet || !m_pPageSite)
        return E_UNEXPECTED;
    if (!m_bDirty)
        return S_OK;
    HRESULT hr = OnApplyChanges();
    if (SUCCEEDED(hr))
        m_bDirty = FALSE;
    return hr;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Help(LPCOLESTR)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::TranslateAccelerator(MSG *)
{
    return E_NOTIMPL;
}
