#include "capview_run.h"

#include <stdio.h>
#include <wchar.h>

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

// A path of the temporary folder (plain ASCII) as a wide string.
std::wstring Wide(const std::string &path)
{
    return std::wstring(path.begin(), path.end());
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
    CopyFileW((wintest::BinDir() + L"capview.exe").c_str(),
              Wide(m_folder + "\\capview.exe").c_str(), FALSE);
}

CapviewRun::~CapviewRun()
{
    End();
    for (const char *file : {"capview.exe", "capview.ini", "grabber.log"})
        DeleteFileA((m_folder + "\\" + file).c_str());
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
    SetEnvironmentVariableA("VIREO_GRABBER_LOG", (m_folder + "\\grabber.log").c_str());
    return ProgramRun::Start(L"\"" + Wide(m_folder) + L"\\capview.exe\"",
                             feed == KEY_FROM_CONSOLE ? CREATE_NEW_CONSOLE : DETACHED_PROCESS,
                             Wide(m_folder).c_str());
}

bool CapviewRun::PressKey(WCHAR key)
{
    FreeConsole();
    if (!AttachConsole(ProcessId()))
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

std::wstring CapviewRun::ConsoleText()
{
    std::wstring text;
    FreeConsole();
    if (!AttachConsole(ProcessId()))
        return L"(no console)";
    HANDLE output = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (output != INVALID_HANDLE_VALUE && GetConsoleScreenBufferInfo(output, &info)) {
        std::vector<WCHAR> cells(static_cast<size_t>(info.dwSize.X) * info.dwSize.Y);
        COORD origin = {0, 0};
        DWORD read = 0;
        ReadConsoleOutputCharacterW(output, cells.data(), static_cast<DWORD>(cells.size()), origin,
                                    &read);
        for (DWORD i = 0; i < read; ++i)
            if (cells[i] != L' ' && cells[i] != 0)
                text += cells[i];
    } else {
        text = L"(no screen buffer)";
    }
    if (output != INVALID_HANDLE_VALUE)
        CloseHandle(output);
    FreeConsole();
    return text;
}

std::vector<std::string> CapviewRun::GrabberCalls() const
{
    std::vector<std::string> lines;
    const std::string log = wintest::ReadFileBytes(Wide(m_folder + "\\grabber.log"));
    for (size_t at = 0, end; (end = log.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(log.substr(at, end - at));
    return lines;
}

HWND CapviewRun::FindViewerWindow() const
{
    std::pair<DWORD, HWND> search(ProcessId(), static_cast<HWND>(NULL));
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

// A console line as capview's stream carries it: code page 932 bytes.
static std::string Cp932(const wchar_t *text)
{
    char bytes[256] = {0};
    WideCharToMultiByte(932, 0, text, -1, bytes, sizeof(bytes), NULL, NULL);
    return TextMode(bytes);
}

std::string ExpectedBanner(int width, int height)
{
    wchar_t resolution[64];
    // 解像度 : %d x %d
    swprintf(resolution, 64, L"\x89E3\x50CF\x5EA6 : %d x %d\n", width, height);
    // 画像入力サンプルプログラム, キーを入力するとキャプチャを開始します。,
    // 「q」キーを入力すると終了します。
    return Cp932(L"\x753B\x50CF\x5165\x529B\x30B5\x30F3\x30D7\x30EB\x30D7\x30ED\x30B0"
                 L"\x30E9\x30E0\n\n") +
           Cp932(resolution) +
           Cp932(L"\x30AD\x30FC\x3092\x5165\x529B\x3059\x308B\x3068\x30AD\x30E3\x30D7"
                 L"\x30C1\x30E3\x3092\x958B\x59CB\x3057\x307E\x3059\x3002\n") +
           Cp932(L"\x300Cq\x300D\x30AD\x30FC\x3092\x5165\x529B\x3059\x308B\x3068\x7D42"
                 L"\x4E86\x3057\x307E\x3059\x3002\n");
}

std::string ExpectedNoDeviceLine()
{
    // ビデオキャプチャデバイスは存在しません
    return Cp932(L"\x30D3\x30C7\x30AA\x30AD\x30E3\x30D7\x30C1\x30E3\x30C7\x30D0\x30A4"
                 L"\x30B9\x306F\x5B58\x5728\x3057\x307E\x305B\x3093\n");
}
