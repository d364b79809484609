// simcam_test.h - what the simulated camera's tests share: the camera
// registered for the test's lifetime, the device found through the system
// device enumerator, and small COM helpers.
#ifndef VIREO_TESTS_SIMCAM_TEST_H
#define VIREO_TESTS_SIMCAM_TEST_H

#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>
#include <dvdmedia.h>
#include <qedit.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "simcam_graph.h"
#include "vireosim.h"
#include "wintest.h"

// A device of the simulated camera opened through the public library;
// null when opening failed.
using SimHandle = std::unique_ptr<VireoSim, decltype(&VireoSimClose)>;
inline SimHandle OpenSim(unsigned index)
{
    VireoSim *sim = NULL;
    VireoSimOpen(index, &sim);
    return SimHandle(sim, VireoSimClose);
}
inline SimHandle AddSim(const wchar_t *name)
{
    VireoSim *sim = NULL;
    VireoSimAdd(name, &sim);
    return SimHandle(sim, VireoSimClose);
}
// What the driver holds of a control now (0 when it cannot be read).
inline LONG SimValue(VireoSim *sim, ULONG id)
{
    LONG value = 0;
    VireoSimGetValue(sim, id, &value);
    return value;
}

// A media type record of the test's own, freed with it.
struct OwnedMediaType : AM_MEDIA_TYPE {
    OwnedMediaType() : AM_MEDIA_TYPE() {}
    ~OwnedMediaType() { FreeMediaType(*this); }
};

// The current format, and a capability entry (caps: its record), owned.
MediaTypePtr Format(IAMStreamConfig *config);
MediaTypePtr StreamCaps(IAMStreamConfig *config, int index, void *caps, HRESULT *hr = NULL);

inline const BITMAPINFOHEADER &Bmi(const AM_MEDIA_TYPE *mt)
{
    return reinterpret_cast<const VIDEOINFOHEADER *>(mt->pbFormat)->bmiHeader;
}

// The video input devices in enumeration order: friendly name and
// DevicePath (empty when the bag has none) of each; and their names alone.
struct ListedDevice {
    std::wstring name;
    std::wstring path;
};
std::vector<ListedDevice> ListedDevices();
std::vector<std::wstring> VideoInputDevices();

// The filter of the listed device whose DevicePath is device's, bound
// through its moniker; null when it is not listed.
ComPtr<IBaseFilter> BindDevice(ULONG device);

// A control's value through the filter's IKsPropertySet (GET_DATA, SET_DATA):
// the request's result; *value the value read.
HRESULT GetThrough(IBaseFilter *filter, ULONG id, LONG *value);
HRESULT SetThrough(IBaseFilter *filter, ULONG id, LONG value);
// A request of any kind as IFace sends it: GET_ENABLE and GET_DATA as gets of
// property 0 (*reply the block that comes back), SET_DATA a set of property
// 0, SET_ENABLE a set of property 1 with value as its default.
HRESULT SendThrough(IBaseFilter *filter, ULONG id, ULONG kind, LONG value,
                    ControlReply *reply = NULL);

// The camera's filter bound through its moniker, its pin and the pin's
// IAMStreamConfig; on leaving, the filter's last reference goes.
struct BoundCam {
    ComPtr<IBaseFilter> filter = BindSimCam();
    ComPtr<IPin> pin = filter ? FirstPin(filter) : nullptr;
    ComPtr<IAMStreamConfig> config =
        pin ? Query<IAMStreamConfig>(pin, IID_IAMStreamConfig) : nullptr;
    ~BoundCam()
    {
        config.Reset();
        pin.Reset();
        if (filter) {
            EXPECT_EQ(0u, filter.Detach()->Release());
        }
    }
};

// Waits until the camera has delivered at least count frames in all, or a
// generous guard time has passed; returns the count seen.
LONG WaitForFrames(SimCamControl &cam, LONG count);

// COM, the simulated camera registered, and its state reset, for one test.
class SimCamTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    SimCamControl m_cam;
    bool m_registered = false;
};

// The simulated camera and the extension (vireoprop.ax) registered for one
// test; each is unregistered again unless the test did it itself.
class SimCamExtensionTest : public SimCamTest {
protected:
    void SetUp() override;
    void TearDown() override;
    bool m_extension = false;
};

