#include "filter.h"

#include <wrl/client.h>

#include <new>
#include <stddef.h>
#include <string.h>

#include <dvdmedia.h>

#include "picture.h"

using Microsoft::WRL::ComPtr;

static const WCHAR kPinName[] = L"Capture";

CSimCamPin::CSimCamPin(CSimCamFilter *filter)
    : m_filter(filter), m_formatSet(false), m_thread(NULL),
      m_wake(CreateEventW(NULL, FALSE, FALSE, NULL)), m_quit(0), m_snapshot(NULL), m_frameNumber(0)
{
    m_format.width = kSimFrameSizes[0].width;
    m_format.height = kSimFrameSizes[0].height;
    m_format.frameTime = kSimDefaultFrameTime;
    m_connFormat = m_format;
}

CSimCamPin::~CSimCamPin()
{
    m_mt.Reset();
    if (m_snapshot)
        HeapFree(GetProcessHeap(), 0, m_snapshot);
    if (m_wake)
        CloseHandle(m_wake);
}

HRESULT STDMETHODCALLTYPE CSimCamPin::QueryInterface(REFIID riid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = NULL;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPin))
        *ppv = static_cast<IPin *>(this);
    else if (IsEqualIID(riid, IID_IKsPropertySet))
        *ppv = static_cast<IKsPropertySet *>(this);
    else if (IsEqualIID(riid, IID_IAMStreamConfig) && !SwitchOn(&SimCamShared::noStreamConfig))
        *ppv = static_cast<IAMStreamConfig *>(this);
    else if (IsEqualIID(riid, IID_IQualityControl))
        *ppv = static_cast<IQualityControl *>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE CSimCamPin::AddRef()
{
    return m_filter->AddRef();
}

ULONG STDMETHODCALLTYPE CSimCamPin::Release()
{
    return m_filter->Release();
}

bool CSimCamPin::ZeroImageSize()
{
    return SwitchOn(&SimCamShared::zeroImageSize);
}

bool CSimCamPin::SwitchOn(LONG SimCamShared::*which)
{
    SimCamLock lock(m_filter->Block());
    return m_filter->Block().Shared()->*which != 0;
}

bool CSimCamPin::IsConnected()
{
    CritSecLock dataGuard(m_filter->DataLock());
    const bool connected = m_connected.Get() != NULL;
    dataGuard.Unlock();
    return connected;
}

REFERENCE_TIME CSimCamPin::RateTime(const SimFormat &format, const SimDriverState &driver)
{
    const ULONG id = SimRateControl(format.width, format.height);
    for (int i = 0; id && i < CAMERA_CONTROL_COUNT; ++i) {
        const SimControl &c = driver.controls[i];
        if (c.id == id && c.value >= 0 && c.value < kSimRateCount)
            return SimRateTime(kSimRates[c.value]);
    }
    return format.frameTime;
}

REFERENCE_TIME CSimCamPin::RateTime(const SimFormat &format)
{
    SimCamLock lock(m_filter->Block());
    return RateTime(format, m_filter->DeviceLocked().driver);
}

// The configured format first, then (unless SetFormat chose one) the other
// sizes; a connection changes neither the list nor its order. Each at the
// interval the rate settings give it.
int CSimCamPin::OfferedFormats(SimFormat *formats, int capacity)
{
    int count = 0;
    CritSecLock dataGuard(m_filter->DataLock());
    if (capacity > 0)
        formats[count++] = m_format;
    if (!m_formatSet) {
        for (int i = 0; i < kSimFormatCount && count < capacity; ++i) {
            if (kSimFrameSizes[i].width == m_format.width &&
                kSimFrameSizes[i].height == m_format.height)
                continue;
            formats[count].width = kSimFrameSizes[i].width;
            formats[count].height = kSimFrameSizes[i].height;
            formats[count].frameTime = kSimDefaultFrameTime;
            ++count;
        }
    }
    dataGuard.Unlock();
    for (int i = 0; i < count; ++i)
        formats[i].frameTime = RateTime(formats[i]);
    return count;
}

void CSimCamPin::PublishFormat()
{
    CritSecLock dataGuard(m_filter->DataLock());
    const bool connected = m_connected.Get() != NULL;
    const SimFormat format = connected ? m_connFormat : m_format;
    dataGuard.Unlock();
    SimCamLock lock(m_filter->Block());
    SimCamShared *s = m_filter->Block().Shared();
    s->formatWidth = format.width;
    s->formatHeight = format.height;
    s->connected = connected ? 1 : 0;
}

