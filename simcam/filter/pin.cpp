// The pin as an IPin: connecting, the types it offers, its category, and
// the streaming thread's view of it. IAMStreamConfig is in streamconfig.cpp.
#include "pin.h"

#include <stddef.h>
#include <string.h>

#include "enums.h"
#include "graphinfo.h"
#include "picture.h"

using Microsoft::WRL::ComPtr;

static const WCHAR kPinName[] = L"Capture";

CSimCamPin::CSimCamPin(SimPinHost *host) : m_host(host), m_formatSet(false), m_stream(this)
{
    m_format.width = kSimFrameSizes[0].width;
    m_format.height = kSimFrameSizes[0].height;
    m_format.frameTime = kSimDefaultFrameTime;
    m_connFormat = m_format;
}

CSimCamPin::~CSimCamPin()
{
    m_mt.Reset();
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
    else if (IsEqualIID(riid, IID_IAMStreamConfig) &&
             !m_host->Camera().Switch(SIM_SWITCH_NO_STREAM_CONFIG))
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
    return m_host->Filter()->AddRef();
}

ULONG STDMETHODCALLTYPE CSimCamPin::Release()
{
    return m_host->Filter()->Release();
}

bool CSimCamPin::IsConnected()
{
    SimHold data(m_dataLock);
    return m_connected.Get() != NULL;
}

// The configured format first, then (unless SetFormat chose one) the other
// sizes; a connection changes neither the list nor its order. Each at the
// interval the rate settings give it.
int CSimCamPin::OfferedFormats(SimFormat *formats, int capacity)
{
    int count = 0;
    {
        SimHold data(m_dataLock);
        if (capacity > 0)
            formats[count++] = m_format;
        for (int i = 0; !m_formatSet && i < kSimFormatCount && count < capacity; ++i) {
            if (kSimFrameSizes[i].width == m_format.width &&
                kSimFrameSizes[i].height == m_format.height)
                continue;
            formats[count].width = kSimFrameSizes[i].width;
            formats[count].height = kSimFrameSizes[i].height;
            formats[count].frameTime = kSimDefaultFrameTime;
            ++count;
        }
    }
    for (int i = 0; i < count; ++i)
        formats[i].frameTime = m_host->Camera().FrameTime(formats[i]);
    return count;
}

void CSimCamPin::PublishFormat()
{
    SimFormat format;
    {
        SimHold data(m_dataLock);
        format = m_connected ? m_connFormat : m_format;
    }
    m_host->Camera().PublishFormat(format);
}

