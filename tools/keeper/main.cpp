// vireokeep: the Camera Settings Keeper. A hidden window hears of cameras
// arriving and leaving, of suspend and resume, of the session's lock and
// unlock and of its end; a notification-area icon offers the menu. Every
// event only queues work for the keeper's worker thread or puts the cameras
// on hold (keeper.h); it never waits on a camera.
#include <windows.h>
#include <dbt.h>
#include <shellapi.h>
#include <wtsapi32.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "keeper.h"
#include "keeperpaths.h"
#include "tray.h"

namespace {

// {E5323777-F976-4F5B-9B55-B94699C46E44}, {65E8773D-8F56-11D0-A3B9-00A0C9223196},
// {6994AD05-93EF-11D0-A3CC-00A0C9223196}: the camera, capture and video
// interface classes a camera's arrival is announced under.
const GUID kCameraClasses[] = {
    {0xE5323777, 0xF976, 0x4F5B, {0x9B, 0x55, 0xB9, 0x46, 0x99, 0xC4, 0x6E, 0x44}},
    {0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}},
    {0x6994AD05, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}}};

const UINT WM_APP_TRAY = WM_APP + 1;     // the icon's mouse messages
const UINT WM_APP_CHANGED = WM_APP + 2;  // the cameras offering IFace changed
const UINT kIconId = 1;

enum MenuId : UINT {
    ID_KEEP = 100,
    ID_EXIT = 101,
    ID_CAMERA = 1000,  // + 4 * camera: settings, restore, factory
};

struct App {
    keeper::Log *log = NULL;
    keeper::Keeper *keeper = NULL;
    HWND window = NULL;
    UINT taskbarCreated = 0;
    HINSTANCE instance = NULL;
    bool ended = false;
    bool lightTaskbar = false;  // the taskbar's colours, followed as they change
    std::wstring tip;
    UINT icon = 0;  // the resource shown
    std::vector<keeper::Cameras::Entry> menuCameras;
    std::vector<HDEVNOTIFY> notifications;
};
App g_app;

// The cameras offering IFace, each with whether its restore was given up.
std::vector<keeper::TrayCamera> TrayCameras()
{
    std::vector<keeper::TrayCamera> cameras;
    for (const keeper::Cameras::Entry &e : g_app.keeper->Offering())
        cameras.push_back({e.id, e.name, g_app.keeper->PhaseOf(e.id) == keeper::Phase::GivenUp});
    return cameras;
}

