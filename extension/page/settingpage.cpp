#include "settingpage.h"

#include <commctrl.h>
#include <new>
#include <stdarg.h>
#include <string.h>
#include <strsafe.h>
#include <vfwmsgs.h>

#include "../base/module.h"
#include "../resources/resource.h"

const WCHAR kPageName[] = L"Zr58_K KSProxy Extension Property Page";
static const char kPageObjectName[] = "Zr58_K KSProxy Extension Property Page";

const char *const kShutterList[SHUTTER_COUNT + 1] = {"1/10000( 100usec )",
                                                     "1/5000( 200usec )",
                                                     "1/2000( 500usec )",
                                                     "1/1000( 1msec )",
                                                     "1/500( 2msec )",
                                                     "1/200( 5msec )",
                                                     "1/100( 10msec )",
                                                     "1/50( 20msec )",
                                                     "1/20( 50msec )",
                                                     "1/10( 100msec )",
                                                     ""};

const int kVgaFpsButtons[FRAME_RATE_COUNT + 1] = {IDC_VGA_60FPS, IDC_VGA_50FPS, IDC_VGA_30FPS,
                                                  IDC_VGA_25FPS, IDC_VGA_15FPS, -1};
const int kQvgaFpsButtons[FRAME_RATE_COUNT + 1] = {IDC_QVGA_60FPS, IDC_QVGA_50FPS, IDC_QVGA_30FPS,
                                                   IDC_QVGA_25FPS, IDC_QVGA_15FPS, -1};

namespace {

// Failure messages of the string table.
enum Message : UINT {
    MSG_SET_AEC = 27,
    MSG_SET_FLIP = 37,
    MSG_GET_FLIP = 38,
    MSG_SET_MIRROR = 39,
    MSG_GET_MIRROR = 40,
    MSG_SET_PRIVACY = 41,
    MSG_GET_PRIVACY = 42,
    MSG_ENABLE_EXPOSURE = 55,
    MSG_ENABLE_AEC = 56,
    MSG_ENABLE_FLIP = 61,
    MSG_ENABLE_MIRROR = 62,
    MSG_ENABLE_PRIVACY = 63,
    MSG_ENABLE_A_GAIN = 101,
    MSG_SET_A_GAIN = 102,
    MSG_GET_A_GAIN = 103,
    MSG_ENABLE_A_AUTOGAIN = 104,
    MSG_SET_A_AUTOGAIN = 105,
    MSG_GET_A_AUTOGAIN = 106,
    MSG_ENABLE_D_GAIN = 107,
    MSG_GET_D_GAIN = 108,
    MSG_SET_D_GAIN = 109,
    MSG_GET_EXPOSURE = 110,
    MSG_SET_EXPOSURE = 111,
    MSG_ENABLE_EXPOSURE2CTRL = 113,
    MSG_SET_EXPOSURE2CTRL = 114,
    MSG_GET_EXPOSURE2CTRL = 115,
    MSG_ENABLE_EXPOSURE2VAL = 116,
    MSG_SET_EXPOSURE2VAL = 117,
    MSG_GET_EXPOSURE2VAL = 118,
    MSG_ENABLE_LEDCTRL = 119,
    MSG_SET_LEDCTRL = 120,
    MSG_GET_LEDCTRL = 121,
    MSG_ENABLE_STROBECTRL = 122,
    MSG_SET_STROBECTRL = 123,
    MSG_GET_STROBECTRL = 124,
    MSG_ENABLE_STROBEINVERT = 125,
    MSG_SET_STROBEINVERT = 126,
    MSG_GET_STROBEINVERT = 127,
    MSG_GET_AEC = 128,
    MSG_ENABLE_VGA_FPS = 130,
    MSG_SET_VGA_FPS = 131,
    MSG_GET_VGA_FPS = 132,
    MSG_ENABLE_QVGA_FPS = 133,
    MSG_SET_QVGA_FPS = 134,
    MSG_GET_QVGA_FPS = 135,
};

const int kApplyCallsPerPause = 8;
const DWORD kPauseMilliseconds = 10;

const size_t kTextSize = 512;

}  // namespace

