// Module entry point, class objects and the unload rule.
#include <windows.h>
#include <unknwn.h>

#include <new>

#include "../base/module.h"
#include "classtable.h"

static void CallInitRoutines(BOOL bLoading)
{
    for (int i = 0; i < kClassTableCount; i++) {
        if (ClassTable[i].m_lpfnInit)
            ClassTable[i].m_lpfnInit(bLoading, ClassTable[i].m_ClsID);
    }
}

extern "C" BOOL WINAPI DllMain(HINSTANCE hinst, DWORD reason, LPVOID)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(hinst);
        g_hInst = hinst;
        CallInitRoutines(TRUE);
        break;
    case DLL_PROCESS_DETACH: CallInitRoutines(FALSE); break;
    default: break;
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void **ppv)
{
    if (ppv)
        *ppv = NULL;
    // Only a class factory is handed out, whatever the class.
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory))
        return E_NOINTERFACE;
    if (!ppv)
        return E_POINTER;

    for (int i = 0; i < kClassTableCount; i++) {
        if (!ClassTable[i].IsClassID(rclsid))
            continue;
        CClassFactory *factory = new (std::nothrow) CClassFactory(&ClassTable[i]);
        if (!factory)
            return E_OUTOFMEMORY;
        factory->AddRef();
        *ppv = static_cast<IClassFactory *>(factory);
        return S_OK;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow()
{
    if (CClassFactory::ServerLocks() > 0 || CBaseObject::ObjectsActive() != 0)
        return S_FALSE;
    return S_OK;
}
