// The extension hosted as the kernel-streaming proxy hosts it: with
// vireoprop.ax registered, the filter aggregates its interface handler and
// lists its page, and every application holding the filter gets IFace.
#include "simcam_test.h"

namespace {

class SimCamHosting : public SimCamExtensionTest {};

TEST_F(SimCamHosting, FilterOffersIFaceAndThePageOnlyWithTheExtensionRegistered)
{
    IBaseFilter *filter = BindSimCam();
    ASSERT_TRUE(filter != NULL);
    IFace *face = Query<IFace>(filter, CameraPropertySet);
    ASSERT_TRUE(face != NULL);
    // IFace belongs to the filter: its IUnknown is the filter's.
    IUnknown *a = Query<IUnknown>(face, IID_IUnknown), *b = Query<IUnknown>(filter, IID_IUnknown);
    EXPECT_TRUE(a != NULL && a == b);
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

    // The page of the camera's property set is listed.
    ISpecifyPropertyPages *specify =
        Query<ISpecifyPropertyPages>(filter, IID_ISpecifyPropertyPages);
    ASSERT_TRUE(specify != NULL);
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

    // Without the extension's keys there is neither IFace nor a page.
    ASSERT_TRUE(wintest::RegisterModule(L"vireoprop.ax", true));
    m_extension = false;
    filter = BindSimCam();
    ASSERT_TRUE(filter != NULL);
    face = reinterpret_cast<IFace *>(1);
    EXPECT_EQ(E_NOINTERFACE,
              filter->QueryInterface(CameraPropertySet, reinterpret_cast<void **>(&face)));
    EXPECT_TRUE(face == NULL);
    specify = Query<ISpecifyPropertyPages>(filter, IID_ISpecifyPropertyPages);
    ASSERT_TRUE(specify != NULL);
    pages.cElems = 7;
    EXPECT_EQ(S_OK, specify->GetPages(&pages));
    EXPECT_EQ(0u, pages.cElems);
    specify->Release();
    EXPECT_EQ(0u, filter->Release());
}

}  // namespace
