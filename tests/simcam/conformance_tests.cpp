// The simulated camera answers as Windows' own capture filters do: the exact
// codes of state changes, QueryAccept and IAMStreamConfig, the offered types
// around a connection, one stream at a time, unplugging, and the frame rate
// the camera's rate settings give. The codes are those that the platform's
// own conformance tests of capture filters expect on Windows.
#include "simcam_test.h"

#include <stddef.h>

#include <algorithm>

namespace {

using SimCamConformance = SimCamTest;

bool SameType(const AM_MEDIA_TYPE *a, const AM_MEDIA_TYPE *b)
{
    return !memcmp(a, b, offsetof(AM_MEDIA_TYPE, pbFormat)) &&
           !memcmp(a->pbFormat, b->pbFormat, a->cbFormat);
}

// GetFormat gives want.
bool FormatIs(IAMStreamConfig *config, const AM_MEDIA_TYPE *want)
{
    const MediaTypePtr mt = Format(config);
    return mt && SameType(want, mt.get());
}

// The types the pin offers (up to eight).
std::vector<MediaTypePtr> Offered(IPin *pin)
{
    ComPtr<IEnumMediaTypes> types;
    AM_MEDIA_TYPE *all[8] = {};
    ULONG fetched = 0;
    if (SUCCEEDED(pin->EnumMediaTypes(&types)))
        types->Next(8, all, &fetched);
    return std::vector<MediaTypePtr>(all, all + fetched);
}

// The pin's offered types lead with want; count: how many there are, or 0
// for any number.
bool OffersFirst(IPin *pin, const AM_MEDIA_TYPE *want, size_t count = 0)
{
    const std::vector<MediaTypePtr> offered = Offered(pin);
    return !offered.empty() && SameType(want, offered[0].get()) &&
           (!count || count == offered.size());
}

// What a client strict about return codes accepts from a run: S_OK, or
// S_FALSE followed by a GetState that answers S_OK in the running state.
bool StrictRun(IMediaControl *control)
{
    HRESULT hr = control->Run();
    if (hr == S_FALSE) {
        OAFilterState state = State_Stopped;
        hr = control->GetState(5000, &state) == S_OK && state == State_Running ? S_OK : E_FAIL;
    }
    return hr == S_OK;
}

// The state changes of the tests below: pause, run, pause, stop, run, stop.
const char kSteps[] = "PRPSRS";

FILTER_STATE StateAfter(char op)
{
    return op == 'P' ? State_Paused : op == 'R' ? State_Running : State_Stopped;
}

TEST_F(SimCamConformance, UnconnectedStateChangesAnswerS_OK)
{
    BoundCam cam;
    ASSERT_TRUE(cam.filter);
    IBaseFilter *filter = cam.filter.Get();
    FILTER_STATE state = State_Running;
    EXPECT_EQ(S_OK, filter->GetState(0, &state));
    EXPECT_EQ(State_Stopped, state);
    for (const char *op = kSteps; *op; ++op) {
        EXPECT_EQ(S_OK, *op == 'P'   ? filter->Pause()
                        : *op == 'R' ? filter->Run(0)
                                     : filter->Stop())
            << *op;
        EXPECT_EQ(S_OK, filter->GetState(0, &state)) << *op;
        EXPECT_EQ(StateAfter(*op), state) << *op;
    }
}

// Connected with the second offered type: the connection has that type and
// GetFormat gives it, but the offered list still leads with the default;
// the graph's state changes answer S_OK, GetState VFW_S_CANT_CUE while
// paused; disconnected, GetFormat gives the default again.
TEST_F(SimCamConformance, ConnectedStateCodesAndFormatsAroundTheConnection)
{
    ViewerGraph g;
    ASSERT_NO_FATAL_FAILURE(g.Build(0, 0, true));
    const ComPtr<IPin> out = FirstPin(g.source), in = FirstPin(g.grabberFilter);
    IPin *pin = out.Get();
    ASSERT_EQ(S_OK, g.graph->Disconnect(pin));
    ASSERT_EQ(S_OK, g.graph->Disconnect(in.Get()));

    const std::vector<MediaTypePtr> offered = Offered(pin);
    ASSERT_GE(offered.size(), 2u);
    EXPECT_TRUE(FormatIs(g.config.Get(), offered[0].get()));

    ASSERT_EQ(S_OK, g.graph->ConnectDirect(pin, in.Get(), offered[1].get()));
    OwnedMediaType connected;
    ASSERT_EQ(S_OK, pin->ConnectionMediaType(&connected));
    EXPECT_TRUE(SameType(offered[1].get(), &connected));
    EXPECT_TRUE(FormatIs(g.config.Get(), offered[1].get()));
    EXPECT_TRUE(OffersFirst(pin, offered[0].get()));

    const ComPtr<IMediaFilter> filter = Query<IMediaFilter>(g.source, IID_IMediaFilter);
    ASSERT_TRUE(filter);
    for (const char *op = kSteps; *op; ++op) {
        const LONG before = m_cam.FramesDelivered();
        const HRESULT hr = *op == 'P'   ? g.control->Pause()
                           : *op == 'R' ? g.control->Run()
                                        : g.control->Stop();
        // Running, frames come; paused, none but the one in flight.
        if (*op == 'R') {
            EXPECT_GE(WaitForFrames(m_cam, before + 2), before + 2);
        } else if (*op == 'P') {
            Sleep(150);
            EXPECT_LE(m_cam.FramesDelivered(), before + 1);
        }
        EXPECT_EQ(S_OK, hr) << *op;
        // Paused, a live source cannot cue.
        const HRESULT answer = *op == 'P' ? VFW_S_CANT_CUE : S_OK;
        OAFilterState state = -1;
        EXPECT_EQ(answer, g.control->GetState(0, &state)) << *op;
        EXPECT_EQ(StateAfter(*op), state) << *op;
        FILTER_STATE own = State_Stopped;
        EXPECT_EQ(answer, filter->GetState(0, &own)) << *op;
    }
    EXPECT_TRUE(StrictRun(g.control.Get()));
    EXPECT_EQ(S_OK, g.control->Stop());

    EXPECT_EQ(S_OK, g.graph->Disconnect(pin));
    EXPECT_EQ(S_FALSE, g.graph->Disconnect(pin));
    g.graph->Disconnect(in.Get());
    EXPECT_TRUE(FormatIs(g.config.Get(), offered[0].get()));
}

// The viewer's graph through the Smart Tee's preview pin, as a capture
// program builds it, or straight into the grabber; the camera's type saying 0
// for its image size or not: a strict client's run succeeds and whole,
// painted frames of the set size arrive. The camera records the SetFormat
// with its type, the name the filter joined under and the stream's way.
TEST_F(SimCamConformance, ViewerGraphsRunForAStrictClientAndAreRecorded)
{
    const struct {
        bool direct, zeroImageSize;
    } cases[] = {{false, false}, {true, false}, {false, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message() << "direct " << c.direct << ", zero " << c.zeroImageSize);
        m_cam.Reset();
        m_cam.ForceZeroImageSize(c.zeroImageSize);
        ViewerGraph g;
        ASSERT_NO_FATAL_FAILURE(g.Build(320, 240, c.direct));
        ASSERT_EQ(c.direct ? S_OK : VFW_S_NOPREVIEWPIN, g.rendered);
        OwnedMediaType connected;
        ASSERT_EQ(S_OK, g.grabber->GetConnectedMediaType(&connected));
        EXPECT_EQ(320, Bmi(&connected).biWidth);
        EXPECT_EQ(240, Bmi(&connected).biHeight);
        EXPECT_EQ(c.zeroImageSize ? 0u : 230400u, Bmi(&connected).biSizeImage);
        ASSERT_EQ(S_OK, g.grabber->SetBufferSamples(TRUE));
        EXPECT_TRUE(StrictRun(g.control.Get()));
        EXPECT_GE(WaitForFrames(m_cam, 3), 3);
        std::vector<BYTE> frame(230400 + 64, 0);
        long size = static_cast<long>(frame.size());
        EXPECT_EQ(S_OK, g.grabber->GetCurrentBuffer(&size, reinterpret_cast<long *>(frame.data())));
        EXPECT_EQ(230400, size);
        EXPECT_TRUE(std::any_of(frame.begin(), frame.end(), [](BYTE b) { return b != 0; }));
        EXPECT_EQ(S_OK, g.control->Stop());

        std::vector<SimEvent> set = m_cam.Events(SIM_EVENT_SETFORMAT);
        ASSERT_EQ(1u, set.size());
        EXPECT_EQ(S_OK, set[0].result);
        EXPECT_TRUE(IsEqualGUID(FORMAT_VideoInfo, set[0].format.formattype));
        EXPECT_EQ(88u, set[0].format.cbFormat);
        EXPECT_EQ(320, set[0].format.vih.bmiHeader.biWidth);
        EXPECT_EQ(240, set[0].format.vih.bmiHeader.biHeight);
        // As GetFormat gave it.
        EXPECT_EQ(c.zeroImageSize ? 0u : 640u * 480 * 3, set[0].format.vih.bmiHeader.biSizeImage);
        std::vector<SimEvent> join = m_cam.Events(SIM_EVENT_JOIN);
        ASSERT_EQ(1u, join.size());
        EXPECT_STREQ(L"Video Capture", join[0].text);
        std::vector<SimEvent> connect = m_cam.Events(SIM_EVENT_CONNECT);
        ASSERT_EQ(1u, connect.size());
        EXPECT_TRUE(IsEqualCLSID(c.direct ? CLSID_SampleGrabber : CLSID_SmartTee, connect[0].peer));
        EXPECT_EQ(320, connect[0].format.vih.bmiHeader.biWidth);
        std::vector<SimEvent> started = m_cam.Events(SIM_EVENT_PAUSE);
        ASSERT_FALSE(started.empty());
        EXPECT_STREQ(c.direct ? L"SamGra" : L"Smart Tee/Preview>SamGra", started[0].text);
    }
}

TEST_F(SimCamConformance, StreamConfigAndQueryAcceptCodes)
{
    BoundCam cam;
    ASSERT_TRUE(cam.config);
    IPin *pin = cam.pin.Get();
    IAMStreamConfig *config = cam.config.Get();
    EXPECT_EQ(E_POINTER, pin->QueryAccept(NULL));
    EXPECT_EQ(S_FALSE, config->GetStreamCaps(100000, NULL, NULL));
    EXPECT_EQ(S_FALSE, config->GetStreamCaps(-1, NULL, NULL));

    const MediaTypePtr base = Format(config);
    ASSERT_TRUE(base);
    VIDEOINFOHEADER *vih = reinterpret_cast<VIDEOINFOHEADER *>(base->pbFormat);
    // Refusals: another major type, a size not offered, a subtype the camera
    // does not send, a size far too large; bit count and compression are not
    // looked at.
    const struct {
        const char *name;
        const GUID *major, *subtype;
        LONG grow;  // added to width and height
        WORD bits;
        DWORD compression;
        HRESULT accept, set;
    } cases[] = {
        {"AsGiven", &MEDIATYPE_Video, &MEDIASUBTYPE_RGB24, 0, 24, BI_RGB, S_OK, S_OK},
        {"Audio", &MEDIATYPE_Audio, &MEDIASUBTYPE_RGB24, 0, 24, BI_RGB, S_FALSE, E_FAIL},
        {"SizeNotOffered", &MEDIATYPE_Video, &MEDIASUBTYPE_RGB24, -1, 24, BI_RGB, S_FALSE, E_FAIL},
        {"RGB32", &MEDIATYPE_Video, &MEDIASUBTYPE_RGB32, 0, 24, BI_RGB, S_FALSE, E_FAIL},
        {"YUY2", &MEDIATYPE_Video, &MEDIASUBTYPE_YUY2, 0, 24, BI_RGB, S_FALSE, E_FAIL},
        {"Huge", &MEDIATYPE_Video, &MEDIASUBTYPE_RGB24, 10000000, 24, BI_RGB, S_FALSE, E_FAIL},
        {"NoBitCount", &MEDIATYPE_Video, &MEDIASUBTYPE_RGB24, 0, 0, BI_RGB, S_OK, S_OK},
        {"OddHeaderFields", &MEDIATYPE_Video, &MEDIASUBTYPE_RGB24, 0, 123, 0xdeadbeef, S_OK, S_OK},
    };
    for (const auto &c : cases) {
        AM_MEDIA_TYPE mt = *base;
        VIDEOINFOHEADER info = *vih;
        mt.pbFormat = reinterpret_cast<BYTE *>(&info);
        mt.majortype = *c.major;
        mt.subtype = *c.subtype;
        info.bmiHeader.biWidth += c.grow;
        info.bmiHeader.biHeight += c.grow;
        info.bmiHeader.biBitCount = c.bits;
        info.bmiHeader.biCompression = c.compression;
        if (c.bits == 123) {  // nor are the image and sample sizes
            info.bmiHeader.biSizeImage = 456;
            mt.lSampleSize = 789;
        }
        EXPECT_EQ(c.accept, pin->QueryAccept(&mt)) << c.name;
        EXPECT_EQ(c.set, config->SetFormat(&mt)) << c.name;
        // What is set is the camera's own type of that size.
        EXPECT_TRUE(FormatIs(config, base.get())) << c.name;
    }
    AM_MEDIA_TYPE empty;
    memset(&empty, 0, sizeof(empty));
    EXPECT_EQ(S_FALSE, pin->QueryAccept(&empty));
    empty.majortype = MEDIATYPE_Video;
    empty.formattype = FORMAT_VideoInfo;
    EXPECT_EQ(S_FALSE, pin->QueryAccept(&empty));

    // The test's refusal switch answers with the result it was given.
    m_cam.RefuseSetFormat(true, E_ACCESSDENIED);
    EXPECT_EQ(E_ACCESSDENIED, config->SetFormat(base.get()));
    m_cam.RefuseSetFormat(false);

    // The four sizes, whole 24-bit frames with rows of four-byte multiples;
    // each entry set is what GetFormat gives and the only type offered.
    int count = 0, size = 0;
    ASSERT_EQ(S_OK, config->GetNumberOfCapabilities(&count, &size));
    ASSERT_EQ(4, count);
    EXPECT_EQ(128, size);
    const SIZE sizes[] = {{640, 480}, {320, 240}, {1280, 720}, {160, 120}};
    for (int i = 0; i < count; ++i) {
        VIDEO_STREAM_CONFIG_CAPS caps;
        HRESULT hr = E_FAIL;
        const MediaTypePtr entry = StreamCaps(config, i, &caps, &hr);
        ASSERT_EQ(S_OK, hr);
        ASSERT_EQ(88u, entry->cbFormat);
        const BITMAPINFOHEADER &bmi = Bmi(entry.get());
        EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB24, entry->subtype) && bmi.biBitCount == 24) << i;
        EXPECT_EQ(sizes[i].cx, bmi.biWidth);
        EXPECT_EQ(sizes[i].cy, bmi.biHeight);
        EXPECT_EQ(static_cast<DWORD>(((bmi.biWidth * 3 + 3) & ~3) * bmi.biHeight), bmi.biSizeImage);
        EXPECT_EQ(sizes[i].cx, caps.MaxOutputSize.cx);
        EXPECT_EQ(sizes[i].cy, caps.MaxOutputSize.cy);
        EXPECT_EQ(S_OK, config->SetFormat(entry.get())) << i;
        LONG width = 0, height = 0;
        EXPECT_TRUE(m_cam.CurrentFormat(&width, &height) && width == sizes[i].cx &&
                    height == sizes[i].cy);
        EXPECT_TRUE(FormatIs(config, entry.get())) << i;
        EXPECT_TRUE(OffersFirst(pin, entry.get(), 1)) << i;
    }
}

