// The simulated camera as applications meet it: streaming into a graph whose
// downstream holds on to its buffers, answering its property sets.
#include "simcam_test.h"

namespace {

using SimCamDevice = SimCamTest;

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
    ASSERT_EQ(S_OK, g.control->Run());
    EXPECT_GE(WaitForFrames(m_cam, 5), 5);
    {
        // Straight from the camera: stream times that move forward, one
        // frame interval long, every frame a sync point.
        std::lock_guard<std::mutex> lock(cb.m_mutex);
        EXPECT_GE(cb.m_samples, 5);
        EXPECT_EQ(0, cb.m_odd);
        EXPECT_GE(cb.m_lastStart, 0);
        EXPECT_EQ(160 * 120 * 3, cb.m_lastLength);
        cb.m_hold = true;
    }
    Sleep(300);
    const LONG starved = m_cam.FramesDelivered();
    Sleep(150);
    EXPECT_EQ(starved, m_cam.FramesDelivered());  // nothing more without a buffer
    EXPECT_EQ(S_OK, g.control->Stop());
    g.grabber->SetCallback(NULL, 0);
    cb.ReleaseHeld();

    const LONG before = m_cam.FramesDelivered();
    ASSERT_EQ(S_OK, g.control->Run());
    EXPECT_GE(WaitForFrames(m_cam, before + 2), before + 2);
    EXPECT_EQ(S_OK, g.control->Stop());
}

// Behind the filter's IKsPropertySet: the simulated driver for the camera's
// property set; every other set is refused as the proxy refuses it.
TEST_F(SimCamDevice, FilterPropertySetReachesTheDriverAndRefusesOtherSets)
{
    BoundCam cam;
    ASSERT_TRUE(cam.filter);
    const ComPtr<IKsPropertySet> props = Query<IKsPropertySet>(cam.filter, IID_IKsPropertySet);
    ASSERT_TRUE(props);
    union {
        ControlRequest rq;
        ControlReply reply;
    } b = {{EXPOSURE, GET_ENABLE, 0, 0}};
    DWORD returned = 0;
    EXPECT_EQ(S_OK,
              props->Get(CameraPropertySet, VALUE10H, &b, sizeof(b), &b, sizeof(b), &returned));
    EXPECT_EQ(284, b.reply.defaultValue);
    EXPECT_EQ(16u, returned);
    ControlRequest set = {EXPOSURE, SET_DATA, 555, 0};
    EXPECT_EQ(S_OK, props->Set(CameraPropertySet, VALUE10H, NULL, 0, &set, sizeof(set)));
    EXPECT_EQ(555, m_cam.Value(EXPOSURE));
    m_cam.AddFault(VALUE10H, EXPOSURE, SET_DATA, E_ACCESSDENIED, 1);
    EXPECT_EQ(E_ACCESSDENIED, props->Set(CameraPropertySet, VALUE10H, NULL, 0, &set, sizeof(set)));

    DWORD support = 0;
    EXPECT_EQ(S_OK, props->QuerySupported(CameraPropertySet, VALUE10H, &support));
    EXPECT_EQ(static_cast<DWORD>(KSPROPERTY_SUPPORT_GET | KSPROPERTY_SUPPORT_SET), support);
    EXPECT_EQ(E_PROP_ID_UNSUPPORTED, props->QuerySupported(CameraPropertySet, 5, &support));
    // The camera's standard video processing amplifier set.
    const GUID other = {
        0xC6E13360, 0x30AC, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}};
    BYTE block[80] = {0};
    const HRESULT refused = static_cast<HRESULT>(0x80070492);
    EXPECT_EQ(refused, props->Get(other, 0, block, 16, block, 16, &returned));
    EXPECT_EQ(refused, props->Set(other, 0, NULL, 0, block, 16));
    EXPECT_EQ(refused, props->QuerySupported(other, 0, &support));
    EXPECT_EQ(refused, props->Get(AMPROPSETID_Pin, 0, block, 16, block, 16, &returned));
    EXPECT_EQ(3, m_cam.LogCount());  // the refused sets never reached the driver
}

}  // namespace
