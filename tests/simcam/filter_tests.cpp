// The simulated camera as applications meet it: enumerated and bound
// through the system device enumerator, configured through IAMStreamConfig,
// streaming into a real capture graph, answering its property sets.
#include "simcam_test.h"

namespace {

using SimCamDevice = SimCamTest;

TEST_F(SimCamDevice, EnumeratedOnceAndBoundThroughItsMoniker)
{
    std::vector<std::wstring> names = VideoInputDevices();
    int ours = 0;
    for (const std::wstring &n : names)
        ours += n == SIMCAM_FRIENDLY_NAME;
    EXPECT_EQ(1, ours);

    IBaseFilter *filter = BindSimCam();
    ASSERT_TRUE(filter != NULL);
    CLSID clsid = GUID_NULL;
    EXPECT_EQ(S_OK, filter->GetClassID(&clsid));
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_SimCamFilter));
    EXPECT_EQ(1, m_cam.FiltersAlive());

    IPin *pin = CapturePin(filter);
    ASSERT_TRUE(pin != NULL);
    PIN_DIRECTION dir = PINDIR_INPUT;
    EXPECT_EQ(S_OK, pin->QueryDirection(&dir));
    EXPECT_EQ(PINDIR_OUTPUT, dir);
    IKsPropertySet *props = NULL;
    ASSERT_EQ(S_OK, pin->QueryInterface(IID_IKsPropertySet, reinterpret_cast<void **>(&props)));
    GUID category = GUID_NULL;
    DWORD returned = 0;
    EXPECT_EQ(S_OK, props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, NULL, 0, &category,
                               sizeof(category), &returned));
    EXPECT_TRUE(IsEqualGUID(category, PIN_CATEGORY_CAPTURE));
    EXPECT_EQ(sizeof(GUID), returned);
    props->Release();
    pin->Release();

    EXPECT_EQ(0u, filter->Release());
    EXPECT_EQ(0, m_cam.FiltersAlive());

    // Unregistered, the device is gone from the category.
    ASSERT_TRUE(wintest::RegisterModule(L"simcam.ax", true));
    m_registered = false;
    names = VideoInputDevices();
    for (const std::wstring &n : names)
        EXPECT_NE(std::wstring(SIMCAM_FRIENDLY_NAME), n);
}

TEST_F(SimCamDevice, GraphRunsAndDeliversFramesOfTheSetSize)
{
    ViewerGraph g;
    ASSERT_NO_FATAL_FAILURE(g.Build(320, 240));
    EXPECT_EQ(VFW_S_NOPREVIEWPIN, g.rendered);
    EXPECT_TRUE(m_cam.Connected());

    AM_MEDIA_TYPE connected;
    ASSERT_EQ(S_OK, g.grabber->GetConnectedMediaType(&connected));
    ASSERT_GE(connected.cbFormat, 88u);
    EXPECT_EQ(320, Bmi(&connected).biWidth);
    EXPECT_EQ(240, Bmi(&connected).biHeight);
    EXPECT_EQ(230400u, Bmi(&connected).biSizeImage);
    FreeMediaType(&connected);

    GrabberCallback cb;
    ASSERT_EQ(S_OK, g.grabber->SetCallback(&cb, 0));
    ASSERT_EQ(S_OK, g.grabber->SetBufferSamples(TRUE));
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    EXPECT_GE(WaitForFrames(m_cam, 5), 5);
    IMediaFilter *mf = NULL;
    ASSERT_EQ(S_OK, g.source->QueryInterface(IID_IMediaFilter, reinterpret_cast<void **>(&mf)));
    FILTER_STATE state = State_Stopped;
    EXPECT_EQ(S_OK, mf->GetState(0, &state));
    EXPECT_EQ(State_Running, state);

    std::vector<BYTE> frame(230400 + 64, 0);
    long size = static_cast<long>(frame.size());
    EXPECT_EQ(S_OK, g.grabber->GetCurrentBuffer(&size, reinterpret_cast<long *>(frame.data())));
    EXPECT_EQ(230400, size);
    bool painted = false;
    for (long i = 0; i < size && !painted; ++i)
        painted = frame[i] != 0;
    EXPECT_TRUE(painted);

    ASSERT_TRUE(SUCCEEDED(g.control->Stop()));
    EXPECT_EQ(S_OK, mf->GetState(0, &state));
    EXPECT_EQ(State_Stopped, state);
    mf->Release();
    {
        // Through the Smart Tee's preview pin (which drops the time stamps).
        std::lock_guard<std::mutex> lock(cb.m_mutex);
        EXPECT_GE(cb.m_samples, 5);
        EXPECT_EQ(230400, cb.m_lastLength);
    }
    g.grabber->SetCallback(NULL, 0);

    EXPECT_EQ(0u, g.Teardown());
    EXPECT_EQ(0, m_cam.FiltersAlive());
    // The graph stopped the filter before the filter went.
    std::vector<SimEvent> events = m_cam.Events();
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(SIM_EVENT_CREATE, static_cast<int>(events.front().kind));
    EXPECT_EQ(SIM_EVENT_RELEASE, static_cast<int>(events.back().kind));
    int lastRun = -1, lastStop = -1;
    for (size_t i = 0; i < events.size(); ++i) {
        if (events[i].kind == SIM_EVENT_RUN)
            lastRun = static_cast<int>(i);
        if (events[i].kind == SIM_EVENT_STOP)
            lastStop = static_cast<int>(i);
    }
    EXPECT_GE(lastRun, 0);
    EXPECT_GT(lastStop, lastRun);
}

