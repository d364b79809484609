// capview as a process on the simulated camera: the window takes the
// connected frame's size and shows the camera's picture, the stop requests
// end the program with status 0 after the graph has stopped, and every
// missing object ends it with one line and status 1.
#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>
#include <stddef.h>

#include <wrl/client.h>

#include <set>
#include <string>
#include <vector>

#include "capview_run.h"
#include "keeperpaths.h"
#include "picture.h"
#include "simcam_graph.h"
#include "simcontrol.h"
#include "vireocamera.h"
#include "wintest.h"

namespace {

using Microsoft::WRL::ComPtr;
using wintest::WaitUntil;

// The client area's top-left width x height pixels, top row first, as
// 0x00RRGGBB.
std::vector<DWORD> ReadClient(HWND window, LONG width, LONG height)
{
    std::vector<DWORD> pixels;
    BITMAPINFO bmi;
    ZeroMemory(&bmi, sizeof(bmi));
    bmi.bmiHeader.biSize = sizeof(bmi.bmiHeader);
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void *bits = NULL;
    HDC screen = GetDC(window);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP dib = CreateDIBSection(mem, &bmi, DIB_RGB_COLORS, &bits, NULL, 0);
    if (dib && bits) {
        HGDIOBJ old = SelectObject(mem, dib);
        if (BitBlt(mem, 0, 0, width, height, screen, 0, 0, SRCCOPY)) {
            GdiFlush();
            const DWORD *p = static_cast<const DWORD *>(bits);
            pixels.assign(p, p + static_cast<size_t>(width) * height);
            for (DWORD &px : pixels)
                px &= 0xFFFFFF;
        }
        SelectObject(mem, old);
        DeleteObject(dib);
    }
    DeleteDC(mem);
    ReleaseDC(window, screen);
    return pixels;
}

// The camera's frame number that the window shows: the newest of the frames
// first to last whose top rows (rows of them, as far as the client area
// shows them) the client area holds, or -1 (also while a paint mixes two
// frames). The frame counter is drawn in the top rows.
LONG ShownFrame(HWND window, LONG frameWidth, LONG frameHeight, LONG rows, LONG first, LONG last,
                const SimDriverState &camera)
{
    RECT client;
    GetClientRect(window, &client);
    const LONG width = client.right < frameWidth ? client.right : frameWidth;
    rows = client.bottom < rows ? client.bottom : rows;
    const std::vector<DWORD> shown = ReadClient(window, width, rows);
    if (width <= 0 || rows <= 0 || shown.size() != static_cast<size_t>(width) * rows)
        return -1;
    std::vector<BYTE> frame(SimFrameBytes(frameWidth, frameHeight));
    for (LONG n = last; n >= first && n >= 0; --n) {
        SimRenderFrame(frame.data(), frameWidth, frameHeight, static_cast<ULONG>(n), camera);
        bool same = true;
        for (LONG y = 0; y < rows && same; ++y) {
            const BYTE *row = frame.data() +
                              static_cast<size_t>(frameHeight - 1 - y) * SimFrameStride(frameWidth);
            for (LONG x = 0; x < width && same; ++x, row += 3)
                same = shown[y * width + x] ==
                       (static_cast<DWORD>(row[2]) << 16 | row[1] << 8 | row[0]);
        }
        if (same)
            return n;
    }
    return -1;
}

// The sample grabber's in-process server: the platform's, or the one that
// logs its calls (grabspy.dll) while a camera test runs.
const wchar_t kGrabberServer[] =
    L"Software\\Classes\\CLSID\\{C1F400A0-3F08-11D3-9F0B-006008039E37}\\InprocServer32";

std::wstring SwapGrabberServer(const std::wstring &path)
{
    WCHAR old[MAX_PATH] = {0};
    DWORD size = sizeof(old);
    RegGetValueW(HKEY_LOCAL_MACHINE, kGrabberServer, NULL, RRF_RT_REG_SZ, NULL, old, &size);
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, kGrabberServer, NULL, REG_SZ, path.c_str(),
                    static_cast<DWORD>((path.size() + 1) * sizeof(WCHAR)));
    return old;
}

const char kGrabberType[] = "SetMediaType 73646976 E436EB7D 05589F80 0 0 0 0 0 0";  // video, RGB24