// Connection: our own types first (the current format leading), then those
// the receiving pin proposes, as long as the camera can send them.
HRESULT STDMETHODCALLTYPE CSimCamPin::Connect(IPin *receivePin, const AM_MEDIA_TYPE *mt)
{
    if (!receivePin)
        return E_POINTER;
    HRESULT hr = VFW_E_NO_ACCEPTABLE_TYPES;
    if (SwitchOn(&SimCamShared::refuseConnection))
        return hr;
    CritSecLock stateGuard(&m_filter->m_stateLock);
    CritSecLock dataGuard(m_filter->DataLock());
    const bool connected = m_connected.Get() != NULL;
    const bool stopped = m_filter->StateLocked() == State_Stopped;
    const SimFormat current = m_format;
    const bool formatSet = m_formatSet;
    dataGuard.Unlock();
    if (connected) {
        hr = VFW_E_ALREADY_CONNECTED;
    } else if (!stopped) {
        hr = VFW_E_NOT_STOPPED;
    } else {
        SimFormat formats[kSimFormatCount];
        const int count = OfferedFormats(formats, kSimFormatCount);
        const bool zero = ZeroImageSize();
        for (int i = 0; i < count && FAILED(hr); ++i) {
            SimMediaType offered;
            if (FAILED(SimMakeMediaType(&offered, formats[i], zero)))
                break;
            if (SimPartialMatch(mt, &offered))
                hr = TryConnection(receivePin, &offered);
        }
        if (FAILED(hr))
            hr = TryProposals(receivePin, mt, current, formatSet);
    }
    stateGuard.Unlock();
    return hr;
}

// The receiving pin's proposals that the camera can send: RGB24 at an
// offered size (the configured one only, when SetFormat chose it).
HRESULT CSimCamPin::TryProposals(IPin *receivePin, const AM_MEDIA_TYPE *mt,
                                 const SimFormat &current, bool formatSet)
{
    HRESULT hr = VFW_E_NO_ACCEPTABLE_TYPES;
    ComPtr<IEnumMediaTypes> proposals;
    if (FAILED(receivePin->EnumMediaTypes(proposals.GetAddressOf())) || !proposals)
        return hr;
    AM_MEDIA_TYPE *next = NULL;
    while (FAILED(hr) && proposals->Next(1, &next, NULL) == S_OK) {
        const SimMediaTypePtr proposed(next);
        SimFormat format;
        const VIDEOINFOHEADER *vih = reinterpret_cast<const VIDEOINFOHEADER *>(proposed->pbFormat);
        if (SimPartialMatch(mt, proposed.get()) &&
            SimParseMediaType(proposed.get(), current.frameTime, &format) &&
            vih->bmiHeader.biBitCount == 24 && vih->bmiHeader.biCompression == BI_RGB &&
            (!formatSet || (format.width == current.width && format.height == current.height)))
            hr = TryConnection(receivePin, proposed.get());
    }
    return hr;
}

HRESULT CSimCamPin::TryConnection(IPin *receivePin, const AM_MEDIA_TYPE *mt)
{
    SimFormat format;
    if (!SimParseMediaType(mt, m_format.frameTime, &format))
        return VFW_E_TYPE_NOT_ACCEPTED;
    SimMediaType owned;
    HRESULT hr = SimCopyMediaType(&owned, mt);
    if (FAILED(hr))
        return hr;
    if (SwitchOn(&SimCamShared::cutFormatBlock))
        owned.cbFormat = FIELD_OFFSET(VIDEOINFOHEADER, bmiHeader);  // what is offered is cut
    const AM_MEDIA_TYPE copy = owned;  // the connection's type, owned by m_mt from here on
    CritSecLock dataGuard(m_filter->DataLock());
    m_connected = receivePin;
    m_mt.Swap(owned);
    dataGuard.Unlock();

    hr = receivePin->ReceiveConnection(this, &copy);
    const bool received = SUCCEEDED(hr);
    ComPtr<IMemInputPin> input;
    ComPtr<IMemAllocator> allocator;
    if (SUCCEEDED(hr))
        hr = receivePin->QueryInterface(IID_IMemInputPin,
                                        reinterpret_cast<void **>(input.GetAddressOf()));
    if (SUCCEEDED(hr))
        hr = DecideAllocator(input.Get(), SimFrameBytes(format.width, format.height),
                             allocator.GetAddressOf());
    if (FAILED(hr)) {
        if (received)
            receivePin->Disconnect();
        input.Reset();
        ComPtr<IPin> connected;
        SimMediaType dropped;
        CritSecLock dataGuard2(m_filter->DataLock());
        connected.Swap(m_connected);
        dropped.Swap(m_mt);
        dataGuard2.Unlock();
        dropped.Reset();
        connected.Reset();
        return hr;
    }
    CritSecLock dataGuard3(m_filter->DataLock());
    m_input.Swap(input);
    m_allocator.Swap(allocator);
    m_connFormat = format;
    dataGuard3.Unlock();
    PublishFormat();
    RecordConnection(receivePin, &copy);
    return S_OK;
}

