// capview_run.h - runs a copy of capview.exe in a folder of its own, with
// the test's own capview.ini beside it and its standard output in a file.
#ifndef VIREO_TESTS_CAPVIEW_RUN_H
#define VIREO_TESTS_CAPVIEW_RUN_H

#include <windows.h>

#include <string>
#include <vector>

#include "wintest.h"

class CapviewRun : public wintest::ProgramRun {
public:
    enum KeyFeed {
        KEY_FROM_NO_CONSOLE,  // no console: the key wait returns at once
        KEY_FROM_CONSOLE      // a console of its own; PressKey types into it
    };

    CapviewRun();   // a fresh folder holding a copy of capview.exe
    ~CapviewRun();  // ends the program if it still runs, removes the folder

    // Writes capview.ini beside the copy.
    void WriteSettings(const std::string &text);

    bool Start(KeyFeed feed);

    // Types one key into the program's console.
    bool PressKey(WCHAR key = L'x');

    // What the program's own console shows (its standard output goes to a
    // file, so only an echo could show there); blanks trimmed.
    std::wstring ConsoleText();

    // The sample grabber's calls as the grabber in the camera tests logs
    // them, one line each.
    std::vector<std::string> GrabberCalls() const;

    // The program's viewer window (class "TlxDirectShow"), or null.
    HWND FindViewerWindow() const;
    // Waits for the viewer window to appear; null when the program ended or
    // timeoutMs passed first.
    HWND WaitForViewerWindow(DWORD timeoutMs = 60000);

private:
    std::string m_folder;
};

// The banner capview prints for a requested size, as its console stream
// carries it (code page 932, CR LF line ends).
std::string ExpectedBanner(int width, int height);

// capview's no-device line, as its console stream carries it.
std::string ExpectedNoDeviceLine();

#endif  // VIREO_TESTS_CAPVIEW_RUN_H