class ViewerOnCamera : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
        ASSERT_TRUE(m_cam.IsOpen());
        m_cam.Reset();
        m_registered = wintest::RegisterModule(L"simcam.ax");
        ASSERT_TRUE(m_registered);
        m_grabberServer = SwapGrabberServer(wintest::BinDir() + L"grabspy.dll");
        ASSERT_FALSE(m_grabberServer.empty());
    }

    void TearDown() override
    {
        if (!m_grabberServer.empty())
            SwapGrabberServer(m_grabberServer);
        if (m_registered) {
            EXPECT_TRUE(wintest::RegisterModule(L"simcam.ax", true));
        }
        m_cam.Reset();
        CoUninitialize();
    }

    // The camera's settings as its next frames see them.
    SimDriverState State()
    {
        std::vector<BYTE> state(sizeof(SimDriverState), 0);
        const SimCamDriverLock driver = m_cam.LockDriver();
        memcpy(state.data(), &driver.State(), offsetof(SimDriverState, log));
        return *reinterpret_cast<const SimDriverState *>(state.data());
    }

    // Waits until the window shows the camera's picture of the given size,
    // drawn from frames sent after this call: the window is refreshed.
    ::testing::AssertionResult WaitForPicture(HWND window, LONG frameWidth, LONG frameHeight)
    {
        const LONG first = m_cam.FramesDelivered();
        const SimDriverState camera = State();
        if (WaitUntil([&] {
                return ShownFrame(window, frameWidth, frameHeight, frameHeight, first,
                                  m_cam.FramesDelivered(), camera) >= 0;
            }))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the window never showed the camera's "
                                             << frameWidth << " x " << frameHeight << " picture";
    }

    // The events (of one kind, or all) of the camera filters that lived in
    // process pid.
    std::vector<SimEvent> EventsOf(DWORD pid, ULONG kind = 0)
    {
        std::vector<SimEvent> mine;
        for (const SimEvent &e : m_cam.Events())
            if (e.processId == pid && (!kind || e.kind == kind))
                mine.push_back(e);
        return mine;
    }

    // The next program on the camera, this test's own graph, runs and owns
    // it. (Wine's graph does not pass on a filter's refused Run, so the
    // camera's owner tells.)
    void ExpectCameraFreeForTheNextProgram()
    {
        const ComPtr<IGraphBuilder> graph =
            Create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
        const ComPtr<IBaseFilter> grabber =
            Create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
        const ComPtr<IBaseFilter> source = BindSimCam();
        ASSERT_TRUE(graph && grabber && source);
        ASSERT_EQ(S_OK, graph->AddFilter(source.Get(), L"Video Capture"));
        ASSERT_EQ(S_OK, graph->AddFilter(grabber.Get(), L"SamGra"));
        ASSERT_EQ(S_OK,
                  graph->ConnectDirect(FirstPin(source).Get(), FirstPin(grabber).Get(), NULL));
        const ComPtr<IMediaControl> control = Query<IMediaControl>(graph, IID_IMediaControl);
        ASSERT_TRUE(control != nullptr);
        control->Run();
        EXPECT_EQ(GetCurrentProcessId(), m_cam.OwnerProcess());
        control->Stop();
    }

    SimCamControl m_cam;
    bool m_registered = false;
    std::wstring m_grabberServer;
};

// The display interval seen through the camera's own clock (its frame count)
// and without a wall-clock limit. Looking at the window about every third
// camera frame for 36 frames, DISP_INTERVAL=1000 shows at most three
// different frames and 0 nearly every look a new one; and over those frames
// a 30 ms pause copies at most about one frame per camera frame (2 allowed),
// no pause many more.
TEST_F(ViewerOnCamera, RefreshesOncePerDisplayInterval)
{
    const SimDriverState camera = State();
    for (int interval : {1000, 30, 0}) {
        SCOPED_TRACE(interval);
        m_cam.Reset();  // frame numbers from 0 again
        CapviewRun run;
        run.WriteSettings("[CAMERA_PARAM]\r\nWIDTH=160\r\nHEIGHT=120\r\nDISP_INTERVAL=" +
                          std::to_string(interval) + "\r\n");
        ASSERT_TRUE(run.Start(CapviewRun::KEY_FROM_NO_CONSOLE));
        HWND window = run.WaitForViewerWindow();
        ASSERT_TRUE(window != NULL) << run.Output();
        ASSERT_TRUE(WaitForPicture(window, 160, 120));

        std::vector<LONG> seen;
        const LONG start = m_cam.FramesDelivered();
        const size_t callsBefore = run.GrabberCalls().size();
        for (LONG next = start; next <= start + 36; next += 3) {
            ASSERT_TRUE(WaitUntil([&] { return m_cam.FramesDelivered() >= next; }));
            const LONG last = m_cam.FramesDelivered();
            const LONG n = ShownFrame(window, 160, 120, 12, last - 99, last, camera);
            if (n >= 0 && (seen.empty() || seen.back() != n))
                seen.push_back(n);
        }
        const size_t copies = run.GrabberCalls().size() - callsBefore;
        if (interval == 1000) {
            EXPECT_LE(seen.size(), 3u);
        } else if (interval == 30) {
            EXPECT_LE(copies, 2u * 36);
        } else {
            EXPECT_GE(seen.size(), 9u);
            EXPECT_GT(copies, 2u * 36);
        }
        PostMessageW(window, WM_KEYDOWN, 'Q', 0x00100001);
        EXPECT_EQ(0, run.WaitExit());
    }
}

