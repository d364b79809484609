// capview on a simulated camera that goes away while it shows it, that is
// gone when it starts, or that another application holds: no crash, the last
// picture stays, Q ends it with status 0.
#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "capview_run.h"
#include "simcontrol.h"
#include "wintest.h"

namespace {

class ViewerOnUnpluggedCamera : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
        ASSERT_TRUE(m_cam.IsOpen());
        m_cam.Reset();
        ASSERT_TRUE(m_registered = wintest::RegisterModule(L"simcam.ax"));
    }

    void TearDown() override
    {
        if (m_registered) {
            EXPECT_TRUE(wintest::RegisterModule(L"simcam.ax", true));
        }
        m_cam.Reset();
        CoUninitialize();
    }

    // Waits for done(); a guard against a stalled program, not a timing check.
    template <typename Done> static bool WaitUntil(Done done)
    {
        for (int i = 0; i < 3000 && !done(); ++i)
            Sleep(10);
        return done();
    }

    // The camera's records of the kind from capview.
    std::vector<SimEvent> EventsOf(const CapviewRun &run, ULONG kind)
    {
        std::vector<SimEvent> mine;
        for (const SimEvent &e : m_cam.Events(kind))
            if (e.processId == run.ProcessId())
                mine.push_back(e);
        return mine;
    }

    // Q in the window ends capview with status 0 after its banner alone,
    // and its filter is gone.
    void QuitWithQ(CapviewRun &run, HWND window)
    {
        ASSERT_TRUE(PostMessageW(window, WM_KEYDOWN, 'Q', 0x00100001));
        EXPECT_EQ(0, run.WaitExit());
        EXPECT_EQ(ExpectedBanner(640, 480), run.Output());
        EXPECT_EQ(0, m_cam.FiltersAlive());
    }

    SimCamControl m_cam;
    bool m_registered = false;
};

// A grid of the client area's pixels.
std::vector<COLORREF> Sample(HWND window)
{
    std::vector<COLORREF> pixels;
    RECT client;
    GetClientRect(window, &client);
    HDC dc = GetDC(window);
    for (int y = 1; y < 16; ++y)
        for (int x = 1; x < 16; ++x)
            pixels.push_back(GetPixel(dc, client.right * x / 16, client.bottom * y / 16));
    ReleaseDC(window, dc);
    return pixels;
}

TEST_F(ViewerOnUnpluggedCamera, UnpluggedWhileShowingKeepsThePictureUntilQ)
{
    CapviewRun run;
    ASSERT_TRUE(run.Start(CapviewRun::KEY_FROM_NO_CONSOLE));
    HWND window = run.WaitForViewerWindow();
    ASSERT_TRUE(window != NULL) << "exit " << run.WaitExit(0) << ", output: " << run.Output();
    ASSERT_TRUE(WaitUntil([&] { return m_cam.FramesDelivered() > 3; }));

    ASSERT_EQ(S_OK, m_cam.Unplug());
    ASSERT_TRUE(WaitUntil([&] { return !EventsOf(run, SIM_EVENT_DEVICE_LOST).empty(); }));
    const LONG frames = m_cam.FramesDelivered();
    const std::vector<COLORREF> shown = Sample(window);
    EXPECT_GT(std::set<COLORREF>(shown.begin(), shown.end()).size(), 1u) << "no picture";
    InvalidateRect(window, NULL, FALSE);
    Sleep(200);
    EXPECT_TRUE(run.Running());
    EXPECT_EQ(shown, Sample(window));
    EXPECT_EQ(frames, m_cam.FramesDelivered());

    ASSERT_EQ(S_OK, m_cam.Plug());
    QuitWithQ(run, window);
}

TEST_F(ViewerOnUnpluggedCamera, GoneAtStartIsNoDevice)
{
    ASSERT_EQ(S_OK, m_cam.Unplug());
    CapviewRun run;
    ASSERT_TRUE(run.Start(CapviewRun::KEY_FROM_NO_CONSOLE));
    EXPECT_EQ(0, run.WaitExit());
    EXPECT_EQ(ExpectedBanner(640, 480) + ExpectedNoDeviceLine(), run.Output());
}

// The camera in use by another application: capview's run is refused, its
// window stays black, and Q still ends it with status 0.
TEST_F(ViewerOnUnpluggedCamera, BusyAtStartEndsCleanlyWithQ)
{
    m_cam.SetBusy(true);
    CapviewRun run;
    ASSERT_TRUE(run.Start(CapviewRun::KEY_FROM_NO_CONSOLE));
    HWND window = run.WaitForViewerWindow();
    ASSERT_TRUE(window != NULL) << "exit " << run.WaitExit(0) << ", output: " << run.Output();
    ASSERT_TRUE(WaitUntil([&] { return !EventsOf(run, SIM_EVENT_RUN).empty(); }));
    EXPECT_EQ(SIMCAM_E_DEVICE_BUSY, EventsOf(run, SIM_EVENT_RUN)[0].result);
    EXPECT_TRUE(run.Running());
    EXPECT_EQ(0, m_cam.FramesDelivered());
    QuitWithQ(run, window);
}

}  // namespace