// How the dialog shows a setting.
enum class SettingKind { Trackbar, CheckBox, ShutterList, RateRow };

// One row of the settings table: a setting, its slot, its control and what
// loading reports when a request for it fails.
struct CameraSettingPage::Setting {
    ULONG id;
    SettingSlot CameraSettingPage::*slot;
    SettingKind kind;
    int controlId;           // trackbar, check box, combo box; a rate row's first button
    int textId;              // a trackbar's value text
    UINT infoMessage;        // failed GET_ENABLE at load or SET_ENABLE in Default; insert: HRESULT
    UINT valueMessage;       // failed GET_DATA at load
    bool valueInsert;        // the value message takes the value before the HRESULT
    bool pauseAfterDefault;  // the Default action pauses after sending this one
    // The setting's handler, always sending; moveControl as the handlers take it.
    void (*apply)(CameraSettingPage &page, bool moveControl);
};

// The fifteen settings in the order of the page's slots, which is also the
// order in which the Default action sends them (PRIVACY after LEDCTRL).
// Loading and the initial apply go by CameraControlIds (PRIVACY last).
const CameraSettingPage::Setting CameraSettingPage::kSettings[CAMERA_CONTROL_COUNT] = {
    {A_GAIN, &CameraSettingPage::m_aGain, SettingKind::Trackbar, IDC_AGAIN_TRACKBAR, IDC_AGAIN_TEXT,
     MSG_ENABLE_A_GAIN, MSG_GET_A_GAIN, true, true,
     [](CameraSettingPage &p, bool move) { p.ApplyAGain(move, true); }},
    {A_AUTOGAIN, &CameraSettingPage::m_aAutoGain, SettingKind::CheckBox, IDC_AGAIN_AUTO, 0,
     MSG_ENABLE_A_AUTOGAIN, MSG_GET_A_AUTOGAIN, true, false,
     [](CameraSettingPage &p, bool move) { p.ApplyAAutoGain(move, true); }},
    {D_GAIN, &CameraSettingPage::m_dGain, SettingKind::Trackbar, IDC_DGAIN_TRACKBAR, IDC_DGAIN_TEXT,
     MSG_ENABLE_D_GAIN, MSG_GET_D_GAIN, true, true,
     [](CameraSettingPage &p, bool move) { p.ApplyDGain(move, true); }},
    {EXPOSURE, &CameraSettingPage::m_exposure, SettingKind::Trackbar, IDC_EXPOSURE_TRACKBAR,
     IDC_EXPOSURE_TEXT, MSG_ENABLE_EXPOSURE, MSG_GET_EXPOSURE, true, false,
     [](CameraSettingPage &p, bool move) { p.ApplyExposure(move, true); }},
    {AEC, &CameraSettingPage::m_aec, SettingKind::CheckBox, IDC_EXPOSURE_AUTO, 0, MSG_ENABLE_AEC,
     MSG_GET_AEC, true, true, [](CameraSettingPage &p, bool move) { p.ApplyAec(move); }},
    {EXPOSURE2CTRL, &CameraSettingPage::m_exposure2Ctrl, SettingKind::CheckBox,
     IDC_EXPOSURE2_ENABLE, 0, MSG_ENABLE_EXPOSURE2CTRL, MSG_GET_EXPOSURE2CTRL, true, false,
     [](CameraSettingPage &p, bool move) { p.ApplyExposure2Ctrl(move); }},
    {EXPOSURE2VAL, &CameraSettingPage::m_exposure2Val, SettingKind::ShutterList, IDC_SHUTTER_LIST,
     0, MSG_ENABLE_EXPOSURE2VAL, MSG_GET_EXPOSURE2VAL, true, false,
     [](CameraSettingPage &p, bool move) { p.ApplyExposure2Val(move); }},
    {FLIP, &CameraSettingPage::m_flip, SettingKind::CheckBox, IDC_FLIP, 0, MSG_ENABLE_FLIP,
     MSG_GET_FLIP, false, false, [](CameraSettingPage &p, bool move) { p.ApplyFlip(move); }},
    {MIRROR, &CameraSettingPage::m_mirror, SettingKind::CheckBox, IDC_MIRROR, 0, MSG_ENABLE_MIRROR,
     MSG_GET_MIRROR, false, false, [](CameraSettingPage &p, bool move) { p.ApplyMirror(move); }},
    {LEDCTRL, &CameraSettingPage::m_ledCtrl, SettingKind::CheckBox, IDC_LED, 0, MSG_ENABLE_LEDCTRL,
     MSG_GET_LEDCTRL, true, false, [](CameraSettingPage &p, bool move) { p.ApplyLedCtrl(move); }},
    {PRIVACY, &CameraSettingPage::m_privacy, SettingKind::CheckBox, IDC_PRIVACY, 0,
     MSG_ENABLE_PRIVACY, MSG_GET_PRIVACY, false, false,
     [](CameraSettingPage &p, bool move) { p.ApplyPrivacy(move); }},
    {STROBECTRL, &CameraSettingPage::m_strobeCtrl, SettingKind::CheckBox, IDC_STROBE_ENABLE, 0,
     MSG_ENABLE_STROBECTRL, MSG_GET_STROBECTRL, true, false,
     [](CameraSettingPage &p, bool move) { p.ApplyStrobeCtrl(move); }},
    {STROBEINVERT, &CameraSettingPage::m_strobeInvert, SettingKind::CheckBox, IDC_STROBE_INVERT, 0,
     MSG_ENABLE_STROBEINVERT, MSG_GET_STROBEINVERT, true, false,
     [](CameraSettingPage &p, bool move) { p.ApplyStrobeInvert(move); }},
    {VGA_FPS, &CameraSettingPage::m_vgaFps, SettingKind::RateRow, IDC_VGA_60FPS, 0,
     MSG_ENABLE_VGA_FPS, MSG_GET_VGA_FPS, true, false,
     [](CameraSettingPage &p, bool move) { p.ApplyVgaFps(move); }},
    {QVGA_FPS, &CameraSettingPage::m_qvgaFps, SettingKind::RateRow, IDC_QVGA_60FPS, 0,
     MSG_ENABLE_QVGA_FPS, MSG_GET_QVGA_FPS, true, false,
     [](CameraSettingPage &p, bool move) { p.ApplyQvgaFps(move); }},
};