// One run of capview on the camera: settings, camera state, what it should
// show.
enum { kRefuse = 1, kZeroImageSize = 2, kFlipMirrorLed = 4 };
struct ShowCase {
    const char *name;
    const char *settings;  // capview.ini, or null for none
    int bannerWidth, bannerHeight;
    LONG frameWidth, frameHeight;
    unsigned camera;         // kRefuse, kZeroImageSize, kFlipMirrorLed
    int setFormats;          // capability entries that qualify (the camera's own: four)
    int recordSize;          // the capability record size reported (0: 128)
    std::vector<LONG> caps;  // the capability list (empty: the camera's own)
};

class ViewerShows : public ViewerOnCamera, public ::testing::WithParamInterface<ShowCase> {};

TEST_P(ViewerShows, TheConnectedFrameInAWindowOfItsSizeUntilQ)
{
    const ShowCase &c = GetParam();
    m_cam.SetCapsRecordSize(c.recordSize);
    m_cam.SetCapabilities(c.caps);
    m_cam.RefuseSetFormat((c.camera & kRefuse) != 0);
    m_cam.ForceZeroImageSize((c.camera & kZeroImageSize) != 0);
    if (c.camera & kFlipMirrorLed) {
        m_cam.SetValue(FLIP, 1);
        m_cam.SetValue(MIRROR, 1);
        m_cam.SetValue(LEDCTRL, 1);
    }

    CapviewRun run;
    if (c.settings)
        run.WriteSettings(c.settings);
    ASSERT_TRUE(run.Start(CapviewRun::KEY_FROM_NO_CONSOLE));
    HWND window = run.WaitForViewerWindow();
    ASSERT_TRUE(window != NULL) << "exit " << run.WaitExit(0) << ", output: " << run.Output();
    LONG width = 0, height = 0;
    EXPECT_TRUE(m_cam.CurrentFormat(&width, &height));
    EXPECT_EQ(c.frameWidth, width);
    EXPECT_EQ(c.frameHeight, height);

    RECT outer;
    ASSERT_TRUE(GetWindowRect(window, &outer));
    EXPECT_EQ(c.frameWidth + 2 * GetSystemMetrics(SM_CXDLGFRAME), outer.right - outer.left);
    EXPECT_EQ(c.frameHeight + 2 * GetSystemMetrics(SM_CYDLGFRAME) + GetSystemMetrics(SM_CYCAPTION),
              outer.bottom - outer.top);
    EXPECT_TRUE(WaitForPicture(window, c.frameWidth, c.frameHeight));

    ASSERT_TRUE(PostMessageW(window, WM_KEYDOWN, 'Q', 0x00100001));
    EXPECT_EQ(0, run.WaitExit());
    EXPECT_EQ(ExpectedBanner(c.bannerWidth, c.bannerHeight), run.Output());

    // The requested size, set once for every qualifying capability entry;
    // nothing else of the current format changed.
    const std::vector<SimEvent> set = EventsOf(run.ProcessId(), SIM_EVENT_SETFORMAT);
    EXPECT_EQ(static_cast<size_t>(c.setFormats), set.size());
    for (const SimEvent &e : set) {
        EXPECT_TRUE(IsEqualGUID(FORMAT_VideoInfo, e.format.formattype));
        EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB24, e.format.subtype));
        EXPECT_EQ(c.bannerWidth, e.format.vih.bmiHeader.biWidth);
        EXPECT_EQ(c.bannerHeight, e.format.vih.bmiHeader.biHeight);
    }
    if (!set.empty()) {
        EXPECT_EQ(c.camera & kZeroImageSize ? 0u : 640u * 480 * 3,
                  set[0].format.vih.bmiHeader.biSizeImage);
    }
    // The camera joined the graph as "Video Capture" and streams through the
    // Smart Tee's preview pin into the grabber, "SamGra".
    const std::vector<SimEvent> join = EventsOf(run.ProcessId(), SIM_EVENT_JOIN);
    ASSERT_EQ(1u, join.size());
    EXPECT_STREQ(L"Video Capture", join[0].text);
    const std::vector<SimEvent> connect = EventsOf(run.ProcessId(), SIM_EVENT_CONNECT);
    ASSERT_EQ(1u, connect.size());
    EXPECT_TRUE(IsEqualCLSID(CLSID_SmartTee, connect[0].peer));
    std::wstring way;
    for (const SimEvent &e : EventsOf(run.ProcessId()))
        if ((e.kind == SIM_EVENT_PAUSE || e.kind == SIM_EVENT_RUN) && e.text[0] && way.empty())
            way = e.text;
    EXPECT_EQ(L"Smart Tee/Preview>SamGra", way);
    // The grabber got its type first, then buffering; no one-shot, no callback.
    const std::vector<std::string> calls = run.GrabberCalls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(kGrabberType, calls[0]);
    EXPECT_EQ("SetBufferSamples 1", calls[1]);
    for (const std::string &call : calls)
        EXPECT_TRUE(call.rfind("Set", 0) != 0 || call == calls[0] ||
                    call.rfind("SetBufferSamples", 0) == 0)
            << call;
}

