// DllRegisterServer / DllUnregisterServer: the COM class entries of the
// module's classes and the kernel-streaming proxy's extension keys.
#include <windows.h>
#include <objbase.h>
#include <olectl.h>
#include <strmif.h>
#include <vfwmsgs.h>
#include <strsafe.h>

#include <initializer_list>

#include <wrl/client.h>

#include "comclass.h"
#include "handles.h"
#include "../base/module.h"
#include "vireoctl.h"
#include "classtable.h"

namespace {

const WCHAR kMediaSets[] = L"System\\CurrentControlSet\\Control\\MediaSets";
const WCHAR kMediaInterfaces[] = L"System\\CurrentControlSet\\Control\\MediaInterfaces";
const WCHAR kPropertyPages[] = L"PropertyPages";

enum { kKeyPathChars = 1024, kGuidChars = 39 };

// A registry call's error code as a result: 0 is success, anything else the
// platform's code in the low 16 bits of a Win32 failure.
HRESULT FromRegistryError(LONG code)
{
    if (code == ERROR_SUCCESS)
        return S_OK;
    return static_cast<HRESULT>(0x80070000UL | (static_cast<ULONG>(code) & 0xFFFFUL));
}

// Joins the pieces with backslashes into path (kKeyPathChars characters),
// cutting it short where the buffer ends.
void JoinPath(WCHAR *path, std::initializer_list<const WCHAR *> pieces)
{
    path[0] = 0;
    for (const WCHAR *piece : pieces) {
        if (path[0])
            StringCchCatW(path, kKeyPathChars, L"\\");
        StringCchCatW(path, kKeyPathChars, piece);
    }
}

void GuidText(REFGUID guid, WCHAR *text)
{
    if (StringFromGUID2(guid, text, kGuidChars) == 0)
        text[0] = 0;
}

LONG CreateKey(HKEY root, const WCHAR *path, HKEY *key)
{
    return RegCreateKeyExW(root, path, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, key,
                           NULL);
}

// Offers the class its own setup step through IAMovieSetup. A class without
// it (or one that exists only aggregated) has nothing to set up.
HRESULT RunClassSetup(const CFactoryTemplate &entry, bool registering)
{
    Microsoft::WRL::ComPtr<IAMovieSetup> setup;
    HRESULT hr = CClassFactory::CreateFromTemplate(&entry, NULL, IID_IAMovieSetup,
                                                   reinterpret_cast<void **>(setup.GetAddressOf()));
    if (SUCCEEDED(hr)) {
        if (registering) {
            setup->Unregister();
            hr = setup->Register();
        } else {
            hr = setup->Unregister();
        }
    } else if (hr == E_NOINTERFACE || hr == VFW_E_NEED_OWNER) {
        hr = S_OK;
    }
    return hr;
}

HRESULT ModulePath(WCHAR *path, DWORD chars)
{
    DWORD length = GetModuleFileNameW(g_hInst, path, chars);
    if (length == 0)
        return FromRegistryError(static_cast<LONG>(GetLastError()));
    if (length >= chars)
        return FromRegistryError(ERROR_INSUFFICIENT_BUFFER);
    return S_OK;
}

// "...\MediaSets\{set}\PropertyPages\{page}" = page name.
HRESULT WritePageKey()
{
    WCHAR set[kGuidChars], page[kGuidChars], path[kKeyPathChars];
    GuidText(CameraPropertySet, set);
    GuidText(CLSID_CameraSettingPage, page);
    JoinPath(path, {kMediaSets, set, kPropertyPages, page});

    RegKey key;
    LONG rc = CreateKey(HKEY_LOCAL_MACHINE, path, key.Put());
    if (rc == ERROR_SUCCESS)
        rc = ComClassSetText(key.Get(), NULL, ClassTable[0].m_Name);
    return FromRegistryError(rc);
}

// "...\MediaInterfaces\{set}" = handler name, "IID" = the set's 16 bytes.
HRESULT WriteHandlerKey()
{
    WCHAR set[kGuidChars], path[kKeyPathChars];
    GuidText(CameraPropertySet, set);
    JoinPath(path, {kMediaInterfaces, set});

    RegKey key;
    LONG rc = CreateKey(HKEY_LOCAL_MACHINE, path, key.Put());
    if (rc == ERROR_SUCCESS)
        rc = ComClassSetText(key.Get(), NULL, ClassTable[1].m_Name);
    if (rc == ERROR_SUCCESS)
        rc = RegSetValueExW(key.Get(), L"IID", 0, REG_BINARY,
                            reinterpret_cast<const BYTE *>(&CameraPropertySet),
                            sizeof(CameraPropertySet));
    return FromRegistryError(rc);
}

LONG OpenKey(HKEY root, const WCHAR *path, HKEY *key)
{
    return RegOpenKeyExW(root, path, 0, KEY_ALL_ACCESS, key);
}

// Removes this module's page from the set's "PropertyPages", and the keys
// above it that are left empty. Pages of other modules keep theirs.
void RemovePageKey()
{
    WCHAR set[kGuidChars], page[kGuidChars], path[kKeyPathChars];
    GuidText(CameraPropertySet, set);
    GuidText(CLSID_CameraSettingPage, page);
    JoinPath(path, {kMediaSets, set});

    RegKey setKey;
    if (OpenKey(HKEY_LOCAL_MACHINE, path, setKey.Put()) != ERROR_SUCCESS)
        return;
    bool emptied = false;
    RegKey pagesKey;
    if (OpenKey(setKey.Get(), kPropertyPages, pagesKey.Put()) == ERROR_SUCCESS) {
        LONG rc = RegDeleteKeyW(pagesKey.Get(), page);
        pagesKey.Reset();
        if (rc == ERROR_SUCCESS)
            emptied = RegDeleteKeyW(setKey.Get(), kPropertyPages) == ERROR_SUCCESS;
    }
    setKey.Reset();

    RegKey setsKey;
    if (emptied && OpenKey(HKEY_LOCAL_MACHINE, kMediaSets, setsKey.Put()) == ERROR_SUCCESS)
        RegDeleteKeyW(setsKey.Get(), set);
}

HRESULT RemoveHandlerKey()
{
    WCHAR set[kGuidChars];
    GuidText(CameraPropertySet, set);
    RegKey interfacesKey;
    LONG rc = OpenKey(HKEY_LOCAL_MACHINE, kMediaInterfaces, interfacesKey.Put());
    if (rc == ERROR_SUCCESS)
        rc = RegDeleteKeyW(interfacesKey.Get(), set);
    return FromRegistryError(rc);
}

// The registry view of the other width: the 32-bit one for the 64-bit module,
// the 64-bit one for the 32-bit module (on 32-bit Windows, which has one
// view, that is this module's own).
const REGSAM kOtherView =
#ifdef _WIN64
    KEY_WOW64_32KEY;
#else
    KEY_WOW64_64KEY;
#endif

// Whether the other width of this module still has its handler class
// registered. The proxy's keys under HKLM\System are not redirected: both
// widths share them, and the other width's applications still need them.
bool OtherWidthRegistered()
{
    return ComClassRegistered(*ClassTable[1].m_ClsID, kOtherView);
}

}  // namespace