static CameraSettingPage::PauseFunction g_pause = Sleep;

CameraSettingPage::PauseFunction CameraSettingPage::SetPauseFunction(PauseFunction pause)
{
    PauseFunction previous = g_pause;
    g_pause = pause ? pause : Sleep;
    return previous;
}

void SetRadioGroup(HWND dialog, LONG index, const int *ids)
{
    for (LONG i = 0; ids[i] != -1 && ids[i] != 0; ++i)
        CheckDlgButton(dialog, ids[i], i == index ? BST_CHECKED : BST_UNCHECKED);
}

void FillComboBox(HWND dialog, int controlId, const char *const *strings, LONG selection)
{
    HWND combo = GetDlgItem(dialog, controlId);
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    for (size_t i = 0; strings[i][0] != '\0'; ++i)
        SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(strings[i]));
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(selection), 0);
}

// ---------------------------------------------------------------------------
// Object and lifecycle

CUnknown *CameraSettingPage::CreateInstance(IUnknown *outer, HRESULT *phr)
{
    CameraSettingPage *page = new (std::nothrow) CameraSettingPage(outer);
    if (!page) {
        if (phr)
            *phr = E_OUTOFMEMORY;
        return NULL;
    }
    return page;
}

CameraSettingPage::CameraSettingPage(IUnknown *outer)
    : CBasePropertyPage(kPageObjectName, outer, IDD_CAMERA_SETTING, IDS_TITLE), m_aGain(),
      m_aAutoGain(), m_dGain(), m_exposure(), m_aec(), m_exposure2Ctrl(), m_exposure2Val(),
      m_flip(), m_mirror(), m_ledCtrl(), m_privacy(), m_strobeCtrl(), m_strobeInvert(), m_vgaFps(),
      m_qvgaFps(), m_bActive(FALSE), m_locked(0)
{
    // The dialog's trackbars are common controls.
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
}