#define SIZE(w, h) "[CAMERA_PARAM]\r\nWIDTH=" #w "\r\nHEIGHT=" #h "\r\n"
const char kNegativeInterval[] = "[CAMERA_PARAM]\r\nDISP_INTERVAL=-5\r\n";
// Entries that do not qualify are passed over; the walk goes on to the end.
const std::vector<LONG> kMixedCaps = {
    0, SIM_CAPS_OTHER_TYPE, SIM_CAPS_SHORT_FORMAT, 1, SIM_CAPS_NULL_FORMAT, SIM_CAPS_FAILING, 3};
const ShowCase kShowCases[] = {
    {"NoSettingsFile", NULL, 640, 480, 640, 480, 0, 4, 0, {}},
    {"Requested320x240", SIZE(320, 240), 320, 240, 320, 240, 0, 4, 0, {}},
    {"RefusedSizeKeepsTheCamerasOwn", SIZE(320, 240), 320, 240, 640, 480, kRefuse, 4, 0, {}},
    {"SizeNotOfferedKeepsTheCamerasOwn", SIZE(800, 600), 800, 600, 640, 480, 0, 4, 0, {}},
    {"NegativeIntervalActsAsTheDefault", kNegativeInterval, 640, 480, 640, 480, 0, 4, 0, {}},
    {"ZeroImageSize", SIZE(160, 120), 160, 120, 160, 120, kZeroImageSize, 4, 0, {}},
    {"FlippedMirroredWithLed", NULL, 640, 480, 640, 480, kFlipMirrorLed, 4, 0, {}},
    {"OnlyQualifyingCapsEntriesSetTheSize", SIZE(320, 240), 320, 240, 320, 240, 0, 3, 0,
     kMixedCaps},
    {"RecordSizeOtherThan128SetsNoSize", SIZE(320, 240), 320, 240, 640, 480, 0, 0, 127, {}},
};

INSTANTIATE_TEST_SUITE_P(Cases, ViewerShows, ::testing::ValuesIn(kShowCases),
                         [](const ::testing::TestParamInfo<ShowCase> &info) {
                             return std::string(info.param.name);
                         });

// The stop requests. Each ends the program with status 0 and nothing more
// on its console, after the camera has stopped and before it is released.
struct StopCase {
    const char *name;
    void (*request)(HWND window);
    const char *settings = nullptr;  // capview.ini, or null for the defaults
};

