// The pin and media type enumerators.
#include "filter.h"

#include <new>

namespace {

class CSimPinEnum : public CSimObject<IEnumPins> {
public:
    CSimPinEnum(CSimCamFilter *filter, ULONG position) : m_filter(filter), m_position(position) {}

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
        return SimCreatePinEnum(m_filter.Get(), m_position, ppEnum);
    }

private:
    const Microsoft::WRL::ComPtr<CSimCamFilter> m_filter;  // the filter stays while it is walked
    ULONG m_position;
};

class CSimTypeEnum : public CSimObject<IEnumMediaTypes> {
public:
    CSimTypeEnum(CSimCamPin *pin, const SimFormat *formats, int count, bool zeroImageSize,
                 ULONG position)
        : m_pin(pin), m_count(count), m_zero(zeroImageSize), m_position(position)
    {
        for (int i = 0; i < count && i < kSimFormatCount; ++i)
            m_formats[i] = formats[i];
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
        return SimCreateTypeEnum(m_pin.Get(), m_formats, m_count, m_zero, m_position, ppEnum);
    }

private:
    const Microsoft::WRL::ComPtr<CSimCamPin> m_pin;  // the pin stays while it is walked
    SimFormat m_formats[kSimFormatCount];
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
