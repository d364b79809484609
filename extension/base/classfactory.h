// classfactory.h - the module's table of creatable classes and the class
// object (IClassFactory) handed out for each entry.
#ifndef VIREO_BASE_CLASSFACTORY_H
#define VIREO_BASE_CLASSFACTORY_H

#include <windows.h>
#include <unknwn.h>

#include "unknown.h"

// Filter registration data of an entry; none of this module's classes is a
// filter, so every entry leaves it null.
struct AMOVIESETUP_FILTER;

// Called with TRUE when the module is loaded and FALSE when it is unloaded.
typedef void(CALLBACK *LPFNInitRoutine)(BOOL bLoading, const CLSID *rclsid);

// One creatable class of the module.
struct CFactoryTemplate {
    const WCHAR *m_Name;                              // friendly name (registry)
    const CLSID *m_ClsID;                             // class identifier
    LPFNNewCOMObject m_lpfnNew;                       // creation function
    LPFNInitRoutine m_lpfnInit;                       // load/unload routine, or null
    const AMOVIESETUP_FILTER *m_pAMovieSetup_Filter;  // filter setup data, or null

    BOOL IsClassID(REFCLSID rclsid) const { return IsEqualCLSID(*m_ClsID, rclsid); }
};

// The class object of one table entry: an object of the module standing
// alone (its IUnknown is IClassFactory's), counted as live for as long as it
// exists.
class CClassFactory : public IClassFactory, public CUnknown {
public:
    explicit CClassFactory(const CFactoryTemplate *pTemplate);
    ~CClassFactory() override;

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void **ppv) override;

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *pUnkOuter, REFIID riid, void **ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override;

    // Creates an object of the entry's class and hands out the interface
    // riid of it; the rules of IClassFactory::CreateInstance.
    static HRESULT CreateFromTemplate(const CFactoryTemplate *pTemplate, IUnknown *pUnkOuter,
                                      REFIID riid, void **ppv);

    // The module's server lock count (LockServer(TRUE) minus LockServer(FALSE)).
    static LONG ServerLocks();

private:
    const CFactoryTemplate *const m_pTemplate;
    static volatile LONG s_cLocks;
};

#endif  // VIREO_BASE_CLASSFACTORY_H
