// policy.cpp - the settings an organization sets: the one reader of the
// policy keys (locked and recommended values, general and per model), the
// watch on the keys. What a camera does with them is policy_apply.cpp's.
//
// The extension (vireoprop.ax) links this file too, through the library: it
// asks nothing of COM, of the camera or of the C++ runtime.
#include "vireocamera.h"

#include <new>
#include <string.h>
#include <strsafe.h>
#include <wchar.h>

#include "handles.h"

namespace {

// The registry value name of each control, in the catalogue's order.
const char *const kPolicyNames[] = {
#define VIREO_POLICY_CONTROL(name, kind, minimum, maximum, label) #name,
#include "policy_controls.h"
#undef VIREO_POLICY_CONTROL
};
static_assert(sizeof(kPolicyNames) / sizeof(kPolicyNames[0]) == CAMERA_CONTROL_COUNT,
              "every control has a policy");

// The registry's 64-bit view (ignored on 32-bit Windows): Group Policy
// writes there, and 32-bit programs must see the same values.
const REGSAM kRead = KEY_READ | KEY_WOW64_64KEY;

int Index(ULONG id)
{
    for (int i = 0; i < CAMERA_CONTROL_COUNT; ++i)
        if (CameraControlIds[i] == id)
            return i;
    return -1;
}

// The REG_DWORD values of one key (Mandatory or Recommended), over what
// *mask and values hold already.
void ReadValues(HKEY parent, const wchar_t *subkey, ULONG *mask, LONG *values)
{
    RegKey key;
    if (RegOpenKeyExW(parent, subkey, 0, kRead, key.Put()) != ERROR_SUCCESS)
        return;
    for (int i = 0; i < CAMERA_CONTROL_COUNT; ++i) {
        WCHAR name[32];
        MultiByteToWideChar(CP_ACP, 0, kPolicyNames[i], -1, name, 32);
        DWORD value = 0, size = sizeof(value), type = 0;
        if (RegQueryValueExW(key.Get(), name, NULL, &type, reinterpret_cast<BYTE *>(&value),
                             &size) != ERROR_SUCCESS ||
            type != REG_DWORD || size != sizeof(value))
            continue;
        *mask |= 1u << i;
        values[i] = static_cast<LONG>(value);
    }
}

// One level (the general keys, or one model's) read over the policy.
void ReadLevel(HKEY level, VireoPolicy *policy)
{
    ReadValues(level, VIREO_POLICY_MANDATORY, &policy->locked, policy->lockedValues);
    ReadValues(level, VIREO_POLICY_RECOMMENDED, &policy->recommended, policy->recommendedValues);
}

bool OpenModel(HKEY root, const wchar_t *model, RegKey *key)
{
    WCHAR path[64 + VIREO_MODEL_CAPACITY];
    return SUCCEEDED(
               StringCchPrintfW(path, ARRAYSIZE(path), L"%s\\%s", VIREO_POLICY_MODELS, model)) &&
           RegOpenKeyExW(root, path, 0, kRead, key->Put()) == ERROR_SUCCESS;
}

// Whether some model's policy locks control i at value.
bool SomeModelLocks(HKEY root, int i, LONG value)
{
    RegKey models;
    if (RegOpenKeyExW(root, VIREO_POLICY_MODELS, 0, kRead, models.Put()) != ERROR_SUCCESS)
        return false;
    WCHAR name[256];
    for (DWORD n = 0;; ++n) {
        DWORD size = ARRAYSIZE(name);
        const LONG result = RegEnumKeyExW(models.Get(), n, name, &size, NULL, NULL, NULL, NULL);
        if (result == ERROR_MORE_DATA)
            continue;  // no model's name is that long
        if (result != ERROR_SUCCESS)
            return false;
        RegKey model;
        if (RegOpenKeyExW(models.Get(), name, 0, kRead, model.Put()) != ERROR_SUCCESS)
            continue;
        VireoPolicy policy;
        memset(&policy, 0, sizeof(policy));
        ReadLevel(model.Get(), &policy);
        if ((policy.locked & (1u << i)) && policy.lockedValues[i] == value)
            return true;
    }
}

// The nearest existing key of the policy's path: the key itself, or one
// above it (HKLM\Software\Policies\Vireo, ...\Policies, ...\Software).
LONG OpenNearest(RegKey *key)
{
    WCHAR path[] = VIREO_POLICY_KEY;
    for (;;) {
        const LONG result =
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_NOTIFY | KEY_WOW64_64KEY, key->Put());
        WCHAR *slash = wcsrchr(path, L'\\');
        if (result == ERROR_SUCCESS || !slash)
            return result;
        *slash = L'\0';
    }
}

}  // namespace

