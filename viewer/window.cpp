// window.cpp - the viewer window: its class, its thread and its procedure.
#include "capview.h"

#include <limits.h>

static const WCHAR kViewerClass[] = L"TlxDirectShow";
// DirectShowサンプルプログラム
static const WCHAR kViewerTitle[] =
    L"DirectShow\x30B5\x30F3\x30D7\x30EB\x30D7\x30ED\x30B0\x30E9\x30E0";

// The frame size plus the window's border, kept inside the range of int.
static int OuterSize(LONG frame, int border)
{
    const LONGLONG size = static_cast<LONGLONG>(frame) + border;
    return size > INT_MAX ? INT_MAX : size < INT_MIN ? INT_MIN : static_cast<int>(size);
}

ATOM RegisterViewerClass()
{
    WNDCLASSEXW wc;
    ZeroMemory(&wc, sizeof(wc));
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = ViewerWindowProc;
    wc.hInstance = moduleInstance;
    wc.lpszClassName = kViewerClass;
    wc.cbWndExtra = 10;
    return RegisterClassExW(&wc);
}

DWORD WINAPI ViewerThread(LPVOID)
{
    const int caption = GetSystemMetrics(SM_CYCAPTION);
    const int frameX = GetSystemMetrics(SM_CXDLGFRAME);
    const int frameY = GetSystemMetrics(SM_CYDLGFRAME);
    const int width = OuterSize(frameHeader.biWidth, 2 * frameX);
    const int height = OuterSize(frameHeader.biHeight, 2 * frameY + caption);

    HWND window = CreateWindowExW(0, kViewerClass, kViewerTitle, WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  CW_USEDEFAULT, CW_USEDEFAULT, width, height, NULL, NULL,
                                  moduleInstance, NULL);
    if (!window) {
        // Nothing could ever ask the main thread to stop: tell it now.
        viewerWindowFailed = true;
        RequestStop();
        return 0;
    }
    viewerWindow = window;
    SetForegroundWindow(window);

    MSG msg;
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

LRESULT CALLBACK ViewerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(frameHeader.biWidth),
                          static_cast<DWORD>(frameHeader.biHeight), 0, 0, 0,
                          static_cast<UINT>(frameHeader.biHeight), frameBuffer,
                          reinterpret_cast<const BITMAPINFO *>(&frameHeader), DIB_RGB_COLORS);
        EndPaint(window, &ps);
        return 0;
    }
    case WM_KEYDOWN:
        if (wParam == 0x51) {  // Q, with or without Shift
            RequestStop();
            PostQuitMessage(0);
        }
        return 0;
    case WM_DESTROY:
        RequestStop();
        PostQuitMessage(0);
        return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}
