#include "capview_run.h"

#include <stdio.h>

#include <vector>

#include "wintest.h"

namespace {

std::string NewFolder()
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    char folder[MAX_PATH];
    GetTempFileNameA(temp, "cvr", 0, folder);
    DeleteFileA(folder);
    CreateDirectoryA(folder, NULL);
    return folder;
}

// Text as the program's text-mode stream writes it: LF becomes CR LF.
std::string TextMode(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

BOOL CALLBACK FindWindowOf(HWND window, LPARAM param)
{
    std::pair<DWORD, HWND> *search = reinterpret_cast<std::pair<DWORD, HWND> *>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    WCHAR cls[64] = {0};
    GetClassNameW(window, cls, 64);
    if (pid == search->first && lstrcmpW(cls, L"TlxDirectShow") == 0) {
        search->second = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

CapviewRun::CapviewRun() : m_folder(NewFolder())
{
    ZeroMemory(&m_pi, sizeof(m_pi));
    m_output = m_folder + "\\out.bin";
    const std::string source = wintest::BinDirA() + "capview.exe";
    CopyFileA(source.c_str(), (m_folder + "\\capview.exe").c_str(), FALSE);
}

CapviewRun::~CapviewRun()
{
    wintest::EndProcess(m_pi);
    DeleteFileA((m_folder + "\\capview.exe").c_str());
    DeleteFileA((m_folder + "\\capview.ini").c_str());
    DeleteFileA(m_output.c_str());
    RemoveDirectoryA(m_folder.c_str());
}

void CapviewRun::WriteSettings(const std::string &text)
{
    HANDLE file = CreateFileA((m_folder + "\\capview.ini").c_str(), GENERIC_WRITE, 0, NULL,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, NULL);
    CloseHandle(file);
}

bool CapviewRun::Start(KeyFeed feed)
{
    SECURITY_ATTRIBUTES sa = {sizeof(sa), NULL, TRUE};
    HANDLE out = CreateFileA(m_output.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &sa, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &sa, OPEN_EXISTING, 0, NULL);
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof(si));
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nul;
    si.hStdOutput = out;
    si.hStdError = nul;
    std::string cmd = "\"" + m_folder + "\\capview.exe\"";
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back(0);
    const DWORD flags = feed == KEY_FROM_CONSOLE ? CREATE_NEW_CONSOLE : DETACHED_PROCESS;
    BOOL ok = CreateProcessA(NULL, line.data(), NULL, NULL, TRUE, flags, NULL,
                             m_folder.c_str(), &si, &m_pi);
    CloseHandle(out);
    CloseHandle(nul);
    return ok != FALSE;
}

bool CapviewRun::Running()
{
    return m_pi.hProcess && WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT;
}

bool CapviewRun::PressKey(WCHAR key)
{
    FreeConsole();
    if (!AttachConsole(m_pi.dwProcessId))
        return false;
    HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    bool ok = false;
    if (input != INVALID_HANDLE_VALUE) {
        INPUT_RECORD records[2];
        ZeroMemory(records, sizeof(records));
        for (int i = 0; i < 2; ++i) {
            records[i].EventType = KEY_EVENT;
            records[i].Event.KeyEvent.bKeyDown = i == 0;
            records[i].Event.KeyEvent.wRepeatCount = 1;
            records[i].Event.KeyEvent.wVirtualKeyCode = static_cast<WORD>(VkKeyScanW(key) & 0xFF);
            records[i].Event.KeyEvent.uChar.UnicodeChar = key;
        }
        DWORD written = 0;
        ok = WriteConsoleInputW(input, records, 2, &written) && written == 2;
        CloseHandle(input);
    }
    FreeConsole();
    return ok;
}

int CapviewRun::WaitExit(DWORD timeoutMs)
{
    if (WaitForSingleObject(m_pi.hProcess, timeoutMs) != WAIT_OBJECT_0)
        return -2;
    DWORD code = 0;
    GetExitCodeProcess(m_pi.hProcess, &code);
    return static_cast<int>(code);
}

std::string CapviewRun::Output() const
{
    return wintest::ReadFileBytes(m_output);
}

bool CapviewRun::WaitForOutput(size_t bytes, DWORD timeoutMs)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (Output().size() < bytes) {
        if (!Running() || GetTickCount64() > end)
            return Output().size() >= bytes;
        Sleep(10);
    }
    return true;
}

HWND CapviewRun::FindViewerWindow() const
{
    std::pair<DWORD, HWND> search(m_pi.dwProcessId, static_cast<HWND>(NULL));
    EnumWindows(FindWindowOf, reinterpret_cast<LPARAM>(&search));
    return search.second;
}

HWND CapviewRun::WaitForViewerWindow(DWORD timeoutMs)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (HWND window = FindViewerWindow())
            return window;
        if (!Running() || GetTickCount64() > end)
            return NULL;
        Sleep(10);
    }
}

std::string ExpectedBanner(int width, int height)
{
    // 解像度 : %d x %d\n, as code page 932 bytes
    char resolution[64];
    snprintf(resolution, sizeof(resolution), "\x89\xF0\x91\x9C\x93\x78 : %d x %d\n", width, height);
    return TextMode(
        // 画像入力サンプルプログラム\n\n
        "\x89\xE6\x91\x9C\x93\xFC\x97\xCD\x83\x54\x83\x93\x83\x76\x83\x8B\x83\x76\x83\x8D\x83\x4F"
        "\x83\x89\x83\x80\n\n" +
        std::string(resolution) +
        // キーを入力するとキャプチャを開始します。\n
        "\x83\x4C\x81\x5B\x82\xF0\x93\xFC\x97\xCD\x82\xB7\x82\xE9\x82\xC6\x83\x4C\x83\x83\x83\x76"
        "\x83\x60\x83\x83\x82\xF0\x8A\x4A\x8E\x6E\x82\xB5\x82\xDC\x82\xB7\x81\x42\n"
        // 「q」キーを入力すると終了します。\n
        "\x81\x75\x71\x81\x76\x83\x4C\x81\x5B\x82\xF0\x93\xFC\x97\xCD\x82\xB7\x82\xE9\x82\xC6\x8F"
        "\x49\x97\xB9\x82\xB5\x82\xDC\x82\xB7\x81\x42\n");
}

std::string ExpectedNoDeviceLine()
{
    // ビデオキャプチャデバイスは存在しません\n
    return TextMode("\x83\x72\x83\x66\x83\x49\x83\x4C\x83\x83\x83\x76\x83\x60\x83\x83\x83\x66\x83"
                    "\x6F\x83\x43\x83\x58\x82\xCD\x91\xB6\x8D\xDD\x82\xB5\x82\xDC\x82\xB9\x82\xF1"
                    "\n");
}
