// settingpage.h - the "Camera Setting" property page: trackbars, check boxes,
// the shutter list and two rows of frame-rate buttons, each change written to
// the camera at once through IFace.
#ifndef VIREO_PAGE_SETTINGPAGE_H
#define VIREO_PAGE_SETTINGPAGE_H

#include <windows.h>
#include <wrl/client.h>

#include "../base/propertypage.h"
#include "../base/unknown.h"
#include "vireoctl.h"

extern const WCHAR kPageName[];  // "Zr58_K KSProxy Extension Property Page"

// The page's record of one camera setting.
struct SettingSlot {
    ULONG enable;       // nonzero: the camera reports the setting as usable
    HWND trackbar;      // A_GAIN, D_GAIN and EXPOSURE only: the setting's trackbar
    LONG value;         // current value in the camera's units
    LONG defaultValue;  // from GET_ENABLE, or the Default table after RestoreDefaults
    LONG minValue;      // from GET_ENABLE: lower end of a trackbar's range
    LONG maxValue;      // from GET_ENABLE: upper end of a trackbar's range
};

// Combo box 269: EXPOSURE2VAL is the index into this list; an empty string
// ends it.
extern const char *const kShutterList[SHUTTER_COUNT + 1];
// The frame-rate rows: VGA_FPS and QVGA_FPS are the position in the row.
extern const int kVgaFpsButtons[FRAME_RATE_COUNT + 1];
extern const int kQvgaFpsButtons[FRAME_RATE_COUNT + 1];

// Checks the button at the index's position of an id list ended by -1 (or 0)
// and clears every other button of the list.
void SetRadioGroup(HWND dialog, LONG index, const int *ids);
// Refills a combo box of the dialog from a string list ended by an empty
// string and selects one entry (none when the index is out of range).
void FillComboBox(HWND dialog, int controlId, const char *const *strings, LONG selection);

class CameraSettingPage : public CBasePropertyPage {
public:
    static CUnknown *CreateInstance(IUnknown *outer, HRESULT *phr);

    // The pause of the initial apply and of the Default action (Sleep unless
    // replaced); returns the previous function.
    typedef void(WINAPI *PauseFunction)(DWORD milliseconds);
    static PauseFunction SetPauseFunction(PauseFunction pause);

    // CBasePropertyPage hooks
    HRESULT OnConnect(IUnknown *object) override;
    HRESULT OnDisconnect() override;
    HRESULT OnActivate() override;
    HRESULT OnDeactivate() override;
    HRESULT OnApplyChanges() override;
    INT_PTR OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) override;

    // Marks the page dirty and tells the frame.
    void SetDirty();
    // Shows message `messageId` of the string table with its 32-bit inserts
    // (signed values and HRESULTs, in insert order) in a modal "Error" box.
    void ReportError(UINT messageId, ...);

    BOOL IsActive() const { return m_bActive; }

private:
    CameraSettingPage(IUnknown *outer);
    ~CameraSettingPage() override;

    // Requests: one call on m_pCameraControl each, its HRESULT unchanged.
    HRESULT GetSettingInfo(ULONG id, ULONG &enable, LONG &defaultValue, LONG &minValue,
                           LONG &maxValue);
    HRESULT GetSettingValue(ULONG id, LONG &value);
    HRESULT SetSettingValue(ULONG id, LONG value);
    HRESULT SetSettingDefault(ULONG id, ULONG enable, LONG defaultValue);

    // Dialog set-up and the setting model.
    void InitControls(HWND dialog);
    void LoadSettings();
    void ApplyInitialValues();
    void RestoreDefaults();

    // One handler per setting: puts the slot's value into its control when
    // moveControl is set, shows it, and sends it (always, or when sendValue
    // is set for the handlers that take it).
    void ApplyAGain(bool moveControl, bool sendValue);
    void ApplyAAutoGain(bool moveControl, bool sendValue);
    void ApplyDGain(bool moveControl, bool sendValue);
    void ApplyExposure(bool moveControl, bool sendValue);
    void ApplyAec(bool moveControl);
    void ApplyExposure2Ctrl(bool moveControl);
    void ApplyExposure2Val(bool moveControl);
    void ApplyFlip(bool moveControl);
    void ApplyMirror(bool moveControl);
    void ApplyLedCtrl(bool moveControl);
    void ApplyPrivacy(bool moveControl);
    void ApplyStrobeCtrl(bool moveControl);
    void ApplyStrobeInvert(bool moveControl);
    void ApplyVgaFps(bool moveControl);
    void ApplyQvgaFps(bool moveControl);
    void UpdateControlStates();

    // The organization's policy (pagepolicy.cpp): the controls it locks keep
    // their value, shown but disabled, with one line saying so.
    void ReadPolicy();
    void ShowPolicyNote(HWND dialog);
    bool IsLocked(ULONG id) const;
    void DisableLocked();

    // The settings table (one row per setting, in slot order) and its look-ups.
    struct Setting;
    static const Setting kSettings[CAMERA_CONTROL_COUNT];
    static const Setting *SettingById(ULONG id);
    // Puts a locked setting's control back to its slot's value; true when
    // the setting is locked.
    bool KeepLocked(const Setting &setting);

    // Helpers of the handlers and the dispatch.
    SettingSlot *SlotById(ULONG id);
    bool ApplyById(ULONG id);  // the setting's handler with every flag set
    void SendValue(ULONG id, LONG value, UINT setMessage);
    void ApplyCheckBox(const SettingSlot &slot, int controlId, ULONG id, UINT setMessage,
                       bool moveControl);
    // A trackbar's setting: the thumb at the slot's value, the value shown in
    // the text beside it (format of shown), and sent.
    void ApplyTrackbar(const SettingSlot &slot, int textId, const char *format, double shown,
                       ULONG id, UINT setMessage, bool moveControl, bool sendValue);
    void ShowValue(int controlId, const char *format, double value);
    LONG ButtonState(int controlId) const;
    void OnScroll(UINT code, HWND control);
    void OnClick(int controlId);
    void OnSelectionChange(int controlId, HWND control);

    Microsoft::WRL::ComPtr<IFace> m_pCameraControl;
    SettingSlot m_aGain;
    SettingSlot m_aAutoGain;
    SettingSlot m_dGain;
    SettingSlot m_exposure;
    SettingSlot m_aec;
    SettingSlot m_exposure2Ctrl;
    SettingSlot m_exposure2Val;
    SettingSlot m_flip;
    SettingSlot m_mirror;
    SettingSlot m_ledCtrl;
    SettingSlot m_privacy;
    SettingSlot m_strobeCtrl;
    SettingSlot m_strobeInvert;
    SettingSlot m_vgaFps;
    SettingSlot m_qvgaFps;
    BOOL m_bActive;
    ULONG m_locked;  // bit i: control CameraControlIds[i] is locked by policy
};

#endif  // VIREO_PAGE_SETTINGPAGE_H
