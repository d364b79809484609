// framepath.cpp - capview's frame path on the simulated camera: the graph
// capview builds, its poll loop, and its window thread and window procedure
// (viewer/window.cpp, linked in).
//
// For each frame size: the copy out of the grabber and the paint of each
// displayed frame against a bare memcpy of the same bytes; the refreshes of
// a 3 s run of the poll loop against 1000 / DISP_INTERVAL; and the heap
// allocations made per frame while the graph runs.
#include "bench.h"

#include <dshow.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <memory>

#include "capview.h"
#include "graph.h"
#include "simcontrol.h"
#include "startup.h"

namespace bench {
namespace {

const double kRunUs = 3e6;       // the counted run of the poll loop
const double kWarmUpUs = 0.5e6;  // polls before anything is measured
const int kTimedPolls = 60;      // polls whose copy and paint are timed

// Paints of the viewer window: counted always, timed into a fixed table
// (the window thread must not allocate to record them).
std::atomic<LONG> g_paints(0);
std::atomic<bool> g_timing(false);
double g_paintUs[4096];
std::atomic<LONG> g_paintCount(0);

// Stands in front of the viewer's own window procedure to time WM_PAINT.
LRESULT CALLBACK TimedViewerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_PAINT)
        return ViewerWindowProc(window, message, wParam, lParam);
    const double t0 = NowUs();
    const LRESULT result = ViewerWindowProc(window, message, wParam, lParam);
    const double t1 = NowUs();
    ++g_paints;
    if (g_timing) {
        const LONG n = g_paintCount++;
        if (n < static_cast<LONG>(ARRAYSIZE(g_paintUs)))
            g_paintUs[n] = t1 - t0;
    }
    return result;
}

// capview's graph, stopped and released in capview's order when it goes.
struct Graph : CaptureGraph {
    ~Graph() { TearDown(*this); }
};

// capview's graph of the first video input device at the requested size,
// with its frame buffer; false (with a line saying why) when it could not be
// built, the first device is not the simulated camera or the connected size
// is not the one asked for.
bool BuildViewerGraph(Graph &g, LONG width, LONG height)
{
    const CapviewSettings settings = {static_cast<int>(width), static_cast<int>(height),
                                      kDefaultPollInterval};
    const bool built =
        EnumerateVideoInputs(g) &&
        (g.monikers || Fail(g, "no video input device (is simcam.ax registered?)")) &&
        OpenFirstDevice(g) &&
        (SimCamMonikerIsOurs(g.moniker.Get()) ||
         Fail(g, "the first video input device is not the simulated camera")) &&
        BuildGraph(g, settings) && PrepareFrameBuffer(g) &&
        ((frameHeader.biWidth == width && frameHeader.biHeight == height) ||
         Fail(g, "the connected frame is %ldx%ld", static_cast<long>(frameHeader.biWidth),
              static_cast<long>(frameHeader.biHeight)));
    if (!built)
        printf("frame path: %s\n", g.failure);
    return built;
}

// A block of the process heap, freed with its owner.
struct HeapBlockDeleter {
    void operator()(BYTE *block) const { HeapFree(GetProcessHeap(), 0, block); }
};
typedef std::unique_ptr<BYTE, HeapBlockDeleter> HeapBlock;

BYTE *HeapBytes(DWORD bytes)
{
    return static_cast<BYTE *>(HeapAlloc(GetProcessHeap(), 0, bytes));
}

// The viewer window's thread, as capview starts it, with the paint timed.
struct ViewerRun {
    HANDLE thread = NULL;
    DWORD threadId = 0;
    HWND window = NULL;

    bool Start()
    {
        moduleInstance = GetModuleHandleW(NULL);
        RegisterViewerClass();  // once per process; later calls fail harmlessly
        ClearStop();
        viewerWindow = NULL;
        thread = CreateThread(NULL, 0, ViewerThread, NULL, 0, &threadId);
        if (!thread)
            return false;
        for (int i = 0; i < 500 && !viewerWindow && !viewerWindowFailed; ++i)
            Sleep(10);
        window = viewerWindow;
        if (!window) {
            printf("frame path: the viewer window was not created\n");
            return false;
        }
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TimedViewerProc));
        return true;
    }
    // After the graph has stopped, as capview ends.
    ~ViewerRun()
    {
        if (window)
            SendMessageW(window, WM_CLOSE, 0, 0);
        if (thread) {
            WaitForSingleObject(thread, 5000);
            CloseHandle(thread);
        }
        viewerWindow = NULL;
        ClearStop();
    }
};