// An uncompressed type may say 0 for its image size; the frames are whole
// all the same.
TEST_F(SimCamDevice, ZeroImageSizeInTheTypeStillDeliversWholeFrames)
{
    m_cam.ForceZeroImageSize(true);
    ViewerGraph g;
    ASSERT_NO_FATAL_FAILURE(g.Build(0, 0));
    ASSERT_TRUE(SUCCEEDED(g.rendered));
    AM_MEDIA_TYPE connected;
    ASSERT_EQ(S_OK, g.grabber->GetConnectedMediaType(&connected));
    EXPECT_EQ(640, Bmi(&connected).biWidth);
    EXPECT_EQ(0u, Bmi(&connected).biSizeImage);
    FreeMediaType(&connected);
    ASSERT_EQ(S_OK, g.grabber->SetBufferSamples(TRUE));
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    EXPECT_GE(WaitForFrames(m_cam, 2), 2);
    std::vector<BYTE> frame(640 * 480 * 3 + 64, 0);
    long size = static_cast<long>(frame.size());
    EXPECT_EQ(S_OK, g.grabber->GetCurrentBuffer(&size, reinterpret_cast<long *>(frame.data())));
    EXPECT_EQ(640 * 480 * 3, size);
    g.control->Stop();
    EXPECT_EQ(0u, g.Teardown());
}

// The downstream holds on to every sample it gets: the allocator runs dry
// and the streaming thread waits for a buffer. Stop still comes back, and
// the camera streams again once the buffers are back.
TEST_F(SimCamDevice, StopsWhileTheDownstreamHoldsEveryBuffer)
{
    ViewerGraph g;
    ASSERT_NO_FATAL_FAILURE(g.Build(160, 120, true));
    ASSERT_EQ(S_OK, g.rendered);
    GrabberCallback cb;
    ASSERT_EQ(S_OK, g.grabber->SetCallback(&cb, 0));
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    EXPECT_GE(WaitForFrames(m_cam, 5), 5);
    {
        // Straight from the camera: stream times that move forward, one
        // frame interval long, every frame a sync point.
        std::lock_guard<std::mutex> lock(cb.m_mutex);
        EXPECT_GE(cb.m_samples, 5);
        EXPECT_EQ(0, cb.m_backwards);
        EXPECT_EQ(0, cb.m_badEnds);
        EXPECT_EQ(0, cb.m_untimed);
        EXPECT_EQ(0, cb.m_notSync);
        EXPECT_GE(cb.m_lastStart, 0);
        EXPECT_EQ(160 * 120 * 3, cb.m_lastLength);
        cb.m_hold = true;
    }
    Sleep(300);
    const LONG starved = m_cam.FramesDelivered();
    {
        std::lock_guard<std::mutex> lock(cb.m_mutex);
        EXPECT_FALSE(cb.m_held.empty());
    }
    Sleep(150);
    EXPECT_EQ(starved, m_cam.FramesDelivered());  // nothing more without a buffer
    EXPECT_TRUE(SUCCEEDED(g.control->Stop()));
    IMediaFilter *mf = NULL;
    ASSERT_EQ(S_OK, g.source->QueryInterface(IID_IMediaFilter, reinterpret_cast<void **>(&mf)));
    FILTER_STATE state = State_Running;
    EXPECT_EQ(S_OK, mf->GetState(0, &state));
    EXPECT_EQ(State_Stopped, state);
    mf->Release();
    g.grabber->SetCallback(NULL, 0);
    cb.ReleaseHeld();

    const LONG before = m_cam.FramesDelivered();
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    EXPECT_GE(WaitForFrames(m_cam, before + 2), before + 2);
    EXPECT_TRUE(SUCCEEDED(g.control->Stop()));
    EXPECT_EQ(0u, g.Teardown());
}

