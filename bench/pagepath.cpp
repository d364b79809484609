// pagepath.cpp - the "Camera Setting" page of the registered vireoprop.ax on
// the simulated camera (whose filter hosts the module's interface handler),
// with the page's real pauses.
//
// Measured: WM_INITDIALOG to the end of the initial apply, the Default
// button, and one TB_THUMBTRACK from message to driver; each against the
// pauses plus the same requests sent straight to the simulated driver.
#include "bench.h"

#include <commctrl.h>
#include <dshow.h>
#include <ocidl.h>
#include <stdio.h>
#include <string.h>

#include <wrl/client.h>

#include "vireoctl.h"
#include "resources/resource.h"
#include "simcontrol.h"

namespace bench {
namespace {

const int kRepetitions = 11;
const int kTracksPerRepetition = 40;
const double kActivationPauseUs = 10000;  // one pause after the eighth handler call
const double kDefaultPauseUs = 30000;     // after A_GAIN, D_GAIN and AEC

// WM_INITDIALOG as the dialog receives it and as the page's dialog
// procedure returns from it. A message hook sees it come, then puts a timing
// procedure in front of the page's dialog procedure and removes itself, so
// nothing but that one procedure call is added to what is measured.
double g_initStart = 0, g_initEnd = 0;
HHOOK g_initHook = NULL;
LONG_PTR g_pageProc = 0;

INT_PTR CALLBACK TimedDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    const INT_PTR result =
        CallWindowProcA(reinterpret_cast<WNDPROC>(g_pageProc), dialog, message, wParam, lParam);
    if (message == WM_INITDIALOG) {
        g_initEnd = NowUs();
        SetWindowLongPtrA(dialog, DWLP_DLGPROC, g_pageProc);
    }
    return result;
}

LRESULT CALLBACK InitDialogHook(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT *call = reinterpret_cast<CWPSTRUCT *>(lParam);
    if (code == HC_ACTION && call->message == WM_INITDIALOG && g_initHook) {
        g_initStart = NowUs();
        g_pageProc = GetWindowLongPtrA(call->hwnd, DWLP_DLGPROC);
        SetWindowLongPtrA(call->hwnd, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(TimedDialogProc));
        UnhookWindowsHookEx(g_initHook);
        g_initHook = NULL;
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

class Site : public IPropertyPageSite {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPropertyPageSite)) {
            *ppv = static_cast<IPropertyPageSite *>(this);
            return S_OK;
        }
        *ppv = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE OnStatusChange(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID *lcid) override
    {
        if (!lcid)
            return E_POINTER;
        *lcid = LOCALE_USER_DEFAULT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPageContainer(IUnknown **unk) override
    {
        if (unk)
            *unk = NULL;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG *) override { return S_FALSE; }
};

HWND CreateHost()
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(NULL);
    wc.lpszClassName = L"VireoBenchHost";
    RegisterClassW(&wc);
    HWND host =
        CreateWindowExW(0, L"VireoBenchHost", L"host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0,
                        700, 500, NULL, NULL, GetModuleHandleW(NULL), NULL);
    if (host)
        ShowWindow(host, SW_SHOWNOACTIVATE);
    return host;
}

void Pump()
{
    MSG msg;
    while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

BOOL CALLBACK FindDialog(HWND child, LPARAM param)
{
    if (GetDlgCtrlID(child) == IDC_AGAIN_TRACKBAR) {
        *reinterpret_cast<HWND *>(param) = GetParent(child);
        return FALSE;
    }
    return TRUE;
}

// Sends the requests straight to the simulated driver, each under the
// camera's lock as the filter sends them; returns the microseconds taken.
double Replay(SimCamControl &cam, const std::vector<SimRequest> &requests)
{
    const double t0 = NowUs();
    for (const SimRequest &r : requests) {
        BYTE block[80];
        memcpy(block, r.block, sizeof(block));
        SimCamDriverLock lock = cam.LockDriver();
        SimDriver driver = lock.Driver();
        if (r.isSet) {
            driver.Set(CameraPropertySet, r.property, NULL, 0, block, r.dataLength);
        } else {
            DWORD returned = 0;
            driver.Get(CameraPropertySet, r.property, block, r.instanceLength, block, r.dataLength,
                       &returned);
        }
    }
    return NowUs() - t0;
}

using Microsoft::WRL::ComPtr;

// The page on the simulated camera's filter, in a host window of ours; torn
// down in the order a property frame takes it down.
struct PageSession {
    ComPtr<IBaseFilter> filter;
    ComPtr<IFace> face;
    ComPtr<IPropertyPage> page;
    HWND host = NULL;
    Site site;

    bool Open()
    {
        filter = SimCamBindFilter();
        host = CreateHost();
        if (!filter) {
            printf("page: the simulated camera is not registered\n");
        } else if (FAILED(filter->QueryInterface(CameraPropertySet,
                                                 reinterpret_cast<void **>(face.GetAddressOf())))) {
            printf("page: the filter offers no IFace (is vireoprop.ax registered?)\n");
        } else if (FAILED(CoCreateInstance(CLSID_CameraSettingPage, NULL, CLSCTX_INPROC_SERVER,
                                           IID_IPropertyPage,
                                           reinterpret_cast<void **>(page.GetAddressOf())))) {
            printf("page: the Camera Setting page could not be created\n");
        } else if (!host) {
            printf("page: no host window\n");
        } else {
            page->SetPageSite(&site);
            IUnknown *object = filter.Get();
            page->SetObjects(1, &object);
            return true;
        }
        return false;
    }
    ~PageSession()
    {
        if (page) {
            page->SetObjects(0, NULL);
            page->SetPageSite(NULL);
        }
        page.Reset();
        face.Reset();
        filter.Reset();
        if (host)
            DestroyWindow(host);
        Pump();
    }
};

struct PageFigures {
    std::vector<double> initUs, activateUs, initFloorUs, defaultUs, defaultFloorUs, trackUs,
        trackFloorUs, textUs, faceUs, ignoredUs, sleepUs;
    size_t initRequests = 0, defaultRequests = 0;
};

// Activation: the dialog's creation runs the load and the initial apply.
// Once with WM_INITDIALOG timed, once as it is (the hook costs every message
// before WM_INITDIALOG). Returns the page's dialog, left active, or null.
HWND TimeActivation(PageSession &s, SimCamControl &cam, PageFigures &f)
{
    RECT rect = {0, 0, 480, 420};
    g_initStart = g_initEnd = 0;
    g_initHook = SetWindowsHookExW(WH_CALLWNDPROC, InitDialogHook, NULL, GetCurrentThreadId());
    s.page->Activate(s.host, &rect, FALSE);
    if (g_initHook) {
        UnhookWindowsHookEx(g_initHook);
        g_initHook = NULL;
    }
    Pump();
    s.page->Deactivate();
    Pump();

    cam.ClearLog();
    const double a0 = NowUs();
    s.page->Activate(s.host, &rect, FALSE);
    const double a1 = NowUs();
    const std::vector<SimRequest> init = cam.Log();
    HWND dlg = NULL;
    EnumChildWindows(s.host, FindDialog, reinterpret_cast<LPARAM>(&dlg));
    if (!dlg || !g_initEnd || init.empty()) {
        printf("page: the dialog was not created or sent nothing\n");
        return NULL;
    }
    f.initRequests = init.size();
    f.initUs.push_back(g_initEnd - g_initStart);
    f.activateUs.push_back(a1 - a0);
    f.initFloorUs.push_back(kActivationPauseUs + Replay(cam, init));
    Pump();
    return dlg;
}

void TimeDefault(HWND dlg, SimCamControl &cam, PageFigures &f)
{
    cam.ClearLog();
    const double d0 = NowUs();
    SendMessageW(GetDlgItem(dlg, IDC_DEFAULT), BM_CLICK, 0, 0);
    const double d1 = NowUs();
    const std::vector<SimRequest> defaults = cam.Log();
    f.defaultRequests = defaults.size();
    f.defaultUs.push_back(d1 - d0);
    f.defaultFloorUs.push_back(kDefaultPauseUs + Replay(cam, defaults));
    Pump();
}

// Dragging the exposure thumb: one TB_THUMBTRACK after another, then its two
// parts on their own (the value text, the request through IFace) and the
// dispatch with nothing to do (TB_THUMBPOSITION is ignored).
bool TimeTracking(HWND dlg, IFace *face, int rep, SimCamControl &cam, PageFigures &f)
{
    HWND trackbar = GetDlgItem(dlg, IDC_EXPOSURE_TRACKBAR);
    for (int i = 0; i < kTracksPerRepetition; ++i) {
        SendMessageW(trackbar, TBM_SETPOS, TRUE, 100 + (i % 2) * 50 + rep);
        cam.ClearLog();
        const double t0 = NowUs();
        SendMessageW(dlg, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, 0),
                     reinterpret_cast<LPARAM>(trackbar));
        const double t1 = NowUs();
        const std::vector<SimRequest> track = cam.Log();
        if (track.size() != 1) {
            printf("page: one TB_THUMBTRACK sent %u requests\n",
                   static_cast<unsigned>(track.size()));
            return false;
        }
        f.trackUs.push_back(t1 - t0);
        f.trackFloorUs.push_back(Replay(cam, track));

        const double x0 = NowUs();
        SetDlgItemTextA(dlg, IDC_EXPOSURE_TEXT, i % 2 ? "15.0 msec" : "10.0 msec");
        const double x1 = NowUs();
        ControlRequest request = {EXPOSURE, SET_DATA, 100 + (i % 2) * 50, 0};
        face->SetValue10h(&request);
        const double x2 = NowUs();
        SendMessageW(dlg, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, 0),
                     reinterpret_cast<LPARAM>(trackbar));
        const double x3 = NowUs();
        f.textUs.push_back(x1 - x0);
        f.faceUs.push_back(x2 - x1);
        f.ignoredUs.push_back(x3 - x2);
    }
    Pump();
    return true;
}