void TypeKeys(const std::vector<WORD> &keys)
{
    std::vector<INPUT> inputs;
    for (size_t i = 0; i < keys.size() * 2; ++i) {
        INPUT in;
        ZeroMemory(&in, sizeof(in));
        in.type = INPUT_KEYBOARD;
        // Down in the given order, up in the reverse order.
        in.ki.wVk = i < keys.size() ? keys[i] : keys[keys.size() * 2 - 1 - i];
        in.ki.dwFlags = i < keys.size() ? 0 : KEYEVENTF_KEYUP;
        inputs.push_back(in);
    }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

// Makes the window the foreground one and waits until its thread has the
// keyboard focus on it, so that typed keys reach it. The activation is
// asynchronous: under the 32-bit emulator the foreground was seen to drop
// back to none just after SetForegroundWindow returned, and keys typed then
// reached no window.
bool Focus(HWND window)
{
    const DWORD thread = GetWindowThreadProcessId(window, NULL);
    return WaitUntil([&] {
        if (GetForegroundWindow() != window)
            SetForegroundWindow(window);
        GUITHREADINFO info;
        ZeroMemory(&info, sizeof(info));
        info.cbSize = sizeof(info);
        return GetForegroundWindow() == window && GetGUIThreadInfo(thread, &info) &&
               info.hwndFocus == window;
    });
}

class ViewerStops : public ViewerOnCamera, public ::testing::WithParamInterface<StopCase> {};

TEST_P(ViewerStops, WithStatus0AfterTheCameraStopped)
{
    CapviewRun run;
    if (GetParam().settings)
        run.WriteSettings(GetParam().settings);
    ASSERT_TRUE(run.Start(CapviewRun::KEY_FROM_NO_CONSOLE));
    HWND window = run.WaitForViewerWindow();
    ASSERT_TRUE(window != NULL) << "exit " << run.WaitExit(0) << ", output: " << run.Output();
    const LONG started = m_cam.FramesDelivered();
    ASSERT_TRUE(WaitUntil([&] { return m_cam.FramesDelivered() > started; }));

    GetParam().request(window);
    // Against a hang only: a stop that waited out a ten-minute display
    // interval would miss this by far.
    EXPECT_EQ(0, run.WaitExit(30000));
    EXPECT_EQ(ExpectedBanner(640, 480), run.Output());
    // Buffering off at the end.
    ASSERT_FALSE(run.GrabberCalls().empty());
    EXPECT_EQ("SetBufferSamples 0", run.GrabberCalls().back());

    // One camera filter in capview: run, then stopped by capview, then released.
    const std::vector<SimEvent> events = EventsOf(run.ProcessId());
    ASSERT_FALSE(events.empty());
    const ULONG filter = events.front().filterId;
    int run_ = -1, stop = -1, release = -1;
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(filter, events[i].filterId);
        const int at = static_cast<int>(i);
        if (events[i].kind == SIM_EVENT_RUN)
            run_ = at;
        if (events[i].kind == SIM_EVENT_STOP && run_ >= 0 && stop < run_)
            stop = at;
        if (events[i].kind == SIM_EVENT_RELEASE)
            release = at;
    }
    EXPECT_GE(run_, 0);
    ASSERT_GT(stop, run_) << "no stop after the last run";
    // capview stopped the graph itself: it still held the graph then (a
    // graph stopping itself in its final release holds only its guard).
    EXPECT_GT(events[stop].graphRefs, 1u);
    EXPECT_EQ(static_cast<int>(events.size()) - 1, release) << "not released last";
    EXPECT_EQ(0, m_cam.FiltersAlive());

    ExpectCameraFreeForTheNextProgram();
}

void PostQ(HWND w)
{
    PostMessageW(w, WM_KEYDOWN, 'Q', 0x00100001);
}
void PostClose(HWND w)
{
    PostMessageW(w, WM_CLOSE, 0, 0);
}
// A display interval of ten minutes: the stop ends the pause between two polls.
const char kLongInterval[] = "[CAMERA_PARAM]\r\nDISP_INTERVAL=600000\r\n";

const StopCase kStopCases[] = {
    {"QPosted", PostQ},
    {"QPostedDuringALongInterval", PostQ, kLongInterval},
    {"WindowClosedDuringALongInterval", PostClose, kLongInterval},
    {"ShiftQTyped",
     [](HWND w) {
         ASSERT_TRUE(Focus(w)) << "the viewer window never had the focus";
         TypeKeys({VK_SHIFT, 'Q'});
     }},
    {"QTyped",
     [](HWND w) {
         ASSERT_TRUE(Focus(w)) << "the viewer window never had the focus";
         TypeKeys({'Q'});
     }},
    {"WindowClosed", PostClose},
    {"AltF4Typed",
     [](HWND w) {
         ASSERT_TRUE(Focus(w)) << "the viewer window never had the focus";
         TypeKeys({VK_MENU, VK_F4});
     }},
};

INSTANTIATE_TEST_SUITE_P(Cases, ViewerStops, ::testing::ValuesIn(kStopCases),
                         [](const ::testing::TestParamInfo<StopCase> &info) {
                             return std::string(info.param.name);
                         });

