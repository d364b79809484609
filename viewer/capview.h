// capview.h - the state the main thread shares with the viewer window thread.
//
// frameHeader, frameBuffer and moduleInstance are set by the main thread
// before the window thread starts and never change afterwards. stopFlag and
// viewerWindow cross between the threads while both run.
#ifndef CAPVIEW_CAPVIEW_H
#define CAPVIEW_CAPVIEW_H

#include <windows.h>

#include <atomic>

enum { kStopRunning = 0, kStopRequested = 2 };

extern BITMAPINFOHEADER frameHeader;    // the connected video format's bitmap header
extern BYTE *frameBuffer;               // the newest frame, laid out as frameHeader says
extern std::atomic<LONG> stopFlag;      // kStopRunning or kStopRequested
extern std::atomic<HWND> viewerWindow;  // null until the window exists
extern HINSTANCE moduleInstance;        // the program's own instance

// Set by the window thread when it could not create the window (it sets
// stopFlag as well, so the main thread leaves its poll loop).
extern std::atomic<bool> viewerWindowFailed;

// A stop request: the window thread sets stopFlag and wakes the main thread
// from its pause between two polls, so that the camera is let go at once
// whatever the display interval.
void RequestStop();
// Clears a stop request before a window thread starts.
void ClearStop();
// The pause between two polls: interval milliseconds, or, for a pause long
// enough to be noticed (over 100 ms), until a stop is requested, whichever
// comes first.
void PauseBetweenPolls(DWORD interval);

// The viewer window class "TlxDirectShow"; registered by the main thread.
ATOM RegisterViewerClass();

// The window thread: creates the viewer window, runs its message loop.
DWORD WINAPI ViewerThread(LPVOID);

// The viewer window procedure.
LRESULT CALLBACK ViewerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif  // CAPVIEW_CAPVIEW_H
