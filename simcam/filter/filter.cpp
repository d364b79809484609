#include "filter.h"

#include <new>
#include <string.h>

#include "enums.h"
#include "graphinfo.h"
#include "handles.h"
#include "object.h"

using Microsoft::WRL::ComPtr;

static const WCHAR kMediaInterfacesKey[] = L"System\\CurrentControlSet\\Control\\MediaInterfaces";
static const WCHAR kMediaSetsKey[] = L"System\\CurrentControlSet\\Control\\MediaSets\\";

CSimCamFilter::CSimCamFilter()
    : m_cRef(1),  // held by Create until the object is complete
      m_state(State_Stopped), m_start(0), m_graph(NULL), m_sink(NULL), m_pin(this), m_hostedCount(0)
{
    m_name[0] = 0;
    InterlockedIncrement(&g_simObjects);
}

CSimCamFilter::~CSimCamFilter()
{
    // An application may let the filter go without stopping it; that is not
    // a Stop call of its own, so it is not recorded as one.
    StopStreaming();
    m_pin.Disconnect();

    // The inner objects go first, while the filter is still whole: they may
    // call back into it as they go. The count stays above zero meanwhile.
    m_cRef = 1;
    for (int i = m_hostedCount - 1; i >= 0; --i)
        m_hosted[i].inner.Reset();
    m_hostedCount = 0;

    m_clock.Reset();
    InterlockedDecrement(&g_simObjects);
    // The camera link records the release as it goes, after the pin.
}

HRESULT CSimCamFilter::Create(REFIID riid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = NULL;
    CSimCamFilter *filter = new (std::nothrow) CSimCamFilter();
    if (!filter)
        return E_OUTOFMEMORY;
    ComPtr<IBaseFilter> creation;  // the creation reference, dropped on return
    *creation.ReleaseAndGetAddressOf() = filter;
    HRESULT hr = filter->Init();
    if (SUCCEEDED(hr))
        hr = filter->QueryInterface(riid, ppv);
    return hr;
}

HRESULT CSimCamFilter::Init()
{
    const HRESULT hr = m_camera.Open();
    if (FAILED(hr))
        return hr;
    HostExtensions();
    return S_OK;
}

bool CSimCamFilter::DriverSupportsSet(REFGUID set)
{
    return IsEqualGUID(set, CameraPropertySet) != 0;
}

// Calls each(name) for every subkey of key, in order, until it returns false.
template <class Each> static void ForEachSubkey(HKEY key, Each each)
{
    for (DWORD index = 0;; ++index) {
        WCHAR name[64];
        DWORD nameLength = ARRAYSIZE(name);
        const LONG rc = RegEnumKeyExW(key, index, name, &nameLength, NULL, NULL, NULL, NULL);
        if (rc == ERROR_MORE_DATA)
            continue;
        if (rc != ERROR_SUCCESS || !each(name))
            return;
    }
}

// For each extension key whose name is a property set the driver supports,
// the class of that name is created aggregated into the filter and answers
// for the interface named by the key's "IID" value.
void CSimCamFilter::HostExtensions()
{
    RegKey root;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMediaInterfacesKey, 0, KEY_READ, root.Put()) !=
        ERROR_SUCCESS)
        return;
    ForEachSubkey(root.Get(), [&](const WCHAR *name) {
        CLSID clsid;
        IID iid;
        DWORD type = 0, size = sizeof(iid);
        if (FAILED(CLSIDFromString(name, &clsid)) || !DriverSupportsSet(clsid) ||
            RegGetValueW(root.Get(), name, L"IID", RRF_RT_REG_BINARY, &type, &iid, &size) !=
                ERROR_SUCCESS ||
            size != sizeof(iid))
            return true;
        ComPtr<IUnknown> inner;
        const HRESULT hr =
            CoCreateInstance(clsid, ControllingUnknown(), CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void **>(inner.GetAddressOf()));
        if (SUCCEEDED(hr) && inner) {
            m_hosted[m_hostedCount].iid = iid;
            m_hosted[m_hostedCount].inner.Swap(inner);
            ++m_hostedCount;
        }
        return m_hostedCount < kMaxHosted;
    });
}

