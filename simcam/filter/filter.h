// filter.h - the simulated camera's capture source filter and its pin.
//
// CSimCamFilter is a live video source with one output pin of category
// PIN_CATEGORY_CAPTURE sending RGB24 frames. Behind its IKsPropertySet sits
// the simulated driver in the shared block (simcontrol.h). Like the
// kernel-streaming proxy, it hosts the extensions registered under
// MediaInterfaces for the property sets its driver supports (aggregated, the
// filter being the outer object) and lists the pages registered under
// MediaSets in ISpecifyPropertyPages.
#ifndef SIMCAM_FILTER_H
#define SIMCAM_FILTER_H

#include <windows.h>
#include <dshow.h>

#include <wrl/client.h>

#include "mediatype.h"
#include "simcontrol.h"

// Objects of the module alive (for DllCanUnloadNow) and its server locks.
extern volatile LONG g_simObjects;
extern volatile LONG g_simLocks;

class CSimCamFilter;

// Holds a critical section from construction until Unlock or the end of its
// scope, whichever comes first.
class CritSecLock {
public:
    explicit CritSecLock(CRITICAL_SECTION *section) : m_section(section)
    {
        EnterCriticalSection(m_section);
    }
    ~CritSecLock() { Unlock(); }
    CritSecLock(const CritSecLock &) = delete;
    CritSecLock &operator=(const CritSecLock &) = delete;
    void Unlock()
    {
        if (m_section)
            LeaveCriticalSection(m_section);
        m_section = NULL;
    }

private:
    CRITICAL_SECTION *m_section;
};

// The IUnknown of the module's small single-interface objects (class
// factory, enumerators): a reference count starting at 1, the interface and
// IUnknown from QueryInterface, and a share in g_simObjects while alive.
template <class Interface> class CSimObject : public Interface {
public:
    CSimObject() : m_cRef(1) { InterlockedIncrement(&g_simObjects); }
    virtual ~CSimObject() { InterlockedDecrement(&g_simObjects); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, __uuidof(Interface))) {
            *ppv = static_cast<Interface *>(this);
            AddRef();
            return S_OK;
        }
        *ppv = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG count = InterlockedDecrement(&m_cRef);
        if (count == 0)
            delete this;
        return static_cast<ULONG>(count);
    }

private:
    volatile LONG m_cRef;
};

class CSimCamPin : public IPin,
                   public IKsPropertySet,
                   public IAMStreamConfig,
                   public IQualityControl {
public:
    explicit CSimCamPin(CSimCamFilter *filter);
    ~CSimCamPin();

    // IUnknown: the pin lives inside the filter and counts on it.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IPin
    HRESULT STDMETHODCALLTYPE Connect(IPin *receivePin, const AM_MEDIA_TYPE *mt) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin *connector, const AM_MEDIA_TYPE *mt) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin **pin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE *mt) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO *info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION *dir) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR *id) override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE *mt) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes **ppEnum) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin **pins, ULONG *count) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop,
                                         double rate) override;

    // IKsPropertySet: the pin's category.
    HRESULT STDMETHODCALLTYPE Set(REFGUID set, DWORD id, LPVOID instance, DWORD instanceLength,
                                  LPVOID data, DWORD dataLength) override;
    HRESULT STDMETHODCALLTYPE Get(REFGUID set, DWORD id, LPVOID instance, DWORD instanceLength,
                                  LPVOID data, DWORD dataLength, DWORD *returned) override;
    HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID set, DWORD id, DWORD *support) override;

    // IAMStreamConfig
    HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE *mt) override;
    HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE **mt) override;
    HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int *count, int *size) override;
    HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE **mt, BYTE *caps) override;

    // IQualityControl
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter *sender, Quality q) override;
    HRESULT STDMETHODCALLTYPE SetSink(IQualityControl *sink) override;

    // From the filter, with its state lock held.
    HRESULT Active();     // stopped -> paused: commit the allocator, start streaming
    void Inactive();      // -> stopped: stop streaming, decommit the allocator
    void StateChanged();  // wakes the streaming thread
    // The types the pin offers now, most preferred first; returns the count.
    int OfferedFormats(SimFormat *formats, int capacity);
    bool ZeroImageSize();
    bool SwitchOn(LONG SimCamShared::*which);  // one of the block's test switches
    bool IsConnected();
    // The frame interval of format as the camera's rate settings make it.
    REFERENCE_TIME RateTime(const SimFormat &format);
    static REFERENCE_TIME RateTime(const SimFormat &format, const SimDriverState &driver);