STDAPI DllRegisterServer()
{
    WCHAR modulePath[kKeyPathChars];
    HRESULT hr = ModulePath(modulePath, kKeyPathChars);
    if (FAILED(hr))
        return hr;

    for (int i = 0; i < kClassTableCount; i++) {
        hr = ComClassWrite(*ClassTable[i].m_ClsID, ClassTable[i].m_Name, modulePath);
        if (SUCCEEDED(hr) && ClassTable[i].m_lpfnNew)
            hr = RunClassSetup(ClassTable[i], true);
        if (FAILED(hr))
            return hr;
    }

    // The page key's failure does not stop the handler key, but it is the
    // first failure and the one reported.
    HRESULT pageResult = WritePageKey();
    HRESULT handlerResult = WriteHandlerKey();
    return FAILED(pageResult) ? pageResult : handlerResult;
}

STDAPI DllUnregisterServer()
{
    // COM class entries, last class first. A class whose key is already
    // gone has nothing left to remove; the others are still removed.
    for (int i = kClassTableCount - 1; i >= 0; i--) {
        HRESULT hr = S_OK;
        if (ClassTable[i].m_lpfnNew)
            hr = RunClassSetup(ClassTable[i], false);
        if (FAILED(hr))
            break;
        LONG rc =
            RegDeleteTreeW(HKEY_CLASSES_ROOT, ComClassKeyPath(*ClassTable[i].m_ClsID).c_str());
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
            break;
    }

    // The shared keys go with the last width to be unregistered.
    if (OtherWidthRegistered())
        return S_OK;

    // Keys are only opened here, never created: removing what is not there
    // leaves nothing behind.
    RemovePageKey();
    return RemoveHandlerKey();
}