FILTER_STATE CSimCamFilter::State()
{
    SimHold data(m_dataLock);
    return m_state;
}

IFilterGraph *CSimCamFilter::Graph()
{
    SimHold data(m_dataLock);
    return m_graph;
}

void CSimCamFilter::ReadRun(SimStreamView *view)
{
    SimHold data(m_dataLock);
    view->state = m_state;
    view->start = m_start;
    view->clock = m_clock;
}

void CSimCamFilter::Record(ULONG kind, const SimEventNote &note)
{
    m_camera.Record(kind, State(), note);
}

// The stream saw the camera go (0) or come back (1); from then on the
// filter is refused a stream, as a device filter whose device went is.
void CSimCamFilter::CameraLost(bool gone)
{
    m_camera.NoteLost();
    SimEventNote note;
    note.result = gone ? 0 : 1;
    Record(SIM_EVENT_DEVICE_LOST, note);
    NotifyEvent(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(ControllingUnknown()), gone ? 0 : 1);
}

void CSimCamFilter::NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2)
{
    IMediaEventSink *sink;
    {
        SimHold data(m_dataLock);
        sink = m_sink;
    }
    if (sink)
        sink->Notify(code, param1, param2);
}

// The filter graph's reference count, read by taking and dropping one
// reference (the graph pointer is not one of the filter's own references).
ULONG CSimCamFilter::GraphReferences()
{
    IFilterGraph *graph = Graph();
    if (!graph)
        return 0;
    ComPtr<IFilterGraph> counted(graph);
    return counted.Reset();
}

HRESULT STDMETHODCALLTYPE CSimCamFilter::QueryInterface(REFIID riid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = NULL;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBaseFilter) ||
        IsEqualIID(riid, IID_IMediaFilter) || IsEqualIID(riid, IID_IPersist))
        *ppv = static_cast<IBaseFilter *>(this);
    else if (IsEqualIID(riid, IID_IAMFilterMiscFlags))
        *ppv = static_cast<IAMFilterMiscFlags *>(this);
    else if (IsEqualIID(riid, IID_IKsPropertySet))
        *ppv = static_cast<IKsPropertySet *>(this);
    else if (IsEqualIID(riid, IID_ISpecifyPropertyPages))
        *ppv = static_cast<ISpecifyPropertyPages *>(this);
    else if (IsEqualIID(riid, IID_IPersistPropertyBag))
        *ppv = static_cast<IPersistPropertyBag *>(this);
    if (*ppv) {
        AddRef();
        return S_OK;
    }
    for (int i = 0; i < m_hostedCount; ++i)
        if (IsEqualIID(riid, m_hosted[i].iid))
            return m_hosted[i].inner->QueryInterface(riid, ppv);
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CSimCamFilter::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