// The rate settings set the stream's rate at VGA and QVGA size; other sizes
// keep their format's. The connected type, the samples' length and their
// spacing on the graph's clock all say it.
TEST_F(SimCamConformance, RateSettingsSetTheStreamRateAtTheirSizes)
{
    const struct {
        LONG width, height;
        ULONG control;
        LONG setting;
        REFERENCE_TIME frameTime;
    } cases[] = {
        {640, 480, VGA_FPS, 4, 666666},   // "15fps"
        {320, 240, QVGA_FPS, 0, 166666},  // "60fps"
        {160, 120, QVGA_FPS, 0, 400000},  // no rate setting: the interval of the format it
                                          // was set from, 640x480 at "25fps"
    };
    for (const auto &c : cases) {
        m_cam.Reset();
        m_cam.SetValue(c.control, c.setting);
        ViewerGraph g;
        ASSERT_NO_FATAL_FAILURE(g.Build(c.width, c.height, true));
        ASSERT_EQ(S_OK, g.rendered);
        const MediaTypePtr mt = Format(g.config.Get());
        ASSERT_TRUE(mt);
        EXPECT_EQ(c.frameTime, reinterpret_cast<VIDEOINFOHEADER *>(mt->pbFormat)->AvgTimePerFrame)
            << c.width;
        VIDEO_STREAM_CONFIG_CAPS caps = {};
        EXPECT_TRUE(StreamCaps(g.config.Get(), 0, &caps));
        EXPECT_LE(caps.MinFrameInterval, c.frameTime);
        EXPECT_GE(caps.MaxFrameInterval, c.frameTime);

        GrabberCallback cb;
        ASSERT_EQ(S_OK, g.grabber->SetCallback(&cb, 0));
        ASSERT_EQ(S_OK, g.control->Run());
        // About a second of frames, so that one late frame moves the mean little.
        const LONG wanted = static_cast<LONG>(10000000 / c.frameTime) + 2;
        EXPECT_GE(WaitForFrames(m_cam, wanted), wanted);
        EXPECT_EQ(S_OK, g.control->Stop());
        g.grabber->SetCallback(NULL, 0);
        std::lock_guard<std::mutex> lock(cb.m_mutex);
        ASSERT_GE(cb.m_samples, wanted);
        EXPECT_EQ(c.frameTime, cb.m_lastEnd - cb.m_lastStart) << c.width;
        // The mean spacing of the samples' start times on the graph's clock.
        const double mean =
            static_cast<double>(cb.m_lastStart - cb.m_firstStart) / (cb.m_samples - 1);
        EXPECT_GT(mean, c.frameTime * 0.8) << c.width;
        EXPECT_LT(mean, c.frameTime * 1.25) << c.width;
    }

    // A client's interval at such a size sets the setting to the nearest rate.
    BoundCam cam;
    ASSERT_TRUE(cam.config);
    VIDEO_STREAM_CONFIG_CAPS caps;
    const MediaTypePtr mt = StreamCaps(cam.config.Get(), 1, &caps);  // 320x240
    ASSERT_TRUE(mt);
    reinterpret_cast<VIDEOINFOHEADER *>(mt->pbFormat)->AvgTimePerFrame = 333333;
    EXPECT_EQ(S_OK, cam.config->SetFormat(mt.get()));
    EXPECT_EQ(2, m_cam.Value(QVGA_FPS));  // "30fps"
}

