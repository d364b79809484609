// vireokeep.exe as a process on the simulated camera: a change through
// IFace in another program is kept, an idle camera is asked nothing, the
// values come back after a replug, a power cycle with the resume message, a
// camera that is not ready yet; holds (suspend with the power loss, keeping
// off around a replug, another session at the console); each of two
// cameras of one name gets its own file, also under a long folder; what it
// leaves alone; one keeper per session, its exit statuses; the
// organization's policy, written into the registry as the policy engine
// writes it.
#include <gtest/gtest.h>

#include <windows.h>
#include <dbt.h>

#include <functional>
#include <string>
#include <vector>

#include "keeper.h"
#include "keeperpaths.h"
#include "policy_keys.h"
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
    std::wstring path(VIREO_KEEPER_PATH_CAPACITY, L'\0');
    VireoKeeperProfilePath(Id(device).c_str(), &path[0], VIREO_KEEPER_PATH_CAPACITY);
    return path.c_str();
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

int Vireoctl(const std::wstring &args)
{
    return wintest::RunProcess(L"\"" + wintest::BinDir() + L"vireoctl.exe\" " + args);
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

}  // namespace

TEST_F(KeeperTest, AChangeThroughIFaceIsKeptAndAnIdleCameraIsAskedNothing)
{
    StartKeeper();
    ASSERT_EQ(0, Vireoctl(L"set EXPOSURE 500"));  // another program, through IFace
    EXPECT_TRUE(WaitSaved(0, EXPOSURE, 500));

    // Idle, longer than a reading on a timer ever waited: a change without
    // IFace and a silent reset (no device message) reach neither the
    // camera's log nor the profile.
    m_cam.SetValue(A_GAIN, 17);
    m_cam.ClearLog();
    ASSERT_EQ(0, Simcamctl(L"power-cycle"));
    Sleep(6000);
    for (const SimRequest &r : m_cam.Log())
        ADD_FAILURE() << "a request while idle, control " << r.ControlId();
    EXPECT_EQ(500, Saved(0, EXPOSURE));
    EXPECT_NE(17, Saved(0, A_GAIN));
}

TEST_F(KeeperTest, ReplugGivesEachCameraItsOwnValuesBack)
{
    ASSERT_EQ(1, m_cam.AddDevice(SIMCAM_FRIENDLY_NAME));  // a twin: the same name
    SimCamControl twin(1);
    StartKeeper(2);
    ASSERT_EQ(0, Vireoctl(L"-d " + Id(0) + L" set EXPOSURE 500"));
    ASSERT_EQ(0, Vireoctl(L"-d " + Id(1) + L" set EXPOSURE 700"));
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
    // Each camera's last restore, for an inventory.
    for (const auto &c : {std::make_pair(1u, S_OK), std::make_pair(2u, S_FALSE)}) {
        VireoKeeperRestore last = {};
        EXPECT_TRUE(
            wintest::WaitUntil([&] { return VireoKeeperLastRestore(Id(c.first).c_str(), &last); }));
        EXPECT_EQ(c.second, last.result) << c.first;
    }
    // Another camera's change is saved, the new one's untouched values are
    // not (the keeper's end finishes the reading the change began).
    ASSERT_EQ(0, Vireoctl(L"-d " + Id(0) + L" set EXPOSURE 600"));
    ASSERT_TRUE(WaitSaved(0, EXPOSURE, 600));
    PostMessageW(Window(), WM_CLOSE, 0, 0);
    EXPECT_EQ(0, m_keeper.WaitExit(10000));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(ProfileOf(2).c_str()));
}

// %LOCALAPPDATA% in a folder so long that a profile's path passes MAX_PATH.
class LongLocalFolder {
public:
    LongLocalFolder()
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        m_folder = std::wstring(temp) + L"keeper" + std::wstring(190 - wcslen(temp), L'l');
        CreateDirectoryW(m_folder.c_str(), NULL);
        DWORD size = sizeof(m_before);
        m_had = RegGetValueW(HKEY_CURRENT_USER, kFolders, L"Local AppData",
                             RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, NULL, m_before,
                             &size) == ERROR_SUCCESS;
        Set(m_folder.c_str());
    }
    ~LongLocalFolder()
    {
        if (m_had)
            Set(m_before);
        else
            RegDeleteKeyValueW(HKEY_CURRENT_USER, kFolders, L"Local AppData");
        RegDeleteTreeW(HKEY_CURRENT_USER,
                       L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders");
    }
    const std::wstring &Folder() const { return m_folder; }

private:
    static void Set(const wchar_t *folder)
    {
        RegSetKeyValueW(HKEY_CURRENT_USER, kFolders, L"Local AppData", REG_EXPAND_SZ, folder,
                        static_cast<DWORD>((wcslen(folder) + 1) * sizeof(wchar_t)));
    }
    static constexpr const wchar_t *kFolders =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    std::wstring m_folder;
    wchar_t m_before[MAX_PATH] = L"";
    bool m_had = false;
};

