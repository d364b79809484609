// The simulated camera as test equipment: what a test lays out through the
// control path, and what it reads back of a client in the event log.
#include "simcam_test.h"

#include <algorithm>

namespace {

using SimCamEquipment = SimCamTest;

TEST_F(SimCamEquipment, CapabilityListAndRecordSizeAsLaidOut)
{
    m_cam.SetCapsRecordSize(100);
    m_cam.SetCapabilities(
        {SIM_CAPS_FAILING, SIM_CAPS_OTHER_TYPE, SIM_CAPS_SHORT_FORMAT, SIM_CAPS_NULL_FORMAT, 1});
    BoundCam cam;
    ASSERT_TRUE(cam.config);
    IAMStreamConfig *config = cam.config.Get();
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
        BYTE caps[128];
        HRESULT hr = S_OK;
        const MediaTypePtr mt = StreamCaps(config, i, caps, &hr);
        EXPECT_EQ(expected[i].hr, hr) << i;
        ASSERT_EQ(expected[i].formattype != NULL, mt != NULL) << i;
        if (!mt)
            continue;
        EXPECT_TRUE(IsEqualGUID(*expected[i].formattype, mt->formattype)) << i;
        EXPECT_EQ(expected[i].cbFormat, mt->cbFormat) << i;
        EXPECT_EQ(expected[i].block, mt->pbFormat != NULL) << i;
        if (mt->pbFormat && expected[i].formattype == &FORMAT_VideoInfo) {
            EXPECT_EQ(expected[i].width, Bmi(mt.get()).biWidth) << i;
        }
    }
}

// A second device under its own name: each is enumerated once, each binds
// to a filter that says which device it is.
TEST_F(SimCamEquipment, SecondDeviceUnderItsOwnName)
{
    static const WCHAR kSecond[] = L"Vireo Simulated Camera 2";
    ASSERT_EQ(1, m_cam.AddDevice(kSecond));
    const std::vector<std::wstring> names = VideoInputDevices();
    EXPECT_EQ(1, std::count(names.begin(), names.end(), SIMCAM_FRIENDLY_NAME));
    EXPECT_EQ(1, std::count(names.begin(), names.end(), kSecond));

    for (ULONG device : {0u, 1u}) {
        ComPtr<IBaseFilter> filter = BindDevice(device);
        ASSERT_TRUE(filter) << device;
        CLSID clsid = GUID_NULL;
        EXPECT_EQ(S_OK, filter->GetClassID(&clsid));
        EXPECT_TRUE(IsEqualCLSID(CLSID_SimCamFilter, clsid));
        EXPECT_EQ(0u, filter.Detach()->Release());
    }
    std::vector<SimEvent> created = m_cam.Events(SIM_EVENT_CREATE);
    ASSERT_EQ(2u, created.size());
    EXPECT_EQ(0u, created[0].device);
    EXPECT_EQ(1u, created[1].device);

    // simcam.ax's unregistration takes the second device along.
    ASSERT_TRUE(wintest::RegisterModule(L"simcam.ax", true));
    m_registered = false;
    EXPECT_TRUE(VideoInputDevices().empty());
    EXPECT_FALSE(SimCamControl(1).Exists());
}

}  // namespace
