#include "enums.h"

#include <wrl/client.h>

#include <new>

#include "object.h"

namespace {

// An enumerator of count items from position on: Next, Skip and Reset; the
// item at a position (and its release, should a later one fail) and the
// copy at a position are the enumerator's own.
template <class Interface, class Item> class CSimEnum : public CSimObject<Interface> {
public:
    CSimEnum(IPin *pin, ULONG count, ULONG position)
        : m_pin(pin), m_count(count), m_position(position)
    {
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, Item *items, ULONG *fetched) override
    {
        if (!items || (count > 1 && !fetched))
            return E_POINTER;
        ULONG n = 0;
        for (; n < count && m_position < m_count; ++n, ++m_position) {
            items[n] = Make(m_position);
            if (!items[n]) {
                while (n > 0)
                    Free(items[--n]);
                if (fetched)
                    *fetched = 0;
                return E_OUTOFMEMORY;
            }
        }
        if (fetched)
            *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        m_position += count;
        return m_position <= m_count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        m_position = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(Interface **ppEnum) override
    {
        return CloneAt(m_position, ppEnum);
    }

protected:
    virtual Item Make(ULONG position) = 0;
    virtual void Free(Item item) = 0;
    virtual HRESULT CloneAt(ULONG position, Interface **ppEnum) = 0;

    const Microsoft::WRL::ComPtr<IPin> m_pin;  // the pin stays while it is walked

private:
    const ULONG m_count;
    ULONG m_position;
};

class CSimPinEnum : public CSimEnum<IEnumPins, IPin *> {
public:
    CSimPinEnum(IPin *pin, ULONG position) : CSimEnum(pin, 1, position) {}

private:
    IPin *Make(ULONG) override
    {
        m_pin->AddRef();
        return m_pin.Get();
    }
    void Free(IPin *pin) override { pin->Release(); }
    HRESULT CloneAt(ULONG position, IEnumPins **ppEnum) override
    {
        return SimCreatePinEnum(m_pin.Get(), position, ppEnum);
    }
};

class CSimTypeEnum : public CSimEnum<IEnumMediaTypes, AM_MEDIA_TYPE *> {
public:
    CSimTypeEnum(IPin *pin, const SimFormat *formats, int count, bool zeroImageSize, ULONG position)
        : CSimEnum(pin, static_cast<ULONG>(count), position), m_count(count), m_zero(zeroImageSize)
    {
        for (int i = 0; i < count && i < kSimFormatCount; ++i)
            m_formats[i] = formats[i];
    }

private:
    AM_MEDIA_TYPE *Make(ULONG position) override
    {
        return SimCreateMediaType(m_formats[position], m_zero);
    }
    void Free(AM_MEDIA_TYPE *mt) override { SimDeleteMediaType(mt); }
    HRESULT CloneAt(ULONG position, IEnumMediaTypes **ppEnum) override
    {
        return SimCreateTypeEnum(m_pin.Get(), m_formats, m_count, m_zero, position, ppEnum);
    }

    SimFormat m_formats[kSimFormatCount];
    const int m_count;
    const bool m_zero;
};

}  // namespace

HRESULT SimCreatePinEnum(IPin *pin, ULONG position, IEnumPins **ppEnum)
{
    if (!ppEnum)
        return E_POINTER;
    *ppEnum = new (std::nothrow) CSimPinEnum(pin, position);
    return *ppEnum ? S_OK : E_OUTOFMEMORY;
}

HRESULT SimCreateTypeEnum(IPin *pin, const SimFormat *formats, int count, bool zeroImageSize,
                          ULONG position, IEnumMediaTypes **ppEnum)
{
    if (!ppEnum)
        return E_POINTER;
    *ppEnum = new (std::nothrow) CSimTypeEnum(pin, formats, count, zeroImageSize, position);
    return *ppEnum ? S_OK : E_OUTOFMEMORY;
}