TEST_F(KeeperTest, TwinsUnderALongFolderKeepAFileEach)
{
    ASSERT_EQ(1, m_cam.AddDevice(SIMCAM_FRIENDLY_NAME));
    LongLocalFolder folder;
    ASSERT_GE(ProfileOf(1).size(), static_cast<size_t>(MAX_PATH));
    ASSERT_NE(ProfileOf(0), ProfileOf(1));
    StartKeeper(2);
    ASSERT_EQ(0, Vireoctl(L"-d " + Id(0) + L" set EXPOSURE 500"));
    ASSERT_EQ(0, Vireoctl(L"-d " + Id(1) + L" set EXPOSURE 700"));
    EXPECT_TRUE(WaitSaved(0, EXPOSURE, 500));
    EXPECT_TRUE(WaitSaved(1, EXPOSURE, 700));
    PostMessageW(Window(), WM_CLOSE, 0, 0);
    EXPECT_EQ(0, m_keeper.WaitExit(10000));
    for (ULONG device : {0u, 1u})
        DeleteFileW(ProfileOf(device).c_str());
}

TEST_F(KeeperTest, ANameEndingInASpaceIsSavedOnce)
{
    ASSERT_EQ(1, m_cam.AddDevice(L"Vireo Spaced Camera "));
    StartKeeper(2);
    ASSERT_EQ(0, Vireoctl(L"-d " + Id(1) + L" set EXPOSURE 600"));
    ASSERT_TRUE(WaitSaved(1, EXPOSURE, 600));
    for (LONG value : {501, 502, 503}) {  // readings on changes of the other camera
        ASSERT_EQ(0, Vireoctl(L"-d " + Id(0) + L" set EXPOSURE " + std::to_wstring(value)));
        ASSERT_TRUE(WaitSaved(0, EXPOSURE, value));
    }
    EXPECT_EQ(1u, Count("save \"" + keeper::Utf8(Id(1)) + "\"")) << Log();
}

TEST_F(KeeperTest, HoldsAtSuspendWithItsPowerLossAndWhileNotKept)
{
    StartKeeper();
    ASSERT_EQ(0, Vireoctl(L"set EXPOSURE 500"));
    ASSERT_TRUE(WaitSaved(0, EXPOSURE, 500));

    // Still starting for 3 s after plugging: retried until it answers.
    ASSERT_EQ(0, Simcamctl(L"not-ready 3000"));
    ASSERT_EQ(0, Simcamctl(L"unplug"));
    ASSERT_EQ(0, Simcamctl(L"plug"));
    EXPECT_TRUE(WaitRestored(m_cam, 0, EXPOSURE, 500));
    EXPECT_NE(std::string::npos, Log().find("retry restore")) << Log();
    ASSERT_EQ(0, Simcamctl(L"not-ready 0"));

    // The power goes as the suspend message comes; a change meanwhile is
    // not saved, and the resume brings the values back.
    SendToKeeper(WM_POWERBROADCAST, PBT_APMSUSPEND);
    ASSERT_EQ(0, Simcamctl(L"power-cycle"));
    ASSERT_EQ(0, Vireoctl(L"set A_GAIN 20"));
    Sleep(2 * keeper::kSettleMostMs);
    EXPECT_EQ(500, Saved(0, EXPOSURE));
    SendToKeeper(WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC);
    EXPECT_TRUE(WaitRestored(m_cam, 0, EXPOSURE, 500));

    // Keeping off around a replug: nothing restored, nothing saved; on
    // again, the profile goes onto the camera.
    ASSERT_EQ(0, Vireoctl(L"keep off"));
    ASSERT_TRUE(WaitLog("keep off: every camera held"));
    ASSERT_EQ(0, Simcamctl(L"unplug"));
    ASSERT_EQ(0, Simcamctl(L"plug"));
    ASSERT_TRUE(WaitLog("(arrival): settings not kept"));
    EXPECT_EQ(CameraControlFactoryDefault(EXPOSURE), m_cam.Value(EXPOSURE));
    ASSERT_EQ(0, Vireoctl(L"keep on"));
    EXPECT_TRUE(WaitRestored(m_cam, 0, EXPOSURE, 500));
}

TEST_F(KeeperTest, ThreeArrivalsOfOneCameraGiveOneRestore)
{
    StartKeeper();
    ASSERT_EQ(0, Vireoctl(L"set EXPOSURE 500"));
    ASSERT_TRUE(WaitSaved(0, EXPOSURE, 500));
    ASSERT_EQ(S_OK, m_cam.Unplug());
    ASSERT_EQ(S_OK, m_cam.Plug());  // the camera class's arrival
    const GUID others[] = {
        SIMCAM_CAPTURE_CLASS,
        {0x6994AD05, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}}};
    for (const GUID &c : others) {
        const std::wstring path = SimCamDevicePath(0, c);
        std::vector<BYTE> bytes(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) + path.size() * 2);
        auto *message = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W *>(bytes.data());
        message->dbcc_size = static_cast<DWORD>(bytes.size());
        message->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        message->dbcc_classguid = c;
        wcscpy(message->dbcc_name, path.c_str());
        SendToKeeper(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(message));
    }
    EXPECT_TRUE(WaitRestored(m_cam, 0, EXPOSURE, 500));
    ASSERT_TRUE(WaitLog("(arrival) done"));
    Sleep(1000);  // time for a second restore, were there one
    EXPECT_EQ(1u, Count("(arrival) done")) << Log();
}

