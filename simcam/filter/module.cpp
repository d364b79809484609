// simcam.ax: entry points, class object and registration of the simulated
// camera. Registration puts the filter in the video input device category
// through the filter mapper (which writes the category's instance entry)
// and writes the COM class entry the device moniker creates it from.
#include <windows.h>
#include <dshow.h>

#include <new>

#include "filter.h"

static HINSTANCE g_module = NULL;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        g_module = instance;
    }
    return TRUE;
}

namespace {

class CSimCamFactory : public CSimObject<IClassFactory> {
public:
    explicit CSimCamFactory(ULONG device) : m_device(device) {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = NULL;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return CSimCamFilter::Create(m_device, riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        if (lock)
            InterlockedIncrement(&g_simLocks);
        else
            InterlockedDecrement(&g_simLocks);
        return S_OK;
    }

private:
    const ULONG m_device;
};

HRESULT FromWin32(LONG rc)
{
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
}

// "CLSID\{...}" of a device's filter.
void ClassKeyPath(WCHAR *path, int capacity, REFCLSID device = CLSID_SimCamFilter)
{
    WCHAR clsid[40];
    StringFromGUID2(device, clsid, ARRAYSIZE(clsid));
    lstrcpynW(path, L"CLSID\\", capacity);
    lstrcatW(path, clsid);
}

HRESULT SetStringValue(HKEY key, const WCHAR *name, const WCHAR *value)
{
    return FromWin32(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value),
                                    static_cast<DWORD>((lstrlenW(value) + 1) * sizeof(WCHAR))));
}

HRESULT WriteClassEntry()
{
    WCHAR modulePath[MAX_PATH];
    DWORD length = GetModuleFileNameW(g_module, modulePath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return E_FAIL;
    WCHAR path[128];
    ClassKeyPath(path, ARRAYSIZE(path));
    SimRegKey key;
    HRESULT hr =
        FromWin32(RegCreateKeyExW(HKEY_CLASSES_ROOT, path, 0, NULL, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, NULL, key.Receive(), NULL));
    if (FAILED(hr))
        return hr;
    hr = SetStringValue(key.Get(), NULL, SIMCAM_FRIENDLY_NAME);
    SimRegKey server;
    if (SUCCEEDED(hr))
        hr = FromWin32(RegCreateKeyExW(key.Get(), L"InprocServer32", 0, NULL,
                                       REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL,
                                       server.Receive(), NULL));
    if (SUCCEEDED(hr)) {
        hr = SetStringValue(server.Get(), NULL, modulePath);
        if (SUCCEEDED(hr))
            hr = SetStringValue(server.Get(), L"ThreadingModel", L"Both");
    }
    return hr;  // the server key closes before its parent
}

}  // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = NULL;
    const bool second = IsEqualCLSID(clsid, CLSID_SimCamFilter2) != 0;
    if (!second && !IsEqualCLSID(clsid, CLSID_SimCamFilter))
        return CLASS_E_CLASSNOTAVAILABLE;
    Microsoft::WRL::ComPtr<IClassFactory> factory;
    *factory.ReleaseAndGetAddressOf() = new (std::nothrow) CSimCamFactory(second ? 1 : 0);
    if (!factory)
        return E_OUTOFMEMORY;
    return factory->QueryInterface(riid, ppv);  // the creation reference goes after
}

STDAPI DllCanUnloadNow()
{
    return (g_simObjects == 0 && g_simLocks <= 0) ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer()
{
    HRESULT hr = WriteClassEntry();
    if (FAILED(hr))
        return hr;
    SimCamForgetSettings();  // a camera plugged in anew starts from the factory values
    return SimCamRegisterDevice(0, true);
}

// Removes the device and, when a test registered it, the second device.
STDAPI DllUnregisterServer()
{
    SimCamForgetSettings();
    HRESULT hr = SimCamRegisterDevice(0, false);
    const HRESULT second = SimCamRegisterDevice(1, false);
    if (SUCCEEDED(hr))
        hr = second;
    const CLSID *classes[] = {&CLSID_SimCamFilter, &CLSID_SimCamFilter2};
    for (const CLSID *c : classes) {
        WCHAR path[128];
        ClassKeyPath(path, ARRAYSIZE(path), *c);
        LONG rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, path);
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND && SUCCEEDED(hr))
            hr = FromWin32(rc);
    }
    return hr;
}
