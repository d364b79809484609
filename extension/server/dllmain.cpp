// Placeholder entry points until the class table lands.
#include <windows.h>
#include <unknwn.h>
#include "../base/module.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE hinst, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(hinst);
        g_hInst = hinst;
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID, REFIID, void **ppv)
{
    if (ppv)
        *ppv = NULL;
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return S_OK; }
STDAPI DllRegisterServer() { return S_OK; }
STDAPI DllUnregisterServer() { return S_OK; }
