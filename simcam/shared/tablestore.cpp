// The device table in the registry (SIMCAM_SETTINGS_KEY): the one place
// that reads and writes it. The caller holds the block's lock.
#include "simshared.h"

#include "handles.h"

namespace {

struct SavedValue {
    ULONG id;
    LONG value;
};

void KeyPath(ULONG index, WCHAR *path)
{
    wsprintfW(path, L"%s\\Device %lu", SIMCAM_SETTINGS_KEY, index);
}

void SetOrDelete(HKEY key, const WCHAR *name, DWORD type, ULONGLONG value)
{
    if (!value) {
        RegDeleteValueW(key, name);
        return;
    }
    const DWORD dword = static_cast<DWORD>(value);
    RegSetValueExW(key, name, 0, type,
                   type == REG_DWORD ? reinterpret_cast<const BYTE *>(&dword)
                                     : reinterpret_cast<const BYTE *>(&value),
                   type == REG_DWORD ? sizeof(dword) : sizeof(value));
}

ULONGLONG Number(HKEY key, const WCHAR *name, DWORD flags)
{
    ULONGLONG value = 0;
    DWORD size = sizeof(value);
    if (RegGetValueW(key, NULL, name, flags, NULL, &value, &size) != ERROR_SUCCESS)
        return 0;
    return size == sizeof(DWORD) ? static_cast<DWORD>(value) : value;
}

// The control values, none while every one is at its factory value.
void SaveValues(HKEY key, const SimDriverState &state)
{
    SavedValue saved[CAMERA_CONTROL_COUNT];
    bool factory = true;
    for (int i = 0; i < CAMERA_CONTROL_COUNT; ++i) {
        saved[i].id = state.controls[i].id;
        saved[i].value = state.controls[i].value;
        factory = factory && saved[i].value == SimDriver::FactoryValue(saved[i].id);
    }
    if (factory)
        RegDeleteValueW(key, L"Values");
    else
        RegSetValueExW(key, L"Values", 0, REG_BINARY, reinterpret_cast<const BYTE *>(saved),
                       sizeof(saved));
}

void LoadValues(HKEY key, SimDriver driver)
{
    SavedValue saved[CAMERA_CONTROL_COUNT];
    DWORD size = sizeof(saved);
    if (RegGetValueW(key, NULL, L"Values", RRF_RT_REG_BINARY, NULL, saved, &size) != ERROR_SUCCESS)
        return;
    for (DWORD v = 0; v < size / sizeof(saved[0]); ++v)
        driver.SetValue(saved[v].id, saved[v].value);
}

}  // namespace

void SimCamDevice::Save(HKEY key) const
{
    RegSetValueExW(key, L"Name", 0, REG_SZ, reinterpret_cast<const BYTE *>(m_name),
                   static_cast<DWORD>((lstrlenW(m_name) + 1) * sizeof(WCHAR)));
    SetOrDelete(key, L"Unplugged", REG_DWORD, m_unplugged ? 1u : 0u);
    SetOrDelete(key, L"NotReady", REG_DWORD, m_notReadyMs);
    SetOrDelete(key, L"NotReadyUntil", REG_QWORD, static_cast<ULONGLONG>(m_notReadyUntil));
    SaveValues(key, m_driver);
}

void SimCamDevice::Load(HKEY key)
{
    DWORD size = sizeof(m_name);
    if (RegGetValueW(key, NULL, L"Name", RRF_RT_REG_SZ, NULL, m_name, &size) != ERROR_SUCCESS)
        lstrcpynW(m_name, SIMCAM_FRIENDLY_NAME, ARRAYSIZE(m_name));
    m_unplugged = Number(key, L"Unplugged", RRF_RT_REG_DWORD) != 0;
    m_notReadyMs = static_cast<ULONG>(Number(key, L"NotReady", RRF_RT_REG_DWORD));
    m_notReadyUntil = static_cast<LONGLONG>(Number(key, L"NotReadyUntil", RRF_RT_REG_QWORD));
    LoadValues(key, Driver());
}

// Leaves every device of the table, and removes the keys of free slots.
void SimCamShared::SaveTable() const
{
    for (ULONG i = 0; i < SIMCAM_MAX_DEVICES; ++i) {
        WCHAR path[96];
        KeyPath(i, path);
        if (!m_devices[i].InTable()) {
            RegDeleteTreeW(HKEY_CURRENT_USER, path);
            continue;
        }
        RegKey key;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, NULL, 0, KEY_SET_VALUE, NULL, key.Put(),
                            NULL) == ERROR_SUCCESS)
            m_devices[i].Save(key.Get());
    }
}

// Takes up the table a process left; slots without a key stay free, device
// 0 is there in any case.
void SimCamShared::LoadTable()
{
    for (ULONG i = 0; i < SIMCAM_MAX_DEVICES; ++i) {
        WCHAR path[96];
        KeyPath(i, path);
        RegKey key;
        const bool stored =
            RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_QUERY_VALUE, key.Put()) == ERROR_SUCCESS;
        if (!stored && i != 0)
            continue;
        TakeSlot(i, SIMCAM_FRIENDLY_NAME);
        if (stored)
            m_devices[i].Load(key.Get());
    }
}
