// The viewer window of capview, run in this process on a frame of the
// test's own: its class, its title and style, and that it comes to the
// foreground over another window.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "capview.h"
#include "wintest.h"

namespace {

TEST(ViewerWindow, ClassAsRegistered)
{
    moduleInstance = GetModuleHandleW(NULL);
    ASSERT_NE(0, RegisterViewerClass());
    WNDCLASSEXW wc;
    ZeroMemory(&wc, sizeof(wc));
    wc.cbSize = sizeof(wc);
    ASSERT_TRUE(GetClassInfoExW(moduleInstance, L"TlxDirectShow", &wc));
    EXPECT_EQ(0u, wc.style);
    EXPECT_EQ(&ViewerWindowProc, wc.lpfnWndProc);
    EXPECT_EQ(0, wc.cbClsExtra);
    EXPECT_EQ(10, wc.cbWndExtra);
    EXPECT_EQ(NULL, wc.hIcon);
    EXPECT_EQ(NULL, wc.hIconSm);
    EXPECT_EQ(NULL, wc.hCursor);        // the class sets no cursor ...
    EXPECT_EQ(NULL, wc.hbrBackground);  // ... and erases no background
    EXPECT_EQ(NULL, wc.lpszMenuName);
    UnregisterClassW(L"TlxDirectShow", moduleInstance);
}

TEST(ViewerWindow, TitledAndBroughtToTheForeground)
{
    moduleInstance = GetModuleHandleW(NULL);
    RegisterViewerClass();
    frameHeader =
        BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), 64, 48, 1, 24, BI_RGB, 64 * 48 * 3, 0, 0, 0, 0};
    std::vector<BYTE> pixels(64 * 48 * 3, 0x80);
    frameBuffer = pixels.data();
    ClearStop();
    viewerWindow = NULL;

    // Another window of the process is in the foreground when the viewer
    // window comes.
    HWND other = wintest::CreateHostWindow(200, 100);
    ShowWindow(other, SW_SHOW);
    SetForegroundWindow(other);
    wintest::PumpMessages();
    ASSERT_EQ(other, GetForegroundWindow());
    HANDLE thread = CreateThread(NULL, 0, ViewerThread, NULL, 0, NULL);
    ASSERT_TRUE(thread != NULL);
    const ULONGLONG guard = GetTickCount64() + 30000;  // against a hang
    while (!viewerWindow && GetTickCount64() < guard)
        Sleep(5);
    HWND window = viewerWindow;
    ASSERT_TRUE(window != NULL);
    SendMessageW(window, WM_NULL, 0, 0);  // the thread is in its message loop
    wintest::PumpMessages();

    WCHAR title[64] = {0};
    GetWindowTextW(window, title, 64);
    // DirectShowサンプルプログラム
    EXPECT_STREQ(L"DirectShow\x30B5\x30F3\x30D7\x30EB\x30D7\x30ED\x30B0\x30E9\x30E0", title);
    const LONG style = GetWindowLongW(window, GWL_STYLE);
    EXPECT_EQ(WS_OVERLAPPEDWINDOW | WS_VISIBLE,
              style & (WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_POPUP));
    EXPECT_EQ(window, GetForegroundWindow());

    PostMessageW(window, WM_KEYDOWN, 'Q', 0x00100001);
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(thread, 30000));
    EXPECT_EQ(kStopRequested, stopFlag.load());
    CloseHandle(thread);
    DestroyWindow(other);
    frameBuffer = NULL;
}

}  // namespace