// Behind the filter's IKsPropertySet: the simulated driver for the camera's
// property set; every other set is refused as the proxy refuses it.
TEST_F(SimCamDevice, FilterPropertySetReachesTheDriverAndRefusesOtherSets)
{
    IBaseFilter *filter = BindSimCam();
    ASSERT_TRUE(filter != NULL);
    IKsPropertySet *props = NULL;
    ASSERT_EQ(S_OK, filter->QueryInterface(IID_IKsPropertySet, reinterpret_cast<void **>(&props)));

    union {
        ControlRequest rq;
        ControlReply reply;
    } b = {{EXPOSURE, GET_ENABLE, 0, 0}};
    DWORD returned = 0;
    EXPECT_EQ(S_OK,
              props->Get(CameraPropertySet, VALUE10H, &b, sizeof(b), &b, sizeof(b), &returned));
    EXPECT_EQ(1, b.reply.enableOrValue);
    EXPECT_EQ(284, b.reply.defaultValue);
    EXPECT_EQ(16u, returned);

    ControlRequest set = {EXPOSURE, SET_DATA, 555, 0};
    EXPECT_EQ(S_OK, props->Set(CameraPropertySet, VALUE10H, NULL, 0, &set, sizeof(set)));
    EXPECT_EQ(555, m_cam.Value(EXPOSURE));
    m_cam.AddFault(VALUE10H, EXPOSURE, SET_DATA, E_ACCESSDENIED, 1);
    EXPECT_EQ(E_ACCESSDENIED, props->Set(CameraPropertySet, VALUE10H, NULL, 0, &set, sizeof(set)));
    std::vector<SimRequest> log = m_cam.Log();
    ASSERT_EQ(3u, log.size());
    EXPECT_EQ(0u, log[0].isSet);
    EXPECT_EQ(1u, log[1].isSet);
    EXPECT_EQ(555, log[1].Value());
    EXPECT_EQ(E_ACCESSDENIED, log[2].result);

    DWORD support = 0;
    EXPECT_EQ(S_OK, props->QuerySupported(CameraPropertySet, VALUE10H, &support));
    EXPECT_EQ(static_cast<DWORD>(KSPROPERTY_SUPPORT_GET | KSPROPERTY_SUPPORT_SET), support);
    EXPECT_EQ(E_PROP_ID_UNSUPPORTED, props->QuerySupported(CameraPropertySet, 5, &support));

    // The camera's standard video processing amplifier set.
    const GUID other = {
        0xC6E13360, 0x30AC, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}};
    BYTE block[80] = {0};
    EXPECT_EQ(static_cast<HRESULT>(0x80070492),
              props->Get(other, 0, block, 16, block, 16, &returned));
    EXPECT_EQ(static_cast<HRESULT>(0x80070492), props->Set(other, 0, NULL, 0, block, 16));
    EXPECT_EQ(static_cast<HRESULT>(0x80070492), props->QuerySupported(other, 0, &support));
    EXPECT_EQ(static_cast<HRESULT>(0x80070492),
              props->Get(AMPROPSETID_Pin, 0, block, 16, block, 16, &returned));
    EXPECT_EQ(3, m_cam.LogCount());  // the refused sets never reached the driver

    props->Release();
    EXPECT_EQ(0u, filter->Release());
}

// A second process opens the same device and changes a setting; this
// process's filter reads it back from the driver.
TEST_F(SimCamDevice, StateIsSharedWithTheFilterOfAnotherProcess)
{
    IBaseFilter *filter = BindSimCam();
    ASSERT_TRUE(filter != NULL);
    const std::wstring peer = L"\"" + wintest::BinDir() + L"simcam_peer.exe\" ";
    EXPECT_EQ(0, wintest::RunProcess(peer + L"filterset 12 901"));

    IKsPropertySet *props = NULL;
    ASSERT_EQ(S_OK, filter->QueryInterface(IID_IKsPropertySet, reinterpret_cast<void **>(&props)));
    union {
        ControlRequest rq;
        ControlReply reply;
    } b = {{EXPOSURE, GET_DATA, 0, 0}};
    DWORD returned = 0;
    EXPECT_EQ(S_OK,
              props->Get(CameraPropertySet, VALUE10H, &b, sizeof(b), &b, sizeof(b), &returned));
    EXPECT_EQ(901, b.reply.enableOrValue);

    // And the other way round.
    ControlRequest set = {D_GAIN, SET_DATA, 17, 0};
    EXPECT_EQ(S_OK, props->Set(CameraPropertySet, VALUE10H, NULL, 0, &set, sizeof(set)));
    EXPECT_EQ(17, wintest::RunProcess(peer + L"filterget 302"));
    props->Release();

    // The peer's filter was created and released in its own process.
    std::vector<SimEvent> events = m_cam.Events();
    bool peerCreated = false, peerReleased = false;
    for (const SimEvent &e : events) {
        if (e.processId != GetCurrentProcessId()) {
            peerCreated |= e.kind == SIM_EVENT_CREATE;
            peerReleased |= e.kind == SIM_EVENT_RELEASE;
        }
    }
    EXPECT_TRUE(peerCreated);
    EXPECT_TRUE(peerReleased);
    EXPECT_EQ(0u, filter->Release());
}

}  // namespace