// One size's figures.
struct SizeFigures {
    std::vector<double> copyUs, floorUs, paintUs, direct24Us, direct32Us;
    LONG polls = 0, paints = 0, frames = 0;
    LONG pollAllocs = 0, windowAllocs = 0, streamAllocs = 0, busyBlocks = 0;
    std::vector<std::string> callers;
};

// Timed polls after a warm-up: the copy out of the grabber, then the floor
// with the bytes it copied; the paints are timed on the window thread.
void TimePolls(const Graph &g, HWND window, DWORD interval, SizeFigures &f)
{
    const DWORD bufferBytes = g.bufferBytes;
    for (const double end = NowUs() + kWarmUpUs; NowUs() < end;) {
        InvalidateRect(window, NULL, FALSE);
        Sleep(interval);
        CopyNewestFrame(g);
    }
    // The memcpy floor copies between two buffers of the same size.
    const HeapBlock floorFrom(HeapBytes(bufferBytes)), floorTo(HeapBytes(bufferBytes));
    if (!floorFrom || !floorTo)
        return;
    memset(floorFrom.get(), 0x5A, bufferBytes);
    memset(floorTo.get(), 0, bufferBytes);
    f.copyUs.reserve(kTimedPolls);
    f.floorUs.reserve(kTimedPolls);
    g_paintCount = 0;
    g_timing = true;
    for (int i = 0; i < kTimedPolls && stopFlag != kStopRequested; ++i) {
        InvalidateRect(window, NULL, FALSE);
        Sleep(interval);
        const double t0 = NowUs();
        const LONG copied = CopyNewestFrame(g);
        const double t1 = NowUs();
        memcpy(floorTo.get(), floorFrom.get(), static_cast<size_t>(copied));
        const double t2 = NowUs();
        if (copied > 0) {
            f.copyUs.push_back(t1 - t0);
            f.floorUs.push_back(t2 - t1);
        }
    }
    Sleep(interval);  // the last invalidation's paint
    g_timing = false;
    const LONG painted = std::min<LONG>(g_paintCount, static_cast<LONG>(ARRAYSIZE(g_paintUs)));
    f.paintUs.assign(g_paintUs, g_paintUs + painted);
}

// For reading the paint's figure: the same drawing call from this thread on
// the window's device context, of this frame and of a 32-bit copy of it (the
// screen's own format, so the platform converts nothing).
void TimeDrawingCalls(HWND window, SizeFigures &f)
{
    const LONG width = frameHeader.biWidth, height = frameHeader.biHeight;
    const LONG stride24 = ((width * 24 + 31) / 32) * 4;
    BITMAPINFOHEADER header32 = frameHeader;
    header32.biBitCount = 32;
    header32.biSizeImage = static_cast<DWORD>(width * 4 * height);
    const HeapBlock frame32(HeapBytes(header32.biSizeImage));
    if (!frame32)
        return;
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x) {
            const BYTE *from = frameBuffer + y * stride24 + x * 3;
            BYTE *to = frame32.get() + (y * width + x) * 4;
            to[0] = from[0];
            to[1] = from[1];
            to[2] = from[2];
            to[3] = 0;
        }
    HDC dc = GetDC(window);
    const BITMAPINFOHEADER *headers[2] = {&frameHeader, &header32};
    const BYTE *bits[2] = {frameBuffer, frame32.get()};
    for (int i = 0; i < 20; ++i)
        for (int k = 0; k < 2; ++k) {
            const double t0 = NowUs();
            SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(width), static_cast<DWORD>(height), 0, 0,
                              0, static_cast<UINT>(height), bits[k],
                              reinterpret_cast<const BITMAPINFO *>(headers[k]), DIB_RGB_COLORS);
            GdiFlush();
            (k ? f.direct32Us : f.direct24Us).push_back(NowUs() - t0);
        }
    ReleaseDC(window, dc);
}

