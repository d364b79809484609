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

#include <mutex>
#include <string>
#include <vector>

#include "simcontrol.h"
#include "wintest.h"

// Not in MinGW's qedit.h.
static const CLSID CLSID_SampleGrabberFilter = {
    0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

template <typename T> void SafeRelease(T *&p)
{
    if (p) {
        p->Release();
        p = NULL;
    }
}

// The interface asked for, or null.
template <typename T> T *Query(IUnknown *from, REFIID iid)
{
    T *p = NULL;
    return SUCCEEDED(from->QueryInterface(iid, reinterpret_cast<void **>(&p))) ? p : NULL;
}

// A new in-process object's interface, or null.
template <typename T> T *Create(REFCLSID clsid, REFIID iid)
{
    T *p = NULL;
    CoCreateInstance(clsid, NULL, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void **>(&p));
    return p;
}

inline void FreeMediaType(AM_MEDIA_TYPE *mt)
{
    CoTaskMemFree(mt->pbFormat);
    if (mt->pUnk)
        mt->pUnk->Release();
}

inline void DeleteMediaType(AM_MEDIA_TYPE *mt)  // null allowed
{
    if (mt)
        FreeMediaType(mt);
    CoTaskMemFree(mt);
}

inline const BITMAPINFOHEADER &Bmi(const AM_MEDIA_TYPE *mt)
{
    return reinterpret_cast<const VIDEOINFOHEADER *>(mt->pbFormat)->bmiHeader;
}

// The friendly names of the video input devices, in enumeration order.
std::vector<std::wstring> VideoInputDevices();

// Binds the simulated camera's moniker (found by its friendly name) to its
// filter; null when it is not there.
inline IBaseFilter *BindSimCam()
{
    return SimCamBindFilter();
}

// The filter's only pin.
IPin *CapturePin(IBaseFilter *filter);

// The camera's filter bound through its moniker, its pin and the pin's
// IAMStreamConfig; on leaving, the filter's last reference goes.
struct BoundCam {
    IBaseFilter *filter = BindSimCam();
    IPin *pin = filter ? CapturePin(filter) : NULL;
    IAMStreamConfig *config = pin ? Query<IAMStreamConfig>(pin, IID_IAMStreamConfig) : NULL;
    ~BoundCam()
    {
        SafeRelease(config);
        SafeRelease(pin);
        if (filter) {
            EXPECT_EQ(0u, filter->Release());
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
class GrabberCallback : public ISampleGrabberCB {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override
    {
        const bool ours = riid == IID_IUnknown || riid == IID_ISampleGrabberCB;
        *ppv = ours ? static_cast<ISampleGrabberCB *>(this) : NULL;
        return ours ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
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
        if (m_hold) {
            sample->AddRef();
            m_held.push_back(sample);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE *, long) override { return S_OK; }

    void ReleaseHeld()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (IMediaSample *s : m_held)
            s->Release();
        m_held.clear();
    }

    std::mutex m_mutex;
    bool m_hold = false;
    std::vector<IMediaSample *> m_held;
    long m_samples = 0, m_odd = 0, m_lastLength = 0;
    REFERENCE_TIME m_firstStart = 0, m_lastStart = 0, m_lastEnd = 0;
};

// The viewer's graph: device -> (Smart Tee) -> sample grabber for RGB24.
struct ViewerGraph {
    IGraphBuilder *graph = NULL;
    IMediaControl *control = NULL;
    ICaptureGraphBuilder2 *builder = NULL;
    IBaseFilter *source = NULL;
    IBaseFilter *grabberFilter = NULL;
    ISampleGrabber *grabber = NULL;
    IAMStreamConfig *config = NULL;
    HRESULT rendered = E_FAIL;

    // direct: the grabber straight on the camera's pin (ConnectDirect)
    // instead of the viewer's RenderStream for a preview, which puts a
    // Smart Tee between them.
    void Build(LONG width, LONG height, bool direct = false)
    {
        graph = Create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
        grabberFilter = Create<IBaseFilter>(CLSID_SampleGrabberFilter, IID_IBaseFilter);
        builder =
            Create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2);
        ASSERT_TRUE(graph && grabberFilter && builder);
        control = Query<IMediaControl>(graph, IID_IMediaControl);
        grabber = Query<ISampleGrabber>(grabberFilter, IID_ISampleGrabber);
        source = BindSimCam();
        ASSERT_TRUE(control && grabber && source);
        ASSERT_EQ(S_OK, graph->AddFilter(source, L"Video Capture"));
        AM_MEDIA_TYPE mt = {};
        mt.majortype = MEDIATYPE_Video;
        mt.subtype = MEDIASUBTYPE_RGB24;
        mt.formattype = FORMAT_VideoInfo;
        ASSERT_EQ(S_OK, grabber->SetMediaType(&mt));
        ASSERT_EQ(S_OK, graph->AddFilter(grabberFilter, L"SamGra"));
        ASSERT_EQ(S_OK, builder->SetFiltergraph(graph));
        ASSERT_EQ(S_OK,
                  builder->FindInterface(&PIN_CATEGORY_CAPTURE, NULL, source, IID_IAMStreamConfig,
                                         reinterpret_cast<void **>(&config)));
        if (width) {
            AM_MEDIA_TYPE *current = NULL;
            ASSERT_EQ(S_OK, config->GetFormat(&current));
            VIDEOINFOHEADER *vih = reinterpret_cast<VIDEOINFOHEADER *>(current->pbFormat);
            vih->bmiHeader.biWidth = width;
            vih->bmiHeader.biHeight = height;
            EXPECT_EQ(S_OK, config->SetFormat(current));
            DeleteMediaType(current);
        }
        if (!direct) {
            rendered = builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, source, NULL,
                                             grabberFilter);
            return;
        }
        IPin *out = CapturePin(source);
        IPin *in = CapturePin(grabberFilter);  // the grabber's first pin is its input
        ASSERT_TRUE(out && in);
        rendered = graph->ConnectDirect(out, in, NULL);
        out->Release();
        in->Release();
    }

    // Releases everything; returns what the last release of the source gave.
    ULONG Teardown()
    {
        SafeRelease(config);
        SafeRelease(builder);
        SafeRelease(grabber);
        SafeRelease(grabberFilter);
        SafeRelease(control);
        SafeRelease(graph);
        // The graph has let the source go: the reference from binding is the last.
        ULONG left = source ? source->Release() : 0;
        source = NULL;
        return left;
    }
};

#endif  // VIREO_TESTS_SIMCAM_TEST_H
