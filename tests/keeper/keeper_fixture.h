// keeper_fixture.h - vireokeep.exe as a process on the simulated camera,
// for the keeper's tests: a user who never ran it before each test, the
// keeper started and its log read, the profiles' values, vireoctl and
// simcamctl as other programs.
#ifndef VIREO_TESTS_KEEPER_FIXTURE_H
#define VIREO_TESTS_KEEPER_FIXTURE_H

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "keeper.h"
#include "keeperpaths.h"
#include "simcontrol.h"
#include "vireocamera.h"
#include "wintest.h"

namespace keepertest {

const DWORD kRestoreGuardMs = 15000;  // what a user may wait for a replugged camera

inline std::wstring Id(ULONG device)
{
    wchar_t id[VIREO_ID_CAPACITY];
    VireoCameraIdFromPath(SimCamDevicePath(device).c_str(), id, VIREO_ID_CAPACITY);
    return id;
}

inline std::wstring ProfileOf(ULONG device)
{
    std::wstring path(VIREO_KEEPER_PATH_CAPACITY, L'\0');
    VireoKeeperProfilePath(Id(device).c_str(), &path[0], VIREO_KEEPER_PATH_CAPACITY);
    return path.c_str();
}

// The value of control in device's profile; -1 when there is none.
inline LONG Saved(ULONG device, ULONG control)
{
    VireoProfile profile;
    if (FAILED(VireoProfileRead(ProfileOf(device).c_str(), &profile, NULL)))
        return -1;
    for (size_t i = 0; i < CAMERA_CONTROL_COUNT; ++i)
        if (CameraControlIds[i] == control && (profile.present >> i & 1))
            return profile.values[i];
    return -1;
}

inline int Vireoctl(const std::wstring &args)
{
    return wintest::RunProcess(L"\"" + wintest::BinDir() + L"vireoctl.exe\" " + args);
}

inline int Simcamctl(const std::wstring &args)
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
    static size_t Count(const std::string &text)
    {
        const std::string log = Log();
        size_t count = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++count;
        return count;
    }
    static HWND Window() { return FindWindowW(VIREO_KEEPER_WINDOW_CLASS, NULL); }
    // Started, and its first restore of that many cameras ended.
    void StartKeeper(size_t cameras = 1)
    {
        ASSERT_TRUE(m_keeper.Start(L"\"" + wintest::BinDir() + L"vireokeep.exe\""));
        ASSERT_TRUE(wintest::WaitUntil([] { return Window() != NULL; }));
        ASSERT_TRUE(wintest::WaitUntil([&] { return Count("(start)") >= cameras; })) << Log();
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

}  // namespace keepertest

using namespace keepertest;

#endif  // VIREO_TESTS_KEEPER_FIXTURE_H