void AddPageRows(const PageFigures &f, std::vector<Row> &rows)
{
    char what[96];
    snprintf(what, sizeof(what), "WM_INITDIALOG to end of initial apply (%u requests)",
             static_cast<unsigned>(f.initRequests));
    rows.push_back({what, Median(f.initUs) / 1000, Median(f.initFloorUs) / 1000, "ms", 2});
    rows.push_back({"whole Activate (dialog creation included)", Median(f.activateUs) / 1000,
                    Median(f.initFloorUs) / 1000, "ms", 2});
    snprintf(what, sizeof(what), "Default button (%u requests)",
             static_cast<unsigned>(f.defaultRequests));
    rows.push_back({what, Median(f.defaultUs) / 1000, Median(f.defaultFloorUs) / 1000, "ms", 2});
    const double trackFloor = Median(f.trackFloorUs);
    rows.push_back({"one TB_THUMBTRACK, message to driver (1 request)", Median(f.trackUs),
                    trackFloor, "us", 1});
    rows.push_back(
        {"- its value text alone (SetDlgItemTextA)", Median(f.textUs), trackFloor, "us", 1});
    rows.push_back({"- its request alone through IFace", Median(f.faceUs), trackFloor, "us", 1});
    rows.push_back({"- the same message ignored (TB_THUMBPOSITION)", Median(f.ignoredUs),
                    trackFloor, "us", 1});
    rows.push_back({"Sleep(10) on its own (the pause as Wine gives it)", Median(f.sleepUs) / 1000,
                    kActivationPauseUs / 1000, "ms", 2});
}

}  // namespace

bool RunPage(std::vector<Row> &rows)
{
    CoInitialize(NULL);
    InitCommonControls();
    PageFigures figures;
    bool ok = false;
    {
        SimCamControl cam;
        if (!cam.IsOpen())
            return false;
        cam.Reset();
        PageSession session;
        ok = session.Open();
        for (int rep = 0; ok && rep < kRepetitions; ++rep) {
            HWND dlg = TimeActivation(session, cam, figures);
            if (!dlg) {
                ok = false;
                break;
            }
            TimeDefault(dlg, cam, figures);
            ok = TimeTracking(dlg, session.face.Get(), rep, cam, figures);
            session.page->Deactivate();
            Pump();

            // The pause on its own, for reading the ratios.
            const double s0 = NowUs();
            Sleep(10);
            figures.sleepUs.push_back(NowUs() - s0);
        }
    }
    CoUninitialize();
    if (ok)
        AddPageRows(figures, rows);
    return ok;
}

}  // namespace bench
