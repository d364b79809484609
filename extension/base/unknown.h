// unknown.h - the module's COM object base: a non-delegating IUnknown that can
// be aggregated, and the module-wide count of live objects.
#ifndef VIREO_BASE_UNKNOWN_H
#define VIREO_BASE_UNKNOWN_H

#include <windows.h>
#include <unknwn.h>

// The inner ("non-delegating") IUnknown of an aggregatable object. Its three
// slots match IUnknown's, so a pointer to it can stand in as an IUnknown.
struct INonDelegatingUnknown {
    virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void **ppv) = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;
};

// Every object of the module (class objects included) is counted here from
// construction to destruction; the unload check reads the count.
class CBaseObject {
public:
    explicit CBaseObject(const char *name);
    virtual ~CBaseObject();
    static LONG ObjectsActive();

private:
    CBaseObject(const CBaseObject &);
    CBaseObject &operator=(const CBaseObject &);
    static volatile LONG s_objectCount;
    const char *m_pName;
};

class CUnknown : public INonDelegatingUnknown, public CBaseObject {
public:
    // outer: the controlling unknown of an aggregate, or null for an object
    // that stands alone (it then owns itself).
    CUnknown(const char *name, IUnknown *outer);
    ~CUnknown() override;

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void **ppv) override;
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

    IUnknown *GetOwner() const { return m_pUnknown; }

    // Hands out an interface pointer of this object with one reference
    // added through it (and so through the owner when it delegates).
    static HRESULT GetInterface(IUnknown *pUnk, void **ppv);
    static HRESULT GetInterface(INonDelegatingUnknown *pUnk, void **ppv);

protected:
    volatile LONG m_cRef;

private:
    IUnknown *const m_pUnknown;
};

// The delegating IUnknown of an object that derives from CUnknown and one or
// more COM interfaces: everything goes to the owner.
#define DECLARE_IUNKNOWN                                                       \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override \
    {                                                                          \
        return GetOwner()->QueryInterface(riid, ppv);                          \
    }                                                                          \
    ULONG STDMETHODCALLTYPE AddRef() override                                  \
    {                                                                          \
        return GetOwner()->AddRef();                                           \
    }                                                                          \
    ULONG STDMETHODCALLTYPE Release() override                                 \
    {                                                                          \
        return GetOwner()->Release();                                          \
    }

// The creation function of a class of the module: outer unknown (may be null)
// and a result code owned by the caller; returns the non-delegating unknown.
typedef CUnknown *(*LPFNNewCOMObject)(IUnknown *outer, HRESULT *phr);

#endif  // VIREO_BASE_UNKNOWN_H