CameraSettingPage::~CameraSettingPage()
{
    // The base disconnects before deletion; a page that was never released
    // through it gives its reference back with m_pCameraControl.
}

HRESULT CameraSettingPage::OnConnect(IUnknown *object)
{
    if (!object)
        return VFW_E_NEED_OWNER;
    // One filter at a time: a reference from an earlier connection goes first.
    OnDisconnect();
    IFace *face = NULL;
    HRESULT hr = object->QueryInterface(CameraPropertySet, reinterpret_cast<void **>(&face));
    // The owner takes the query's reference over (MinGW's ComPtr::Attach
    // would add one); a failed query leaves it empty.
    *m_pCameraControl.ReleaseAndGetAddressOf() = SUCCEEDED(hr) ? face : NULL;
    return hr;
}

HRESULT CameraSettingPage::OnDisconnect()
{
    m_pCameraControl.Reset();
    // Without the camera nothing the dialog does can be sent any more.
    m_bActive = FALSE;
    return S_OK;
}

HRESULT CameraSettingPage::OnActivate()
{
    return S_OK;
}

HRESULT CameraSettingPage::OnDeactivate()
{
    m_bActive = FALSE;
    return S_OK;
}

HRESULT CameraSettingPage::OnApplyChanges()
{
    // Every change went to the camera when it was made.
    return S_OK;
}

void CameraSettingPage::SetDirty()
{
    m_bDirty = TRUE;
    if (m_pPageSite)
        m_pPageSite->OnStatusChange(PROPPAGESTATUS_DIRTY);
}

void CameraSettingPage::ReportError(UINT messageId, ...)
{
    char format[kTextSize];
    char message[kTextSize];
    memset(format, 0, sizeof(format));
    memset(message, 0, sizeof(message));
    LoadStringA(g_hInst, messageId, format, static_cast<int>(sizeof(format)));

    va_list args;
    va_start(args, messageId);
    FormatMessageA(FORMAT_MESSAGE_FROM_STRING, format, 0, LANG_USER_DEFAULT, message,
                   static_cast<DWORD>(sizeof(message)), &args);
    va_end(args);

    MessageBoxA(m_Dlg, message, "Error", MB_OK);
}

// ---------------------------------------------------------------------------
// Requests

HRESULT CameraSettingPage::GetSettingInfo(ULONG id, ULONG &enable, LONG &defaultValue,
                                          LONG &minValue, LONG &maxValue)
{
    ControlRequest request;
    memset(&request, 0, sizeof(request));
    request.controlId = id;
    request.kind = GET_ENABLE;
    DWORD returned = sizeof(request);
    HRESULT hr = m_pCameraControl->GetValue10h(&request, &returned);
    if (FAILED(hr)) {
        enable = 0;
        return hr;
    }
    ControlReply reply;
    memcpy(&reply, &request, sizeof(reply));
    enable = static_cast<ULONG>(reply.enableOrValue);
    defaultValue = reply.defaultValue;
    minValue = reply.minValue;
    maxValue = reply.maxValue;
    return hr;
}

HRESULT CameraSettingPage::GetSettingValue(ULONG id, LONG &value)
{
    ControlRequest request;
    memset(&request, 0, sizeof(request));
    request.controlId = id;
    request.kind = GET_DATA;
    DWORD returned = sizeof(request);
    HRESULT hr = m_pCameraControl->GetValue10h(&request, &returned);
    if (SUCCEEDED(hr)) {
        ControlReply reply;
        memcpy(&reply, &request, sizeof(reply));
        value = reply.enableOrValue;
    }
    return hr;
}

HRESULT CameraSettingPage::SetSettingValue(ULONG id, LONG value)
{
    ControlRequest request;
    memset(&request, 0, sizeof(request));
    request.controlId = id;
    request.kind = SET_DATA;
    request.value = value;
    return m_pCameraControl->SetValue10h(&request);
}

HRESULT CameraSettingPage::SetSettingDefault(ULONG id, ULONG enable, LONG defaultValue)
{
    ControlRequest32 request;
    memset(&request, 0, sizeof(request));
    request.controlId = id;
    request.kind = SET_ENABLE;
    request.enable = enable;
    request.defaultValue = defaultValue;
    return m_pCameraControl->SetValue20h(&request);
}