struct VireoPolicyWatch {
    HANDLE event;
    RegKey key;
};

extern "C" {

void VireoCameraModel(const wchar_t *id, wchar_t *model, unsigned size)
{
    if (!model || !size)
        return;
    model[0] = L'\0';
    if (!id)
        return;
    // "...#vid_2e9a&pid_0b01&mi_00#..." or "...\vid_2e9a&pid_0b01\...": the
    // first "vid_" followed by four hex digits, "&pid_" and four more.
    for (const wchar_t *p = id; *p; ++p) {
        if (_wcsnicmp(p, L"vid_", 4) != 0 || wcslen(p) < 17 || _wcsnicmp(p + 8, L"&pid_", 5) != 0)
            continue;
        static const int kDigits[] = {4, 5, 6, 7, 13, 14, 15, 16};
        bool hex = true;
        for (int k : kDigits)
            hex = hex && iswxdigit(p[k]);
        if (!hex)
            continue;
        if (size <= 17)
            return;
        for (int k = 0; k < 17; ++k)
            model[k] = towlower(p[k]);
        model[17] = L'\0';
        return;
    }
}

HRESULT VireoPolicyRead(const wchar_t *model, VireoPolicy *policy)
{
    if (!policy)
        return E_POINTER;
    memset(policy, 0, sizeof(*policy));
    RegKey root;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, VIREO_POLICY_KEY, 0, kRead, root.Put()) != ERROR_SUCCESS)
        return S_OK;
    ReadLevel(root.Get(), policy);
    RegKey level;
    if (model && model[0] && OpenModel(root.Get(), model, &level))
        ReadLevel(level.Get(), policy);  // the model's values win
    return S_OK;
}

ULONG VireoPolicyBit(ULONG id)
{
    const int i = Index(id);
    return i < 0 ? 0 : 1u << i;
}

int VireoPolicyAllows(ULONG id, LONG value)
{
    const int i = Index(id);
    RegKey root;
    if (i < 0 ||
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, VIREO_POLICY_KEY, 0, kRead, root.Put()) != ERROR_SUCCESS)
        return 1;
    VireoPolicy general;
    memset(&general, 0, sizeof(general));
    ReadLevel(root.Get(), &general);
    if (!(general.locked & (1u << i)) || general.lockedValues[i] == value)
        return 1;
    return SomeModelLocks(root.Get(), i, value) ? 1 : 0;
}

HRESULT VireoPolicyWatchOpen(VireoPolicyWatch **watch)
{
    if (!watch)
        return E_POINTER;
    *watch = NULL;
    void *memory = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(VireoPolicyWatch));
    if (!memory)
        return E_OUTOFMEMORY;
    VireoPolicyWatch *opened = new (memory) VireoPolicyWatch();
    opened->event = CreateEventW(NULL, TRUE, FALSE, NULL);
    const HRESULT hr =
        opened->event ? VireoPolicyWatchRearm(opened) : HRESULT_FROM_WIN32(GetLastError());
    if (FAILED(hr)) {
        VireoPolicyWatchClose(opened);
        return hr;
    }
    *watch = opened;
    return S_OK;
}

HANDLE VireoPolicyWatchEvent(const VireoPolicyWatch *watch)
{
    return watch ? watch->event : NULL;
}

HRESULT VireoPolicyWatchRearm(VireoPolicyWatch *watch)
{
    if (!watch)
        return E_POINTER;
    ResetEvent(watch->event);
    LONG result = OpenNearest(&watch->key);
    if (result != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(result);
    const DWORD filter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
    // Windows 8 and later keep the watch when the thread ends; earlier ones
    // do not know the flag.
    result =
        RegNotifyChangeKeyValue(watch->key.Get(), TRUE, filter | 0x10000000L, watch->event, TRUE);
    if (result == ERROR_INVALID_PARAMETER)
        result = RegNotifyChangeKeyValue(watch->key.Get(), TRUE, filter, watch->event, TRUE);
    return HRESULT_FROM_WIN32(result);
}

void VireoPolicyWatchClose(VireoPolicyWatch *watch)
{
    if (!watch)
        return;
    watch->key.Reset();  // ends the watch
    if (watch->event)
        CloseHandle(watch->event);
    watch->~VireoPolicyWatch();
    HeapFree(GetProcessHeap(), 0, watch);
}

}  // extern "C"
