#include "filter.h"

#include <new>
#include <string.h>

#include "handles.h"

using Microsoft::WRL::ComPtr;

volatile LONG g_simObjects = 0;
volatile LONG g_simLocks = 0;

static const WCHAR kMediaInterfacesKey[] = L"System\\CurrentControlSet\\Control\\MediaInterfaces";
static const WCHAR kMediaSetsKey[] = L"System\\CurrentControlSet\\Control\\MediaSets\\";

CSimCamFilter::CSimCamFilter()
    : m_cRef(1),  // held by Create until the object is complete
      m_state(State_Stopped), m_start(0), m_graph(NULL), m_sink(NULL), m_id(0), m_device(0),
      m_serial(0), m_ownsCamera(false), m_lostDevice(0), m_pin(this), m_hostedCount(0)
{
    InitializeCriticalSection(&m_stateLock);
    InitializeCriticalSection(&m_dataLock);
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
    if (m_block.IsOpen() && m_id) {  // a filter refused at creation was never counted
        SimCamLock lock(m_block);
        SimCamRecordEvent(m_block.Shared(), SIM_EVENT_RELEASE, m_id, State_Stopped);
        --m_block.Shared()->filtersAlive;
    }
    DeleteCriticalSection(&m_dataLock);
    DeleteCriticalSection(&m_stateLock);
    InterlockedDecrement(&g_simObjects);
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
    if (!m_block.Open())
        return HRESULT_FROM_WIN32(GetLastError() ? GetLastError() : ERROR_GEN_FAILURE);
    {
        SimCamLock lock(m_block);
        SimCamShared *s = m_block.Shared();
        // Which camera the filter is for comes later, with its moniker's
        // bag: with none plugged in, it can be for none.
        bool plugged = false;
        for (const SimCamDevice &d : s->devices)
            plugged = plugged || (d.inTable && !d.unplugged);
        if (!plugged)
            return SIMCAM_E_DEVICE_GONE;  // a moniker of a camera that has gone
        m_serial = s->devices[0].serial;
        m_id = static_cast<ULONG>(++s->nextFilterId);
        ++s->filtersAlive;
        SimCamRecordEvent(s, SIM_EVENT_CREATE, m_id, State_Stopped).device = m_device;
    }
    HostExtensions();
    return S_OK;
}

bool CSimCamFilter::DeviceGoneLocked()
{
    const SimCamDevice &d = DeviceLocked();
    return !d.inTable || d.serial != m_serial || d.unplugged;
}

bool CSimCamFilter::DriverSupportsSet(REFGUID set)
{
    return IsEqualGUID(set, CameraPropertySet) != 0;
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
    for (DWORD index = 0; m_hostedCount < kMaxHosted; ++index) {
        WCHAR name[64];
        DWORD nameLength = ARRAYSIZE(name);
        LONG rc = RegEnumKeyExW(root.Get(), index, name, &nameLength, NULL, NULL, NULL, NULL);
        if (rc == ERROR_MORE_DATA)
            continue;
        if (rc != ERROR_SUCCESS)
            break;
        CLSID clsid;
        if (FAILED(CLSIDFromString(name, &clsid)) || !DriverSupportsSet(clsid))
            continue;
        IID iid;
        DWORD type = 0, size = sizeof(iid);
        if (RegGetValueW(root.Get(), name, L"IID", RRF_RT_REG_BINARY, &type, &iid, &size) !=
                ERROR_SUCCESS ||
            size != sizeof(iid))
            continue;
        ComPtr<IUnknown> inner;
        HRESULT hr =
            CoCreateInstance(clsid, ControllingUnknown(), CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void **>(inner.GetAddressOf()));
        if (SUCCEEDED(hr) && inner) {
            m_hosted[m_hostedCount].iid = iid;
            m_hosted[m_hostedCount].inner.Swap(inner);
            ++m_hostedCount;
        }
    }
}

void CSimCamFilter::RecordEvent(ULONG kind, ULONG graphRefs, HRESULT result, const WCHAR *text)
{
    FILTER_STATE state;
    CritSecLock dataGuard(&m_dataLock);
    state = m_state;
    dataGuard.Unlock();
    SimCamLock lock(m_block);
    SimEvent &e =
        SimCamRecordEvent(m_block.Shared(), kind, m_id, static_cast<ULONG>(state), graphRefs);
    e.device = m_device;
    e.result = result;
    if (text)
        lstrcpynW(e.text, text, ARRAYSIZE(e.text));
}

