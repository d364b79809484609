// Holds the Wine desktop open for a whole test run. Wine's server closes a
// desktop one second after its last user process ends and starts a new one
// for the next process; a test process that starts while the old desktop is
// going away can find no display driver and fail to create any window. This
// program is a user of the desktop (a hidden top-level window) until the
// run's wineserver ends it.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    (void)previous;
    (void)commandLine;
    (void)show;
    WNDCLASSW wc = {0};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = instance;
    wc.lpszClassName = L"VireoDesktopKeeper";
    if (!RegisterClassW(&wc))
        return 1;
    HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, wc.lpszClassName, L"", WS_POPUP, 0, 0, 1, 1,
                                  NULL, NULL, instance, NULL);
    if (!window)
        return 1;
    MSG msg;
    while (GetMessageW(&msg, NULL, 0, 0) > 0)
        DispatchMessageW(&msg);
    return 0;
}
