// The keeper under the organization's policy, written into the registry
// as the policy engine writes it: a locked value reaches a running keeper's
// camera without a replug, wins over the user's profile at every restore
// and is never saved as the user's choice; a locked control left elsewhere
// is put back after the change; recommended values start a camera with no
// profile until the user chooses; removing the policy frees the control.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>

#include "keeper_fixture.h"
#include "policy_keys.h"

namespace {

const DWORD kPolicyGuardMs = 5000;  // a gpupdate's keys to the camera
// A change signal to the locked value put back: the settle's longest and
// as long again.
const DWORD kPutBackGuardMs = 2 * keeper::kSettleMostMs;
const wchar_t kModel[] = L"Models\\vid_2e9a&pid_0b01\\Mandatory";

class KeeperPolicyTest : public KeeperTest {
protected:
    void TearDown() override
    {
        KeeperTest::TearDown();
        PolicyKeys::Clear();
    }
    bool WaitValue(ULONG control, LONG value, DWORD guardMs)
    {
        return wintest::WaitUntil([&] { return m_cam.Value(control) == value; }, guardMs);
    }
    // A change through IFace by this program (the camera library).
    HRESULT SetThroughIFace(ULONG control, LONG value)
    {
        VireoCamera *camera = NULL;
        HRESULT hr = VireoCameraOpenId(Id(0).c_str(), &camera);
        if (SUCCEEDED(hr))
            hr = VireoCameraSet(camera, control, value);
        VireoCameraClose(camera);
        return hr;
    }
    void EndKeeper()
    {
        PostMessageW(Window(), WM_CLOSE, 0, 0);
        EXPECT_EQ(0, m_keeper.WaitExit(10000));
    }
    PolicyKeys m_keys;
};

}  // namespace

TEST_F(KeeperPolicyTest, ALockedValueWinsAtEveryRestoreUntilThePolicyGoes)
{
    StartKeeper();
    ASSERT_EQ(0, Vireoctl(L"set EXPOSURE 500"));
    ASSERT_EQ(0, Vireoctl(L"set A_GAIN 20"));
    ASSERT_TRUE(WaitSaved(0, EXPOSURE, 500));
    ASSERT_TRUE(WaitSaved(0, A_GAIN, 20));

    // Set while the keeper runs: on the camera without a replug, and not
    // saved as the user's choice.
    ASSERT_TRUE(PolicyKeys::Set(L"Mandatory", L"EXPOSURE", 800));
    EXPECT_TRUE(WaitValue(EXPOSURE, 800, kPolicyGuardMs));
    EXPECT_TRUE(WaitLog("(policy): EXPOSURE=800 ok")) << Log();
    Sleep(2 * keeper::kSettleMostMs);  // the reading after the keeper's own write
    EXPECT_EQ(500, Saved(0, EXPOSURE));

    // Each restore point after its hold, the camera's values lost meanwhile.
    const struct {
        const char *point;
        std::function<void()> hold, restore;
    } points[] = {
        {"arrival", [&] { ASSERT_EQ(0, Simcamctl(L"unplug")); },
         [&] { ASSERT_EQ(0, Simcamctl(L"plug")); }},
        {"resume", [&] { SendToKeeper(WM_POWERBROADCAST, PBT_APMSUSPEND); },
         [&] { SendToKeeper(WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC); }},
        {"keep on",
         [&] {
             ASSERT_EQ(0, Vireoctl(L"keep off"));
             ASSERT_TRUE(WaitLog("keep off: every camera held"));
         },
         [&] { ASSERT_EQ(0, Vireoctl(L"keep on")); }},
    };
    for (const auto &p : points) {
        SCOPED_TRACE(p.point);
        const char *left = "the profile's EXPOSURE=500 left to the policy";
        const size_t before = Count(left);
        p.hold();
        m_cam.SetValue(EXPOSURE, 300);
        m_cam.SetValue(A_GAIN, 1);
        p.restore();
        EXPECT_TRUE(wintest::WaitUntil([&] { return Count(left) > before; }, kRestoreGuardMs))
            << Log();
        EXPECT_EQ(800, m_cam.Value(EXPOSURE));
        EXPECT_EQ(20, m_cam.Value(A_GAIN));  // the profile's other values
        EXPECT_EQ(500, Saved(0, EXPOSURE));
    }
    EXPECT_EQ(std::string::npos, Log().find("0x80070005")) << "a locked value was refused";

    // The policy removed: the control is free, and the user's new choice kept.
    PolicyKeys::Clear();
    EXPECT_TRUE(WaitLog("policy changed: locked none")) << Log();
    ASSERT_EQ(0, Vireoctl(L"set EXPOSURE 300"));
    EXPECT_TRUE(WaitSaved(0, EXPOSURE, 300));
    EXPECT_EQ(300, m_cam.Value(EXPOSURE));
}