// Adds the icon (again, after the taskbar's restart) or brings its picture
// and tooltip up to date.
void ShowIcon(bool add)
{
    const keeper::TrayView view = keeper::Tray(VireoKeeperKeep() != 0, TrayCameras());
    const UINT icon = keeper::TrayIconResource(view.state, g_app.lightTaskbar);
    if (!add && view.tip == g_app.tip && icon == g_app.icon)
        return;
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof(data);
    data.hWnd = g_app.window;
    data.uID = kIconId;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = WM_APP_TRAY;
    data.hIcon = static_cast<HICON>(LoadImageW(g_app.instance, MAKEINTRESOURCEW(icon), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    lstrcpynW(data.szTip, view.tip.c_str(), ARRAYSIZE(data.szTip));
    if (Shell_NotifyIconW(add ? NIM_ADD : NIM_MODIFY, &data)) {
        g_app.tip = view.tip;
        g_app.icon = icon;
    }
    if (data.hIcon)
        DestroyIcon(data.hIcon);
}

// The taskbar's colours changed (Settings > Personalisation > Colours).
void SettingChanged(LPARAM area)
{
    const wchar_t *name = reinterpret_cast<const wchar_t *>(area);
    if (name && lstrcmpW(name, L"ImmersiveColorSet") != 0)
        return;
    const bool light = keeper::LightTaskbar();
    if (light == g_app.lightTaskbar)
        return;
    g_app.lightTaskbar = light;
    ShowIcon(false);
}

void HideIcon()
{
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof(data);
    data.hWnd = g_app.window;
    data.uID = kIconId;
    Shell_NotifyIconW(NIM_DELETE, &data);
}

void ShowMenu()
{
    g_app.menuCameras = g_app.keeper->Offering();
    const std::vector<std::wstring> names = keeper::ShownNames(TrayCameras());
    HMENU menu = CreatePopupMenu();
    for (size_t i = 0; i < g_app.menuCameras.size() && i < names.size(); ++i) {
        const UINT base = ID_CAMERA + static_cast<UINT>(4 * i);
        HMENU camera = CreatePopupMenu();
        AppendMenuW(camera, MF_STRING, base, L"Camera Settings\x2026");
        AppendMenuW(camera, MF_STRING, base + 1, L"Restore now");
        AppendMenuW(camera, MF_STRING, base + 2, L"Factory settings");
        AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(camera), names[i].c_str());
    }
    if (!g_app.menuCameras.empty())
        AppendMenuW(menu, MF_SEPARATOR, 0, NULL);
    AppendMenuW(menu, MF_STRING | (VireoKeeperKeep() ? MF_CHECKED : MF_UNCHECKED), ID_KEEP,
                L"Keep my settings");
    AppendMenuW(menu, MF_STRING, ID_EXIT, L"Exit");
    POINT at;
    GetCursorPos(&at);
    SetForegroundWindow(g_app.window);  // so that the menu closes when clicked away
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, g_app.window, NULL);
    PostMessageW(g_app.window, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

// camsettings.exe from the keeper's own folder, on the camera of that id.
void StartSettings(const std::wstring &id)
{
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(NULL, self, MAX_PATH);
    std::wstring folder(self, length);
    folder.resize(folder.find_last_of(L'\\') + 1);
    std::wstring line = L"\"" + folder + L"camsettings.exe\" \"" + id + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    } else {
        g_app.log->Write(L"could not start " + line + L": error " +
                         std::to_wstring(GetLastError()));
    }
}

void Command(UINT id)
{
    if (id == ID_EXIT) {
        PostMessageW(g_app.window, WM_CLOSE, 0, 0);
    } else if (id == ID_KEEP) {
        const int keep = !VireoKeeperKeep();
        VireoKeeperSetKeep(keep);
        g_app.keeper->OnKeep(keep);
        ShowIcon(false);
    } else if (id >= ID_CAMERA && (id - ID_CAMERA) / 4 < g_app.menuCameras.size()) {
        const std::wstring &camera = g_app.menuCameras[(id - ID_CAMERA) / 4].id;
        switch ((id - ID_CAMERA) % 4) {
        case 0: StartSettings(camera); break;
        case 1: g_app.keeper->OnRestoreNow(camera); break;
        default: g_app.keeper->OnDefaults(camera); break;
        }
    }
}

// Saves a change still settling, holds every camera and lets the keeper end.
void End(const char *reason)
{
    if (g_app.ended)
        return;
    g_app.ended = true;
    if (!g_app.keeper->Stop(reason)) {
        // The worker still uses the keeper: the process ends without
        // destroying it.
        g_app.log->Write(std::wstring(L"end (") + keeper::Wide(reason) +
                         L"): the worker did not end in time");
        ExitProcess(3);
    }
    // What the keeper cost over its life, for support and the benchmark.
    FILETIME created, exited, kernel, user;
    double cpu = 0;
    if (GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        cpu = ((static_cast<ULONGLONG>(kernel.dwHighDateTime) << 32 | kernel.dwLowDateTime) +
               (static_cast<ULONGLONG>(user.dwHighDateTime) << 32 | user.dwLowDateTime)) /
              1e7;
    wchar_t seconds[32];
    swprintf(seconds, 32, L"%.3f", cpu);
    g_app.log->Write(std::wstring(L"end (") + keeper::Wide(reason) + L"), CPU time " + seconds +
                     L" s");
}

bool IsCameraClass(const GUID &guid)
{
    for (const GUID &c : kCameraClasses)
        if (IsEqualGUID(c, guid))
            return true;
    return false;
}

LRESULT DeviceChange(WPARAM event, LPARAM data)
{
    const DEV_BROADCAST_HDR *header = reinterpret_cast<const DEV_BROADCAST_HDR *>(data);
    if ((event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) || !header ||
        header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE)
        return TRUE;
    const DEV_BROADCAST_DEVICEINTERFACE_W *device =
        reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W *>(header);
    if (!IsCameraClass(device->dbcc_classguid))
        return TRUE;
    if (event == DBT_DEVICEARRIVAL)
        g_app.keeper->OnArrival(device->dbcc_name);
    else
        g_app.keeper->OnRemoval(device->dbcc_name);
    return TRUE;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DEVICECHANGE: return DeviceChange(wParam, lParam);
    case WM_POWERBROADCAST:
        if (wParam == PBT_APMSUSPEND)
            g_app.keeper->OnHold("suspend");
        else if (wParam == PBT_APMRESUMEAUTOMATIC)
            g_app.keeper->OnResume("resume");
        return TRUE;
    case WM_WTSSESSION_CHANGE:
        if (wParam == WTS_SESSION_LOCK)
            g_app.keeper->OnHold("lock");
        else if (wParam == WTS_CONSOLE_DISCONNECT)
            g_app.keeper->OnHold("console disconnect");
        else if (wParam == WTS_SESSION_LOGOFF)
            g_app.keeper->OnHold("logoff");
        else if (wParam == WTS_SESSION_UNLOCK)
            g_app.keeper->OnResume("unlock");
        else if (wParam == WTS_CONSOLE_CONNECT)
            g_app.keeper->OnResume("console connect");
        return 0;
    case WM_APP_TRAY:
        if (LOWORD(lParam) == WM_RBUTTONUP || LOWORD(lParam) == WM_CONTEXTMENU)
            ShowMenu();
        return 0;
    case WM_APP_CHANGED: ShowIcon(false); return 0;
    case WM_SETTINGCHANGE: SettingChanged(lParam); return 0;
    case WM_COMMAND: Command(LOWORD(wParam)); return 0;
    case WM_CLOSE:
        End("close");
        DestroyWindow(window);
        return 0;
    case WM_QUERYENDSESSION: return TRUE;
    case WM_ENDSESSION:
        if (wParam) {
            End((lParam & ENDSESSION_CLOSEAPP) ? "restart manager" : "end of session");
            DestroyWindow(window);
        }
        return 0;
    case WM_DESTROY:
        HideIcon();
        PostQuitMessage(0);
        return 0;
    default:
        if (message == g_app.taskbarCreated && message) {
            ShowIcon(true);
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

// vireokeep --exit: asks the running keeper to end, and waits for it: 0 it
// ended, 1 none was running, 2 it did not end in time.
int ExitRunning()
{
    HWND window = FindWindowW(VIREO_KEEPER_WINDOW_CLASS, NULL);
    if (!window)
        return 1;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    PostMessageW(window, WM_CLOSE, 0, 0);
    const DWORD kWaitMs = 15000;
    bool ended = false;
    if (process) {
        ended = WaitForSingleObject(process, kWaitMs) == WAIT_OBJECT_0;
        CloseHandle(process);
    } else {  // not ours to wait on: its window's end will do
        const ULONGLONG end = GetTickCount64() + kWaitMs;
        while (!(ended = !IsWindow(window)) && GetTickCount64() < end)
            Sleep(50);
    }
    return ended ? 0 : 2;
}

void ListenForDevices(HWND window)
{
    for (const GUID &c : kCameraClasses) {
        DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
        filter.dbcc_size = sizeof(filter);
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = c;
        HDEVNOTIFY n = RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        if (n)
            g_app.notifications.push_back(n);
    }
}

// The hidden window that hears the device, power and session messages;
// NULL when it cannot be made (logged).
HWND CreateKeeperWindow(HINSTANCE instance)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = VIREO_KEEPER_WINDOW_CLASS;
    RegisterClassW(&windowClass);
    // A top-level window, never shown: a message-only one hears no broadcasts.
    HWND window = CreateWindowExW(0, VIREO_KEEPER_WINDOW_CLASS, L"Vireo Camera Settings Keeper",
                                  WS_OVERLAPPED, 0, 0, 0, 0, NULL, NULL, instance, NULL);
    if (!window)
        g_app.log->Write(L"could not create the window: error " + std::to_wstring(GetLastError()));
    return window;
}

void LogStart()
{
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    g_app.log->Write(L"start: vireokeep " + keeper::Wide(VIREO_VERSION_STRING) + L", session " +
                     std::to_wstring(session) + L" (console " +
                     std::to_wstring(WTSGetActiveConsoleSessionId()) + L"), settings " +
                     (VireoKeeperKeep() ? L"kept" : L"not kept"));
}

// The keeper of this session, from its start to its end.
int Run(HINSTANCE instance)
{
    wchar_t logPath[MAX_PATH] = {0};
    VireoKeeperCreateCameraFolder();
    VireoKeeperLogPath(logPath, MAX_PATH);
    keeper::Log log(logPath);
    keeper::Keeper keeper(&log);
    g_app.log = &log;
    g_app.keeper = &keeper;
    g_app.instance = instance;
    g_app.window = CreateKeeperWindow(instance);
    if (!g_app.window)
        return 1;
    LogStart();
    ListenForDevices(g_app.window);
    WTSRegisterSessionNotification(g_app.window, NOTIFY_FOR_THIS_SESSION);
    g_app.taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    g_app.lightTaskbar = keeper::LightTaskbar();
    keeper.Notify(g_app.window, WM_APP_CHANGED);
    keeper.Start();
    ShowIcon(true);

    MSG message;
    while (GetMessageW(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    End("close");
    WTSUnRegisterSessionNotification(g_app.window);
    for (HDEVNOTIFY n : g_app.notifications)
        UnregisterDeviceNotification(n);
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    int argc = 0;
    LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const std::wstring option = argv && argc > 1 ? argv[1] : L"";
    LocalFree(argv);
    if (option == L"--exit")
        return ExitRunning();
    if (!option.empty())
        return 2;

    HANDLE mutex = CreateMutexW(NULL, FALSE, VIREO_KEEPER_MUTEX);
    if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS)
        return 0;  // this session has its keeper
    const int status = Run(instance);
    CloseHandle(mutex);
    return status;
}