// Connection: our own types first (the current format leading), then those
// the receiving pin proposes, as long as the camera can send them.
HRESULT STDMETHODCALLTYPE CSimCamPin::Connect(IPin *receivePin, const AM_MEDIA_TYPE *mt)
{
    if (!receivePin)
        return E_POINTER;
    if (m_host->Camera().Switch(SIM_SWITCH_REFUSE_CONNECTION))
        return VFW_E_NO_ACCEPTABLE_TYPES;
    SimHold state(m_host->StateLock());
    if (IsConnected())
        return VFW_E_ALREADY_CONNECTED;
    if (m_host->State() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    return ConnectStopped(receivePin, mt);
}

// Connect's work once it may connect (the state lock held).
HRESULT CSimCamPin::ConnectStopped(IPin *receivePin, const AM_MEDIA_TYPE *mt)
{
    Configured configured;
    {
        SimHold data(m_dataLock);
        configured = {m_format, m_formatSet};
    }
    HRESULT hr = TryOffers(receivePin, mt);
    if (FAILED(hr))
        hr = TryProposals(receivePin, mt, configured);
    return hr;
}

// The types the pin offers, in order, that mt admits.
HRESULT CSimCamPin::TryOffers(IPin *receivePin, const AM_MEDIA_TYPE *mt)
{
    HRESULT hr = VFW_E_NO_ACCEPTABLE_TYPES;
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
    return hr;
}

// The receiving pin's proposals that the camera can send: RGB24 at an
// offered size (the configured one only, when SetFormat chose it).
HRESULT CSimCamPin::TryProposals(IPin *receivePin, const AM_MEDIA_TYPE *mt,
                                 const Configured &configured)
{
    HRESULT hr = VFW_E_NO_ACCEPTABLE_TYPES;
    ComPtr<IEnumMediaTypes> proposals;
    if (FAILED(receivePin->EnumMediaTypes(proposals.GetAddressOf())) || !proposals)
        return hr;
    const SimFormat &current = configured.format;
    AM_MEDIA_TYPE *next = NULL;
    while (FAILED(hr) && proposals->Next(1, &next, NULL) == S_OK) {
        const SimMediaTypePtr proposed(next);
        SimFormat format;
        if (SimPartialMatch(mt, proposed.get()) &&
            SimParseProposal(proposed.get(), current.frameTime, &format) &&
            (!configured.formatSet ||
             (format.width == current.width && format.height == current.height)))
            hr = TryConnection(receivePin, proposed.get());
    }
    return hr;
}

HRESULT CSimCamPin::TryConnection(IPin *receivePin, const AM_MEDIA_TYPE *mt)
{
    SimFormat format;
    REFERENCE_TIME frameTime;
    {
        SimHold data(m_dataLock);
        frameTime = m_format.frameTime;
    }
    if (!SimParseMediaType(mt, frameTime, &format))
        return VFW_E_TYPE_NOT_ACCEPTED;
    SimMediaType owned;
    HRESULT hr = SimCopyMediaType(&owned, mt);
    if (FAILED(hr))
        return hr;
    if (m_host->Camera().Switch(SIM_SWITCH_CUT_FORMAT_BLOCK))
        owned.cbFormat = FIELD_OFFSET(VIDEOINFOHEADER, bmiHeader);  // what is offered is cut
    const AM_MEDIA_TYPE copy = owned;  // the connection's type, owned by m_mt from here on
    {
        SimHold data(m_dataLock);
        m_connected = receivePin;
        m_mt.Swap(owned);
    }
    const HRESULT received = receivePin->ReceiveConnection(this, &copy);
    hr = SUCCEEDED(received) ? Attach(receivePin, format) : received;
    if (FAILED(hr)) {
        if (SUCCEEDED(received))
            receivePin->Disconnect();
        ReleaseConnection();
        return hr;
    }
    PublishFormat();
    RecordConnection(receivePin, &copy);
    return S_OK;
}

// The buffers hold a whole frame whatever the type says of its image size
// (an uncompressed type may give 0 there).
static HRESULT DecideAllocator(IMemInputPin *input, ULONG frameBytes, IMemAllocator **allocator)
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

// The receiving pin took the type: its input and an allocator for frames of
// format complete the connection.
HRESULT CSimCamPin::Attach(IPin *receivePin, const SimFormat &format)
{
    ComPtr<IMemInputPin> input;
    ComPtr<IMemAllocator> allocator;
    HRESULT hr = receivePin->QueryInterface(IID_IMemInputPin,
                                            reinterpret_cast<void **>(input.GetAddressOf()));
    if (SUCCEEDED(hr))
        hr = DecideAllocator(input.Get(), SimFrameBytes(format.width, format.height),
                             allocator.GetAddressOf());
    if (FAILED(hr))
        return hr;
    SimHold data(m_dataLock);
    m_input.Swap(input);
    m_allocator.Swap(allocator);
    m_connFormat = format;
    return S_OK;
}

void CSimCamPin::RecordConnection(IPin *receivePin, const AM_MEDIA_TYPE *mt)
{
    CLSID peer;
    WCHAR name[MAX_FILTER_NAME];
    SimPeerFilter(receivePin, &peer, name, ARRAYSIZE(name));
    SimEventNote note;
    note.peer = &peer;
    note.text = name;
    note.format = mt;
    m_host->Camera().Record(SIM_EVENT_CONNECT, m_host->State(), note);
}

void CSimCamPin::ReleaseConnection()
{
    ComPtr<IPin> connected;
    ComPtr<IMemInputPin> input;
    ComPtr<IMemAllocator> allocator;
    SimMediaType mt;
    {
        SimHold data(m_dataLock);
        connected.Swap(m_connected);
        input.Swap(m_input);
        allocator.Swap(m_allocator);
        mt.Swap(m_mt);
    }
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
    SimHold state(m_host->StateLock());
    if (m_host->State() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    if (!IsConnected())
        return S_FALSE;
    ReleaseConnection();
    PublishFormat();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSimCamPin::ConnectedTo(IPin **pin)
{
    if (!pin)
        return E_POINTER;
    SimHold data(m_dataLock);
    m_connected.CopyTo(pin);
    return *pin ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT STDMETHODCALLTYPE CSimCamPin::ConnectionMediaType(AM_MEDIA_TYPE *mt)
{
    if (!mt)
        return E_POINTER;
    SimHold data(m_dataLock);
    if (m_connected)
        return SimCopyMediaType(mt, &m_mt);
    memset(mt, 0, sizeof(*mt));
    return VFW_E_NOT_CONNECTED;
}

HRESULT STDMETHODCALLTYPE CSimCamPin::QueryPinInfo(PIN_INFO *info)
{
    if (!info)
        return E_POINTER;
    info->pFilter = m_host->Filter();
    info->pFilter->AddRef();
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

HRESULT STDMETHODCALLTYPE CSimCamPin::Set(REFGUID set, DWORD, LPVOID, DWORD, LPVOID, DWORD)
{
    return IsEqualGUID(set, AMPROPSETID_Pin) ? E_PROP_ID_UNSUPPORTED : E_PROP_SET_UNSUPPORTED;
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
    IMemAllocator *allocator;
    {
        SimHold data(m_dataLock);
        allocator = m_allocator.Get();
    }
    if (!allocator)
        return S_OK;  // not connected: nothing to send
    return m_stream.Start(allocator);
}

void CSimCamPin::Inactive()
{
    IMemAllocator *allocator;
    IPin *connected;
    {
        SimHold data(m_dataLock);
        allocator = m_allocator.Get();
        connected = m_connected.Get();
    }
    m_stream.Stop(allocator, connected);
}

void CSimCamPin::ReadView(SimStreamView *view)
{
    m_host->ReadRun(view);
    SimHold data(m_dataLock);
    view->format = m_connFormat;
    view->input = m_input.Get();
    view->allocator = m_allocator.Get();
}

void CSimCamPin::ReadSettings(SimDriverState *settings)
{
    m_host->Camera().ReadSettings(settings);
}