// The camera is opened only after the console key, which is not echoed;
// keys typed into the console later, and keys other than Q in the window,
// change nothing.
TEST_F(ViewerOnCamera, OpensTheCameraAfterTheConsoleKeyAndStopsOnlyOnQ)
{
    CapviewRun run;
    ASSERT_TRUE(run.Start(CapviewRun::KEY_FROM_CONSOLE));
    const std::string banner = ExpectedBanner(640, 480);
    ASSERT_TRUE(run.WaitForOutput(banner.size()));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(run.Process(), 300));
    EXPECT_EQ(static_cast<HWND>(NULL), run.FindViewerWindow());
    EXPECT_TRUE(EventsOf(run.ProcessId()).empty());

    ASSERT_TRUE(run.PressKey(L'x'));
    HWND window = run.WaitForViewerWindow();
    ASSERT_TRUE(window != NULL) << "exit " << run.WaitExit(0) << ", output: " << run.Output();
    EXPECT_EQ(L"", run.ConsoleText()) << "the key was echoed";
    ASSERT_TRUE(run.PressKey(L'q'));
    ASSERT_TRUE(run.PressKey(L'Q'));
    // VK_F2 is 0x71, the character code of a small q.
    for (int key : {int('A'), int('W'), VK_ESCAPE, VK_RETURN, VK_SPACE, VK_F2, VK_SHIFT})
        EXPECT_EQ(0, SendMessageW(window, WM_KEYDOWN, static_cast<WPARAM>(key), 1)) << key;
    SendMessageW(window, WM_CHAR, 'q', 1);
    // The poll loop goes on: the camera keeps sending to a running graph.
    const LONG sent = m_cam.FramesDelivered();
    ASSERT_TRUE(WaitUntil([&] { return m_cam.FramesDelivered() >= sent + 10; }));
    EXPECT_TRUE(run.Running());
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(static_cast<ULONG>(SIM_EVENT_RUN), EventsOf(run.ProcessId()).back().kind);

    EXPECT_EQ(0, SendMessageW(window, WM_KEYDOWN, 'Q', 1));
    EXPECT_EQ(0, run.WaitExit());
    EXPECT_EQ(banner, run.Output());
}

// The Camera Settings Keeper restores the camera that capview shows: the
// keeper binds a filter of its own for its requests beside the streaming
// one, the picture turns to the restored settings, and capview goes on until
// Q.
TEST_F(ViewerOnCamera, KeeperRestoreChangesThePictureWhileShowing)
{
    ASSERT_TRUE(wintest::RegisterModule(L"vireoprop.ax"));
    wchar_t id[VIREO_ID_CAPACITY] = L"", profile[MAX_PATH] = L"";
    VireoCameraIdFromPath(SimCamDevicePath(0).c_str(), id, VIREO_ID_CAPACITY);
    ASSERT_TRUE(VireoKeeperCreateCameraFolder() && VireoKeeperProfilePath(id, profile, MAX_PATH));
    const char text[] = "device=Vireo Simulated Camera\r\nFLIP=1\r\nEXPOSURE=500\r\n";
    HANDLE file = CreateFileW(profile, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD written = 0;
    WriteFile(file, text, sizeof(text) - 1, &written, NULL);
    CloseHandle(file);

    CapviewRun run;
    ASSERT_TRUE(run.Start(CapviewRun::KEY_FROM_NO_CONSOLE));
    HWND window = run.WaitForViewerWindow();
    ASSERT_TRUE(window != NULL) << run.Output();
    ASSERT_TRUE(WaitForPicture(window, 640, 480));
    wintest::ProgramRun keeper;
    ASSERT_TRUE(keeper.Start(L"\"" + wintest::BinDir() + L"vireokeep.exe\""));
    EXPECT_TRUE(
        WaitUntil([&] { return m_cam.Value(FLIP) == 1 && m_cam.Value(EXPOSURE) == 500; }, 15000));
    // The keeper's notification-area icon (under Xvfb a small window of
    // Wine's own) must not cover the picture that is read back.
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    EXPECT_TRUE(WaitForPicture(window, 640, 480)) << "the picture kept the factory settings";
    EXPECT_TRUE(run.Running());
    EXPECT_EQ(run.ProcessId(), m_cam.OwnerProcess()) << "capview no longer owns the stream";

    PostMessageW(FindWindowW(VIREO_KEEPER_WINDOW_CLASS, NULL), WM_CLOSE, 0, 0);
    EXPECT_EQ(0, keeper.WaitExit(10000));
    PostMessageW(window, WM_KEYDOWN, 'Q', 0x00100001);
    EXPECT_EQ(0, run.WaitExit());
    DeleteFileW(profile);
    RegDeleteTreeW(HKEY_CURRENT_USER, VIREO_KEEPER_KEY);
    wchar_t log[MAX_PATH] = L"";
    if (VireoKeeperLogPath(log, MAX_PATH))
        DeleteFileW(log);
    wintest::RegisterModule(L"vireoprop.ax", true);
}

// With two cameras, only the first that the video input category lists is
// opened.
TEST_F(ViewerOnCamera, OpensOnlyTheFirstDeviceListed)
{
    ASSERT_EQ(1, m_cam.AddDevice(L"Vireo Simulated Camera 2"));
    ComPtr<ICreateDevEnum> devEnum;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC,
                                     IID_PPV_ARGS(&devEnum)));
    ComPtr<IEnumMoniker> monikers;
    ComPtr<IMoniker> first;
    ASSERT_EQ(S_OK, devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0));
    ASSERT_EQ(S_OK, monikers->Next(1, &first, NULL));
    const ULONG device = SimCamMonikerIsOurs(first.Get()) ? 0 : 1;
    EXPECT_EQ(0, SimCamMonikerDevice(first.Get())) << "device 0 is listed first";

    CapviewRun run;
    ASSERT_TRUE(run.Start(CapviewRun::KEY_FROM_NO_CONSOLE));
    HWND window = run.WaitForViewerWindow();
    ASSERT_TRUE(window != NULL) << run.Output();
    PostMessageW(window, WM_KEYDOWN, 'Q', 0x00100001);
    EXPECT_EQ(0, run.WaitExit());
    const std::vector<SimEvent> created = EventsOf(run.ProcessId(), SIM_EVENT_CREATE);
    ASSERT_EQ(1u, created.size());
    EXPECT_EQ(device, created[0].device);
    EXPECT_EQ(S_OK, SimCamControl(1).RemoveDevice());
}

