// The "Camera Setting" page on the simulated camera (its filter bound through
// the system device enumerator, the registered vireoprop.ax hosted in it)
// while the camera is unplugged: each failed request shows one message, the
// dialog stays, and once the camera is back the page works again.
#include "pagetest.h"

#include "simcontrol.h"

namespace {

class PageOnUnpluggedCamera : public PageTest {
protected:
    void SetUp() override
    {
        PageTest::SetUp();
        ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
        m_cam.Reset();
        ASSERT_TRUE(m_registered = wintest::RegisterModule(L"simcam.ax"));
        ASSERT_TRUE(m_extension = wintest::RegisterModule(L"vireoprop.ax"));
        m_camera = SimCamBindFilter().Detach();
        ASSERT_TRUE(m_camera != NULL);
        ASSERT_EQ(S_OK, m_page->SetPageSite(&m_site));
        IUnknown *object = m_camera;
        ASSERT_EQ(S_OK, m_page->SetObjects(1, &object));
    }

    void TearDown() override
    {
        PageTest::TearDown();
        if (m_camera) {
            EXPECT_EQ(0u, m_camera->Release());
        }
        if (m_extension) {
            EXPECT_TRUE(wintest::RegisterModule(L"vireoprop.ax", true));
        }
        if (m_registered) {
            EXPECT_TRUE(wintest::RegisterModule(L"simcam.ax", true));
        }
        m_cam.Reset();
        CoUninitialize();
    }

    // Does action; every property request it had refused is one message
    // box, and there was at least one.
    template <typename Action>
    ::testing::AssertionResult OneBoxPerRefusal(const char *name, Action action)
    {
        m_boxes->Clear();
        const LONG before = m_cam.RefusedRequests();
        action();
        const LONG refused = m_cam.RefusedRequests() - before;
        const std::vector<std::string> texts = BoxTexts();
        if (refused < 1 || texts.size() != static_cast<size_t>(refused))
            return ::testing::AssertionFailure()
                   << name << ": " << refused << " refused, " << texts.size() << " boxes";
        for (const std::string &t : texts)
            if (t.find("0x8007048F") == std::string::npos)
                return ::testing::AssertionFailure() << name << ": " << t;
        return ::testing::AssertionSuccess();
    }

    SimCamControl m_cam;
    IBaseFilter *m_camera = NULL;
    bool m_registered = false;
    bool m_extension = false;
};

TEST_F(PageOnUnpluggedCamera, OneMessagePerFailedRequestAndUsableAgainOnReturn)
{
    ASSERT_EQ(S_OK, Activate());
    ASSERT_TRUE(m_dlg != NULL);
    EXPECT_TRUE(BoxTexts().empty());

    ASSERT_EQ(S_OK, m_cam.Unplug());
    // The user's actions on the page; after each the dialog is still there.
    EXPECT_TRUE(OneBoxPerRefusal("FLIP", [&] { Click(IDC_FLIP); }));
    EXPECT_TRUE(
        OneBoxPerRefusal("EXPOSURE", [&] { Scroll(IDC_EXPOSURE_TRACKBAR, 500, TB_THUMBTRACK); }));
    EXPECT_TRUE(OneBoxPerRefusal("VGA_FPS", [&] { Click(IDC_VGA_15FPS); }));
    EXPECT_TRUE(OneBoxPerRefusal("Default", [&] { Click(IDC_DEFAULT); }));
    ASSERT_TRUE(IsWindow(m_dlg));
    EXPECT_TRUE(OneBoxPerRefusal("shown again", [&] {
        Deactivate();
        Activate();
    }));
    ASSERT_TRUE(IsWindow(m_dlg));

    ASSERT_EQ(S_OK, m_cam.Plug());
    m_boxes->Clear();
    Deactivate();
    ASSERT_EQ(S_OK, Activate());
    Click(IDC_MIRROR);
    Click(IDC_VGA_15FPS);
    EXPECT_TRUE(BoxTexts().empty());
    EXPECT_EQ(1, m_cam.Value(MIRROR));
    EXPECT_EQ(4, m_cam.Value(VGA_FPS));
}

}  // namespace
