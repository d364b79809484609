#include "classfactory.h"

volatile LONG CClassFactory::s_cLocks = 0;

static const char kClassFactoryName[] = "Class factory";

CClassFactory::CClassFactory(const CFactoryTemplate *pTemplate)
    : CUnknown(kClassFactoryName, NULL), m_pTemplate(pTemplate)
{
}

CClassFactory::~CClassFactory()
{
}

HRESULT STDMETHODCALLTYPE CClassFactory::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
    if (ppv && (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)))
        return GetInterface(static_cast<IClassFactory *>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE CClassFactory::CreateInstance(IUnknown *pUnkOuter, REFIID riid,
                                                        void **ppv)
{
    return CreateFromTemplate(m_pTemplate, pUnkOuter, riid, ppv);
}

HRESULT CClassFactory::CreateFromTemplate(const CFactoryTemplate *pTemplate, IUnknown *pUnkOuter,
                                          REFIID riid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = NULL;

    // An aggregated object hands its outer object nothing but its inner
    // (non-delegating) unknown.
    if (pUnkOuter && !IsEqualIID(riid, IID_IUnknown))
        return E_NOINTERFACE;

    HRESULT hr = S_OK;
    CUnknown *pObj = pTemplate->m_lpfnNew(pUnkOuter, &hr);
    if (!pObj)
        return FAILED(hr) ? hr : E_OUTOFMEMORY;
    if (FAILED(hr)) {
        delete pObj;
        return hr;
    }

    // The object lives on only through the reference the query gives out.
    pObj->NonDelegatingAddRef();
    hr = pObj->NonDelegatingQueryInterface(riid, ppv);
    pObj->NonDelegatingRelease();
    return hr;
}

HRESULT STDMETHODCALLTYPE CClassFactory::LockServer(BOOL fLock)
{
    if (fLock)
        InterlockedIncrement(&s_cLocks);
    else
        InterlockedDecrement(&s_cLocks);
    return S_OK;
}

LONG CClassFactory::ServerLocks()
{
    return InterlockedCompareExchange(&s_cLocks, 0, 0);
}