// One stream at a time: a second filter's run is refused as Windows refuses a
// second filter of one device, in this process and in another; so is a run
// while another application holds the camera. The refusal comes from the
// filter's Run (this platform's graph does not pass it on from its own Run);
// the filter stays paused.
TEST_F(SimCamConformance, OneStreamAtATime)
{
    ViewerGraph first, second;
    ASSERT_NO_FATAL_FAILURE(first.Build(0, 0, true));
    ASSERT_NO_FATAL_FAILURE(second.Build(0, 0, true));
    const ComPtr<IMediaFilter> filter = Query<IMediaFilter>(second.source, IID_IMediaFilter);
    ASSERT_TRUE(filter);
    FILTER_STATE state = State_Stopped;
    ASSERT_EQ(S_OK, first.control->Run());
    EXPECT_EQ(GetCurrentProcessId(), m_cam.OwnerProcess());
    ASSERT_EQ(S_OK, second.control->Pause());
    EXPECT_EQ(VIREO_SIM_E_DEVICE_BUSY, filter->Run(0));
    EXPECT_EQ(VFW_S_CANT_CUE, filter->GetState(0, &state));
    EXPECT_EQ(State_Paused, state);
    const std::wstring peer = L"\"" + wintest::BinDir() + L"simcam_peer.exe\" capture";
    EXPECT_EQ(20, wintest::RunProcess(peer));
    EXPECT_EQ(S_OK, first.control->Stop());
    EXPECT_EQ(0u, m_cam.OwnerProcess());
    EXPECT_EQ(S_OK, filter->Run(0));
    EXPECT_EQ(S_OK, second.control->Stop());
    EXPECT_EQ(0, wintest::RunProcess(peer));

    m_cam.SetBusy(true);
    ASSERT_EQ(S_OK, second.control->Pause());
    EXPECT_EQ(VIREO_SIM_E_DEVICE_BUSY, filter->Run(0));
    m_cam.SetBusy(false);
    EXPECT_EQ(S_OK, filter->Run(0));
    EXPECT_EQ(S_OK, second.control->Stop());
    std::vector<SimEvent> runs = m_cam.Events(SIM_EVENT_RUN);
    ASSERT_FALSE(runs.empty());
    EXPECT_EQ(S_OK, runs.back().result);
}

