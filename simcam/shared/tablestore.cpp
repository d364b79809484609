// The device table in the registry (SIMCAM_SETTINGS_KEY): the one place
// that reads and writes it. The caller holds the block's lock.
#include "simshared.h"

#include <string.h>

#include <vector>

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
        factory = factory && saved[i].value == CameraControlFactoryDefault(saved[i].id);
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

void SetBinaryOrDelete(HKEY key, const WCHAR *name, const void *data, size_t size)
{
    if (size)
        RegSetValueExW(key, name, 0, REG_BINARY, static_cast<const BYTE *>(data),
                       static_cast<DWORD>(size));
    else
        RegDeleteValueW(key, name);
}

// A binary value into a buffer of its own size; empty when there is none.
std::vector<BYTE> Binary(HKEY key, const WCHAR *name)
{
    DWORD size = 0;
    if (RegGetValueW(key, NULL, name, RRF_RT_REG_BINARY, NULL, NULL, &size) != ERROR_SUCCESS)
        return std::vector<BYTE>();
    std::vector<BYTE> bytes(size);
    if (RegGetValueW(key, NULL, name, RRF_RT_REG_BINARY, NULL, bytes.data(), &size) !=
        ERROR_SUCCESS)
        return std::vector<BYTE>();
    bytes.resize(size);
    return bytes;
}

// The refusal rules, none while no rule is active.
void SaveFaults(HKEY key, const SimDriverState &state)
{
    bool any = false;
    for (const SimFault &f : state.faults)
        any = any || f.active;
    SetBinaryOrDelete(key, L"Refusals", state.faults, any ? sizeof(state.faults) : 0);
}

void LoadFaults(HKEY key, SimDriverState *state)
{
    const std::vector<BYTE> saved = Binary(key, L"Refusals");
    if (saved.size() == sizeof(state->faults))
        memcpy(state->faults, saved.data(), saved.size());
}

// The requests the ring holds, oldest first, and how many arrived in all
// (their numbers go on where the ring has gone round).
void SaveLog(HKEY key, const SimDriverState &state)
{
    const LONG count = state.logCount;
    const LONG first = count > VIREO_SIM_LOG_CAPACITY ? count - VIREO_SIM_LOG_CAPACITY : 0;
    std::vector<SimRequest> held;
    held.reserve(static_cast<size_t>(count - first));
    for (LONG n = first; n < count; ++n)
        held.push_back(state.log[n % VIREO_SIM_LOG_CAPACITY]);
    SetOrDelete(key, L"LogCount", REG_DWORD, static_cast<ULONGLONG>(count));
    SetBinaryOrDelete(key, L"Log", held.data(), held.size() * sizeof(SimRequest));
}

void LoadLog(HKEY key, SimDriverState *state)
{
    const std::vector<BYTE> saved = Binary(key, L"Log");
    LONG held = static_cast<LONG>(saved.size() / sizeof(SimRequest));
    held = held < VIREO_SIM_LOG_CAPACITY ? held : LONG(VIREO_SIM_LOG_CAPACITY);
    const LONG count = static_cast<LONG>(Number(key, L"LogCount", RRF_RT_REG_DWORD));
    state->logCount = count > held ? count : held;
    const SimRequest *entries = reinterpret_cast<const SimRequest *>(saved.data());
    for (LONG i = 0; i < held; ++i)
        state->log[(state->logCount - held + i) % VIREO_SIM_LOG_CAPACITY] = entries[i];
}

}  // namespace

void SimCamDevice::Save(HKEY key) const
{
    RegSetValueExW(key, L"Name", 0, REG_SZ, reinterpret_cast<const BYTE *>(m_name),
                   static_cast<DWORD>((lstrlenW(m_name) + 1) * sizeof(WCHAR)));
    SetOrDelete(key, L"Unplugged", REG_DWORD, m_unplugged ? 1u : 0u);
    SetOrDelete(key, L"NotReady", REG_DWORD, m_notReadyMs);
    SetOrDelete(key, L"NotReadyUntil", REG_QWORD, static_cast<ULONGLONG>(m_notReadyUntil));
    SetOrDelete(key, L"Busy", REG_DWORD, m_busy ? 1u : 0u);
    SetOrDelete(key, L"Refused", REG_DWORD, static_cast<ULONG>(m_refusedRequests));
    SaveValues(key, m_driver);
    SaveFaults(key, m_driver);
    SaveLog(key, m_driver);
}

void SimCamDevice::Load(HKEY key)
{
    DWORD size = sizeof(m_name);
    if (RegGetValueW(key, NULL, L"Name", RRF_RT_REG_SZ, NULL, m_name, &size) != ERROR_SUCCESS)
        lstrcpynW(m_name, SIMCAM_FRIENDLY_NAME, ARRAYSIZE(m_name));
    m_unplugged = Number(key, L"Unplugged", RRF_RT_REG_DWORD) != 0;
    m_notReadyMs = static_cast<ULONG>(Number(key, L"NotReady", RRF_RT_REG_DWORD));
    m_notReadyUntil = static_cast<LONGLONG>(Number(key, L"NotReadyUntil", RRF_RT_REG_QWORD));
    m_busy = Number(key, L"Busy", RRF_RT_REG_DWORD) != 0;
    m_refusedRequests = static_cast<LONG>(Number(key, L"Refused", RRF_RT_REG_DWORD));
    LoadValues(key, Driver());
    LoadFaults(key, &m_driver);
    LoadLog(key, &m_driver);
}

// Leaves every device of the table, and removes the keys of free slots.
void SimCamShared::SaveTable() const
{
    for (ULONG i = 0; i < VIREO_SIM_MAX_DEVICES; ++i) {
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
    for (ULONG i = 0; i < VIREO_SIM_MAX_DEVICES; ++i) {
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