ULONG STDMETHODCALLTYPE CSimCamFilter::Release()
{
    LONG count = InterlockedDecrement(&m_cRef);
    if (count == 0) {
        delete this;
        return 0;
    }
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE CSimCamFilter::GetClassID(CLSID *clsid)
{
    if (!clsid)
        return E_POINTER;
    *clsid = CLSID_SimCamFilter;
    return S_OK;
}

void CSimCamFilter::StopStreaming()
{
    SimHold state(m_stateLock);
    FILTER_STATE previous;
    {
        SimHold data(m_dataLock);
        previous = m_state;
        m_state = State_Stopped;
    }
    if (previous != State_Stopped)
        m_pin.Inactive();
    m_claim.reset();
}

HRESULT STDMETHODCALLTYPE CSimCamFilter::Stop()
{
    StopStreaming();
    SimEventNote note;
    note.graphRefs = GraphReferences();
    Record(SIM_EVENT_STOP, note);
    return S_OK;
}

// Paused or running, recorded with the stream's way down when the stream
// started. Windows' capture filters answer S_OK from Pause as from Run: a
// client may accept nothing else. That a paused live source sends nothing
// is GetState's to say.
HRESULT CSimCamFilter::Start(FILTER_STATE target, const REFERENCE_TIME *start)
{
    FILTER_STATE previous;
    bool connected;
    const HRESULT hr = ChangeState(target, start, &previous, &connected);
    WCHAR path[64] = {0};
    if (previous == State_Stopped && connected && SUCCEEDED(hr))
        SimDescribeDownstream(&m_pin, path, ARRAYSIZE(path));
    SimEventNote note;
    note.result = hr;
    note.text = path;
    Record(target == State_Running ? SIM_EVENT_RUN : SIM_EVENT_PAUSE, note);
    return hr;
}

// Leaving the stopped state, the pin gets ready; a connected pin takes the
// camera when it first runs (refused while the camera is gone or in use:
// the filter stays where it was, so the graph's stop finds every filter in
// step). Then the new state (and, when running, its start time) is taken.
HRESULT CSimCamFilter::ChangeState(FILTER_STATE target, const REFERENCE_TIME *start,
                                   FILTER_STATE *previous, bool *connected)
{
    SimHold state(m_stateLock);
    *previous = State();
    *connected = m_pin.IsConnected();
    HRESULT hr = S_OK;
    if (*previous == State_Stopped)
        hr = m_pin.Active();
    if (SUCCEEDED(hr) && target == State_Running && *connected && !m_claim) {
        hr = m_camera.Claim();
        if (SUCCEEDED(hr))
            m_claim.reset(&m_camera);
        else if (*previous == State_Stopped)
            m_pin.Inactive();
    }
    if (FAILED(hr))
        return hr;
    {
        SimHold data(m_dataLock);
        if (start)
            m_start = *start;
        m_state = target;
    }
    m_pin.StateChanged();
    return hr;
}

HRESULT STDMETHODCALLTYPE CSimCamFilter::Pause()
{
    return Start(State_Paused, NULL);
}

HRESULT STDMETHODCALLTYPE CSimCamFilter::Run(REFERENCE_TIME start)
{
    return Start(State_Running, &start);
}

// A paused live source cannot cue data: it says so while connected (an
// unconnected one has nothing to cue).
HRESULT STDMETHODCALLTYPE CSimCamFilter::GetState(DWORD, FILTER_STATE *state)
{
    if (!state)
        return E_POINTER;
    *state = State();
    return *state == State_Paused && m_pin.IsConnected() ? VFW_S_CANT_CUE : S_OK;
}

HRESULT STDMETHODCALLTYPE CSimCamFilter::SetSyncSource(IReferenceClock *clock)
{
    ComPtr<IReferenceClock> old(clock);
    {
        SimHold data(m_dataLock);
        old.Swap(m_clock);
    }
    return S_OK;  // the old clock goes outside the lock
}

HRESULT STDMETHODCALLTYPE CSimCamFilter::GetSyncSource(IReferenceClock **clock)
{
    if (!clock)
        return E_POINTER;
    SimHold data(m_dataLock);
    m_clock.CopyTo(clock);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSimCamFilter::EnumPins(IEnumPins **ppEnum)
{
    return SimCreatePinEnum(&m_pin, 0, ppEnum);
}

HRESULT STDMETHODCALLTYPE CSimCamFilter::FindPin(LPCWSTR id, IPin **pin)
{
    if (!id || !pin)
        return E_POINTER;
    *pin = NULL;
    if (lstrcmpW(id, L"Capture") != 0)
        return VFW_E_NOT_FOUND;
    *pin = &m_pin;
    m_pin.AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSimCamFilter::QueryFilterInfo(FILTER_INFO *info)
{
    if (!info)
        return E_POINTER;
    SimHold data(m_dataLock);
    lstrcpynW(info->achName, m_name, ARRAYSIZE(info->achName));
    info->pGraph = m_graph;
    if (m_graph)
        m_graph->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSimCamFilter::JoinFilterGraph(IFilterGraph *graph, LPCWSTR name)
{
    // The graph's event sink is held without a reference, as the graph is.
    IMediaEventSink *sink = NULL;
    if (graph) {
        ComPtr<IMediaEventSink> counted;
        if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink,
                                            reinterpret_cast<void **>(counted.GetAddressOf()))))
            sink = counted.Get();
    }
    {
        SimHold state(m_stateLock);
        SimHold data(m_dataLock);
        m_graph = graph;
        m_sink = sink;
        if (graph && name)
            lstrcpynW(m_name, name, ARRAYSIZE(m_name));
        else
            m_name[0] = 0;
    }
    if (graph) {
        SimEventNote note;
        note.text = name ? name : L"";
        Record(SIM_EVENT_JOIN, note);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSimCamFilter::QueryVendorInfo(LPWSTR *info)
{
    if (info)
        *info = NULL;
    return E_NOTIMPL;
}

ULONG STDMETHODCALLTYPE CSimCamFilter::GetMiscFlags()
{
    return AM_FILTER_MISC_FLAGS_IS_SOURCE;
}

HRESULT STDMETHODCALLTYPE CSimCamFilter::Set(REFGUID set, DWORD id, LPVOID instance,
                                             DWORD instanceLength, LPVOID data, DWORD dataLength)
{
    if (!DriverSupportsSet(set))
        return E_PROP_SET_UNSUPPORTED;
    return m_camera.Send([&](SimDriver &driver) {
        return driver.Set(set, id, instance, instanceLength, data, dataLength);
    });
}

HRESULT STDMETHODCALLTYPE CSimCamFilter::Get(REFGUID set, DWORD id, LPVOID instance,
                                             DWORD instanceLength, LPVOID data, DWORD dataLength,
                                             DWORD *returned)
{
    if (!DriverSupportsSet(set))
        return E_PROP_SET_UNSUPPORTED;
    return m_camera.Send([&](SimDriver &driver) {
        return driver.Get(set, id, instance, instanceLength, data, dataLength, returned);
    });
}

HRESULT STDMETHODCALLTYPE CSimCamFilter::QuerySupported(REFGUID set, DWORD id, DWORD *support)
{
    if (!DriverSupportsSet(set))
        return E_PROP_SET_UNSUPPORTED;
    if (id > VALUE50H)
        return E_PROP_ID_UNSUPPORTED;
    if (!support)
        return E_POINTER;
    // SET_ENABLE (property 1) is a set only.
    *support =
        id == VALUE20H ? KSPROPERTY_SUPPORT_SET : (KSPROPERTY_SUPPORT_GET | KSPROPERTY_SUPPORT_SET);
    return S_OK;
}

// The pages registered for every property set the driver supports.
HRESULT STDMETHODCALLTYPE CSimCamFilter::GetPages(CAUUID *pages)
{
    if (!pages)
        return E_POINTER;
    pages->cElems = 0;
    pages->pElems = NULL;
    enum { kMaxPages = 16 };
    GUID found[kMaxPages];
    ULONG count = 0;
    const GUID *sets[] = {&CameraPropertySet};
    for (size_t s = 0; s < ARRAYSIZE(sets); ++s) {
        WCHAR path[256];
        WCHAR setName[40];
        if (!StringFromGUID2(*sets[s], setName, ARRAYSIZE(setName)))
            continue;
        lstrcpyW(path, kMediaSetsKey);
        lstrcatW(path, setName);
        lstrcatW(path, L"\\PropertyPages");
        RegKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
            continue;
        ForEachSubkey(key.Get(), [&](const WCHAR *name) {
            CLSID page;
            if (SUCCEEDED(CLSIDFromString(name, &page)))
                found[count++] = page;
            return count < kMaxPages;
        });
    }
    if (count) {
        pages->pElems = static_cast<GUID *>(CoTaskMemAlloc(count * sizeof(GUID)));
        if (!pages->pElems)
            return E_OUTOFMEMORY;
        memcpy(pages->pElems, found, count * sizeof(GUID));
        pages->cElems = count;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSimCamFilter::InitNew()
{
    return S_OK;
}

// The moniker's bag names the device by its path. A bag without one (an
// entry not of the table's making) leaves the filter on device 0.
HRESULT STDMETHODCALLTYPE CSimCamFilter::Load(IPropertyBag *bag, IErrorLog *log)
{
    if (!bag)
        return E_POINTER;
    const int device = SimCamBagDevice(bag, log, 0);
    if (device < 0)
        return E_INVALIDARG;
    return m_camera.Bind(static_cast<ULONG>(device));
}

HRESULT STDMETHODCALLTYPE CSimCamFilter::Save(IPropertyBag *, BOOL, BOOL)
{
    return S_OK;
}
