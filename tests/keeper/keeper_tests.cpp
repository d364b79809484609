// vireokeep.exe as a process on the simulated camera: the values come back
// after a replug (simcamctl in another process), a power cycle with the
// resume message, a camera that is not ready yet; each of two cameras of one
// name gets its own; what it leaves alone (no profile, settings not kept, a
// corrupt profile, a value outside the range); one keeper per session, and
// each way it ends saves first.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>

#include "keeperpaths.h"
#include "simcontrol.h"
#include "vireocamera.h"
#include "wintest.h"

namespace {

const DWORD kRestoreGuardMs = 15000;  // what a user may wait for a replugged camera

std::wstring Id(ULONG device)
{
    wchar_t id[VIREO_ID_CAPACITY];
    VireoCameraIdFromPath(SimCamDevicePath(device).c_str(), id, VIREO_ID_CAPACITY);
    return id;
}

std::wstring ProfileOf(ULONG device)
{
    wchar_t path[MAX_PATH] = L"";
    VireoKeeperProfilePath(Id(device).c_str(), path, MAX_PATH);
    return path;
}

// The value of control in device's profile; -1 when there is none.
LONG Saved(ULONG device, ULONG control)
{
    VireoProfile profile;
    if (FAILED(VireoProfileRead(ProfileOf(device).c_str(), &profile, NULL)))
        return -1;
    for (size_t i = 0; i < CAMERA_CONTROL_COUNT; ++i)
        if (CameraControlIds[i] == control && (profile.present >> i & 1))
            return profile.values[i];
    return -1;
}

void SetDword(const wchar_t *name, DWORD value)
{
    RegSetKeyValueW(HKEY_CURRENT_USER, VIREO_KEEPER_KEY, name, REG_DWORD, &value, sizeof(value));
}

int Simcamctl(const std::wstring &args)
{
    return wintest::RunProcess(L"\"" + wintest::BinDir() + L"simcamctl.exe\" " + args);
}

class KeeperTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
        ASSERT_TRUE(wintest::RegisterModule(L"simcam.ax"));
        ASSERT_TRUE(wintest::RegisterModule(L"vireoprop.ax"));
        m_cam.Reset();
        Forget();
        SetDword(VIREO_KEEPER_REMEMBER_SECONDS, 1);
    }
    void TearDown() override
    {
        if (HWND window = Window())
            PostMessageW(window, WM_CLOSE, 0, 0);
        m_keeper.WaitExit(10000);
        Forget();
        wintest::RegisterModule(L"vireoprop.ax", true);
        wintest::RegisterModule(L"simcam.ax", true);
        CoUninitialize();
    }
    // No settings, no profile, no log: a user who never ran the keeper.
    void Forget()
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, VIREO_KEEPER_KEY);
        for (ULONG device = 0; device < 3; ++device) {
            DeleteFileW(ProfileOf(device).c_str());
            DeleteFileW((ProfileOf(device) + VIREO_KEEPER_BAD_EXT).c_str());
        }
        DeleteFileW(LogPath().c_str());
    }
    static std::wstring LogPath()
    {
        wchar_t path[MAX_PATH] = L"";
        VireoKeeperLogPath(path, MAX_PATH);
        return path;
    }
    static std::string Log() { return wintest::ReadFileBytes(LogPath()); }
    static HWND Window() { return FindWindowW(VIREO_KEEPER_WINDOW_CLASS, NULL); }
    void StartKeeper()
    {
        ASSERT_TRUE(m_keeper.Start(L"\"" + wintest::BinDir() + L"vireokeep.exe\""));
        ASSERT_TRUE(wintest::WaitUntil([] { return Window() != NULL; }));
    }
    static bool WaitLog(const char *text, DWORD guardMs = kRestoreGuardMs)
    {
        return wintest::WaitUntil([&] { return Log().find(text) != std::string::npos; }, guardMs);
    }
    static bool WaitSaved(ULONG device, ULONG control, LONG value)
    {
        return wintest::WaitUntil([&] { return Saved(device, control) == value; });
    }
    // The camera at factory values until the keeper restores value, and the
    // profile holding value all the while.
    static bool WaitRestored(SimCamControl &cam, ULONG device, ULONG control, LONG value)
    {
        bool profileKept = true;
        const bool restored = wintest::WaitUntil(
            [&] {
                profileKept = profileKept && Saved(device, control) == value;
                return cam.Value(control) == value;
            },
            kRestoreGuardMs);
        EXPECT_TRUE(profileKept) << "the profile held another value meanwhile";
        return restored && profileKept;
    }
    void SendToKeeper(UINT message, WPARAM wParam, LPARAM lParam = 0)
    {
        DWORD_PTR result = 0;
        SendMessageTimeoutW(Window(), message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result);
    }

    SimCamControl m_cam;
    wintest::ProgramRun m_keeper;
};

}  // namespace

