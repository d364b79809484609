#include "fakes.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <new>

std::atomic<bool> g_failNothrowNew(false);

void *operator new(size_t size, const std::nothrow_t &) noexcept
{
    return g_failNothrowNew ? NULL : malloc(size ? size : 1);
}

void operator delete(void *p, const std::nothrow_t &) noexcept
{
    free(p);
}

void FakeFilter::DropInner()
{
    if (inner)
        inner->Release();
    inner = NULL;
}

HRESULT STDMETHODCALLTYPE FakeFilter::QueryInterface(REFIID riid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    ++queries;
    if (IsEqualIID(riid, IID_IUnknown) || (offer && IsEqualIID(riid, IID_IKsPropertySet))) {
        *ppv = static_cast<IKsPropertySet *>(this);
        AddRef();
        return S_OK;
    }
    if (inner && !IsEqualIID(riid, IID_IKsPropertySet))
        return inner->QueryInterface(riid, ppv);
    *ppv = NULL;
    return E_NOINTERFACE;
}

void FakeFilter::Record(bool isSet, REFGUID set, DWORD id, LPVOID instance, DWORD instanceLength,
                        LPVOID data, DWORD dataLength)
{
    const BYTE *in = static_cast<const BYTE *>(instance), *d = static_cast<const BYTE *>(data);
    calls.push_back(
        PropertyCall{isSet, set, id, instance, instanceLength,
                     in ? std::vector<BYTE>(in, in + instanceLength) : std::vector<BYTE>(), data,
                     dataLength, d ? std::vector<BYTE>(d, d + dataLength) : std::vector<BYTE>()});
}

HRESULT STDMETHODCALLTYPE FakeFilter::Set(REFGUID set, DWORD id, LPVOID instance,
                                          DWORD instanceLength, LPVOID data, DWORD dataLength)
{
    Record(true, set, id, instance, instanceLength, data, dataLength);
    if (backend)
        return backend(true, id, instance, instanceLength, data, dataLength, NULL);
    return result;
}

HRESULT STDMETHODCALLTYPE FakeFilter::Get(REFGUID set, DWORD id, LPVOID instance,
                                          DWORD instanceLength, LPVOID data, DWORD dataLength,
                                          DWORD *returned)
{
    Record(false, set, id, instance, instanceLength, data, dataLength);
    if (backend)
        return backend(false, id, instance, instanceLength, data, dataLength, returned);
    if (!reply.empty() && data)
        memcpy(data, reply.data(), std::min<size_t>(reply.size(), dataLength));
    if (writeCount && returned)
        *returned = count;
    return result;
}

HRESULT STDMETHODCALLTYPE FakeFilter::QuerySupported(REFGUID, DWORD, DWORD *)
{
    ++querySupported;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE FakePageSite::QueryInterface(REFIID riid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPropertyPageSite)) {
        *ppv = static_cast<IPropertyPageSite *>(this);
        AddRef();
        return S_OK;
    }
    *ppv = NULL;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE FakePageSite::OnStatusChange(DWORD flags)
{
    status.push_back(flags);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakePageSite::GetLocaleID(LCID *lcid)
{
    if (!lcid)
        return E_POINTER;
    *lcid = LOCALE_USER_DEFAULT;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakePageSite::GetPageContainer(IUnknown **ppUnk)
{
    if (ppUnk)
        *ppUnk = NULL;
    return E_NOTIMPL;
}