void CSimCamPin::RecordConnection(IPin *receivePin, const AM_MEDIA_TYPE *mt)
{
    CLSID peer = GUID_NULL;
    WCHAR name[MAX_FILTER_NAME];
    name[0] = 0;
    {
        PIN_INFO info;
        ComPtr<IBaseFilter> filter;
        if (SUCCEEDED(SimQueryPinInfo(receivePin, &info, &filter)) && filter) {
            filter->GetClassID(&peer);
            SimFilterName(filter.Get(), name, ARRAYSIZE(name));
        }
    }
    SimCamLock lock(m_filter->Block());
    SimEvent &e = SimCamRecordEvent(m_filter->Block().Shared(), SIM_EVENT_CONNECT, m_filter->Id(),
                                    m_filter->StateLocked());
    e.peer = peer;
    lstrcpynW(e.text, name, ARRAYSIZE(e.text));
    SimCamRecordMediaType(&e.format, mt);
}

// The buffers hold a whole frame whatever the type says of its image size
// (an uncompressed type may give 0 there).
HRESULT CSimCamPin::DecideAllocator(IMemInputPin *input, ULONG frameBytes,
                                    IMemAllocator **allocator)
{
    ALLOCATOR_PROPERTIES wanted;
    memset(&wanted, 0, sizeof(wanted));
    input->GetAllocatorRequirements(&wanted);
    ALLOCATOR_PROPERTIES props;
    props.cBuffers = wanted.cBuffers > 3 ? wanted.cBuffers : 3;
    props.cbBuffer = wanted.cbBuffer > static_cast<LONG>(frameBytes)
                         ? wanted.cbBuffer
                         : static_cast<LONG>(frameBytes);
    props.cbAlign = wanted.cbAlign > 1 ? wanted.cbAlign : 1;
    props.cbPrefix = wanted.cbPrefix;

    HRESULT hr = E_FAIL;
    for (int attempt = 0; attempt < 2 && FAILED(hr); ++attempt) {
        ComPtr<IMemAllocator> candidate;
        if (attempt == 0)
            hr = input->GetAllocator(candidate.GetAddressOf());
        else
            hr = CoCreateInstance(CLSID_MemoryAllocator, NULL, CLSCTX_INPROC_SERVER,
                                  IID_IMemAllocator,
                                  reinterpret_cast<void **>(candidate.GetAddressOf()));
        if (FAILED(hr) || !candidate) {
            hr = FAILED(hr) ? hr : E_FAIL;
            continue;
        }
        ALLOCATOR_PROPERTIES actual;
        memset(&actual, 0, sizeof(actual));
        hr = candidate->SetProperties(&props, &actual);
        if (SUCCEEDED(hr) && actual.cbBuffer < static_cast<LONG>(frameBytes))
            hr = E_FAIL;
        if (SUCCEEDED(hr))
            hr = input->NotifyAllocator(candidate.Get(), FALSE);
        if (SUCCEEDED(hr))
            *allocator = candidate.Detach();
    }
    return hr;
}

void CSimCamPin::ReleaseConnection()
{
    ComPtr<IPin> connected;
    ComPtr<IMemInputPin> input;
    ComPtr<IMemAllocator> allocator;
    SimMediaType mt;
    CritSecLock dataGuard(m_filter->DataLock());
    connected.Swap(m_connected);
    input.Swap(m_input);
    allocator.Swap(m_allocator);
    mt.Swap(m_mt);
    dataGuard.Unlock();
    if (allocator)
        allocator->Decommit();
    allocator.Reset();
    input.Reset();
    connected.Reset();
    mt.Reset();
}

HRESULT STDMETHODCALLTYPE CSimCamPin::ReceiveConnection(IPin *, const AM_MEDIA_TYPE *)
{
    return E_UNEXPECTED;  // an output pin
}

