// state.cpp - the state the main thread shares with the viewer window thread
// (declared in capview.h).
#include "capview.h"

BITMAPINFOHEADER frameHeader;
BYTE *frameBuffer = NULL;
std::atomic<LONG> stopFlag(kStopRunning);
std::atomic<HWND> viewerWindow(NULL);
HINSTANCE moduleInstance = NULL;
std::atomic<bool> viewerWindowFailed(false);

// Signalled together with stopFlag; manual reset, so a request made before
// the main thread waits is still seen.
static HANDLE g_stopEvent = CreateEventW(NULL, TRUE, FALSE, NULL);

void RequestStop()
{
    stopFlag = kStopRequested;
    if (g_stopEvent)
        SetEvent(g_stopEvent);
}

void ClearStop()
{
    if (g_stopEvent)
        ResetEvent(g_stopEvent);
    stopFlag = kStopRunning;
}

void PauseBetweenPolls(DWORD interval)
{
    if (interval == 0)
        return;
    if (g_stopEvent)
        WaitForSingleObject(g_stopEvent, interval);
    else
        Sleep(interval);
}
