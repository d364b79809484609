// The pin and media type enumerators.
#include "filter.h"

#include <new>

namespace {

class CSimPinEnum : public IEnumPins {
public:
    CSimPinEnum(CSimCamFilter *filter, ULONG position) : m_cRef(1), m_filter(filter), m_position(position)
    {
        m_filter->AddRef();
        InterlockedIncrement(&g_simObjects);
    }
    virtual ~CSimPinEnum()
    {
        m_filter->Release();
        InterlockedDecrement(&g_simObjects);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumPins)) {
            *ppv = static_cast<IEnumPins *>(this);
            AddRef();
            return S_OK;
        }
        *ppv = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG count = InterlockedDecrement(&m_cRef);
        if (count == 0)
            delete this;
        return static_cast<ULONG>(count);
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin **pins, ULONG *fetched) override
    {
        if (!pins || (count > 1 && !fetched))
            return E_POINTER;
        ULONG n = 0;
        while (n < count && m_position < 1) {
            pins[n] = m_filter->Pin();
            pins[n]->AddRef();
            ++n;
            ++m_position;
        }
        if (fetched)
            *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        m_position += count;
        return m_position <= 1 ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        m_position = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins **ppEnum) override
    {
        return SimCreatePinEnum(m_filter, m_position, ppEnum);
    }

private:
    volatile LONG m_cRef;
    CSimCamFilter *const m_filter;
    ULONG m_position;
};

class CSimTypeEnum : public IEnumMediaTypes {
public:
    CSimTypeEnum(CSimCamPin *pin, const SimFormat *formats, int count, bool zeroImageSize, ULONG position)
        : m_cRef(1), m_pin(pin), m_count(count), m_zero(zeroImageSize), m_position(position)
    {
        for (int i = 0; i < count && i < SIM_FORMAT_COUNT; ++i)
            m_formats[i] = formats[i];
        m_pin->AddRef();
        InterlockedIncrement(&g_simObjects);
    }
    virtual ~CSimTypeEnum()
    {
        m_pin->Release();
        InterlockedDecrement(&g_simObjects);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumMediaTypes)) {
            *ppv = static_cast<IEnumMediaTypes *>(this);
            AddRef();
            return S_OK;
        }
        *ppv = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG count = InterlockedDecrement(&m_cRef);
        if (count == 0)
            delete this;
        return static_cast<ULONG>(count);
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE **types, ULONG *fetched) override
    {
        if (!types || (count > 1 && !fetched))
            return E_POINTER;
        ULONG n = 0;
        while (n < count && m_position < static_cast<ULONG>(m_count)) {
            types[n] = SimCreateMediaType(m_formats[m_position], m_zero);
            if (!types[n]) {
                while (n > 0)
                    SimDeleteMediaType(types[--n]);
                if (fetched)
                    *fetched = 0;
                return E_OUTOFMEMORY;
            }
            ++n;
            ++m_position;
        }
        if (fetched)
            *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        m_position += count;
        return m_position <= static_cast<ULONG>(m_count) ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        m_position = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes **ppEnum) override
    {
        return SimCreateTypeEnum(m_pin, m_formats, m_count, m_zero, m_position, ppEnum);
    }

private:
    volatile LONG m_cRef;
    CSimCamPin *const m_pin;
    SimFormat m_formats[SIM_FORMAT_COUNT];
    int m_count;
    bool m_zero;
    ULONG m_position;
};

}  // namespace

HRESULT SimCreatePinEnum(CSimCamFilter *filter, ULONG position, IEnumPins **ppEnum)
{
    if (!ppEnum)
        return E_POINTER;
    *ppEnum = new (std::nothrow) CSimPinEnum(filter, position);
    return *ppEnum ? S_OK : E_OUTOFMEMORY;
}

HRESULT SimCreateTypeEnum(CSimCamPin *pin, const SimFormat *formats, int count, bool zeroImageSize,
                          ULONG position, IEnumMediaTypes **ppEnum)
{
    if (!ppEnum)
        return E_POINTER;
    *ppEnum = new (std::nothrow) CSimTypeEnum(pin, formats, count, zeroImageSize, position);
    return *ppEnum ? S_OK : E_OUTOFMEMORY;
}