TEST_F(KeeperTest, ReplugGivesEachCameraItsOwnValuesBack)
{
    ASSERT_EQ(1, m_cam.AddDevice(SIMCAM_FRIENDLY_NAME));  // a twin: the same name
    SimCamControl twin(1);
    m_cam.SetValue(EXPOSURE, 500);
    ASSERT_EQ(0, wintest::RunProcess(L"\"" + wintest::BinDir() + L"vireoctl.exe\" -d " + Id(1) +
                                     L" set EXPOSURE 700"));
    StartKeeper();
    ASSERT_TRUE(WaitSaved(0, EXPOSURE, 500));
    ASSERT_TRUE(WaitSaved(1, EXPOSURE, 700));

    for (ULONG device : {0u, 1u}) {
        SCOPED_TRACE(device);
        SimCamControl &cam = device ? twin : m_cam;
        const std::wstring d = L"-d " + std::to_wstring(device) + L" ";
        ASSERT_EQ(0, Simcamctl(d + L"unplug"));
        ASSERT_EQ(0, Simcamctl(d + L"plug"));
        EXPECT_TRUE(WaitRestored(cam, device, EXPOSURE, device ? 700 : 500));
    }
    EXPECT_EQ(500, m_cam.Value(EXPOSURE));

    // A camera plugged in for the first time has no profile: nothing is
    // written to it.
    ASSERT_EQ(2, m_cam.AddDevice(L"Vireo Other Camera"));
    SimCamControl third(2);
    ASSERT_TRUE(WaitLog("no profile of \"\\\\?\\usb#vid_2e9a&pid_0b01&mi_00#7&2f1c0a1&0&0002\""));
    for (const SimRequest &r : third.Log())
        EXPECT_FALSE(r.isSet) << "a request set something on the new camera";
}

TEST_F(KeeperTest, NotReadyPowerCycleAndKeepOff)
{
    m_cam.SetValue(EXPOSURE, 500);
    StartKeeper();
    ASSERT_TRUE(WaitSaved(0, EXPOSURE, 500));

    // Still starting for 3 s after plugging: retried until it answers.
    ASSERT_EQ(0, Simcamctl(L"not-ready 3000"));
    ASSERT_EQ(0, Simcamctl(L"unplug"));
    ASSERT_EQ(0, Simcamctl(L"plug"));
    EXPECT_TRUE(WaitRestored(m_cam, 0, EXPOSURE, 500));
    EXPECT_NE(std::string::npos, Log().find("retry restore")) << Log();
    ASSERT_EQ(0, Simcamctl(L"not-ready 0"));

    // Sleep: saved and held at the suspend, the camera loses its values
    // without a device message, and the resume message brings them back.
    SendToKeeper(WM_POWERBROADCAST, PBT_APMSUSPEND);
    ASSERT_TRUE(WaitLog("holding until the next restore"));
    ASSERT_EQ(0, Simcamctl(L"power-cycle"));
    SendToKeeper(WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC);
    EXPECT_TRUE(WaitRestored(m_cam, 0, EXPOSURE, 500));

    // Settings not kept: nothing is restored.
    ASSERT_EQ(0, wintest::RunProcess(L"\"" + wintest::BinDir() + L"vireoctl.exe\" keep off"));
    ASSERT_EQ(0, Simcamctl(L"power-cycle"));
    SendToKeeper(WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC);
    EXPECT_TRUE(WaitLog("settings not kept"));
    EXPECT_EQ(CameraControlFactoryDefault(EXPOSURE), m_cam.Value(EXPOSURE));
    EXPECT_EQ(500, Saved(0, EXPOSURE));
}

