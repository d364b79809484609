// state.cpp - the state the main thread shares with the viewer window thread
// (declared in capview.h).
#include "capview.h"

BITMAPINFOHEADER frameHeader;
BYTE *frameBuffer = NULL;
std::atomic<LONG> stopFlag(kStopRunning);
std::atomic<HWND> viewerWindow(NULL);
HINSTANCE moduleInstance = NULL;
std::atomic<bool> viewerWindowFailed(false);
