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
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = NULL;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return CSimCamFilter::Create(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        if (lock)
            InterlockedIncrement(&g_simLocks);
        else
            InterlockedDecrement(&g_simLocks);
        return S_OK;
    }
};

HRESULT FromWin32(LONG rc)
{
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
}

// "CLSID\{...}" of the filter.
void ClassKeyPath(WCHAR *path, int capacity)
{
    WCHAR clsid[40];
    StringFromGUID2(CLSID_SimCamFilter, clsid, ARRAYSIZE(clsid));
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
    HKEY key = NULL;
    HRESULT hr = FromWin32(RegCreateKeyExW(HKEY_CLASSES_ROOT, path, 0, NULL, REG_OPTION_NON_VOLATILE,
                                           KEY_ALL_ACCESS, NULL, &key, NULL));
    if (FAILED(hr))
        return hr;
    hr = SetStringValue(key, NULL, SIMCAM_FRIENDLY_NAME);
    HKEY server = NULL;
    if (SUCCEEDED(hr))
        hr = FromWin32(RegCreateKeyExW(key, L"InprocServer32", 0, NULL, REG_OPTION_NON_VOLATILE,
                                       KEY_ALL_ACCESS, NULL, &server, NULL));
    if (SUCCEEDED(hr)) {
        hr = SetStringValue(server, NULL, modulePath);
        if (SUCCEEDED(hr))
            hr = SetStringValue(server, L"ThreadingModel", L"Both");
        RegCloseKey(server);
    }
    RegCloseKey(key);
    return hr;
}

// Runs fn with a filter mapper, COM initialised for the call when needed.
template <typename Fn>
HRESULT WithFilterMapper(Fn fn)
{
    HRESULT co = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    IFilterMapper2 *mapper = NULL;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, NULL, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                  reinterpret_cast<void **>(&mapper));
    if (SUCCEEDED(hr)) {
        hr = fn(mapper);
        mapper->Release();
    }
    if (SUCCEEDED(co))
        CoUninitialize();
    return hr;
}

}  // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = NULL;
    if (!IsEqualCLSID(clsid, CLSID_SimCamFilter))
        return CLASS_E_CLASSNOTAVAILABLE;
    CSimCamFactory *factory = new (std::nothrow) CSimCamFactory();
    if (!factory)
        return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
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
    return WithFilterMapper([](IFilterMapper2 *mapper) {
        REGPINTYPES type = {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24};
        REGFILTERPINS pin;
        pin.strName = const_cast<LPWSTR>(L"Capture");
        pin.bRendered = FALSE;
        pin.bOutput = TRUE;
        pin.bZero = FALSE;
        pin.bMany = FALSE;
        pin.clsConnectsToFilter = &CLSID_NULL;
        pin.strConnectsToPin = NULL;
        pin.nMediaTypes = 1;
        pin.lpMediaType = &type;
        REGFILTER2 filter;
        filter.dwVersion = 1;
        filter.dwMerit = MERIT_DO_NOT_USE;
        filter.cPins = 1;
        filter.rgPins = &pin;
        return mapper->RegisterFilter(CLSID_SimCamFilter, SIMCAM_FRIENDLY_NAME, NULL,
                                      &CLSID_VideoInputDeviceCategory, NULL, &filter);
    });
}

STDAPI DllUnregisterServer()
{
    HRESULT hr = WithFilterMapper([](IFilterMapper2 *mapper) {
        return mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, NULL, CLSID_SimCamFilter);
    });
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))
        hr = S_OK;  // not registered: nothing to undo
    WCHAR path[128];
    ClassKeyPath(path, ARRAYSIZE(path));
    LONG rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, path);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND && SUCCEEDED(hr))
        hr = FromWin32(rc);
    return hr;
}
