// The pin and media type enumerators.
#include "filter.h"

#include <new>

namespace {

class CSimPinEnum : public CSimObject<IEnumPins> {
public:
    CSimPinEnum(CSimCamFilter *filter, ULONG position) : m_filter(filter), m_position(position)
    {
        m_filter->AddRef();
    }
    ~CSimPinEnum() override { m_filter->Release(); }

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
    CSimCamFilter *const m_filter;
    ULONG m_position;
};

class CSimTypeEnum : public CSimObject<IEnumMediaTypes> {
public:
    CSimTypeEnum(CSimCamPin *pin, const SimFormat *formats, int count, bool zeroImageSize,
                 ULONG position)
        : m_pin(pin), m_count(count), m_zero(zeroImageSize), m_position(position)
    {
        for (int i = 0; i < count && i < SIM_FORMAT_COUNT; ++i)
            m_formats[i] = formats[i];
        m_pin->AddRef();
    }
    ~CSimTypeEnum() override { m_pin->Release(); }

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