// ---------------------------------------------------------------------------
// Dialog set-up, loading, initial apply and defaults

void CameraSettingPage::InitControls(HWND dialog)
{
    for (const Setting &setting : kSettings) {
        if (setting.kind != SettingKind::Trackbar)
            continue;
        SettingSlot &slot = this->*setting.slot;
        HWND trackbar = GetDlgItem(dialog, setting.controlId);
        SendMessageA(trackbar, TBM_SETRANGEMIN, FALSE, static_cast<LPARAM>(slot.minValue));
        SendMessageA(trackbar, TBM_SETRANGEMAX, FALSE, static_cast<LPARAM>(slot.maxValue));
        SendMessageA(trackbar, TBM_SETPAGESIZE, 0, 1);
        SendMessageA(trackbar, TBM_SETPOS, FALSE, 0);
        slot.trackbar = trackbar;
        SetDlgItemInt(dialog, setting.textId, 0, FALSE);
    }
    FillComboBox(dialog, IDC_SHUTTER_LIST, kShutterList, m_exposure2Val.value);
}

void CameraSettingPage::LoadSettings()
{
    for (ULONG id : CameraControlIds) {
        const Setting &setting = *SettingById(id);
        SettingSlot &slot = this->*setting.slot;
        HRESULT hr =
            GetSettingInfo(id, slot.enable, slot.defaultValue, slot.minValue, slot.maxValue);
        if (FAILED(hr)) {
            ReportError(setting.infoMessage, hr);
            continue;
        }
        if (!slot.enable)
            continue;
        // A failed read leaves the value as it was; that value is the one
        // the message names.
        hr = GetSettingValue(id, slot.value);
        if (FAILED(hr)) {
            if (setting.valueInsert)
                ReportError(setting.valueMessage, slot.value, hr);
            else
                ReportError(setting.valueMessage, hr);
        }
    }
}

void CameraSettingPage::ApplyInitialValues()
{
    int calls = 0;
    for (ULONG id : CameraControlIds) {
        const Setting &setting = *SettingById(id);
        if (!(this->*setting.slot).enable)
            continue;
        setting.apply(*this, true);
        if (++calls % kApplyCallsPerPause == 0)
            g_pause(kPauseMilliseconds);
    }
    m_bActive = TRUE;
    UpdateControlStates();
}

// Every setting but the ones the organization locks, which stay as they are.
void CameraSettingPage::RestoreDefaults()
{
    for (const Setting &setting : kSettings) {
        if (IsLocked(setting.id))
            continue;
        HRESULT hr = SetSettingDefault(setting.id, 1, CameraControlFactoryDefault(setting.id));
        if (FAILED(hr))
            ReportError(setting.infoMessage, hr);
    }
    for (const Setting &setting : kSettings) {
        SettingSlot &slot = this->*setting.slot;
        if (IsLocked(setting.id))
            continue;
        slot.enable = 1;
        slot.defaultValue = CameraControlFactoryDefault(setting.id);
    }
    for (const Setting &setting : kSettings) {
        SettingSlot &slot = this->*setting.slot;
        if (IsLocked(setting.id))
            continue;
        slot.value = slot.defaultValue;
        setting.apply(*this, true);
        if (setting.pauseAfterDefault)
            g_pause(kPauseMilliseconds);
    }
}

const CameraSettingPage::Setting *CameraSettingPage::SettingById(ULONG id)
{
    for (const Setting &setting : kSettings) {
        if (setting.id == id)
            return &setting;
    }
    return NULL;
}

SettingSlot *CameraSettingPage::SlotById(ULONG id)
{
    const Setting *setting = SettingById(id);
    return setting ? &(this->*setting->slot) : NULL;
}

bool CameraSettingPage::ApplyById(ULONG id)
{
    const Setting *setting = SettingById(id);
    if (setting)
        setting->apply(*this, true);
    return setting != NULL;
}

// ---------------------------------------------------------------------------
// Setting handlers

void CameraSettingPage::SendValue(ULONG id, LONG value, UINT setMessage)
{
    HRESULT hr = SetSettingValue(id, value);
    if (FAILED(hr))
        ReportError(setMessage, value, hr);
}