// Counts what reaches the grabber and can hold on to the samples.
class GrabberCallback : public StaticObject<ISampleGrabberCB> {
public:
    GrabberCallback() : StaticObject(IID_ISampleGrabberCB) {}
    HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample *sample) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        REFERENCE_TIME t0 = 0, t1 = 0;
        // Untimed, ending before it starts, going back, or not a sync point.
        if (sample->GetTime(&t0, &t1) != S_OK || t1 <= t0 || (m_samples && t0 < m_lastStart) ||
            sample->IsSyncPoint() != S_OK)
            ++m_odd;
        if (!m_samples)
            m_firstStart = t0;
        m_lastStart = t0;
        m_lastEnd = t1;
        m_lastLength = sample->GetActualDataLength();
        ++m_samples;
        if (m_hold)
            m_held.push_back(sample);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE *, long) override { return S_OK; }

    void ReleaseHeld()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_held.clear();
    }

    std::mutex m_mutex;
    bool m_hold = false;
    std::vector<ComPtr<IMediaSample>> m_held;
    long m_samples = 0, m_odd = 0, m_lastLength = 0;
    REFERENCE_TIME m_firstStart = 0, m_lastStart = 0, m_lastEnd = 0;
};

// The viewer's graph: device -> (Smart Tee) -> sample grabber for RGB24.
struct ViewerGraph {
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<ICaptureGraphBuilder2> builder;
    ComPtr<IBaseFilter> source;
    ComPtr<IBaseFilter> grabberFilter;
    ComPtr<ISampleGrabber> grabber;
    ComPtr<IAMStreamConfig> config;
    HRESULT rendered = E_FAIL;

    // direct: the grabber straight on the camera's pin (ConnectDirect)
    // instead of the viewer's RenderStream for a preview, which puts a
    // Smart Tee between them.
    void Build(LONG width, LONG height, bool direct = false)
    {
        graph = Create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
        grabberFilter = Create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
        builder =
            Create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2);
        ASSERT_TRUE(graph && grabberFilter && builder);
        control = Query<IMediaControl>(graph, IID_IMediaControl);
        grabber = Query<ISampleGrabber>(grabberFilter, IID_ISampleGrabber);
        source = BindSimCam();
        ASSERT_TRUE(control && grabber && source);
        ASSERT_EQ(S_OK, graph->AddFilter(source.Get(), L"Video Capture"));
        AM_MEDIA_TYPE mt = GrabberMediaType();
        ASSERT_EQ(S_OK, grabber->SetMediaType(&mt));
        ASSERT_EQ(S_OK, graph->AddFilter(grabberFilter.Get(), L"SamGra"));
        ASSERT_EQ(S_OK, builder->SetFiltergraph(graph.Get()));
        ASSERT_EQ(S_OK, builder->FindInterface(&PIN_CATEGORY_CAPTURE, NULL, source.Get(),
                                               IID_IAMStreamConfig, &config));
        if (width) {
            const MediaTypePtr current = Format(config.Get());
            ASSERT_TRUE(current != NULL);
            VIDEOINFOHEADER *vih = reinterpret_cast<VIDEOINFOHEADER *>(current->pbFormat);
            vih->bmiHeader.biWidth = width;
            vih->bmiHeader.biHeight = height;
            EXPECT_EQ(S_OK, config->SetFormat(current.get()));
        }
        if (!direct) {
            rendered = builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, source.Get(),
                                             NULL, grabberFilter.Get());
            return;
        }
        const ComPtr<IPin> out = FirstPin(source), in = FirstPin(grabberFilter);
        ASSERT_TRUE(out && in);
        rendered = graph->ConnectDirect(out.Get(), in.Get(), NULL);
    }

    // On leaving, the source's last reference goes.
    ~ViewerGraph()
    {
        if (source) {
            EXPECT_EQ(0u, Teardown());
        }
    }

    // Releases everything; returns what the last release of the source gave
    // (the graph has let it go: the reference from binding is the last).
    ULONG Teardown()
    {
        IBaseFilter *last = source.Detach();
        *this = ViewerGraph();
        return last ? last->Release() : 0;
    }
};

#endif  // VIREO_TESTS_SIMCAM_TEST_H