bool NotAtConsole(DWORD *mine, DWORD *console)
{
    *mine = 2;
    *console = 1;
    return false;
}

TEST_F(KeeperTest, OnlyTheConsoleSessionsKeeperRestoresOrSaves)
{
    keeper::Log log(LogPath());
    keeper::Keeper other(&log, NotAtConsole);
    other.Start();
    EXPECT_TRUE(WaitLog("refused restore"));
    ASSERT_EQ(0, Vireoctl(L"set EXPOSURE 500"));
    EXPECT_TRUE(WaitLog("not at the console: every camera held"));
    EXPECT_EQ(-1, Saved(0, EXPOSURE));
    EXPECT_TRUE(other.Stop("end"));
}

TEST_F(KeeperTest, WhatCannotBeRestoredIsLeftAndLogged)
{
    ASSERT_TRUE(VireoKeeperCreateCameraFolder());
    struct Case {
        const char *what;
        const char *profile;  // written before the keeper starts
        bool locked;          // another program holds it
        const char *logged;
        LONG exposure;  // the camera's after the start's restore
        LONG gain;
        bool setAside;
    } cases[] = {
        {"a corrupt profile", "device=Vireo Simulated Camera\r\nEXPOSURE=abc\r\n", false,
         "bad profile", 600, 1, true},
        {"a value outside the range",
         "device=Vireo Simulated Camera\r\nA_GAIN=1000\r\nEXPOSURE=500\r\n", false,
         "A_GAIN=1000 outside the range", 500, 1, false},
        {"a file error: given up, not retried", "device=Vireo Simulated Camera\r\nEXPOSURE=500\r\n",
         true, "the profile cannot be read", 600, 1, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        m_cam.Reset();
        m_cam.SetValue(EXPOSURE, 600);
        const std::wstring path = ProfileOf(0);
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        DWORD written = 0;
        WriteFile(file, c.profile, static_cast<DWORD>(strlen(c.profile)), &written, NULL);
        if (!c.locked)
            CloseHandle(file);
        StartKeeper(0);
        EXPECT_TRUE(WaitLog(c.logged)) << Log();
        EXPECT_EQ(std::string::npos, Log().find("retry restore")) << Log();
        EXPECT_EQ(c.setAside, GetFileAttributesW((path + VIREO_KEEPER_BAD_EXT).c_str()) !=
                                  INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(c.exposure, m_cam.Value(EXPOSURE));
        EXPECT_EQ(c.gain, m_cam.Value(A_GAIN));
        EXPECT_TRUE(m_keeper.Running());
        PostMessageW(Window(), WM_CLOSE, 0, 0);
        EXPECT_EQ(0, m_keeper.WaitExit(10000));
        if (c.locked)
            CloseHandle(file);
        Forget();
    }
}

LRESULT CALLBACK DeafToClose(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return message == WM_CLOSE ? 0 : DefWindowProcW(window, message, wParam, lParam);
}

TEST_F(KeeperTest, OnePerSessionAndEveryEndSavesAChangeStillSettling)
{
    const std::wstring keeper = L"\"" + wintest::BinDir() + L"vireokeep.exe\"";
    EXPECT_EQ(1, wintest::RunProcess(keeper + L" --exit"));  // none running
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
        ASSERT_EQ(0, Vireoctl(L"set EXPOSURE " + std::to_wstring(++value)));
        c.end();
        EXPECT_EQ(0, m_keeper.WaitExit(10000));
        EXPECT_EQ(value, Saved(0, EXPOSURE));
        DeleteFileW(LogPath().c_str());
    }

    // A keeper that does not end in time (its window deaf to WM_CLOSE).
    WNDCLASSW deaf = {};
    deaf.lpfnWndProc = DeafToClose;
    deaf.hInstance = GetModuleHandleW(NULL);
    deaf.lpszClassName = VIREO_KEEPER_WINDOW_CLASS;
    ASSERT_TRUE(RegisterClassW(&deaf));
    HWND window = CreateWindowExW(0, VIREO_KEEPER_WINDOW_CLASS, L"", WS_OVERLAPPED, 0, 0, 0, 0,
                                  NULL, NULL, deaf.hInstance, NULL);
    EXPECT_EQ(2, wintest::RunProcess(keeper + L" --exit"));
    DestroyWindow(window);
    UnregisterClassW(VIREO_KEEPER_WINDOW_CLASS, deaf.hInstance);
}

// A locked value reaches a running keeper's camera without a replug, wins
// over the user's profile at every restore and is never saved as the
// user's choice; a locked control left elsewhere is put back after the
// change; recommended values start a camera with no profile until the user
// chooses; removing the policy frees the control.
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
