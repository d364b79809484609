// handler.h - the interface handler aggregated into the camera's capture
// filter: offers IFace and turns each call into one property get or set on
// the filter's own IKsPropertySet.
#ifndef VIREO_CONTROL_HANDLER_H
#define VIREO_CONTROL_HANDLER_H

#include "../base/unknown.h"
#include "vireoctl.h"

struct IKsPropertySet;

extern const WCHAR kHandlerName[];  // friendly name, registry and class table

class CInterfaceHandler : public CUnknown, public IFace {
public:
    static CUnknown *CreateInstance(IUnknown *outer, HRESULT *phr);

    DECLARE_IUNKNOWN

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void **ppv) override;

    HRESULT STDMETHODCALLTYPE SetValue10h(void *block) override;
    HRESULT STDMETHODCALLTYPE GetValue10h(void *block, DWORD *returned) override;
    HRESULT STDMETHODCALLTYPE SetValue20h(void *block) override;
    HRESULT STDMETHODCALLTYPE GetValue20h(void *block, DWORD *returned) override;
    HRESULT STDMETHODCALLTYPE SetValue30h(void *block) override;
    HRESULT STDMETHODCALLTYPE GetValue30h(void *block, DWORD *returned) override;
    HRESULT STDMETHODCALLTYPE SetValue40h(void *block) override;
    HRESULT STDMETHODCALLTYPE GetValue40h(void *block, DWORD *returned) override;
    HRESULT STDMETHODCALLTYPE SetValue50h(void *block) override;
    HRESULT STDMETHODCALLTYPE GetValue50h(void *block, DWORD *returned) override;

private:
    CInterfaceHandler(IUnknown *owner, IKsPropertySet *propertySet);
    ~CInterfaceHandler() override;

    HRESULT SetBlock(ULONG property, void *block, ULONG size);
    HRESULT GetBlock(ULONG property, void *block, ULONG size, DWORD *returned, DWORD *local);

    // The outer filter's property set; never counted, the filter outlives us.
    IKsPropertySet *const m_pKsPropertySet;
};

#endif  // VIREO_CONTROL_HANDLER_H
