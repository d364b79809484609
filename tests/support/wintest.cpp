#include "wintest.h"

#include <stdio.h>

#include <mutex>

namespace wintest {

std::wstring BinDir()
{
    WCHAR path[MAX_PATH] = {0};
    GetModuleFileNameW(NULL, path, MAX_PATH);
    std::wstring p(path);
    size_t slash = p.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : p.substr(0, slash + 1);
}

// One catcher per thread at a time.
static thread_local MessageBoxCatcher *t_catcher = NULL;

MessageBoxCatcher::MessageBoxCatcher() : m_hook(NULL)
{
    t_catcher = this;
    m_hook = SetWindowsHookExW(WH_CBT, Hook, NULL, GetCurrentThreadId());
}

MessageBoxCatcher::~MessageBoxCatcher()
{
    if (m_hook)
        UnhookWindowsHookEx(m_hook);
    t_catcher = NULL;
}

std::vector<std::string> MessageBoxCatcher::Texts() const
{
    std::vector<std::string> out;
    for (const Box &b : m_boxes)
        out.push_back(b.text);
    return out;
}

// The MB_ type and icon bits of a shown message box.
static UINT BoxStyle(HWND box)
{
    static const struct {
        UINT type;
        int buttons[3];
    } types[] = {{MB_OK, {IDOK}},
                 {MB_OKCANCEL, {IDOK, IDCANCEL}},
                 {MB_ABORTRETRYIGNORE, {IDABORT, IDRETRY, IDIGNORE}},
                 {MB_YESNOCANCEL, {IDYES, IDNO, IDCANCEL}},
                 {MB_YESNO, {IDYES, IDNO}},
                 {MB_RETRYCANCEL, {IDRETRY, IDCANCEL}}};
    UINT style = 0xFFFF;
    for (const auto &t : types) {
        int present = 0, wanted = 0;
        for (int id : t.buttons)
            wanted += id != 0;
        for (int id = IDOK; id <= IDNO; ++id) {
            HWND button = GetDlgItem(box, id);
            if (button && (GetWindowLongW(button, GWL_STYLE) & WS_VISIBLE))
                present +=
                    (id == t.buttons[0] || id == t.buttons[1] || id == t.buttons[2]) ? 1 : 100;
        }
        if (present == wanted)
            style = t.type;
    }
    static const struct {
        UINT bit;
        LPCWSTR icon;
    } icons[] = {{MB_ICONHAND, MAKEINTRESOURCEW(32513)},
                 {MB_ICONQUESTION, MAKEINTRESOURCEW(32514)},
                 {MB_ICONEXCLAMATION, MAKEINTRESOURCEW(32515)},
                 {MB_ICONASTERISK, MAKEINTRESOURCEW(32516)}};
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        HICON shown = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
        char cls[16] = {0};
        GetClassNameA(child, cls, sizeof(cls));
        if (!shown || lstrcmpiA(cls, "Static") != 0)
            continue;
        for (const auto &i : icons)
            if (shown == LoadIconW(NULL, i.icon))
                style |= i.bit;
    }
    return style;
}

