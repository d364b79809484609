// pin.h - the simulated camera's output pin: category PIN_CATEGORY_CAPTURE,
// RGB24 at the camera's sizes, IAMStreamConfig, and the streaming thread
// (stream.h) that sends the frames. It reaches its filter through
// SimPinHost alone.
#ifndef SIMCAM_PIN_H
#define SIMCAM_PIN_H

#include <windows.h>
#include <dshow.h>

#include <wrl/client.h>

#include "camlink.h"
#include "lock.h"
#include "mediatype.h"
#include "stream.h"

// What the pin asks of the filter it belongs to.
class SimPinHost {
public:
    // The filter: it counts the pin's references, and QueryPinInfo names it.
    virtual IBaseFilter *Filter() = 0;
    // Held around connecting, disconnecting and format changes, as around
    // the filter's state changes.
    virtual SimCriticalSection &StateLock() = 0;
    virtual FILTER_STATE State() = 0;
    // The graph the filter is in (not counted: the graph holds the filter).
    virtual IFilterGraph *Graph() = 0;
    // The state, the run's start time and the graph's clock, read together.
    virtual void ReadRun(SimStreamView *view) = 0;
    // The filter's camera in the shared block.
    virtual SimCamLink &Camera() = 0;
    // The stream saw the camera go (gone) or come back.
    virtual void CameraLost(bool gone) = 0;

protected:
    ~SimPinHost() = default;
};

class CSimCamPin : public IPin,
                   public IKsPropertySet,
                   public IAMStreamConfig,
                   public IQualityControl,
                   private SimStreamHost {
public:
    explicit CSimCamPin(SimPinHost *host);
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
    HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID set, DWORD id, DWORD *support) override;
    HRESULT STDMETHODCALLTYPE Get(REFGUID set, DWORD id, LPVOID instance, DWORD instanceLength,
                                  LPVOID data, DWORD dataLength, DWORD *returned) override;
    HRESULT STDMETHODCALLTYPE Set(REFGUID set, DWORD id, LPVOID instance, DWORD instanceLength,
                                  LPVOID data, DWORD dataLength) override;

    // IAMStreamConfig
    HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE *mt) override;
    HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE **mt) override;
    HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int *count, int *size) override;
    HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE **mt, BYTE *caps) override;

    // IQualityControl
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter *sender, Quality q) override;
    HRESULT STDMETHODCALLTYPE SetSink(IQualityControl *sink) override;

    // From the filter, with its state lock held.
    HRESULT Active();  // stopped -> paused: start streaming
    void Inactive();   // -> stopped: stop streaming
    void StateChanged() { m_stream.Wake(); }
    bool IsConnected();

private:
    // SimStreamHost
    void ReadView(SimStreamView *view) override;
    bool CameraGone() override { return m_host->Camera().Gone(); }
    void ReadSettings(SimDriverState *settings) override;
    void CameraLost(bool gone) override { m_host->CameraLost(gone); }
    void FrameDelivered() override { m_host->Camera().FrameDelivered(); }

    // What a connection attempt starts from, read under the data lock.
    struct Configured {
        SimFormat format;  // the configured format
        bool formatSet;    // SetFormat chose it
    };
    // The types the pin offers now, most preferred first; returns the count.
    int OfferedFormats(SimFormat *formats, int capacity);
    bool ZeroImageSize() { return m_host->Camera().Switch(SIM_SWITCH_ZERO_IMAGE_SIZE); }
    HRESULT ConnectStopped(IPin *receivePin, const AM_MEDIA_TYPE *mt);
    HRESULT TryOffers(IPin *receivePin, const AM_MEDIA_TYPE *mt);
    HRESULT TryProposals(IPin *receivePin, const AM_MEDIA_TYPE *mt, const Configured &configured);
    HRESULT TryConnection(IPin *receivePin, const AM_MEDIA_TYPE *mt);
    HRESULT Attach(IPin *receivePin, const SimFormat &format);
    void RecordConnection(IPin *receivePin, const AM_MEDIA_TYPE *mt);
    void ReleaseConnection();
    void PublishFormat();
    HRESULT ChangeFormat(AM_MEDIA_TYPE *mt);
    HRESULT ChangeFormatStopped(const SimFormat &requested);
    void SetConfigured(const Configured &configured);
    HRESULT Reconnect();

    SimPinHost *const m_host;
    SimCriticalSection m_dataLock;  // guards the fields below

    SimFormat m_format;      // configured format: the first offered
    bool m_formatSet;        // SetFormat chose it: only it is offered
    SimFormat m_connFormat;  // the connection's format while connected
    Microsoft::WRL::ComPtr<IPin> m_connected;
    Microsoft::WRL::ComPtr<IMemInputPin> m_input;
    Microsoft::WRL::ComPtr<IMemAllocator> m_allocator;
    SimMediaType m_mt;  // connection type

    SimStream m_stream;
};

#endif  // SIMCAM_PIN_H
