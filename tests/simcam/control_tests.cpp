// The control path: one shared block for every opener, in this process and
// in others.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "simcontrol.h"
#include "wintest.h"

namespace {

int RunPeer(const std::wstring &args)
{
    return wintest::RunProcess(L"\"" + wintest::BinDir() + L"simcam_peer.exe\" " + args);
}

TEST(SimCamControlPath, OpenersShareOneBlockAndResetRestoresFactoryState)
{
    SimCamControl a;
    ASSERT_TRUE(a.IsOpen());
    a.Reset();
    SimCamControl b;
    ASSERT_TRUE(b.IsOpen());

    a.SetValue(EXPOSURE, 1234);
    EXPECT_EQ(1234, b.Value(EXPOSURE));

    b.AddFault(VALUE10H, A_GAIN, SET_DATA, E_ACCESSDENIED, 1);
    b.RefuseSetFormat(true, E_INVALIDARG);
    b.ForceZeroImageSize(true);
    {
        SimDriver driver = a.LockDriver();
        ControlRequest rq = {A_GAIN, SET_DATA, 7, 0};
        EXPECT_EQ(E_ACCESSDENIED,
                  driver.Set(CameraPropertySet, VALUE10H, NULL, 0, &rq, sizeof(rq)));
        EXPECT_EQ(S_OK, driver.Set(CameraPropertySet, VALUE10H, NULL, 0, &rq, sizeof(rq)));
        a.UnlockDriver();
    }
    EXPECT_EQ(7, b.Value(A_GAIN));
    std::vector<SimRequest> log = b.Log();
    ASSERT_EQ(2u, log.size());
    EXPECT_EQ(E_ACCESSDENIED, log[0].result);
    EXPECT_EQ(S_OK, log[1].result);
    EXPECT_EQ(7, log[1].Value());

    a.Reset();
    EXPECT_EQ(284, b.Value(EXPOSURE));
    EXPECT_EQ(1, b.Value(A_GAIN));
    EXPECT_EQ(0, b.LogCount());
    EXPECT_TRUE(b.Events().empty());
    EXPECT_EQ(0, b.FramesDelivered());
    SimCamLock lock(b.Block());
    EXPECT_EQ(0, b.Block().Shared()->refuseSetFormat);
    EXPECT_EQ(0, b.Block().Shared()->zeroImageSize);
}

TEST(SimCamControlPath, AnotherProcessSeesAndChangesTheSameState)
{
    SimCamControl cam;
    ASSERT_TRUE(cam.IsOpen());
    cam.Reset();
    cam.SetValue(D_GAIN, 21);
    EXPECT_EQ(21, RunPeer(L"getvalue 302"));
    EXPECT_EQ(0, RunPeer(L"setvalue 12 777"));
    EXPECT_EQ(777, cam.Value(EXPOSURE));
}

}  // namespace