void CameraSettingPage::ShowValue(int controlId, const char *format, double value)
{
    char text[64] = {0};
    StringCchPrintfA(text, sizeof(text), format, value);
    SetDlgItemTextA(m_Dlg, controlId, text);
}

void CameraSettingPage::ApplyCheckBox(const SettingSlot &slot, int controlId, ULONG id,
                                      UINT setMessage, bool moveControl)
{
    if (moveControl)
        CheckDlgButton(m_Dlg, controlId, slot.value ? BST_CHECKED : BST_UNCHECKED);
    SendValue(id, slot.value, setMessage);
}

void CameraSettingPage::ApplyTrackbar(const SettingSlot &slot, int textId, const char *format,
                                      double shown, ULONG id, UINT setMessage, bool moveControl,
                                      bool sendValue)
{
    if (moveControl)
        SendMessageA(slot.trackbar, TBM_SETPOS, TRUE, static_cast<LPARAM>(slot.value));
    ShowValue(textId, format, shown);
    if (sendValue)
        SendValue(id, slot.value, setMessage);
}

void CameraSettingPage::ApplyAGain(bool moveControl, bool sendValue)
{
    ApplyTrackbar(m_aGain, IDC_AGAIN_TEXT, "%.4lf", AnalogGainFactor(m_aGain.value), A_GAIN,
                  MSG_SET_A_GAIN, moveControl, sendValue);
}

void CameraSettingPage::ApplyAAutoGain(bool moveControl, bool sendValue)
{
    if (moveControl)
        CheckDlgButton(m_Dlg, IDC_AGAIN_AUTO, m_aAutoGain.value ? BST_CHECKED : BST_UNCHECKED);
    const BOOL manual = m_aAutoGain.value == 0;
    EnableWindow(GetDlgItem(m_Dlg, IDC_AGAIN_TRACKBAR), manual);
    EnableWindow(GetDlgItem(m_Dlg, IDC_AGAIN_TEXT), manual);
    DisableLocked();
    if (sendValue)
        SendValue(A_AUTOGAIN, m_aAutoGain.value, MSG_SET_A_AUTOGAIN);
}

void CameraSettingPage::ApplyDGain(bool moveControl, bool sendValue)
{
    ApplyTrackbar(m_dGain, IDC_DGAIN_TEXT, "%.2lf", DigitalGainFactor(m_dGain.value), D_GAIN,
                  MSG_SET_D_GAIN, moveControl, sendValue);
}

void CameraSettingPage::ApplyExposure(bool moveControl, bool sendValue)
{
    ApplyTrackbar(m_exposure, IDC_EXPOSURE_TEXT, "%.1lf msec",
                  ExposureMilliseconds(m_exposure.value), EXPOSURE, MSG_SET_EXPOSURE, moveControl,
                  sendValue);
}

void CameraSettingPage::ApplyAec(bool moveControl)
{
    ApplyCheckBox(m_aec, IDC_EXPOSURE_AUTO, AEC, MSG_SET_AEC, moveControl);
}

void CameraSettingPage::ApplyExposure2Ctrl(bool moveControl)
{
    ApplyCheckBox(m_exposure2Ctrl, IDC_EXPOSURE2_ENABLE, EXPOSURE2CTRL, MSG_SET_EXPOSURE2CTRL,
                  moveControl);
}

void CameraSettingPage::ApplyExposure2Val(bool moveControl)
{
    if (moveControl)
        SendDlgItemMessageA(m_Dlg, IDC_SHUTTER_LIST, CB_SETCURSEL,
                            static_cast<WPARAM>(m_exposure2Val.value), 0);
    SendValue(EXPOSURE2VAL, m_exposure2Val.value, MSG_SET_EXPOSURE2VAL);
}

void CameraSettingPage::ApplyFlip(bool moveControl)
{
    ApplyCheckBox(m_flip, IDC_FLIP, FLIP, MSG_SET_FLIP, moveControl);
}

void CameraSettingPage::ApplyMirror(bool moveControl)
{
    ApplyCheckBox(m_mirror, IDC_MIRROR, MIRROR, MSG_SET_MIRROR, moveControl);
}

