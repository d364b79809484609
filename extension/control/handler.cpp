#include "handler.h"

#include "changesignal.h"

#include <new>
#include <stdio.h>
#include <strmif.h>
#include <vfwmsgs.h>
#include <wrl/client.h>

#include "vireocamera.h"

const WCHAR kHandlerName[] = L"Zr58_K KSProxy Extension Interface Handler";
static const char kHandlerObjectName[] = "Zr58_K KSProxy Extension Interface Handler";

CUnknown *CInterfaceHandler::CreateInstance(IUnknown *outer, HRESULT *phr)
{
    // The handler exists only aggregated into a filter.
    if (!outer) {
        *phr = VFW_E_NEED_OWNER;
        return NULL;
    }

    Microsoft::WRL::ComPtr<IKsPropertySet> propertySet;
    HRESULT hr = outer->QueryInterface(IID_PPV_ARGS(&propertySet));
    if (FAILED(hr)) {
        *phr = hr;
        return NULL;
    }

    // The handler keeps the pointer without the reference the query added
    // (given back on leaving here): the outer filter owns the handler, so a
    // counted pointer would keep it alive forever.
    CInterfaceHandler *handler =
        new (std::nothrow) CInterfaceHandler(propertySet.Get(), propertySet.Get());
    *phr = handler ? hr : E_OUTOFMEMORY;
    return handler;
}

CInterfaceHandler::CInterfaceHandler(IUnknown *owner, IKsPropertySet *propertySet)
    : CUnknown(kHandlerObjectName, owner), m_pKsPropertySet(propertySet)
{
}

CInterfaceHandler::~CInterfaceHandler()
{
}

HRESULT STDMETHODCALLTYPE CInterfaceHandler::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    if (IsEqualGUID(riid, CameraPropertySet)) {
        IFace *face = static_cast<IFace *>(this);
        *ppv = face;
        face->AddRef();  // reaches the filter's count
        return S_OK;
    }
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CInterfaceHandler::SetBlock(ULONG property, void *block, ULONG size)
{
    GUID set = CameraPropertySet;
    const HRESULT hr = m_pKsPropertySet->Set(set, property, NULL, 0, block, size);
    SignalChange(property, block, hr);
    return hr;
}

HRESULT CInterfaceHandler::GetBlock(ULONG property, void *block, ULONG size, DWORD *returned,
                                    DWORD *local)
{
    GUID set = CameraPropertySet;
    *local = 0;
    // Without somewhere to put the count the reply cannot be reported: the
    // caller's mistake is answered here, before the driver sees anything.
    if (!returned)
        return E_POINTER;
    HRESULT hr = m_pKsPropertySet->Get(set, property, block, size, block, size, local);
    if (SUCCEEDED(hr))
        *returned = *local;
    return hr;
}

HRESULT STDMETHODCALLTYPE CInterfaceHandler::SetValue10h(void *block)
{
    // A control the organization's policy locks stays at its value, whichever
    // program asks.
    const ControlRequest *request = static_cast<const ControlRequest *>(block);
    if (request && request->kind == SET_DATA &&
        !VireoPolicyAllows(request->controlId, request->value))
        return E_ACCESSDENIED;
    return SetBlock(VALUE10H, block, VALUE10H_SIZE);
}

HRESULT STDMETHODCALLTYPE CInterfaceHandler::GetValue10h(void *block, DWORD *returned)
{
    DWORD local;
    return GetBlock(VALUE10H, block, VALUE10H_SIZE, returned, &local);
}

HRESULT STDMETHODCALLTYPE CInterfaceHandler::SetValue20h(void *block)
{
    return SetBlock(VALUE20H, block, VALUE20H_SIZE);
}

HRESULT STDMETHODCALLTYPE CInterfaceHandler::GetValue20h(void *block, DWORD *returned)
{
    DWORD local;
    return GetBlock(VALUE20H, block, VALUE20H_SIZE, returned, &local);
}

HRESULT STDMETHODCALLTYPE CInterfaceHandler::SetValue30h(void *block)
{
    return SetBlock(VALUE30H, block, VALUE30H_SIZE);
}

HRESULT STDMETHODCALLTYPE CInterfaceHandler::GetValue30h(void *block, DWORD *returned)
{
    DWORD local;
    return GetBlock(VALUE30H, block, VALUE30H_SIZE, returned, &local);
}

HRESULT STDMETHODCALLTYPE CInterfaceHandler::SetValue40h(void *block)
{
    return SetBlock(VALUE40H, block, VALUE40H_SIZE);
}

HRESULT STDMETHODCALLTYPE CInterfaceHandler::GetValue40h(void *block, DWORD *returned)
{
    DWORD local;
    return GetBlock(VALUE40H, block, VALUE40H_SIZE, returned, &local);
}

HRESULT STDMETHODCALLTYPE CInterfaceHandler::SetValue50h(void *block)
{
    return SetBlock(VALUE50H, block, VALUE50H_SIZE);
}

HRESULT STDMETHODCALLTYPE CInterfaceHandler::GetValue50h(void *block, DWORD *returned)
{
    DWORD local;
    HRESULT hr = GetBlock(VALUE50H, block, VALUE50H_SIZE, returned, &local);
    char line[256];
    _snprintf(line, sizeof(line) - 1, "%08X = IFace::GetValue50h RetLen=%d\n",
              static_cast<unsigned>(hr), static_cast<int>(local));
    line[sizeof(line) - 1] = '\0';
    OutputDebugStringA(line);
    return hr;
}
