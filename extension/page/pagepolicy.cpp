// pagepolicy.cpp - the "Camera Setting" page under the organization's
// policy: the controls it locks show their value, disabled, under one line
// saying so. The page sees the capture filter only, not which model of
// camera it is, so it takes the general policy's locks (the camera library's
// reader, the one the extension's handler asks too).
#include "settingpage.h"

#include "../base/module.h"
#include "../resources/resource.h"
#include "vireocamera.h"

void CameraSettingPage::ReadPolicy()
{
    VireoPolicy policy;
    VireoPolicyRead(NULL, &policy);
    m_locked = policy.locked;
    for (int i = 0; i < CAMERA_CONTROL_COUNT; ++i) {
        const ULONG id = CameraControlIds[i];
        SettingSlot *slot = SlotById(id);
        // A camera still elsewhere is given the locked value by the initial
        // apply; a value some model's policy locks it at is left as it is.
        if ((m_locked & (1u << i)) && !VireoPolicyAllows(id, slot->value))
            slot->value = policy.lockedValues[i];
    }
}

bool CameraSettingPage::IsLocked(ULONG id) const
{
    return (m_locked & VireoPolicyBit(id)) != 0;
}

void CameraSettingPage::ShowPolicyNote(HWND dialog)
{
    if (!m_locked || GetDlgItem(dialog, IDC_POLICY_NOTE))
        return;
    char text[256] = "";
    LoadStringA(g_hInst, IDS_POLICY_NOTE, text, static_cast<int>(sizeof(text)));
    RECT rect = {7, 7, 207, 15};  // above the gain rows, beside "Auto"
    MapDialogRect(dialog, &rect);
    HWND note = CreateWindowExA(0, "Static", text, WS_CHILD | WS_VISIBLE | SS_LEFT, rect.left,
                                rect.top, rect.right - rect.left, rect.bottom - rect.top, dialog,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_POLICY_NOTE)),
                                g_hInst, NULL);
    SendMessageA(note, WM_SETFONT, SendMessageA(dialog, WM_GETFONT, 0, 0), FALSE);
}
