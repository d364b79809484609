// filter.h - the simulated camera's capture source filter.
//
// CSimCamFilter is a live video source with one output pin (pin.h). Behind
// its IKsPropertySet sits the simulated driver of its camera in the shared
// block (camlink.h). Like the kernel-streaming proxy, it hosts the
// extensions registered under MediaInterfaces for the property sets its
// driver supports (aggregated, the filter being the outer object) and lists
// the pages registered under MediaSets in ISpecifyPropertyPages.
#ifndef SIMCAM_FILTER_H
#define SIMCAM_FILTER_H

#include <windows.h>
#include <dshow.h>

#include <wrl/client.h>

#include "camlink.h"
#include "lock.h"
#include "pin.h"

class CSimCamFilter : public IBaseFilter,
                      public IAMFilterMiscFlags,
                      public IKsPropertySet,
                      public ISpecifyPropertyPages,
                      public IPersistPropertyBag,
                      private SimPinHost {
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

private:
    CSimCamFilter();
    virtual ~CSimCamFilter();
    HRESULT Init();
    void HostExtensions();
    static bool DriverSupportsSet(REFGUID set);
    IUnknown *ControllingUnknown() { return static_cast<IBaseFilter *>(this); }

    // SimPinHost
    IBaseFilter *Filter() override { return this; }
    SimCriticalSection &StateLock() override { return m_stateLock; }
    FILTER_STATE State() override;
    IFilterGraph *Graph() override;
    void ReadRun(SimStreamView *view) override;
    SimCamLink &Camera() override { return m_camera; }
    void CameraLost(bool gone) override;

    void StopStreaming();
    HRESULT Start(FILTER_STATE target, const REFERENCE_TIME *start);
    HRESULT ChangeState(FILTER_STATE target, const REFERENCE_TIME *start, FILTER_STATE *previous,
                        bool *connected);
    void Record(ULONG kind, const SimEventNote &note);
    ULONG GraphReferences();
    // Sends an event to the graph, if the filter is in one.
    void NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2);

    volatile LONG m_cRef;
    SimCriticalSection m_stateLock;  // serialises state changes and connections
    SimCriticalSection m_dataLock;   // guards the fields below it
    FILTER_STATE m_state;
    REFERENCE_TIME m_start;
    Microsoft::WRL::ComPtr<IReferenceClock> m_clock;
    IFilterGraph *m_graph;    // not counted: the graph holds the filter
    IMediaEventSink *m_sink;  // the graph's, not counted either
    WCHAR m_name[128];

    SimCamLink m_camera;
    SimCamClaim m_claim;  // the camera while this filter streams (state lock)
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
};

#endif  // SIMCAM_FILTER_H