LRESULT CALLBACK MessageBoxCatcher::Hook(int code, WPARAM wParam, LPARAM lParam)
{
    MessageBoxCatcher *self = t_catcher;
    if (code == HCBT_ACTIVATE && self) {
        HWND box = reinterpret_cast<HWND>(wParam);
        char cls[64] = {0};
        GetClassNameA(box, cls, sizeof(cls));
        if (lstrcmpA(cls, "#32770") == 0 && GetDlgItem(box, 0xFFFF)) {
            Box b;
            b.owner = GetWindow(box, GW_OWNER);
            b.style = BoxStyle(box);
            char text[1024] = {0};
            GetWindowTextA(box, text, sizeof(text));
            b.caption = text;
            text[0] = 0;
            GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
            b.text = text;
            self->m_boxes.push_back(b);
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
    }
    return CallNextHookEx(self ? self->m_hook : NULL, code, wParam, lParam);
}

static std::mutex g_debugMutex;
static std::vector<std::string> g_debugLines;

DebugOutputCatcher::DebugOutputCatcher() : m_handle(NULL)
{
    Clear();
    m_handle = AddVectoredExceptionHandler(1, Handler);
}

DebugOutputCatcher::~DebugOutputCatcher()
{
    if (m_handle)
        RemoveVectoredExceptionHandler(m_handle);
}

std::vector<std::string> DebugOutputCatcher::Lines() const
{
    std::lock_guard<std::mutex> lock(g_debugMutex);
    return g_debugLines;
}

void DebugOutputCatcher::Clear()
{
    std::lock_guard<std::mutex> lock(g_debugMutex);
    g_debugLines.clear();
}

LONG CALLBACK DebugOutputCatcher::Handler(EXCEPTION_POINTERS *info)
{
    const EXCEPTION_RECORD *rec = info->ExceptionRecord;
    if (rec->ExceptionCode == DBG_PRINTEXCEPTION_C && rec->NumberParameters >= 2) {
        const char *text = reinterpret_cast<const char *>(rec->ExceptionInformation[1]);
        size_t len = static_cast<size_t>(rec->ExceptionInformation[0]);
        std::string line(text, len && text[len - 1] == '\0' ? len - 1 : len);
        std::lock_guard<std::mutex> lock(g_debugMutex);
        g_debugLines.push_back(line);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

ProgramRun::ProgramRun()
{
    ZeroMemory(&m_pi, sizeof(m_pi));
    WCHAR temp[MAX_PATH], name[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    GetTempFileNameW(temp, L"pro", 0, name);
    m_out = name;
    GetTempFileNameW(temp, L"pre", 0, name);
    m_err = name;
}

ProgramRun::~ProgramRun()
{
    End();
    DeleteFileW(m_out.c_str());
    DeleteFileW(m_err.c_str());
}

bool ProgramRun::Start(const std::wstring &commandLine, DWORD flags, const WCHAR *folder)
{
    SECURITY_ATTRIBUTES sa = {sizeof(sa), NULL, TRUE};
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE out = CreateFileW(m_out.c_str(), GENERIC_WRITE, share, &sa, CREATE_ALWAYS, 0, NULL);
    HANDLE err = CreateFileW(m_err.c_str(), GENERIC_WRITE, share, &sa, CREATE_ALWAYS, 0, NULL);
    HANDLE nul =
        CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, share, &sa, OPEN_EXISTING, 0, NULL);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nul;
    si.hStdOutput = out;
    si.hStdError = err;
    std::vector<WCHAR> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    BOOL started =
        CreateProcessW(NULL, line.data(), NULL, NULL, TRUE, flags, NULL, folder, &si, &m_pi);
    if (!started) {
        // Wine now and then fails a start outright; nothing of the program
        // ran, so one more start changes nothing a test looks at. Said on
        // the error stream, so that a report shows it.
        fwprintf(stderr, L"wintest: starting %ls failed (error %lu); started again\n",
                 commandLine.c_str(), GetLastError());
        line.assign(commandLine.begin(), commandLine.end());
        line.push_back(0);
        started =
            CreateProcessW(NULL, line.data(), NULL, NULL, TRUE, flags, NULL, folder, &si, &m_pi);
    }
    CloseHandle(out);
    CloseHandle(err);
    CloseHandle(nul);
    return started != FALSE;
}

bool ProgramRun::Running() const
{
    return m_pi.hProcess && WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT;
}

int ProgramRun::WaitExit(DWORD timeoutMs)
{
    if (!m_pi.hProcess || WaitForSingleObject(m_pi.hProcess, timeoutMs) != WAIT_OBJECT_0)
        return -2;
    DWORD code = 0;
    GetExitCodeProcess(m_pi.hProcess, &code);
    return static_cast<int>(code);
}

void ProgramRun::End()
{
    if (!m_pi.hProcess)
        return;
    if (Running()) {
        TerminateProcess(m_pi.hProcess, 99);
        WaitForSingleObject(m_pi.hProcess, 10000);
    }
    CloseHandle(m_pi.hProcess);
    CloseHandle(m_pi.hThread);
    ZeroMemory(&m_pi, sizeof(m_pi));
}

bool ProgramRun::WaitForOutput(size_t bytes, DWORD timeoutMs)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (Output().size() < bytes) {
        if (!Running() || GetTickCount64() > end)
            return Output().size() >= bytes;
        Sleep(10);
    }
    return true;
}

int RunProcess(const std::wstring &commandLine, DWORD timeoutMs)
{
    ProgramRun run;
    if (!run.Start(commandLine))
        return -1;
    return run.WaitExit(timeoutMs);
}

bool RegisterModule(const std::wstring &fileName, bool unregister)
{
    std::wstring cmd = L"regsvr32.exe /s ";
    if (unregister)
        cmd += L"/u ";
    cmd += L"\"" + BinDir() + fileName + L"\"";
    return RunProcess(cmd) == 0;
}

HWND CreateHostWindow(int width, int height)
{
    static ATOM atom = 0;
    if (!atom) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(NULL);
        wc.lpszClassName = L"VireoTestHost";
        atom = RegisterClassW(&wc);
    }
    return CreateWindowExW(0, L"VireoTestHost", L"host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0,
                           0, width, height, NULL, NULL, GetModuleHandleW(NULL), NULL);
}

void PumpMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

namespace {

struct ControlSearch {
    DWORD processId;
    int controlId;
    WindowWithControl found;
};

BOOL CALLBACK FindControl(HWND window, LPARAM param)
{
    ControlSearch *search = reinterpret_cast<ControlSearch *>(param);
    if (GetDlgCtrlID(window) != search->controlId)
        return TRUE;
    search->found.control = window;
    return FALSE;
}

BOOL CALLBACK FindTopLevel(HWND window, LPARAM param)
{
    ControlSearch *search = reinterpret_cast<ControlSearch *>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != search->processId || !IsWindowVisible(window))
        return TRUE;
    EnumChildWindows(window, FindControl, param);  // every descendant
    if (!search->found.control)
        return TRUE;
    search->found.topLevel = window;
    return FALSE;
}

}  // namespace

WindowWithControl FindWindowWithControl(DWORD processId, int controlId)
{
    ControlSearch search = {processId, controlId, {NULL, NULL}};
    EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string ReadFileBytes(const std::wstring &path)
{
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &got, NULL) && got > 0)
        bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

}  // namespace wintest
