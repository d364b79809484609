// The extension hosted as the kernel-streaming proxy hosts it: with
// vireoprop.ax registered, the filter aggregates its interface handler and
// lists its page, and every application holding the filter gets IFace.
#include "simcam_test.h"

namespace {

class SimCamHosting : public SimCamExtensionTest {};

// The pages the filter lists; one null identifier when it cannot say.
std::vector<CLSID> Pages(IBaseFilter *filter)
{
    CAUUID pages = {7, NULL};
    const ComPtr<ISpecifyPropertyPages> specify =
        Query<ISpecifyPropertyPages>(filter, IID_ISpecifyPropertyPages);
    if (!specify || specify->GetPages(&pages) != S_OK || (pages.cElems && !pages.pElems))
        return {GUID_NULL};
    const std::vector<CLSID> list(pages.pElems, pages.pElems + pages.cElems);
    CoTaskMemFree(pages.pElems);
    return list;
}

TEST_F(SimCamHosting, FilterOffersIFaceAndThePageOnlyWithTheExtensionRegistered)
{
    ComPtr<IBaseFilter> filter = BindSimCam();
    ASSERT_TRUE(filter);
    ComPtr<IFace> face = Query<IFace>(filter, CameraPropertySet);
    ASSERT_TRUE(face);
    // IFace belongs to the filter: its IUnknown is the filter's.
    EXPECT_EQ(Query<IUnknown>(filter, IID_IUnknown).Get(),
              Query<IUnknown>(face, IID_IUnknown).Get());

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
    EXPECT_EQ(std::vector<CLSID>{CLSID_CameraSettingPage}, Pages(filter.Get()));

    // Holding only IFace keeps the filter alive; its release lets the
    // filter and the inner handler go.
    EXPECT_EQ(1u, filter.Detach()->Release());
    EXPECT_EQ(1, m_cam.FiltersAlive());
    EXPECT_EQ(0u, face.Detach()->Release());
    EXPECT_EQ(0, m_cam.FiltersAlive());

    // Without the extension's keys there is neither IFace nor a page.
    ASSERT_TRUE(wintest::RegisterModule(L"vireoprop.ax", true));
    m_extension = false;
    BoundCam cam;
    ASSERT_TRUE(cam.filter);
    IFace *none = reinterpret_cast<IFace *>(1);
    EXPECT_EQ(E_NOINTERFACE,
              cam.filter->QueryInterface(CameraPropertySet, reinterpret_cast<void **>(&none)));
    EXPECT_TRUE(none == NULL);
    EXPECT_TRUE(Pages(cam.filter.Get()).empty());
}

}  // namespace
