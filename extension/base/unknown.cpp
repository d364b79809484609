#include "unknown.h"

volatile LONG CBaseObject::s_objectCount = 0;

CBaseObject::CBaseObject(const char *name) : m_pName(name)
{
    InterlockedIncrement(&s_objectCount);
}

CBaseObject::~CBaseObject()
{
    InterlockedDecrement(&s_objectCount);
}

LONG CBaseObject::ObjectsActive()
{
    return InterlockedCompareExchange(&s_objectCount, 0, 0);
}

CUnknown::CUnknown(const char *name, IUnknown *outer)
    : CBaseObject(name), m_cRef(0),
      m_pUnknown(outer ? outer
                       : reinterpret_cast<IUnknown *>(static_cast<INonDelegatingUnknown *>(this)))
{
}

CUnknown::~CUnknown()
{
}

HRESULT STDMETHODCALLTYPE CUnknown::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown))
        return GetInterface(static_cast<INonDelegatingUnknown *>(this), ppv);
    *ppv = NULL;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingAddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingRelease()
{
    LONG ref = InterlockedDecrement(&m_cRef);
    if (ref == 0) {
        // Guard against a re-entrant release from the destructor.
        m_cRef = 1;
        delete this;
        return 0;
    }
    return static_cast<ULONG>(ref);
}

HRESULT CUnknown::GetInterface(IUnknown *pUnk, void **ppv)
{
    *ppv = pUnk;
    pUnk->AddRef();
    return S_OK;
}

HRESULT CUnknown::GetInterface(INonDelegatingUnknown *pUnk, void **ppv)
{
    *ppv = pUnk;
    pUnk->NonDelegatingAddRef();
    return S_OK;
}