// A device entry whose class nobody can create.
// {5E3C2F4B-9A1D-4C67-8E21-3B7F0D6A9C15}
const CLSID CLSID_UnbindableCamera = {
    0x5E3C2F4B, 0x9A1D, 0x4C67, {0x8E, 0x21, 0x3B, 0x7F, 0x0D, 0x6A, 0x9C, 0x15}};

HRESULT RegisterUnbindableCamera(bool unregister)
{
    IFilterMapper2 *mapper = NULL;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, NULL, CLSCTX_INPROC_SERVER,
                                  IID_IFilterMapper2, reinterpret_cast<void **>(&mapper));
    if (FAILED(hr))
        return hr;
    if (unregister) {
        hr =
            mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, NULL, CLSID_UnbindableCamera);
    } else {
        REGFILTER2 filter;
        ZeroMemory(&filter, sizeof(filter));
        filter.dwVersion = 1;
        filter.dwMerit = MERIT_DO_NOT_USE;
        hr = mapper->RegisterFilter(CLSID_UnbindableCamera, L"Unbindable Camera", NULL,
                                    &CLSID_VideoInputDeviceCategory, NULL, &filter);
    }
    mapper->Release();
    return hr;
}

// A graph object that capview cannot have, and the line that says so.
struct MissingCase {
    const char *name;
    enum { UNBINDABLE_DEVICE, NO_STREAM_CONFIG, NO_CONNECTION, CUT_FORMAT_BLOCK } what;
    const char *line;  // up to the result code, when the line gives one
};

class ViewerMissing : public ViewerOnCamera, public ::testing::WithParamInterface<MissingCase> {
protected:
    void TearDown() override
    {
        if (m_unbindable) {
            EXPECT_EQ(S_OK, RegisterUnbindableCamera(true));
        }
        ViewerOnCamera::TearDown();
    }
    bool m_unbindable = false;
};

TEST_P(ViewerMissing, EndsWithOneLineAndStatus1)
{
    const MissingCase &c = GetParam();
    switch (c.what) {
    case MissingCase::UNBINDABLE_DEVICE:
        // The only device of the machine.
        ASSERT_TRUE(wintest::RegisterModule(L"simcam.ax", true));
        m_registered = false;
        ASSERT_EQ(S_OK, RegisterUnbindableCamera(false));
        m_unbindable = true;
        break;
    case MissingCase::NO_STREAM_CONFIG: m_cam.HideStreamConfig(true); break;
    case MissingCase::NO_CONNECTION: m_cam.RefuseConnection(true); break;
    case MissingCase::CUT_FORMAT_BLOCK: m_cam.CutFormatBlock(true); break;
    }

    CapviewRun run;
    ASSERT_TRUE(run.Start(CapviewRun::KEY_FROM_NO_CONSOLE));
    while (run.Running() && WaitForSingleObject(run.Process(), 5) == WAIT_TIMEOUT)
        ASSERT_EQ(static_cast<HWND>(NULL), run.FindViewerWindow());
    EXPECT_EQ(1, run.WaitExit());

    const std::string banner = ExpectedBanner(640, 480);
    const std::string output = run.Output();
    ASSERT_EQ(banner, output.substr(0, banner.size()));
    const std::string line = output.substr(banner.size());
    const std::string expected = std::string("capview: ") + c.line;
    EXPECT_EQ(expected, line.substr(0, expected.size())) << line;
    EXPECT_EQ(line.size() - 2, line.find("\r\n")) << "not one line: " << line;

    // Whatever it had of the camera, it let go.
    int created = 0, released = 0;
    for (const SimEvent &e : EventsOf(run.ProcessId())) {
        created += e.kind == SIM_EVENT_CREATE;
        released += e.kind == SIM_EVENT_RELEASE;
    }
    EXPECT_EQ(c.what == MissingCase::UNBINDABLE_DEVICE ? 0 : 1, created);
    EXPECT_EQ(created, released);
    EXPECT_EQ(0, m_cam.FiltersAlive());
}