TEST_F(KeeperTest, WhatCannotBeRestoredIsLeftAndLogged)
{
    ASSERT_TRUE(VireoKeeperCreateCameraFolder());
    struct Case {
        const char *what;
        const char *profile;  // written before the keeper starts
        const char *logged;
        LONG exposure;  // the camera's after the start's restore
        LONG gain;
        bool setAside;
    } cases[] = {
        {"a corrupt profile", "device=Vireo Simulated Camera\r\nEXPOSURE=abc\r\n", "bad profile",
         600, 1, true},
        {"a value outside the range",
         "device=Vireo Simulated Camera\r\nA_GAIN=1000\r\nEXPOSURE=500\r\n",
         "A_GAIN=1000 outside the range", 500, 1, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        m_cam.Reset();
        m_cam.SetValue(EXPOSURE, 600);
        const std::wstring path = ProfileOf(0);
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        DWORD written = 0;
        WriteFile(file, c.profile, static_cast<DWORD>(strlen(c.profile)), &written, NULL);
        CloseHandle(file);
        SetDword(VIREO_KEEPER_REMEMBER_SECONDS, 3600);  // only the start's restore
        StartKeeper();
        EXPECT_TRUE(WaitLog(c.logged)) << Log();
        EXPECT_EQ(c.setAside, GetFileAttributesW((path + VIREO_KEEPER_BAD_EXT).c_str()) !=
                                  INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(c.exposure, m_cam.Value(EXPOSURE));
        EXPECT_EQ(c.gain, m_cam.Value(A_GAIN));
        EXPECT_TRUE(m_keeper.Running());
        PostMessageW(Window(), WM_CLOSE, 0, 0);
        EXPECT_EQ(0, m_keeper.WaitExit(10000));
        Forget();
    }
}

TEST_F(KeeperTest, OnePerSessionAndEveryEndSavesFirst)
{
    SetDword(VIREO_KEEPER_REMEMBER_SECONDS, 3600);  // nothing saved but at the end
    const std::wstring keeper = L"\"" + wintest::BinDir() + L"vireokeep.exe\"";
    struct Case {
        const char *how;
        std::function<void()> end;
    } cases[] = {
        {"--exit", [&] { EXPECT_EQ(0, wintest::RunProcess(keeper + L" --exit")); }},
        {"WM_CLOSE", [&] { PostMessageW(Window(), WM_CLOSE, 0, 0); }},
        {"end of session",
         [&] {
             DWORD_PTR answer = 0;
             SendMessageTimeoutW(Window(), WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP,
                                 SMTO_ABORTIFHUNG, 5000, &answer);
             EXPECT_EQ(TRUE, static_cast<BOOL>(answer));
             SendToKeeper(WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP);
         }},
    };
    LONG value = 400;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.how);
        StartKeeper();
        EXPECT_EQ(0, wintest::RunProcess(keeper));  // a second one leaves at once
        EXPECT_TRUE(m_keeper.Running());
        ASSERT_TRUE(WaitLog("(start)"));  // its first restore has ended
        m_cam.SetValue(EXPOSURE, ++value);
        c.end();
        EXPECT_EQ(0, m_keeper.WaitExit(10000));
        EXPECT_EQ(value, Saved(0, EXPOSURE));
        DeleteFileW(LogPath().c_str());
    }
}
