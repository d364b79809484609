// capview as a process on a machine without a video input device: it prints
// its banner, waits for one key, reports the missing device and ends with
// status 0 without opening a window.
#include <gtest/gtest.h>

#include <windows.h>

#include "capview_run.h"
#include "wintest.h"

namespace {

class ViewerNoDevice : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The simulated camera is the only device this prefix may know (a
        // device left registered would show as a window and other output).
        if (GetFileAttributesW((wintest::BinDir() + L"simcam.ax").c_str()) !=
            INVALID_FILE_ATTRIBUTES)
            wintest::RegisterModule(L"simcam.ax", true);
    }

    // Waits for the end and checks that no viewer window came up meanwhile:
    // a viewer window would keep the program running until Q.
    int WaitExitWithoutWindow(CapviewRun &run)
    {
        while (run.Running()) {
            EXPECT_EQ(static_cast<HWND>(NULL), run.FindViewerWindow());
            if (WaitForSingleObject(run.Process(), 5) == WAIT_OBJECT_0)
                break;
        }
        return run.WaitExit();
    }
};

TEST_F(ViewerNoDevice, WaitsForAKeyThenReportsAndEndsWithStatus0)
{
    CapviewRun run;
    ASSERT_TRUE(run.Start(CapviewRun::KEY_FROM_CONSOLE));
    const std::string banner = ExpectedBanner(640, 480);
    ASSERT_TRUE(run.WaitForOutput(banner.size()));
    // The banner is out and the program waits for its key.
    EXPECT_EQ(banner, run.Output());
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(run.Process(), 300));
    ASSERT_TRUE(run.Running());

    ASSERT_TRUE(run.PressKey(L'x'));
    EXPECT_EQ(0, WaitExitWithoutWindow(run));
    EXPECT_EQ(banner + ExpectedNoDeviceLine(), run.Output());
}

TEST_F(ViewerNoDevice, BannerShowsTheRequestedSize)
{
    const struct {
        const char *settings;
        int width, height;
    } cases[] = {{"[CAMERA_PARAM]\r\nWIDTH=320\r\nHEIGHT=240\r\nDISP_INTERVAL=-4\r\n", 320, 240},
                 {"[CAMERA_PARAM]\r\nWIDTH=wide\r\n", 0, 480}};
    for (const auto &c : cases) {
        CapviewRun run;
        run.WriteSettings(c.settings);
        ASSERT_TRUE(run.Start(CapviewRun::KEY_FROM_NO_CONSOLE));
        EXPECT_EQ(0, WaitExitWithoutWindow(run));
        EXPECT_EQ(ExpectedBanner(c.width, c.height) + ExpectedNoDeviceLine(), run.Output());
    }
}

}  // namespace
