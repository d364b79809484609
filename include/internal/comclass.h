// comclass.h - a COM class's entry in the registry, written and looked up
// the one way: "CLSID\{class}" with the class's name, and "InprocServer32"
// with the module's path and the threading model "Both". Shared by the
// module's and the simulated camera's registration and by the simulated
// camera's library (vireo::handles, header-only, not installed).
#ifndef VIREO_BASE_COMCLASS_H
#define VIREO_BASE_COMCLASS_H

#include <windows.h>
#include <objbase.h>

#include <string>

#include "handles.h"

// "CLSID\{...}" of a class.
inline std::wstring ComClassKeyPath(REFCLSID clsid)
{
    WCHAR guid[40];
    if (StringFromGUID2(clsid, guid, ARRAYSIZE(guid)) == 0)
        guid[0] = 0;
    return std::wstring(L"CLSID\\") + guid;
}

inline LONG ComClassSetText(HKEY key, const WCHAR *name, const WCHAR *text)
{
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                          static_cast<DWORD>((lstrlenW(text) + 1) * sizeof(WCHAR)));
}

// The class's entry for an in-process server at modulePath.
inline HRESULT ComClassWrite(REFCLSID clsid, const WCHAR *name, const WCHAR *modulePath)
{
    RegKey classKey, serverKey;
    LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, ComClassKeyPath(clsid).c_str(), 0, NULL,
                              REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, classKey.Put(), NULL);
    if (rc == ERROR_SUCCESS)
        rc = ComClassSetText(classKey.Get(), NULL, name);
    if (rc == ERROR_SUCCESS)
        rc = RegCreateKeyExW(classKey.Get(), L"InprocServer32", 0, NULL, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, NULL, serverKey.Put(), NULL);
    if (rc == ERROR_SUCCESS)
        rc = ComClassSetText(serverKey.Get(), NULL, modulePath);
    if (rc == ERROR_SUCCESS)
        rc = ComClassSetText(serverKey.Get(), L"ThreadingModel", L"Both");
    return HRESULT_FROM_WIN32(static_cast<DWORD>(rc));  // the server key closes first
}

// Whether the class has an in-process server in the registry view given
// (0: this program's; KEY_WOW64_32KEY or KEY_WOW64_64KEY: that width's).
inline bool ComClassRegistered(REFCLSID clsid, REGSAM view = 0)
{
    const std::wstring path = ComClassKeyPath(clsid) + L"\\InprocServer32";
    RegKey key;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_QUERY_VALUE | view, key.Put()) ==
           ERROR_SUCCESS;
}

#endif  // VIREO_BASE_COMCLASS_H
