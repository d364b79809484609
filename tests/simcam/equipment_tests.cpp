// The simulated camera as test equipment: what a test lays out through the
// control path, and what it reads back of a client in the event log.
#include "simcam_test.h"

namespace {

using SimCamEquipment = SimCamTest;

TEST_F(SimCamEquipment, CapabilityListAndRecordSizeAsLaidOut)
{
    m_cam.SetCapsRecordSize(100);
    m_cam.SetCapabilities(
        {SIM_CAPS_FAILING, SIM_CAPS_OTHER_TYPE, SIM_CAPS_SHORT_FORMAT, SIM_CAPS_NULL_FORMAT, 1});
    IBaseFilter *filter = BindSimCam();
    ASSERT_TRUE(filter != NULL);
    IPin *pin = CapturePin(filter);
    IAMStreamConfig *config = NULL;
    ASSERT_EQ(S_OK, pin->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void **>(&config)));
    int count = 0, size = 0;
    EXPECT_EQ(S_OK, config->GetNumberOfCapabilities(&count, &size));
    EXPECT_EQ(5, count);
    EXPECT_EQ(100, size);

    struct Expected {
        HRESULT hr;
        const GUID *formattype;  // null: no type
        ULONG cbFormat;
        bool block;
        LONG width;
    } const expected[] = {
        {E_FAIL, NULL, 0, false, 0},
        {S_OK, &FORMAT_VideoInfo2, sizeof(VIDEOINFOHEADER2), true, 320},
        {S_OK, &FORMAT_VideoInfo, 87, true, 320},
        {S_OK, &FORMAT_VideoInfo, 88, false, 0},
        {S_OK, &FORMAT_VideoInfo, 88, true, 320},
        {S_FALSE, NULL, 0, false, 0},
    };
    for (int i = 0; i < 6; ++i) {
        AM_MEDIA_TYPE *mt = NULL;
        BYTE caps[128];
        EXPECT_EQ(expected[i].hr, config->GetStreamCaps(i, &mt, caps)) << i;
        ASSERT_EQ(expected[i].formattype != NULL, mt != NULL) << i;
        if (!mt)
            continue;
        EXPECT_TRUE(IsEqualGUID(*expected[i].formattype, mt->formattype)) << i;
        EXPECT_EQ(expected[i].cbFormat, mt->cbFormat) << i;
        EXPECT_EQ(expected[i].block, mt->pbFormat != NULL) << i;
        if (mt->pbFormat && expected[i].formattype == &FORMAT_VideoInfo) {
            EXPECT_EQ(expected[i].width, Bmi(mt).biWidth) << i;
        }
        DeleteMediaType(mt);
    }
    config->Release();
    pin->Release();
    EXPECT_EQ(0u, filter->Release());
}

// Every SetFormat with its type and result, the name under which the filter
// joined the graph, and which way the stream went: through the Smart Tee's
// preview pin for the capture graph builder's preview stream, straight to the
// grabber for a direct connection.
TEST_F(SimCamEquipment, RecordsSetFormatJoinConnectionAndTheStreamsWay)
{
    for (bool direct : {false, true}) {
        m_cam.Reset();
        ViewerGraph g;
        ASSERT_NO_FATAL_FAILURE(g.Build(320, 240, direct));
        ASSERT_TRUE(SUCCEEDED(g.rendered));
        ASSERT_EQ(S_OK, g.control->Run());

        std::vector<SimEvent> set = m_cam.Events(SIM_EVENT_SETFORMAT);
        ASSERT_EQ(1u, set.size());
        EXPECT_EQ(S_OK, set[0].result);
        EXPECT_TRUE(IsEqualGUID(FORMAT_VideoInfo, set[0].format.formattype));
        EXPECT_EQ(88u, set[0].format.cbFormat);
        EXPECT_EQ(320, set[0].format.vih.bmiHeader.biWidth);
        EXPECT_EQ(240, set[0].format.vih.bmiHeader.biHeight);
        EXPECT_EQ(640u * 480 * 3, set[0].format.vih.bmiHeader.biSizeImage);  // as GetFormat gave it

        std::vector<SimEvent> join = m_cam.Events(SIM_EVENT_JOIN);
        ASSERT_EQ(1u, join.size());
        EXPECT_STREQ(L"Video Capture", join[0].text);

        std::vector<SimEvent> connect = m_cam.Events(SIM_EVENT_CONNECT);
        ASSERT_EQ(1u, connect.size());
        EXPECT_TRUE(
            IsEqualCLSID(direct ? CLSID_SampleGrabberFilter : CLSID_SmartTee, connect[0].peer));
        EXPECT_EQ(320, connect[0].format.vih.bmiHeader.biWidth);

        std::vector<SimEvent> started = m_cam.Events(SIM_EVENT_PAUSE);
        ASSERT_FALSE(started.empty());
        EXPECT_STREQ(direct ? L"SamGra" : L"Smart Tee/Preview>SamGra", started[0].text);
        g.control->Stop();
        EXPECT_EQ(0u, g.Teardown());
    }
}

// A second device under its own name: both are enumerated, each binds to a
// filter that says which device it is.
TEST_F(SimCamEquipment, SecondDeviceUnderItsOwnName)
{
    ASSERT_EQ(S_OK, m_cam.RegisterSecondDevice(true));
    std::vector<std::wstring> names = VideoInputDevices();
    int first = 0, second = 0;
    for (const std::wstring &n : names) {
        first += n == SIMCAM_FRIENDLY_NAME;
        second += n == SIMCAM_FRIENDLY_NAME2;
    }
    EXPECT_EQ(1, first);
    EXPECT_EQ(1, second);

    IBaseFilter *filter = NULL;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SimCamFilter2, NULL, CLSCTX_INPROC_SERVER,
                                     IID_IBaseFilter, reinterpret_cast<void **>(&filter)));
    CLSID clsid = GUID_NULL;
    EXPECT_EQ(S_OK, filter->GetClassID(&clsid));
    EXPECT_TRUE(IsEqualCLSID(CLSID_SimCamFilter2, clsid));
    EXPECT_EQ(0u, filter->Release());
    std::vector<SimEvent> created = m_cam.Events(SIM_EVENT_CREATE);
    ASSERT_EQ(1u, created.size());
    EXPECT_EQ(1u, created[0].device);

    // simcam.ax's unregistration takes the second device along.
    ASSERT_TRUE(wintest::RegisterModule(L"simcam.ax", true));
    m_registered = false;
    EXPECT_TRUE(VideoInputDevices().empty());
}

}  // namespace