void CameraSettingPage::ApplyLedCtrl(bool moveControl)
{
    ApplyCheckBox(m_ledCtrl, IDC_LED, LEDCTRL, MSG_SET_LEDCTRL, moveControl);
}

void CameraSettingPage::ApplyPrivacy(bool moveControl)
{
    ApplyCheckBox(m_privacy, IDC_PRIVACY, PRIVACY, MSG_SET_PRIVACY, moveControl);
}

void CameraSettingPage::ApplyStrobeCtrl(bool moveControl)
{
    ApplyCheckBox(m_strobeCtrl, IDC_STROBE_ENABLE, STROBECTRL, MSG_SET_STROBECTRL, moveControl);
}

void CameraSettingPage::ApplyStrobeInvert(bool moveControl)
{
    ApplyCheckBox(m_strobeInvert, IDC_STROBE_INVERT, STROBEINVERT, MSG_SET_STROBEINVERT,
                  moveControl);
}

void CameraSettingPage::ApplyVgaFps(bool moveControl)
{
    if (moveControl)
        SetRadioGroup(m_Dlg, m_vgaFps.value, kVgaFpsButtons);
    SendValue(VGA_FPS, m_vgaFps.value, MSG_SET_VGA_FPS);
}

void CameraSettingPage::ApplyQvgaFps(bool moveControl)
{
    if (moveControl)
        SetRadioGroup(m_Dlg, m_qvgaFps.value, kQvgaFpsButtons);
    SendValue(QVGA_FPS, m_qvgaFps.value, MSG_SET_QVGA_FPS);
}

void CameraSettingPage::UpdateControlStates()
{
    const BOOL manualGain = m_aAutoGain.value == 0;
    const BOOL manualExposure = m_aec.value == 0;
    EnableWindow(GetDlgItem(m_Dlg, IDC_AGAIN_TRACKBAR), manualGain);
    EnableWindow(GetDlgItem(m_Dlg, IDC_AGAIN_TEXT), manualGain);
    EnableWindow(GetDlgItem(m_Dlg, IDC_EXPOSURE_AUTO), TRUE);
    const BOOL trackbarExposure = manualExposure && m_exposure2Ctrl.value == 0;
    EnableWindow(GetDlgItem(m_Dlg, IDC_EXPOSURE_TRACKBAR), trackbarExposure);
    EnableWindow(GetDlgItem(m_Dlg, IDC_EXPOSURE_TEXT), trackbarExposure);
    EnableWindow(GetDlgItem(m_Dlg, IDC_EXPOSURE2_ENABLE), manualExposure);
    EnableWindow(GetDlgItem(m_Dlg, IDC_SHUTTER_LIST), manualExposure && m_exposure2Ctrl.value != 0);
    DisableLocked();
}

void CameraSettingPage::DisableLocked()
{
    for (const Setting &setting : kSettings) {
        if (!IsLocked(setting.id))
            continue;
        const int count = setting.kind == SettingKind::RateRow ? FRAME_RATE_COUNT : 1;
        for (int i = 0; i < count; ++i)
            EnableWindow(GetDlgItem(m_Dlg, setting.controlId + i), FALSE);
        if (setting.textId)
            EnableWindow(GetDlgItem(m_Dlg, setting.textId), FALSE);
    }
}