TEST_F(KeeperPolicyTest, ALockedControlLeftElsewhereIsPutBack)
{
    const struct {
        const char *how;
        DWORD model;  // the camera model's own lock (0: none)
        LONG locked;  // where the camera is held
        std::function<void()> change;
    } cases[] = {
        {"a write without IFace, then a change of another control through IFace", 0, 800,
         [&] {
             m_cam.SetValue(EXPOSURE, 300);
             EXPECT_EQ(S_OK, SetThroughIFace(A_GAIN, 9));
         }},
        {"the general lock's value through IFace, where the model's lock is another", 900, 900,
         [&] { EXPECT_EQ(S_OK, SetThroughIFace(EXPOSURE, 800)); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.how);
        ASSERT_TRUE(PolicyKeys::Set(L"Mandatory", L"EXPOSURE", 800));
        if (c.model) {
            ASSERT_TRUE(PolicyKeys::Set(kModel, L"EXPOSURE", c.model));
        }
        StartKeeper();
        ASSERT_TRUE(WaitValue(EXPOSURE, c.locked, kRestoreGuardMs)) << Log();
        c.change();
        const std::string putBack = "(change): EXPOSURE=" + std::to_string(c.locked) + " ok";
        EXPECT_TRUE(WaitLog(putBack.c_str(), kPutBackGuardMs)) << Log();
        EXPECT_EQ(c.locked, m_cam.Value(EXPOSURE));
        EXPECT_EQ(-1, Saved(0, EXPOSURE)) << "a locked value saved as the user's";
        EndKeeper();
        PolicyKeys::Clear();
        m_cam.Reset();
        Forget();
    }
}

TEST_F(KeeperPolicyTest, RecommendedValuesStartACameraUntilTheUserChooses)
{
    ASSERT_TRUE(PolicyKeys::Set(L"Recommended", L"EXPOSURE", 700));
    ASSERT_TRUE(PolicyKeys::Set(L"Recommended", L"A_GAIN", 1000));  // outside the range
    ASSERT_TRUE(PolicyKeys::Set(L"Mandatory", L"D_GAIN", 1000));
    StartKeeper();
    EXPECT_TRUE(WaitLog("the recommended values")) << Log();
    EXPECT_TRUE(WaitValue(EXPOSURE, 700, kRestoreGuardMs));
    EXPECT_TRUE(WaitLog("A_GAIN=1000 outside the range")) << Log();
    EXPECT_TRUE(WaitLog("D_GAIN=1000 outside the range")) << Log();
    EXPECT_EQ(CameraControlFactoryDefault(A_GAIN), m_cam.Value(A_GAIN));
    EXPECT_EQ(CameraControlFactoryDefault(D_GAIN), m_cam.Value(D_GAIN));
    Sleep(2 * keeper::kSettleMostMs);  // the reading after the keeper's own writes
    EXPECT_EQ(-1, Saved(0, EXPOSURE)) << "the recommended values saved as the user's";

    // The user's choice is kept from then on, over a new recommendation.
    ASSERT_EQ(0, Vireoctl(L"set EXPOSURE 450"));
    ASSERT_TRUE(WaitSaved(0, EXPOSURE, 450));
    ASSERT_TRUE(PolicyKeys::Set(L"Recommended", L"EXPOSURE", 650));
    ASSERT_EQ(0, Simcamctl(L"unplug"));
    ASSERT_EQ(0, Simcamctl(L"plug"));
    EXPECT_TRUE(WaitRestored(m_cam, 0, EXPOSURE, 450));
}