void CSimCamFilter::RecordDeviceLost(LONG param2)
{
    m_lostDevice = 1;
    RecordEvent(SIM_EVENT_DEVICE_LOST, 0, param2);
}

void CSimCamFilter::NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2)
{
    CritSecLock dataGuard(&m_dataLock);
    IMediaEventSink *sink = m_sink;
    dataGuard.Unlock();
    if (sink)
        sink->Notify(code, param1, param2);
}

static bool ProcessAlive(ULONG pid)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process)
        return false;
    const bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return alive;
}

// A stream needs the camera to itself: it is refused while the camera is
// gone, busy elsewhere, or streaming to another filter whose process lives.
HRESULT CSimCamFilter::AcquireCamera()
{
    SimCamLock lock(m_block);
    if (DeviceGoneLocked() || m_lostDevice)
        return SIMCAM_E_DEVICE_GONE;
    SimCamDevice &d = DeviceLocked();
    if (d.busy)
        return SIMCAM_E_DEVICE_BUSY;
    if (d.ownerFilter && d.ownerFilter != m_id && ProcessAlive(d.ownerProcess))
        return SIMCAM_E_DEVICE_BUSY;
    d.ownerFilter = m_id;
    d.ownerProcess = GetCurrentProcessId();
    return S_OK;
}

void CSimCamFilter::ReleaseCamera()
{
    SimCamLock lock(m_block);
    SimCamDevice &d = DeviceLocked();
    if (d.ownerFilter == m_id && d.ownerProcess == GetCurrentProcessId())
        d.ownerFilter = 0;
}

HRESULT SimQueryPinInfo(IPin *pin, PIN_INFO *info, ComPtr<IBaseFilter> *filter)
{
    const HRESULT hr = pin->QueryPinInfo(info);
    if (SUCCEEDED(hr))
        *filter->ReleaseAndGetAddressOf() = info->pFilter;
    return hr;
}

void SimFilterName(IBaseFilter *filter, WCHAR *name, int capacity)
{
    FILTER_INFO fi;
    name[0] = 0;
    if (FAILED(filter->QueryFilterInfo(&fi)))
        return;
    ComPtr<IFilterGraph> graph;
    *graph.ReleaseAndGetAddressOf() = fi.pGraph;
    lstrcpynW(name, fi.achName, capacity);
}

// Adds "Smart Tee/<pin>><filter>" to text for an output pin of the tee and
// the filter it feeds ("|" between two of them).
static void DescribeTeeBranch(IPin *pin, WCHAR *text, int capacity)
{
    PIN_INFO out;
    ComPtr<IBaseFilter> tee;
    if (FAILED(SimQueryPinInfo(pin, &out, &tee)))
        return;
    tee.Reset();
    ComPtr<IPin> next;
    PIN_INFO down;
    ComPtr<IBaseFilter> downFilter;
    if (out.dir != PINDIR_OUTPUT || pin->ConnectedTo(next.GetAddressOf()) != S_OK ||
        FAILED(SimQueryPinInfo(next.Get(), &down, &downFilter)) || !downFilter)
        return;
    WCHAR name[MAX_FILTER_NAME];
    SimFilterName(downFilter.Get(), name, ARRAYSIZE(name));
    downFilter.Reset();
    WCHAR part[160];
    wsprintfW(part, L"%sSmart Tee/%s>%s", text[0] ? L"|" : L"", out.achName, name);
    if (lstrlenW(text) + lstrlenW(part) < capacity)
        lstrcatW(text, part);
}