private:
    HRESULT SetFormatLocked(AM_MEDIA_TYPE *mt);
    void SetRateSetting(const SimFormat &format);
    HRESULT Reconnect(IFilterGraph *graph);
    HRESULT TryProposals(IPin *receivePin, const AM_MEDIA_TYPE *mt, const SimFormat &current,
                         bool formatSet);
    HRESULT TryConnection(IPin *receivePin, const AM_MEDIA_TYPE *mt);
    void RecordConnection(IPin *receivePin, const AM_MEDIA_TYPE *mt);
    HRESULT DecideAllocator(IMemInputPin *input, ULONG frameBytes, IMemAllocator **allocator);
    void ReleaseConnection();
    void PublishFormat();
    static DWORD WINAPI ThreadProc(LPVOID param);

    // The streaming thread's loop: watch the device, wait for the next
    // frame's time, fill and deliver it.
    struct StreamState {
        LONGLONG frequency = 0;         // performance counter ticks a second
        bool running = false;           // frames are being sent in this run
        bool refused = false;           // the downstream wants nothing more until the next run
        bool lost = false;              // the camera went while this stream lived
        LONGLONG due = 0;               // performance counter time of the next frame
        REFERENCE_TIME streamTime = 0;  // the next frame's time without a clock
        REFERENCE_TIME frameTime = 0;   // the interval of the frame being sent
        bool discontinuity = true;
    };
    struct StreamView;
    void Stream();
    void WatchDevice(StreamState &s);
    DWORD TimeToWait(StreamState &s, const StreamView &view);
    void SendFrame(StreamState &s, const StreamView &view);

    CSimCamFilter *const m_filter;

    // Under the filter's data lock.
    SimFormat m_format;      // configured format: the first offered
    bool m_formatSet;        // SetFormat chose it: only it is offered
    SimFormat m_connFormat;  // the connection's format while connected
    Microsoft::WRL::ComPtr<IPin> m_connected;
    Microsoft::WRL::ComPtr<IMemInputPin> m_input;
    Microsoft::WRL::ComPtr<IMemAllocator> m_allocator;
    SimMediaType m_mt;  // connection type

    // Streaming.
    HANDLE m_thread;
    HANDLE m_wake;  // auto-reset: state changed or quit
    volatile LONG m_quit;
    SimDriverState *m_snapshot;  // the camera's settings as one frame sees them
    ULONG m_frameNumber;
};

class CSimCamFilter : public IBaseFilter,
                      public IAMFilterMiscFlags,
                      public IKsPropertySet,
                      public ISpecifyPropertyPages,
                      public IPersistPropertyBag {
public:
    // Creates a filter and hands out riid of it (aggregation is not
    // offered). It is of device 0 until its moniker's Load names another.
    // Refused while no device of the table is plugged in.
    static HRESULT Create(REFIID riid, void **ppv);

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IPersist (for IBaseFilter and IPersistPropertyBag alike)
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *clsid) override;

    // IMediaFilter
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD timeout, FILTER_STATE *state) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock *clock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock **clock) override;

    // IBaseFilter
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins **ppEnum) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin **pin) override;
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO *info) override;
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph *graph, LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR *info) override;

    // IAMFilterMiscFlags
    ULONG STDMETHODCALLTYPE GetMiscFlags() override;

    // IKsPropertySet: the simulated driver.
    HRESULT STDMETHODCALLTYPE Set(REFGUID set, DWORD id, LPVOID instance, DWORD instanceLength,
                                  LPVOID data, DWORD dataLength) override;
    HRESULT STDMETHODCALLTYPE Get(REFGUID set, DWORD id, LPVOID instance, DWORD instanceLength,
                                  LPVOID data, DWORD dataLength, DWORD *returned) override;
    HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID set, DWORD id, DWORD *support) override;

    // ISpecifyPropertyPages
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID *pages) override;

    // IPersistPropertyBag (the device moniker binds through it)
    HRESULT STDMETHODCALLTYPE InitNew() override;
    HRESULT STDMETHODCALLTYPE Load(IPropertyBag *bag, IErrorLog *log) override;
    HRESULT STDMETHODCALLTYPE Save(IPropertyBag *bag, BOOL clearDirty, BOOL saveAll) override;

    // For the pin and the streaming thread.
    IUnknown *ControllingUnknown() { return static_cast<IBaseFilter *>(this); }
    CRITICAL_SECTION *DataLock() { return &m_dataLock; }
    FILTER_STATE StateLocked() const { return m_state; }  // data lock held
    REFERENCE_TIME StartTimeLocked() const { return m_start; }
    IReferenceClock *ClockLocked() const { return m_clock.Get(); }
    IFilterGraph *GraphLocked() const { return m_graph; }
    SimCamBlock &Block() { return m_block; }
    // The filter's device in the table, and whether that camera is gone for
    // it (unplugged, or removed from the table); the block's lock held.
    SimCamDevice &DeviceLocked() { return m_block.Shared()->devices[m_device]; }
    bool DeviceGoneLocked();
    CSimCamPin *Pin() { return &m_pin; }
    ULONG Id() const { return m_id; }
    static bool DriverSupportsSet(REFGUID set);
    // Sends an event to the graph, if the filter is in one.
    void NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2);
    // The stream saw the camera go (0) or come back (1); from then on the
    // filter is refused a stream, as a device filter whose device went is.
    void RecordDeviceLost(LONG param2);