HRESULT STDMETHODCALLTYPE CSimCamPin::Disconnect()
{
    HRESULT hr;
    CritSecLock stateGuard(&m_filter->m_stateLock);
    CritSecLock dataGuard(m_filter->DataLock());
    const bool stopped = m_filter->StateLocked() == State_Stopped;
    const bool connected = m_connected.Get() != NULL;
    dataGuard.Unlock();
    if (!stopped) {
        hr = VFW_E_NOT_STOPPED;
    } else if (!connected) {
        hr = S_FALSE;
    } else {
        ReleaseConnection();
        PublishFormat();
        hr = S_OK;
    }
    stateGuard.Unlock();
    return hr;
}

HRESULT STDMETHODCALLTYPE CSimCamPin::ConnectedTo(IPin **pin)
{
    if (!pin)
        return E_POINTER;
    CritSecLock dataGuard(m_filter->DataLock());
    m_connected.CopyTo(pin);
    dataGuard.Unlock();
    return *pin ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT STDMETHODCALLTYPE CSimCamPin::ConnectionMediaType(AM_MEDIA_TYPE *mt)
{
    if (!mt)
        return E_POINTER;
    HRESULT hr;
    CritSecLock dataGuard(m_filter->DataLock());
    if (m_connected) {
        hr = SimCopyMediaType(mt, &m_mt);
    } else {
        memset(mt, 0, sizeof(*mt));
        hr = VFW_E_NOT_CONNECTED;
    }
    dataGuard.Unlock();
    return hr;
}

HRESULT STDMETHODCALLTYPE CSimCamPin::QueryPinInfo(PIN_INFO *info)
{
    if (!info)
        return E_POINTER;
    info->pFilter = m_filter;
    m_filter->AddRef();
    info->dir = PINDIR_OUTPUT;
    lstrcpynW(info->achName, kPinName, ARRAYSIZE(info->achName));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSimCamPin::QueryDirection(PIN_DIRECTION *dir)
{
    if (!dir)
        return E_POINTER;
    *dir = PINDIR_OUTPUT;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSimCamPin::QueryId(LPWSTR *id)
{
    if (!id)
        return E_POINTER;
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof(kPinName)));
    if (!*id)
        return E_OUTOFMEMORY;
    memcpy(*id, kPinName, sizeof(kPinName));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSimCamPin::QueryAccept(const AM_MEDIA_TYPE *mt)
{
    if (!mt)
        return E_POINTER;
    return SimParseMediaType(mt, kSimDefaultFrameTime, NULL) ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CSimCamPin::EnumMediaTypes(IEnumMediaTypes **ppEnum)
{
    if (!ppEnum)
        return E_POINTER;
    SimFormat formats[kSimFormatCount];
    const int count = OfferedFormats(formats, kSimFormatCount);
    return SimCreateTypeEnum(this, formats, count, ZeroImageSize(), 0, ppEnum);
}

HRESULT STDMETHODCALLTYPE CSimCamPin::QueryInternalConnections(IPin **, ULONG *)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CSimCamPin::EndOfStream()
{
    return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE CSimCamPin::BeginFlush()
{
    return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE CSimCamPin::EndFlush()
{
    return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE CSimCamPin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double)
{
    return S_OK;
}

// The pin's category: what makes the capture graph builder treat it as a
// capture pin (and put a Smart Tee behind it for a preview stream).
HRESULT STDMETHODCALLTYPE CSimCamPin::Set(REFGUID set, DWORD, LPVOID, DWORD, LPVOID, DWORD)
{
    return IsEqualGUID(set, AMPROPSETID_Pin) ? E_PROP_ID_UNSUPPORTED : E_PROP_SET_UNSUPPORTED;
}

HRESULT STDMETHODCALLTYPE CSimCamPin::Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data,
                                          DWORD dataLength, DWORD *returned)
{
    if (!IsEqualGUID(set, AMPROPSETID_Pin))
        return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY)
        return E_PROP_ID_UNSUPPORTED;
    if (!data)
        return E_POINTER;
    if (dataLength < sizeof(GUID))
        return E_UNEXPECTED;
    memcpy(data, &PIN_CATEGORY_CAPTURE, sizeof(GUID));
    if (returned)
        *returned = sizeof(GUID);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSimCamPin::QuerySupported(REFGUID set, DWORD id, DWORD *support)
{
    if (!IsEqualGUID(set, AMPROPSETID_Pin))
        return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY)
        return E_PROP_ID_UNSUPPORTED;
    if (support)
        *support = KSPROPERTY_SUPPORT_GET;
    return S_OK;
}

// Every call is recorded with the type it was given and its result.
HRESULT STDMETHODCALLTYPE CSimCamPin::SetFormat(AM_MEDIA_TYPE *mt)
{
    const HRESULT hr = SetFormatLocked(mt);
    CritSecLock dataGuard(m_filter->DataLock());
    const FILTER_STATE state = m_filter->StateLocked();
    dataGuard.Unlock();
    SimCamLock lock(m_filter->Block());
    SimEvent &e =
        SimCamRecordEvent(m_filter->Block().Shared(), SIM_EVENT_SETFORMAT, m_filter->Id(), state);
    e.result = hr;
    SimCamRecordMediaType(&e.format, mt);
    return hr;
}

// A type the camera cannot send is refused with E_FAIL, as Windows' capture
// filters refuse it. A frame interval other than the current one, at a size
// whose rate is a camera setting, sets that setting to the nearest rate.
HRESULT CSimCamPin::SetFormatLocked(AM_MEDIA_TYPE *mt)
{
    if (!mt)
        return E_POINTER;
    {
        SimCamLock lock(m_filter->Block());
        const SimCamShared *s = m_filter->Block().Shared();
        if (s->refuseSetFormat)
            return s->refuseResult;
    }
    HRESULT hr = S_OK;
    CritSecLock stateGuard(&m_filter->m_stateLock);
    CritSecLock dataGuard(m_filter->DataLock());
    const bool stopped = m_filter->StateLocked() == State_Stopped;
    const bool connected = m_connected.Get() != NULL;
    const SimFormat previous = m_format;
    const SimFormat current = connected ? m_connFormat : m_format;
    const bool previousSet = m_formatSet;
    IFilterGraph *graph = m_filter->GraphLocked();
    dataGuard.Unlock();
    const REFERENCE_TIME currentTime = RateTime(current);
    SimFormat format;
    if (!SimParseMediaType(mt, 0, &format)) {
        hr = E_FAIL;
    } else if (!stopped) {
        hr = VFW_E_NOT_STOPPED;
    } else {
        if (format.frameTime == 0)
            format.frameTime = previous.frameTime;
        else if (format.frameTime != currentTime)
            SetRateSetting(format);
        CritSecLock dataGuard2(m_filter->DataLock());
        m_format = format;
        m_formatSet = true;
        dataGuard2.Unlock();
        const bool same = format.width == current.width && format.height == current.height &&
                          RateTime(format) == currentTime;
        if (connected && !same) {
            // Connected at another size: the graph connects the pin afresh,
            // now offering the new format only.
            hr = Reconnect(graph);
            if (FAILED(hr)) {
                CritSecLock dataGuard3(m_filter->DataLock());
                m_format = previous;
                m_formatSet = previousSet;
                dataGuard3.Unlock();
            }
        }
        PublishFormat();
    }
    stateGuard.Unlock();
    return hr;
}

// The rate setting of format's size (if its rate is one) nearest to its
// frame interval.
void CSimCamPin::SetRateSetting(const SimFormat &format)
{
    if (const ULONG id = SimRateControl(format.width, format.height)) {
        SimCamLock lock(m_filter->Block());
        SimDriver(&m_filter->DeviceLocked().driver).SetValue(id, SimNearestRate(format.frameTime));
    }
}

// Has the graph connect the pin afresh (VFW_E_ALREADY_CONNECTED without one).
HRESULT CSimCamPin::Reconnect(IFilterGraph *graph)
{
    if (!graph)
        return VFW_E_ALREADY_CONNECTED;
    ComPtr<IFilterGraph2> graph2;
    HRESULT hr =
        graph->QueryInterface(IID_IFilterGraph2, reinterpret_cast<void **>(graph2.GetAddressOf()));
    if (SUCCEEDED(hr))
        hr = graph2->ReconnectEx(this, NULL);
    return hr;
}

// Connected: the connection's type; otherwise the configured format.
HRESULT STDMETHODCALLTYPE CSimCamPin::GetFormat(AM_MEDIA_TYPE **mt)
{
    if (!mt)
        return E_POINTER;
    *mt = NULL;
    const bool zero = ZeroImageSize();
    CritSecLock dataGuard(m_filter->DataLock());
    SimFormat format = m_format;
    if (m_connected) {
        *mt = static_cast<AM_MEDIA_TYPE *>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        if (*mt && FAILED(SimCopyMediaType(*mt, &m_mt))) {
            CoTaskMemFree(*mt);
            *mt = NULL;
        }
        dataGuard.Unlock();
        return *mt ? S_OK : E_OUTOFMEMORY;
    }
    dataGuard.Unlock();
    format.frameTime = RateTime(format);
    *mt = SimCreateMediaType(format, zero);
    return *mt ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE CSimCamPin::GetNumberOfCapabilities(int *count, int *size)
{
    if (!count || !size)
        return E_POINTER;
    SimCamLock lock(m_filter->Block());
    const SimCamShared *s = m_filter->Block().Shared();
    *count = s->capsCount ? s->capsCount : static_cast<LONG>(kSimFormatCount);
    *size =
        s->capsRecordSize ? s->capsRecordSize : static_cast<LONG>(sizeof(VIDEO_STREAM_CONFIG_CAPS));
    return S_OK;
}

// Turns a capability's type into the odd entry a test's list asks for: a
// VIDEOINFOHEADER2 type, a format block one byte short, or none.
static HRESULT MakeOddEntry(AM_MEDIA_TYPE *mt, LONG entry)
{
    if (entry == SIM_CAPS_OTHER_TYPE) {
        VIDEOINFOHEADER2 *vih2 =
            static_cast<VIDEOINFOHEADER2 *>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER2)));
        if (!vih2)
            return E_OUTOFMEMORY;
        const VIDEOINFOHEADER *vih = reinterpret_cast<const VIDEOINFOHEADER *>(mt->pbFormat);
        memset(vih2, 0, sizeof(*vih2));
        vih2->rcSource = vih->rcSource;
        vih2->rcTarget = vih->rcTarget;
        vih2->AvgTimePerFrame = vih->AvgTimePerFrame;
        vih2->dwBitRate = vih->dwBitRate;
        vih2->bmiHeader = vih->bmiHeader;
        CoTaskMemFree(mt->pbFormat);
        mt->formattype = FORMAT_VideoInfo2;
        mt->pbFormat = reinterpret_cast<BYTE *>(vih2);
        mt->cbFormat = sizeof(*vih2);
    } else if (entry == SIM_CAPS_SHORT_FORMAT) {
        mt->cbFormat = sizeof(VIDEOINFOHEADER) - 1;
    } else if (entry == SIM_CAPS_NULL_FORMAT) {
        CoTaskMemFree(mt->pbFormat);
        mt->pbFormat = NULL;
    }
    return S_OK;
}

// The capability record of a size: that size only, any interval in the
// accepted range.
static void FillStreamCaps(BYTE *caps, const SimFormat &format, REFGUID formatType)
{
    VIDEO_STREAM_CONFIG_CAPS c;
    memset(&c, 0, sizeof(c));
    c.guid = formatType;
    const SIZE extent = {format.width, format.height};
    c.InputSize = c.MinCroppingSize = c.MaxCroppingSize = extent;
    c.MinOutputSize = c.MaxOutputSize = extent;
    c.CropGranularityX = c.CropGranularityY = 1;
    c.CropAlignX = c.CropAlignY = 1;
    c.MinFrameInterval = kSimMinFrameTime;
    c.MaxFrameInterval = kSimMaxFrameTime;
    const LONGLONG bits = static_cast<LONGLONG>(SimFrameBytes(format.width, format.height)) * 8;
    c.MinBitsPerSecond = static_cast<LONG>(bits * 10000000 / kSimMaxFrameTime);
    c.MaxBitsPerSecond = static_cast<LONG>(bits * 10000000 / kSimMinFrameTime);
    memcpy(caps, &c, sizeof(c));
}

// An index past the list gives S_FALSE, whatever the pointers (as on
// Windows); entries of a test's list that a reader must pass over come as
// that list says.
HRESULT STDMETHODCALLTYPE CSimCamPin::GetStreamCaps(int index, AM_MEDIA_TYPE **mt, BYTE *caps)
{
    LONG entry = index;
    {
        SimCamLock lock(m_filter->Block());
        const SimCamShared *s = m_filter->Block().Shared();
        const int count = s->capsCount ? s->capsCount : static_cast<LONG>(kSimFormatCount);
        if (index < 0 || index >= count)
            return S_FALSE;
        if (s->capsCount)
            entry = s->capsLayout[index];
    }
    if (!mt || !caps)
        return E_POINTER;
    *mt = NULL;
    if (entry == SIM_CAPS_FAILING)
        return E_FAIL;
    SimFormat format;
    const int size = entry >= 0 && entry < kSimFormatCount ? entry : 1;
    format.width = kSimFrameSizes[size].width;
    format.height = kSimFrameSizes[size].height;
    format.frameTime = kSimDefaultFrameTime;
    format.frameTime = RateTime(format);
    SimMediaTypePtr type(SimCreateMediaType(format, ZeroImageSize()));
    if (!type || FAILED(MakeOddEntry(type.get(), entry)))
        return E_OUTOFMEMORY;
    FillStreamCaps(caps, format, type->formattype);
    *mt = type.release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSimCamPin::Notify(IBaseFilter *, Quality)
{
    return S_OK;  // a camera cannot send fewer frames on request
}

HRESULT STDMETHODCALLTYPE CSimCamPin::SetSink(IQualityControl *)
{
    return S_OK;
}

// Streaming.

HRESULT CSimCamPin::Active()
{
    CritSecLock dataGuard(m_filter->DataLock());
    IMemAllocator *allocator = m_allocator.Get();
    dataGuard.Unlock();
    if (!allocator)
        return S_OK;  // not connected: nothing to send
    if (!m_snapshot) {
        m_snapshot = static_cast<SimDriverState *>(
            HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(SimDriverState)));
        if (!m_snapshot)
            return E_OUTOFMEMORY;
    }
    HRESULT hr = allocator->Commit();
    if (FAILED(hr))
        return hr;
    InterlockedExchange(&m_quit, 0);
    ResetEvent(m_wake);
    m_thread = CreateThread(NULL, 0, ThreadProc, this, 0, NULL);
    if (!m_thread) {
        hr = HRESULT_FROM_WIN32(GetLastError());
        allocator->Decommit();
        return hr;
    }
    return S_OK;
}

void CSimCamPin::Inactive()
{
    CritSecLock dataGuard(m_filter->DataLock());
    IMemAllocator *allocator = m_allocator.Get();
    IPin *connected = m_connected.Get();
    dataGuard.Unlock();
    if (!m_thread) {
        if (allocator)
            allocator->Decommit();
        return;
    }
    InterlockedExchange(&m_quit, 1);
    SetEvent(m_wake);
    // A thread waiting for a buffer gets VFW_E_NOT_COMMITTED at once.
    allocator->Decommit();
    if (WaitForSingleObject(m_thread, 5000) == WAIT_TIMEOUT && connected) {
        // The thread is held inside the downstream filter's Receive: a
        // flush makes the downstream let go of it.
        connected->BeginFlush();
        WaitForSingleObject(m_thread, INFINITE);
        connected->EndFlush();
    }
    CloseHandle(m_thread);
    m_thread = NULL;
}

void CSimCamPin::StateChanged()
{
    SetEvent(m_wake);
}

DWORD WINAPI CSimCamPin::ThreadProc(LPVOID param)
{
    HRESULT co = CoInitializeEx(NULL, COINIT_MULTITHREADED);
    static_cast<CSimCamPin *>(param)->Stream();
    if (SUCCEEDED(co))
        CoUninitialize();
    return 0;
}

// What a frame needs of the filter, read under its data lock.
struct CSimCamPin::StreamView {
    FILTER_STATE state = State_Stopped;
    REFERENCE_TIME start = 0;
    Microsoft::WRL::ComPtr<IReferenceClock> clock;
    SimFormat format = {};
    IMemInputPin *input = NULL;
    IMemAllocator *allocator = NULL;
};

// Sends one frame per frame interval while the filter runs. The interval is
// the rate setting's at the connected size (read afresh for every frame), or
// the format's; the pace comes from the performance counter, the time stamps
// from the graph's clock (stream time), or from the frame count when there
// is no clock. When the camera is unplugged the stream ends and the graph is
// told (EC_DEVICE_LOST, 0); when it comes back the graph is told again (1),
// and frames come with the next run.
void CSimCamPin::Stream()
{
    StreamState s;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    s.frequency = frequency.QuadPart;
    while (!m_quit) {
        WatchDevice(s);
        StreamView view;
        {
            CritSecLock dataGuard(m_filter->DataLock());
            view.state = m_filter->StateLocked();
            view.start = m_filter->StartTimeLocked();
            view.clock = m_filter->ClockLocked();
            view.format = m_connFormat;
            view.input = m_input.Get();
            view.allocator = m_allocator.Get();
        }
        const DWORD wait = TimeToWait(s, view);
        if (wait != 0)
            WaitForSingleObject(m_wake, wait);
        else
            SendFrame(s, view);
    }
}

// Tells the graph when the camera goes or comes back; either way the stream
// sends nothing more until the next run.
void CSimCamPin::WatchDevice(StreamState &s)
{
    bool unplugged;
    {
        SimCamLock lock(m_filter->Block());
        unplugged = m_filter->DeviceGoneLocked();
    }
    if (unplugged == s.lost)
        return;
    s.lost = unplugged;
    m_filter->RecordDeviceLost(s.lost ? 0 : 1);
    m_filter->NotifyEvent(
        EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(m_filter->ControllingUnknown()), s.lost ? 0 : 1);
    s.refused = true;
}

// How long to wait before the next frame is due, in milliseconds; 0 when it
// is due now. Takes the camera's settings as the frame will see them.
DWORD CSimCamPin::TimeToWait(StreamState &s, const StreamView &view)
{
    if (view.state != State_Running || s.refused || !view.input || !view.allocator) {
        if (view.state != State_Running && !s.lost) {
            s.running = false;
            s.refused = false;
        }
        // A lost camera is watched for its return.
        return s.lost || s.refused ? 20 : INFINITE;
    }
    if (!s.running && view.clock) {
        // Frames begin at stream time 0, when the graph's start time comes.
        REFERENCE_TIME clockNow = 0;
        if (SUCCEEDED(view.clock->GetTime(&clockNow)) && clockNow < view.start) {
            const DWORD wait = static_cast<DWORD>((view.start - clockNow) / 10000);
            return wait ? wait : 1;
        }
    }
    {
        // The settings as this frame sees them; the picture is drawn
        // without holding the camera's lock.
        SimCamLock lock(m_filter->Block());
        memcpy(m_snapshot, &m_filter->DeviceLocked().driver, offsetof(SimDriverState, log));
    }
    s.frameTime = RateTime(view.format, *m_snapshot);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    if (!s.running) {
        s.running = true;
        s.due = now.QuadPart;
        s.streamTime = 0;
        s.discontinuity = true;
    }
    if (s.due > now.QuadPart) {
        const DWORD wait = static_cast<DWORD>((s.due - now.QuadPart) * 1000 / s.frequency);
        return wait ? wait : 1;
    }
    if (now.QuadPart - s.due > s.frequency) {
        // Far behind (the downstream was slow for a second): keep the
        // pace from now on rather than sending a burst.
        s.due = now.QuadPart;
    }
    return 0;
}

// Fills a buffer with the next frame, stamps it and delivers it.
void CSimCamPin::SendFrame(StreamState &s, const StreamView &view)
{
    Microsoft::WRL::ComPtr<IMediaSample> sample;
    HRESULT hr = view.allocator->GetBuffer(sample.GetAddressOf(), NULL, NULL, 0);
    if (FAILED(hr) || !sample) {
        if (!m_quit)
            WaitForSingleObject(m_wake, 10);
        return;
    }
    BYTE *bits = NULL;
    const SimFormat &format = view.format;
    const ULONG bytes = SimFrameBytes(format.width, format.height);
    if (FAILED(sample->GetPointer(&bits)) || !bits ||
        sample->GetSize() < static_cast<long>(bytes)) {
        s.refused = true;
        return;
    }
    SimRenderFrame(bits, format.width, format.height, m_frameNumber, *m_snapshot);
    sample->SetActualDataLength(static_cast<long>(bytes));
    REFERENCE_TIME t0 = s.streamTime;
    REFERENCE_TIME clockNow = 0;
    if (view.clock && SUCCEEDED(view.clock->GetTime(&clockNow)))
        t0 = clockNow - view.start;
    REFERENCE_TIME t1 = t0 + s.frameTime;
    sample->SetTime(&t0, &t1);
    LONGLONG m0 = m_frameNumber, m1 = m_frameNumber + 1;
    sample->SetMediaTime(&m0, &m1);
    sample->SetSyncPoint(TRUE);
    sample->SetDiscontinuity(s.discontinuity ? TRUE : FALSE);
    sample->SetPreroll(FALSE);

    hr = view.input->Receive(sample.Get());
    sample.Reset();
    ++m_frameNumber;
    s.due += s.frameTime * s.frequency / 10000000;
    s.streamTime += s.frameTime;
    s.discontinuity = false;
    if (SUCCEEDED(hr)) {
        SimCamLock lock(m_filter->Block());
        ++m_filter->Block().Shared()->framesDelivered;
    }
    if (hr != S_OK)
        s.refused = true;
}