bool CameraSettingPage::KeepLocked(const Setting &setting)
{
    if (!IsLocked(setting.id))
        return false;
    const SettingSlot &slot = this->*setting.slot;
    switch (setting.kind) {
    case SettingKind::Trackbar:
        SendMessageA(slot.trackbar, TBM_SETPOS, TRUE, static_cast<LPARAM>(slot.value));
        break;
    case SettingKind::CheckBox:
        CheckDlgButton(m_Dlg, setting.controlId, slot.value ? BST_CHECKED : BST_UNCHECKED);
        break;
    case SettingKind::ShutterList:
        SendDlgItemMessageA(m_Dlg, setting.controlId, CB_SETCURSEL, static_cast<WPARAM>(slot.value),
                            0);
        break;
    case SettingKind::RateRow:
        SetRadioGroup(m_Dlg, slot.value, setting.id == VGA_FPS ? kVgaFpsButtons : kQvgaFpsButtons);
        break;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Dialog messages

LONG CameraSettingPage::ButtonState(int controlId) const
{
    return IsDlgButtonChecked(m_Dlg, controlId) != 0 ? 1 : 0;
}

INT_PTR CameraSettingPage::OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    // A page without the camera's interface keeps its dialog inert: nothing
    // is loaded and it never becomes active.
    if (uMsg == WM_INITDIALOG && m_pCameraControl) {
        LoadSettings();
        ReadPolicy();
        InitControls(hwnd);
        ApplyInitialValues();
        ShowPolicyNote(hwnd);
    }
    if (m_bActive) {
        if (uMsg == WM_HSCROLL)
            OnScroll(LOWORD(wParam), reinterpret_cast<HWND>(lParam));
        else if (uMsg == WM_COMMAND) {
            if (HIWORD(wParam) == BN_CLICKED) {
                OnClick(LOWORD(wParam));
                UpdateControlStates();
            } else if (HIWORD(wParam) == CBN_SELCHANGE) {
                OnSelectionChange(LOWORD(wParam), reinterpret_cast<HWND>(lParam));
            }
        }
    }
    return CBasePropertyPage::OnReceiveMessage(hwnd, uMsg, wParam, lParam);
}

void CameraSettingPage::OnScroll(UINT code, HWND control)
{
    switch (code) {
    case TB_LINEUP:
    case TB_LINEDOWN:
    case TB_PAGEUP:
    case TB_PAGEDOWN:
    case TB_THUMBTRACK:
    case TB_TOP:
    case TB_BOTTOM: break;
    default: return;  // TB_THUMBPOSITION and TB_ENDTRACK close a move already sent
    }
    if (!control)
        return;
    for (const Setting &setting : kSettings) {
        SettingSlot &slot = this->*setting.slot;
        if (setting.kind == SettingKind::Trackbar && control == slot.trackbar) {
            if (KeepLocked(setting))
                return;
            slot.value = static_cast<LONG>(SendMessageA(control, TBM_GETPOS, 0, 0));
            setting.apply(*this, false);
            return;
        }
    }
}

void CameraSettingPage::OnClick(int controlId)
{
    if (controlId == IDC_DEFAULT) {
        RestoreDefaults();
        return;
    }
    const Setting *clicked = NULL;
    LONG value = 0;
    for (const Setting &setting : kSettings) {
        if (setting.kind == SettingKind::CheckBox && controlId == setting.controlId) {
            clicked = &setting;
            value = ButtonState(controlId);
        } else if (setting.kind == SettingKind::RateRow && controlId >= setting.controlId &&
                   controlId < setting.controlId + FRAME_RATE_COUNT) {
            clicked = &setting;
            value = controlId - setting.controlId;
        }
        if (clicked)
            break;
    }
    if (!clicked || KeepLocked(*clicked))
        return;
    (this->*clicked->slot).value = value;
    clicked->apply(*this, false);

    if (clicked->id == A_AUTOGAIN && m_aAutoGain.value == 0) {
        // Back to manual gain: the trackbar shows and sends the stored gain.
        ApplyAGain(true, true);
    } else if (clicked->id == EXPOSURE2CTRL && m_aec.value == 0) {
        // With manual exposure the camera takes the time from the source
        // just chosen: the shutter list or the trackbar.
        if (m_exposure2Ctrl.value)
            ApplyExposure2Val(false);
        else
            ApplyExposure(false, true);
    }
}

void CameraSettingPage::OnSelectionChange(int controlId, HWND control)
{
    if (controlId != IDC_SHUTTER_LIST || !control || control != GetDlgItem(m_Dlg, IDC_SHUTTER_LIST))
        return;
    const LRESULT selection = SendMessageA(control, CB_GETCURSEL, 0, 0);
    if (selection == CB_ERR || KeepLocked(*SettingById(EXPOSURE2VAL)))
        return;
    m_exposure2Val.value = static_cast<LONG>(selection);
    ApplyExposure2Val(false);
    SetDirty();
}
