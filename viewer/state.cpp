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
    // A short pause is over before anyone could notice the stop waiting for
    // it, and a plain sleep keeps the refresh closest to its interval (a
    // timed wait on an event oversleeps a little more under Wine); a longer
    // one waits on the stop event, which ends it the moment the stop comes.
    enum { kUnnoticedPauseMs = 100 };
    if (interval == 0)
        return;
    if (interval <= kUnnoticedPauseMs || !g_stopEvent)
        Sleep(interval);
    else
        WaitForSingleObject(g_stopEvent, interval);
}