const MissingCase kMissingCases[] = {
    {"DeviceCannotBeBound", MissingCase::UNBINDABLE_DEVICE,
     "the video capture device could not be opened (0x80040154)."},
    {"NoStreamConfiguration", MissingCase::NO_STREAM_CONFIG,
     "the capture pin offers no stream configuration ("},
    {"StreamCannotConnect", MissingCase::NO_CONNECTION,
     "the video stream could not be connected to the sample grabber ("},
    {"ConnectedTypeWithoutVideoInfo", MissingCase::CUT_FORMAT_BLOCK,
     "the connected video stream carries no video info header."},
};

INSTANTIATE_TEST_SUITE_P(Cases, ViewerMissing, ::testing::ValuesIn(kMissingCases),
                         [](const ::testing::TestParamInfo<MissingCase> &info) {
                             return std::string(info.param.name);
                         });

// The camera goes away while capview shows it, is gone when it starts, or
// another application holds it: no crash, the last picture stays, and Q
// ends capview with status 0 after its banner alone, its filter gone.
class ViewerOnUnpluggedCamera : public ViewerOnCamera {
protected:
    void QuitWithQ(CapviewRun &run, HWND window)
    {
        ASSERT_TRUE(PostMessageW(window, WM_KEYDOWN, 'Q', 0x00100001));
        EXPECT_EQ(0, run.WaitExit());
        EXPECT_EQ(ExpectedBanner(640, 480), run.Output());
        EXPECT_EQ(0, m_cam.FiltersAlive());
    }
};

TEST_F(ViewerOnUnpluggedCamera, UnpluggedWhileShowingKeepsThePictureUntilQ)
{
    CapviewRun run;
    ASSERT_TRUE(run.Start(CapviewRun::KEY_FROM_NO_CONSOLE));
    HWND window = run.WaitForViewerWindow();
    ASSERT_TRUE(window != NULL) << "exit " << run.WaitExit(0) << ", output: " << run.Output();
    ASSERT_TRUE(WaitUntil([&] { return m_cam.FramesDelivered() > 3; }));

    ASSERT_EQ(S_OK, m_cam.Unplug());
    ASSERT_TRUE(
        WaitUntil([&] { return !EventsOf(run.ProcessId(), SIM_EVENT_DEVICE_LOST).empty(); }));
    const LONG frames = m_cam.FramesDelivered();
    // The last frame the camera sent may reach the window a display interval
    // after the loss: the picture kept is the one it settles on.
    std::vector<DWORD> shown;
    ASSERT_TRUE(WaitUntil([&] {
        const std::vector<DWORD> before = ReadClient(window, 640, 480);
        Sleep(100);
        shown = ReadClient(window, 640, 480);
        return before == shown;
    }));
    EXPECT_GT(std::set<DWORD>(shown.begin(), shown.end()).size(), 1u) << "no picture";
    InvalidateRect(window, NULL, FALSE);
    Sleep(200);
    EXPECT_TRUE(run.Running());
    EXPECT_EQ(shown, ReadClient(window, 640, 480));
    EXPECT_EQ(frames, m_cam.FramesDelivered());

    ASSERT_EQ(S_OK, m_cam.Plug());
    QuitWithQ(run, window);
}

TEST_F(ViewerOnUnpluggedCamera, GoneAtStartIsNoDevice)
{
    ASSERT_EQ(S_OK, m_cam.Unplug());
    CapviewRun run;
    ASSERT_TRUE(run.Start(CapviewRun::KEY_FROM_NO_CONSOLE));
    EXPECT_EQ(0, run.WaitExit());
    EXPECT_EQ(ExpectedBanner(640, 480) + ExpectedNoDeviceLine(), run.Output());
}

// The camera in use by another application: capview's run is refused and
// its window stays black.
TEST_F(ViewerOnUnpluggedCamera, BusyAtStartEndsCleanlyWithQ)
{
    m_cam.SetBusy(true);
    CapviewRun run;
    ASSERT_TRUE(run.Start(CapviewRun::KEY_FROM_NO_CONSOLE));
    HWND window = run.WaitForViewerWindow();
    ASSERT_TRUE(window != NULL) << "exit " << run.WaitExit(0) << ", output: " << run.Output();
    ASSERT_TRUE(WaitUntil([&] { return !EventsOf(run.ProcessId(), SIM_EVENT_RUN).empty(); }));
    EXPECT_EQ(VIREO_SIM_E_DEVICE_BUSY, EventsOf(run.ProcessId(), SIM_EVENT_RUN)[0].result);
    EXPECT_TRUE(run.Running());
    EXPECT_EQ(0, m_cam.FramesDelivered());
    QuitWithQ(run, window);
}

}  // namespace