// The stream's way down, as SimEvent::text tells it.
void CSimCamFilter::DescribeDownstream(WCHAR *text, int capacity)
{
    text[0] = 0;
    ComPtr<IPin> peer;
    if (m_pin.ConnectedTo(peer.GetAddressOf()) != S_OK)
        return;
    PIN_INFO info;
    ComPtr<IBaseFilter> next;
    if (FAILED(SimQueryPinInfo(peer.Get(), &info, &next)) || !next)
        return;
    CLSID clsid = GUID_NULL;
    next->GetClassID(&clsid);
    WCHAR name[MAX_FILTER_NAME];
    SimFilterName(next.Get(), name, ARRAYSIZE(name));
    ComPtr<IEnumPins> pins;
    if (!IsEqualCLSID(clsid, CLSID_SmartTee)) {
        lstrcpynW(text, name, capacity);
    } else if (SUCCEEDED(next->EnumPins(pins.GetAddressOf()))) {
        ComPtr<IPin> pin;
        while (pins->Next(1, pin.ReleaseAndGetAddressOf(), NULL) == S_OK)
            DescribeTeeBranch(pin.Get(), text, capacity);
    }
}

// The filter graph's reference count, read by taking and dropping one
// reference (the graph pointer is not one of the filter's own references).
ULONG CSimCamFilter::GraphReferences()
{
    CritSecLock dataGuard(&m_dataLock);
    IFilterGraph *graph = m_graph;
    dataGuard.Unlock();
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
    CritSecLock stateGuard(&m_stateLock);
    CritSecLock dataGuard(&m_dataLock);
    const FILTER_STATE previous = m_state;
    m_state = State_Stopped;
    dataGuard.Unlock();
    if (previous != State_Stopped)
        m_pin.Inactive();
    if (m_ownsCamera) {
        ReleaseCamera();
        m_ownsCamera = false;
    }
    stateGuard.Unlock();
}

HRESULT STDMETHODCALLTYPE CSimCamFilter::Stop()
{
    StopStreaming();
    RecordEvent(SIM_EVENT_STOP, GraphReferences());
    return S_OK;
}

// Paused or running: leaving the stopped state, the pin gets ready; a
// connected pin takes the camera when it first runs (refused while the camera
// is gone or in use: the filter stays where it was, so the graph's stop
// finds every filter in step). Then the new state (and, when running, its
// start time) is taken. Windows' capture filters answer S_OK from Pause as
// from Run: a client may accept nothing else. That a paused live source
// sends nothing is GetState's to say.
HRESULT CSimCamFilter::Start(FILTER_STATE target, const REFERENCE_TIME *start)
{
    HRESULT hr = S_OK;
    CritSecLock stateGuard(&m_stateLock);
    CritSecLock dataGuard(&m_dataLock);
    const FILTER_STATE previous = m_state;
    dataGuard.Unlock();
    const bool connected = m_pin.IsConnected();
    if (previous == State_Stopped)
        hr = m_pin.Active();
    if (SUCCEEDED(hr) && target == State_Running && connected && !m_ownsCamera) {
        hr = AcquireCamera();
        m_ownsCamera = SUCCEEDED(hr);
        if (FAILED(hr) && previous == State_Stopped)
            m_pin.Inactive();
    }
    if (SUCCEEDED(hr)) {
        CritSecLock dataGuard2(&m_dataLock);
        if (start)
            m_start = *start;
        m_state = target;
        dataGuard2.Unlock();
        m_pin.StateChanged();
    }
    stateGuard.Unlock();
    WCHAR path[64] = {0};
    if (previous == State_Stopped && connected && SUCCEEDED(hr))
        DescribeDownstream(path, ARRAYSIZE(path));
    RecordEvent(target == State_Running ? SIM_EVENT_RUN : SIM_EVENT_PAUSE, 0, hr, path);
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
    CritSecLock dataGuard(&m_dataLock);
    *state = m_state;
    dataGuard.Unlock();
    return *state == State_Paused && m_pin.IsConnected() ? VFW_S_CANT_CUE : S_OK;
}