// Unplugged while streaming: the graph is told, frames stop, property
// requests fail, the device is neither enumerated nor bound. Back, the graph
// is told again and property requests are answered; the filter that lost the
// camera is refused a run, a graph built afresh streams.
TEST_F(SimCamConformance, UnplugAndReturn)
{
    ViewerGraph g;
    ASSERT_NO_FATAL_FAILURE(g.Build(160, 120, true));
    const ComPtr<IMediaEvent> events = Query<IMediaEvent>(g.graph, IID_IMediaEvent);
    ASSERT_TRUE(events);
    // The camera's record of each EC_DEVICE_LOST it sent, then the graph's.
    auto waitDeviceLost = [&](LONG_PTR expected) {
        for (int i = 0;
             i < 1000 && m_cam.Events(SIM_EVENT_DEVICE_LOST).size() < (expected ? 2u : 1u); ++i)
            Sleep(10);  // a guard against a stalled stream, not a timing check
        long code = 0;
        LONG_PTR p1 = 0, p2 = -1;
        while (events->GetEvent(&code, &p1, &p2, 0) == S_OK) {
            events->FreeEventParams(code, p1, p2);  // frees nothing of this code's
            if (code == EC_DEVICE_LOST)
                return p1 == reinterpret_cast<LONG_PTR>(static_cast<IUnknown *>(g.source.Get())) &&
                       p2 == expected;
        }
        return false;
    };
    ASSERT_EQ(S_OK, g.control->Run());
    ASSERT_GE(WaitForFrames(m_cam, 2), 2);

    ASSERT_EQ(S_OK, m_cam.Unplug());
    EXPECT_TRUE(waitDeviceLost(0));
    const LONG atLoss = m_cam.FramesDelivered();
    const ComPtr<IKsPropertySet> props = Query<IKsPropertySet>(g.source, IID_IKsPropertySet);
    ASSERT_TRUE(props);
    ControlRequest rq = {FLIP, SET_DATA, 1, 0};
    EXPECT_EQ(VIREO_SIM_E_DEVICE_GONE,
              props->Set(CameraPropertySet, VALUE10H, NULL, 0, &rq, sizeof(rq)));
    DWORD returned = 0;
    EXPECT_EQ(VIREO_SIM_E_DEVICE_GONE,
              props->Get(CameraPropertySet, VALUE10H, &rq, sizeof(rq), &rq, sizeof(rq), &returned));
    EXPECT_EQ(2, m_cam.RefusedRequests());
    EXPECT_TRUE(VideoInputDevices().empty());
    EXPECT_FALSE(BindSimCam());
    ComPtr<IBaseFilter> stale;
    EXPECT_EQ(
        VIREO_SIM_E_DEVICE_GONE,
        CoCreateInstance(CLSID_SimCamFilter, NULL, CLSCTX_INPROC_SERVER, IID_IBaseFilter, &stale));
    EXPECT_EQ(atLoss, m_cam.FramesDelivered());
    EXPECT_EQ(1, m_cam.FiltersAlive());

    ASSERT_EQ(S_OK, m_cam.Plug());
    EXPECT_TRUE(waitDeviceLost(1));
    EXPECT_EQ(1u, VideoInputDevices().size());
    EXPECT_EQ(S_OK, props->Set(CameraPropertySet, VALUE10H, NULL, 0, &rq, sizeof(rq)));
    EXPECT_EQ(1, m_cam.Value(FLIP));
    EXPECT_EQ(S_OK, g.control->Stop());

    // The filter that lost its camera streams no more; a graph built afresh does.
    ASSERT_EQ(S_OK, g.control->Pause());
    EXPECT_EQ(VIREO_SIM_E_DEVICE_GONE, Query<IMediaFilter>(g.source, IID_IMediaFilter)->Run(0));
    EXPECT_EQ(S_OK, g.control->Stop());
    ViewerGraph fresh;
    ASSERT_NO_FATAL_FAILURE(fresh.Build(160, 120, true));
    const LONG before = m_cam.FramesDelivered();
    ASSERT_EQ(S_OK, fresh.control->Run());
    EXPECT_GE(WaitForFrames(m_cam, before + 2), before + 2);
    EXPECT_EQ(S_OK, fresh.control->Stop());
}

}  // namespace
