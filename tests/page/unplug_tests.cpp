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
        m_camera = SimCamBindFilter();
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

    // The user's actions on the page.
    enum Action { FLIP_CLICKED, EXPOSURE_DRAGGED, VGA_15FPS_CLICKED, DEFAULT_CLICKED, SHOWN_AGAIN };
    void Do(Action action)
    {
        switch (action) {
        case FLIP_CLICKED: Click(IDC_FLIP); break;
        case EXPOSURE_DRAGGED: Scroll(IDC_EXPOSURE_TRACKBAR, 500, TB_THUMBTRACK); break;
        case VGA_15FPS_CLICKED: Click(IDC_VGA_15FPS); break;
        case DEFAULT_CLICKED: Click(IDC_DEFAULT); break;
        case SHOWN_AGAIN:
            Deactivate();
            Activate();
            break;
        }
    }

    // Does action; every property request it had refused is one message
    // box, and there was at least one.
    ::testing::AssertionResult OneBoxPerRefusal(Action action, const char *name)
    {
        m_boxes->Clear();
        const LONG before = m_cam.RefusedRequests();
        Do(action);
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
    const struct {
        const char *name;
        Action action;
    } actions[] = {{"FLIP", FLIP_CLICKED},
                   {"EXPOSURE", EXPOSURE_DRAGGED},
                   {"VGA_FPS", VGA_15FPS_CLICKED},
                   {"Default", DEFAULT_CLICKED},
                   {"shown again", SHOWN_AGAIN}};
    for (const auto &a : actions) {
        EXPECT_TRUE(OneBoxPerRefusal(a.action, a.name));
        ASSERT_TRUE(IsWindow(m_dlg)) << a.name;
    }

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