// The counted run: capview's poll loop as it is, for kRunUs, with the heap
// allocations of each thread counted.
void CountedRun(const Graph &g, DWORD windowThreadId, DWORD interval, SizeFigures &f)
{
    SimCamControl cam;
    allocs::Hook();
    g_paints = 0;
    const LONG framesBefore = cam.FramesDelivered();
    const LONG busyBefore = allocs::BusyBlocks();
    allocs::Start();
    for (const double end = NowUs() + kRunUs; stopFlag != kStopRequested && NowUs() < end;) {
        if (HWND w = viewerWindow)
            InvalidateRect(w, NULL, FALSE);
        PauseBetweenPolls(interval);
        CopyNewestFrame(g);
        ++f.polls;
    }
    allocs::Stop();
    f.busyBlocks = allocs::BusyBlocks() - busyBefore;
    f.paints = g_paints;
    f.frames = cam.FramesDelivered() - framesBefore;
    const DWORD mainThreadId = GetCurrentThreadId();
    f.pollAllocs = allocs::OnThread(mainThreadId);
    f.windowAllocs = allocs::OnThread(windowThreadId);
    f.streamAllocs = allocs::Others({mainThreadId, windowThreadId});
    f.callers = allocs::Callers();
}

void AddRows(const char *size, const SizeFigures &f, DWORD interval, std::vector<Row> &frameRows,
             std::vector<Row> &loopRows)
{
    const std::string s(size);
    const double floorMedian = Median(f.floorUs);
    frameRows.push_back({s + " copy out of the grabber", Median(f.copyUs), floorMedian, "us", 1});
    frameRows.push_back(
        {s + " paint (WM_PAINT, SetDIBitsToDevice)", Median(f.paintUs), floorMedian, "us", 1});
    frameRows.push_back({s + " - the drawing call alone, 24-bit frame", Median(f.direct24Us),
                         floorMedian, "us", 1});
    frameRows.push_back(
        {s + " - the drawing call alone, 32-bit copy", Median(f.direct32Us), floorMedian, "us", 1});
    const double wanted = kRunUs / 1000.0 / interval;
    loopRows.push_back(
        {s + " refreshes in 3 s (the poll loop)", static_cast<double>(f.paints), wanted, "", 0});
    loopRows.push_back({s + " allocations per poll, poll loop",
                        f.polls ? static_cast<double>(f.pollAllocs) / f.polls : 0, 0, "", 2});
    loopRows.push_back({s + " allocations per frame, camera streaming",
                        f.frames ? static_cast<double>(f.streamAllocs) / f.frames : 0, 0, "", 2});
    loopRows.push_back({s + " allocations per paint, window thread",
                        f.paints ? static_cast<double>(f.windowAllocs) / f.paints : 0, 0, "", 2});
    printf("%s: %ld polls, %ld paints, %ld frames delivered; allocations: poll loop %ld, "
           "streaming %ld, window thread %ld; busy heap blocks %+ld\n",
           size, static_cast<long>(f.polls), static_cast<long>(f.paints),
           static_cast<long>(f.frames), static_cast<long>(f.pollAllocs),
           static_cast<long>(f.streamAllocs), static_cast<long>(f.windowAllocs),
           static_cast<long>(f.busyBlocks));
    for (const std::string &c : f.callers)
        printf("  allocation from %s\n", c.c_str());
    fflush(stdout);
}

bool RunSize(LONG width, LONG height, std::vector<Row> &frameRows, std::vector<Row> &loopRows)
{
    char size[32];
    snprintf(size, sizeof(size), "%ldx%ld", static_cast<long>(width), static_cast<long>(height));
    SizeFigures figures;
    const DWORD interval = PollInterval(kDefaultPollInterval);
    {
        // Declared in this order so that, as in capview, the graph stops and
        // goes first, then the window closes, then the frame buffer is freed.
        struct FrameBufferOwner {
            ~FrameBufferOwner() { FreeFrameBuffer(); }
        } bufferOwner;
        ViewerRun viewer;
        Graph g;
        if (!BuildViewerGraph(g, width, height) || !viewer.Start())
            return false;

        g.grabber->SetBufferSamples(TRUE);
        g.control->Run();
        CopyNewestFrame(g);
        TimePolls(g, viewer.window, interval, figures);
        TimeDrawingCalls(viewer.window, figures);
        CountedRun(g, viewer.threadId, interval, figures);
    }
    AddRows(size, figures, interval, frameRows, loopRows);
    return true;
}

}  // namespace

bool RunFramePath(std::vector<Row> &frameRows, std::vector<Row> &loopRows)
{
    CoInitialize(NULL);
    SimCamControl cam;
    if (!cam.IsOpen())
        return false;
    cam.Reset();
    bool ok = allocs::SelfCheck();
    const SIZE sizes[] = {{320, 240}, {640, 480}, {1280, 720}};
    for (const SIZE &s : sizes)
        ok = RunSize(s.cx, s.cy, frameRows, loopRows) && ok;
    CoUninitialize();
    return ok;
}

}  // namespace bench
