// main.cpp - capview: shows the live picture of the machine's first video
// input device.
//
// The main thread reads the settings beside the program, prints the banner,
// waits for a key, builds a capture graph from the device to a sample
// grabber, starts the viewer window thread and then copies the grabber's
// newest frame into frameBuffer once per display interval until the window
// asks to stop.
#include <windows.h>
#include <conio.h>
#include <stdio.h>

#include "capview.h"
#include "graph.h"
#include "startup.h"

namespace {

// A run that cannot go on: everything is stopped and released, then one line
// tells why, and the program ends with status 1.
int Abandon(CaptureGraph &g)
{
    TearDown(g);
    CoUninitialize();
    FreeFrameBuffer();
    printf("capview: %s\n", g.failure);
    fflush(stdout);
    return 1;
}

// The settings beside the program, then the banner.
CapviewSettings ReadSettingsAndShowBanner()
{
    char programPath[kPathChars] = {0};
    char settingsPath[kPathChars] = {0};
    if (GetModuleFileNameA(NULL, programPath, kPathChars) != 0) {
        programPath[kPathChars - 1] = '\0';
        BuildSettingsPath(programPath, settingsPath);
    }
    CapviewSettings settings = {640, 480, kDefaultPollInterval};
    if (settingsPath[0])
        settings = ReadSettings(settingsPath);

    printf("%s", kBannerTitle);
    printf(kBannerResolution, settings.width, settings.height);
    printf("%s", kBannerStart);
    printf("%s", kBannerQuit);
    fflush(stdout);
    return settings;
}

// The viewer window's class and its thread.
bool StartViewer(CaptureGraph &g)
{
    moduleInstance = GetModuleHandleW(NULL);
    RegisterViewerClass();
    ClearStop();
    viewerWindow = NULL;
    DWORD threadId = 0;
    HANDLE thread = CreateThread(NULL, 0, ViewerThread, NULL, 0, &threadId);
    if (!thread)
        return Fail(g, "the viewer window thread could not be started (error %lu).",
                    static_cast<unsigned long>(GetLastError()));
    CloseHandle(thread);
    return true;
}

// Runs the graph and shows the newest frame once per display interval until
// the window asks to stop.
void RunAndPoll(CaptureGraph &g, const CapviewSettings &settings)
{
    g.grabber->SetBufferSamples(TRUE);
    g.control->Run();
    CopyNewestFrame(g);

    const DWORD interval = PollInterval(settings.dispInterval);
    while (stopFlag != kStopRequested) {
        // A null window would invalidate the whole desktop.
        if (HWND window = viewerWindow)
            InvalidateRect(window, NULL, FALSE);
        PauseBetweenPolls(interval);
        CopyNewestFrame(g);
    }
}

}  // namespace

int main()
{
    const CapviewSettings settings = ReadSettingsAndShowBanner();
    _getch();
    CoInitialize(NULL);

    CaptureGraph g;
    if (!EnumerateVideoInputs(g))
        return Abandon(g);
    if (!g.monikers) {
        printf("%s", kNoDeviceMessage);
        fflush(stdout);
        g.devEnum.Reset();
        CoUninitialize();
        return 0;
    }

    if (!OpenFirstDevice(g) || !BuildGraph(g, settings) || !PrepareFrameBuffer(g) ||
        !StartViewer(g))
        return Abandon(g);

    RunAndPoll(g, settings);
    if (viewerWindowFailed) {
        Fail(g, "the viewer window could not be created.");
        return Abandon(g);
    }

    TearDown(g);
    CoUninitialize();
    if (HWND window = viewerWindow)
        SendMessageW(window, WM_CLOSE, 0, 0);
    FreeFrameBuffer();
    return 0;
}
