// policy_keys.h - the organization's policy as Group Policy leaves it in the
// registry, for the tests: values under HKLM\Software\Policies\Vireo\Camera
// (the 64-bit view, as the policy engine writes it), and the whole
// HKLM\Software\Policies\Vireo gone before and after.
#ifndef VIREO_TESTS_POLICY_KEYS_H
#define VIREO_TESTS_POLICY_KEYS_H

#include <windows.h>

#include <string>

#include "vireocamera.h"

class PolicyKeys {
public:
    PolicyKeys() { Clear(); }
    ~PolicyKeys() { Clear(); }
    PolicyKeys(const PolicyKeys &) = delete;
    PolicyKeys &operator=(const PolicyKeys &) = delete;

    // level: L"Mandatory", L"Recommended", L"Models\\vid_2e9a&pid_0b01\\Mandatory", ...
    static bool Set(const std::wstring &level, const std::wstring &name, DWORD value)
    {
        return Write(level, name, REG_DWORD, &value, sizeof(value));
    }
    // A value of another type, which the reader leaves alone.
    static bool SetText(const std::wstring &level, const std::wstring &name,
                        const std::wstring &text)
    {
        return Write(level, name, REG_SZ, text.c_str(),
                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    static bool Remove(const std::wstring &level, const std::wstring &name)
    {
        HKEY key = NULL;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (Root() + L"\\" + level).c_str(), 0,
                          KEY_SET_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
            return false;
        const bool removed = RegDeleteValueW(key, name.c_str()) == ERROR_SUCCESS;
        RegCloseKey(key);
        return removed;
    }
    static void Clear()
    {
        HKEY policies = NULL;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Policies", 0,
                          KEY_ALL_ACCESS | KEY_WOW64_64KEY, &policies) != ERROR_SUCCESS)
            return;
        RegDeleteTreeW(policies, L"Vireo");
        RegCloseKey(policies);
    }
    static std::wstring Root() { return VIREO_POLICY_KEY; }

private:
    static bool Write(const std::wstring &level, const std::wstring &name, DWORD type,
                      const void *data, DWORD size)
    {
        HKEY key = NULL;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, (Root() + L"\\" + level).c_str(), 0, NULL, 0,
                            KEY_SET_VALUE | KEY_WOW64_64KEY, NULL, &key, NULL) != ERROR_SUCCESS)
            return false;
        const bool written = RegSetValueExW(key, name.c_str(), 0, type,
                                            static_cast<const BYTE *>(data), size) == ERROR_SUCCESS;
        RegCloseKey(key);
        return written;
    }
};

#endif  // VIREO_TESTS_POLICY_KEYS_H
