// object.h - what the module's COM objects share: the count of objects
// alive and of server locks (for DllCanUnloadNow), and the IUnknown of the
// small single-interface ones.
#ifndef SIMCAM_OBJECT_H
#define SIMCAM_OBJECT_H

#include <windows.h>
#include <unknwn.h>

// Objects of the module alive and its server locks.
extern volatile LONG g_simObjects;
extern volatile LONG g_simLocks;

// The IUnknown of the module's small single-interface objects (class
// factory, enumerators): a reference count starting at 1, the interface and
// IUnknown from QueryInterface, and a share in g_simObjects while alive.
template <class Interface> class CSimObject : public Interface {
public:
    CSimObject() : m_cRef(1) { InterlockedIncrement(&g_simObjects); }
    virtual ~CSimObject() { InterlockedDecrement(&g_simObjects); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, __uuidof(Interface))) {
            *ppv = static_cast<Interface *>(this);
            AddRef();
            return S_OK;
        }
        *ppv = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG count = InterlockedDecrement(&m_cRef);
        if (count == 0)
            delete this;
        return static_cast<ULONG>(count);
    }

private:
    volatile LONG m_cRef;
};

#endif  // SIMCAM_OBJECT_H
