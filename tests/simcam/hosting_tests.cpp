// The extension hosted as the kernel-streaming proxy hosts it: with
// vireoprop.ax registered, the filter aggregates its interface handler and
// lists its page, and every application holding the filter gets IFace.
#include "simcam_test.h"

namespace {

class SimCamHosting : public SimCamExtensionTest {};

TEST_F(SimCamHosting, FilterOffersIFaceWhoseRequestsReachTheDriver)
{
    IBaseFilter *filter = BindSimCam();
    ASSERT_TRUE(filter != NULL);
    IFace *face = NULL;
    ASSERT_EQ(S_OK, filter->QueryInterface(CameraPropertySet, reinterpret_cast<void **>(&face)));
    ASSERT_TRUE(face != NULL);

    // IFace belongs to the filter: its IUnknown is the filter's.
    IUnknown *a = NULL, *b = NULL;
    ASSERT_EQ(S_OK, face->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&a)));
    ASSERT_EQ(S_OK, filter->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&b)));
    EXPECT_EQ(a, b);
    a->Release();
    b->Release();

    ControlRequest rq = {EXPOSURE, SET_DATA, 432, 0};
    EXPECT_EQ(S_OK, face->SetValue10h(&rq));
    EXPECT_EQ(432, m_cam.Value(EXPOSURE));
    union {
        ControlRequest rq;
        ControlReply reply;
    } get = {{EXPOSURE, GET_DATA, 0, 0}};
    DWORD returned = 0;
    EXPECT_EQ(S_OK, face->GetValue10h(&get, &returned));
    EXPECT_EQ(432, get.reply.enableOrValue);
    EXPECT_EQ(16u, returned);
    m_cam.AddFault(VALUE10H, A_GAIN, SET_DATA, E_ACCESSDENIED, 1);
    ControlRequest gain = {A_GAIN, SET_DATA, 5, 0};
    EXPECT_EQ(E_ACCESSDENIED, face->SetValue10h(&gain));

    std::vector<SimRequest> log = m_cam.Log();
    ASSERT_EQ(3u, log.size());
    EXPECT_EQ(1u, log[0].isSet);
    EXPECT_EQ(0u, log[0].instanceLength);
    EXPECT_EQ(16u, log[0].dataLength);
    EXPECT_EQ(0u, log[1].isSet);
    EXPECT_EQ(16u, log[1].instanceLength);
    EXPECT_EQ(1u, log[1].sameBuffer);
    EXPECT_EQ(E_ACCESSDENIED, log[2].result);

    // The page of the camera's property set is listed.
    ISpecifyPropertyPages *specify = NULL;
    ASSERT_EQ(S_OK, filter->QueryInterface(IID_ISpecifyPropertyPages,
                                           reinterpret_cast<void **>(&specify)));
    CAUUID pages = {0, NULL};
    ASSERT_EQ(S_OK, specify->GetPages(&pages));
    ASSERT_EQ(1u, pages.cElems);
    EXPECT_TRUE(IsEqualCLSID(pages.pElems[0], CLSID_CameraSettingPage));
    CoTaskMemFree(pages.pElems);
    specify->Release();

    // Holding only IFace keeps the filter alive; its release lets the
    // filter and the inner handler go.
    EXPECT_EQ(1u, filter->Release());
    EXPECT_EQ(1, m_cam.FiltersAlive());
    EXPECT_EQ(0u, face->Release());
    EXPECT_EQ(0, m_cam.FiltersAlive());
    std::vector<SimEvent> events = m_cam.Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(static_cast<ULONG>(SIM_EVENT_RELEASE), events.back().kind);
}

TEST_F(SimCamHosting, WithoutTheExtensionKeysThereIsNoIFaceAndNoPage)
{
    ASSERT_TRUE(wintest::RegisterModule(L"vireoprop.ax", true));
    m_extension = false;
    IBaseFilter *filter = BindSimCam();
    ASSERT_TRUE(filter != NULL);
    IUnknown *face = reinterpret_cast<IUnknown *>(1);
    EXPECT_EQ(E_NOINTERFACE,
              filter->QueryInterface(CameraPropertySet, reinterpret_cast<void **>(&face)));
    EXPECT_TRUE(face == NULL);
    ISpecifyPropertyPages *specify = NULL;
    ASSERT_EQ(S_OK, filter->QueryInterface(IID_ISpecifyPropertyPages,
                                           reinterpret_cast<void **>(&specify)));
    CAUUID pages = {7, NULL};
    EXPECT_EQ(S_OK, specify->GetPages(&pages));
    EXPECT_EQ(0u, pages.cElems);
    specify->Release();
    EXPECT_EQ(0u, filter->Release());
}

}  // namespace
