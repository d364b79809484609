// simcam.ax: entry points, class object and registration of the simulated
// camera. Registration puts the filter in the video input device category
// through the filter mapper (which writes the category's instance entry)
// and writes the COM class entry the device moniker creates it from.
#include <windows.h>
#include <dshow.h>

#include <new>

#include "filter.h"
#include "comclass.h"
#include "object.h"
#include "table.h"

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

HRESULT WriteClassEntry()
{
    WCHAR modulePath[MAX_PATH];
    DWORD length = GetModuleFileNameW(g_module, modulePath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return E_FAIL;
    return ComClassWrite(CLSID_SimCamFilter, SIMCAM_FRIENDLY_NAME, modulePath);
}

}  // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = NULL;
    if (!IsEqualCLSID(clsid, CLSID_SimCamFilter))
        return CLASS_E_CLASSNOTAVAILABLE;
    Microsoft::WRL::ComPtr<IClassFactory> factory;
    *factory.ReleaseAndGetAddressOf() = new (std::nothrow) CSimCamFactory();
    if (!factory)
        return E_OUTOFMEMORY;
    return factory->QueryInterface(riid, ppv);  // the creation reference goes after
}

STDAPI DllCanUnloadNow()
{
    return (g_simObjects == 0 && g_simLocks <= 0) ? S_OK : S_FALSE;
}

// The camera plugged in anew: device 0 alone, at the factory values.
STDAPI DllRegisterServer()
{
    const HRESULT hr = WriteClassEntry();
    return FAILED(hr) ? hr : SimCamTable::Install(true);
}

// Removes every device of the table, and the class.
STDAPI DllUnregisterServer()
{
    HRESULT hr = SimCamTable::Install(false);
    const LONG rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, ComClassKeyPath(CLSID_SimCamFilter).c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND && SUCCEEDED(hr))
        hr = HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
    return hr;
}