HRESULT STDMETHODCALLTYPE CSimCamFilter::SetSyncSource(IReferenceClock *clock)
{
    ComPtr<IReferenceClock> old(clock);
    CritSecLock dataGuard(&m_dataLock);
    old.Swap(m_clock);
    dataGuard.Unlock();
    old.Reset();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSimCamFilter::GetSyncSource(IReferenceClock **clock)
{
    if (!clock)
        return E_POINTER;
    CritSecLock dataGuard(&m_dataLock);
    m_clock.CopyTo(clock);
    dataGuard.Unlock();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSimCamFilter::EnumPins(IEnumPins **ppEnum)
{
    return SimCreatePinEnum(this, 0, ppEnum);
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
    CritSecLock dataGuard(&m_dataLock);
    lstrcpynW(info->achName, m_name, ARRAYSIZE(info->achName));
    info->pGraph = m_graph;
    if (m_graph)
        m_graph->AddRef();
    dataGuard.Unlock();
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
    CritSecLock stateGuard(&m_stateLock);
    CritSecLock dataGuard(&m_dataLock);
    m_graph = graph;
    m_sink = sink;
    if (graph && name)
        lstrcpynW(m_name, name, ARRAYSIZE(m_name));
    else
        m_name[0] = 0;
    dataGuard.Unlock();
    stateGuard.Unlock();
    if (graph)
        RecordEvent(SIM_EVENT_JOIN, 0, S_OK, name ? name : L"");
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

// A property request the camera cannot take now: gone (counted), or still
// starting. The block's lock held.
HRESULT CSimCamFilter::RefusedLocked()
{
    if (DeviceGoneLocked()) {
        ++DeviceLocked().refusedRequests;
        return SIMCAM_E_DEVICE_GONE;
    }
    return SimCamDeviceNotReady(DeviceLocked()) ? SIMCAM_E_NOT_READY : S_OK;
}

HRESULT STDMETHODCALLTYPE CSimCamFilter::Set(REFGUID set, DWORD id, LPVOID instance,
                                             DWORD instanceLength, LPVOID data, DWORD dataLength)
{
    if (!DriverSupportsSet(set))
        return E_PROP_SET_UNSUPPORTED;
    SimCamLock lock(m_block);
    const HRESULT refused = RefusedLocked();
    if (FAILED(refused))
        return refused;
    return SimDriver(&DeviceLocked().driver)
        .Set(set, id, instance, instanceLength, data, dataLength);
}

HRESULT STDMETHODCALLTYPE CSimCamFilter::Get(REFGUID set, DWORD id, LPVOID instance,
                                             DWORD instanceLength, LPVOID data, DWORD dataLength,
                                             DWORD *returned)
{
    if (!DriverSupportsSet(set))
        return E_PROP_SET_UNSUPPORTED;
    SimCamLock lock(m_block);
    const HRESULT refused = RefusedLocked();
    if (FAILED(refused))
        return refused;
    return SimDriver(&DeviceLocked().driver)
        .Get(set, id, instance, instanceLength, data, dataLength, returned);
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
        for (DWORD index = 0; count < kMaxPages; ++index) {
            WCHAR name[64];
            DWORD nameLength = ARRAYSIZE(name);
            LONG rc = RegEnumKeyExW(key.Get(), index, name, &nameLength, NULL, NULL, NULL, NULL);
            if (rc == ERROR_MORE_DATA)
                continue;
            if (rc != ERROR_SUCCESS)
                break;
            CLSID page;
            if (SUCCEEDED(CLSIDFromString(name, &page)))
                found[count++] = page;
        }
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
    VARIANT v;
    VariantInit(&v);
    const HRESULT read = bag->Read(L"DevicePath", &v, log);
    const int device = SUCCEEDED(read) && v.vt == VT_BSTR ? SimCamDeviceOfPath(v.bstrVal) : 0;
    VariantClear(&v);
    if (device < 0)
        return E_INVALIDARG;
    SimCamLock lock(m_block);
    SimCamShared *s = m_block.Shared();
    m_device = static_cast<ULONG>(device);
    m_serial = s->devices[m_device].serial;
    // The creation record says which device the filter is of.
    for (LONG n = s->eventCount - 1; n >= 0 && n + SIM_EVENT_CAPACITY >= s->eventCount; --n) {
        SimEvent &e = s->events[n % SIM_EVENT_CAPACITY];
        if (e.kind == SIM_EVENT_CREATE && e.filterId == m_id) {
            e.device = m_device;
            break;
        }
    }
    return DeviceGoneLocked() ? SIMCAM_E_DEVICE_GONE : S_OK;
}

HRESULT STDMETHODCALLTYPE CSimCamFilter::Save(IPropertyBag *, BOOL, BOOL)
{
    return S_OK;
}