private:
    CSimCamFilter();
    virtual ~CSimCamFilter();
    HRESULT Init();
    void HostExtensions();
    void StopStreaming();
    HRESULT Start(FILTER_STATE target, const REFERENCE_TIME *start);
    void RecordEvent(ULONG kind, ULONG graphRefs = 0, HRESULT result = S_OK,
                     const WCHAR *text = NULL);
    ULONG GraphReferences();
    HRESULT AcquireCamera();
    HRESULT RefusedLocked();
    void ReleaseCamera();
    void DescribeDownstream(WCHAR *text, int capacity);

    volatile LONG m_cRef;
    CRITICAL_SECTION m_stateLock;  // serialises state changes and connections
    CRITICAL_SECTION m_dataLock;   // guards the fields below; the streaming thread takes it briefly
    FILTER_STATE m_state;
    REFERENCE_TIME m_start;
    Microsoft::WRL::ComPtr<IReferenceClock> m_clock;
    IFilterGraph *m_graph;    // not counted: the graph holds the filter
    IMediaEventSink *m_sink;  // the graph's, not counted either
    WCHAR m_name[128];
    SimCamBlock m_block;
    ULONG m_id;
    ULONG m_device;              // set before the filter is handed out or by Load, then fixed
    ULONG m_serial;              // the device's serial when the filter took it
    bool m_ownsCamera;           // this filter streams from the camera (state lock)
    volatile LONG m_lostDevice;  // its stream lost the camera: it streams no more
    CSimCamPin m_pin;

    // Extensions hosted as the kernel-streaming proxy hosts them.
    enum { kMaxHosted = 8 };
    struct Hosted {
        IID iid = GUID_NULL;
        // The inner object's own (non-delegating) IUnknown.
        Microsoft::WRL::ComPtr<IUnknown> inner;
    };
    Hosted m_hosted[kMaxHosted];
    int m_hostedCount;

    friend class CSimCamPin;
};

// What QueryPinInfo gives of pin, the filter it belongs to owned by filter.
HRESULT SimQueryPinInfo(IPin *pin, PIN_INFO *info, Microsoft::WRL::ComPtr<IBaseFilter> *filter);
// The name filter gives itself in its graph ("" when it gives none); the
// graph's reference that comes with it is dropped at once.
void SimFilterName(IBaseFilter *filter, WCHAR *name, int capacity);

// Enumerators handed out by the filter and the pin.
HRESULT SimCreatePinEnum(CSimCamFilter *filter, ULONG position, IEnumPins **ppEnum);
HRESULT SimCreateTypeEnum(CSimCamPin *pin, const SimFormat *formats, int count, bool zeroImageSize,
                          ULONG position, IEnumMediaTypes **ppEnum);

#endif  // SIMCAM_FILTER_H
