// wintest.h - helpers for tests that run real Windows code under Wine.
#ifndef VIREO_TESTS_WINTEST_H
#define VIREO_TESTS_WINTEST_H

#include <windows.h>
#include <string>
#include <vector>

namespace wintest {

// Folder of the running test program, with a trailing backslash. Every
// program and module of the build lies there.
std::wstring BinDir();

// Catches the message boxes that the current thread opens while it lives:
// records owner, style, caption and text, then dismisses each box with IDOK.
// Works through a WH_CBT hook, no
// polling. The style is read off the box as shown: its buttons give the
// MB_OK.. type, its icon the MB_ICON.. bits. The platform makes a child
// window's top-level window the owner of a box.
class MessageBoxCatcher {
public:
    struct Box {
        HWND owner;
        UINT style;
        std::string caption;
        std::string text;
    };
    MessageBoxCatcher();
    ~MessageBoxCatcher();
    const std::vector<Box> &Boxes() const { return m_boxes; }
    std::vector<std::string> Texts() const;
    void Clear() { m_boxes.clear(); }

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
    HHOOK m_hook;
    std::vector<Box> m_boxes;
};

// Collects the lines that the current process writes with
// OutputDebugStringA while it lives (through a vectored exception handler).
class DebugOutputCatcher {
public:
    DebugOutputCatcher();
    ~DebugOutputCatcher();
    std::vector<std::string> Lines() const;
    void Clear();

private:
    static LONG CALLBACK Handler(EXCEPTION_POINTERS *info);
    void *m_handle;
};

// The whole content of a file (shared for reading and writing, so a file
// another process still writes can be read); empty when it cannot be opened.
std::string ReadFileBytes(const std::wstring &path);

// A program started with its standard output and error in files of its
// own and no input; ended (exit code 99) if it still runs, and its files
// removed, when the object goes.
class ProgramRun {
public:
    ProgramRun();
    ~ProgramRun();
    // flags: CreateProcess creation flags; folder: its working folder (null:
    // this process's).
    bool Start(const std::wstring &commandLine, DWORD flags = 0, const WCHAR *folder = NULL);
    DWORD ProcessId() const { return m_pi.dwProcessId; }
    HANDLE Process() const { return m_pi.hProcess; }
    bool Running() const;
    // The exit status, or -2 when it still runs after timeoutMs.
    int WaitExit(DWORD timeoutMs = 60000);
    void End();
    std::string Output() const { return ReadFileBytes(m_out); }
    std::string Errors() const { return ReadFileBytes(m_err); }
    // Waits until the output holds at least bytes bytes or the program ended.
    bool WaitForOutput(size_t bytes, DWORD timeoutMs = 60000);

private:
    ProgramRun(const ProgramRun &);
    ProgramRun &operator=(const ProgramRun &);
    PROCESS_INFORMATION m_pi;
    std::wstring m_out, m_err;
};

// Runs a command line, waits up to timeoutMs, returns its exit code (or -1
// when it could not start, -2 on time-out after ending it).
int RunProcess(const std::wstring &commandLine, DWORD timeoutMs = 60000);

// Registers (or unregisters) a module of the build folder with regsvr32 /s;
// true when regsvr32 reported success.
bool RegisterModule(const std::wstring &fileName, bool unregister = false);

// Creates a hidden top-level window usable as a dialog parent.
HWND CreateHostWindow(int width = 640, int height = 480);

// Waits until done() holds, looking every 10 ms; false after guardMs. A
// guard against a stalled program, never a timing check.
template <typename Done> bool WaitUntil(Done done, DWORD guardMs = 30000)
{
    const ULONGLONG end = GetTickCount64() + guardMs;
    while (!done()) {
        if (GetTickCount64() > end)
            return false;
        Sleep(10);
    }
    return true;
}

// Sends every pending message of this thread to its window.
void PumpMessages();

// A visible top-level window of process processId holding, at any depth, a
// control of the given id (a property frame holding a page's check box,
// say); both null while there is none. A frame is shown only once its pages
// are initialised.
struct WindowWithControl {
    HWND topLevel;
    HWND control;
};
WindowWithControl FindWindowWithControl(DWORD processId, int controlId);

}  // namespace wintest

#endif  // VIREO_TESTS_WINTEST_H
