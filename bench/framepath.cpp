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

#include "capview.h"
#include "grabber.h"
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

template <class T> void Release(T *&p)
{
    if (p) {
        p->Release();
        p = NULL;
    }
}

// The objects of capview's graph.
struct Graph {
    ICreateDevEnum *devEnum = NULL;
    IBaseFilter *source = NULL;
    IGraphBuilder *graph = NULL;
    IMediaControl *control = NULL;
    IBaseFilter *grabberFilter = NULL;
    ISampleGrabber *grabber = NULL;
    ICaptureGraphBuilder2 *builder = NULL;
    IAMStreamConfig *config = NULL;

    ~Graph()
    {
        if (control)
            control->Stop();
        if (grabber)
            grabber->SetBufferSamples(FALSE);
        Release(control);
        Release(devEnum);
        Release(config);
        Release(grabber);
        Release(grabberFilter);
        Release(source);
        Release(graph);
        Release(builder);
    }
};

// The first video input device, as capview takes it; false (with a line
// saying why) when it is not the simulated camera.
bool BindFirstDevice(Graph &g)
{
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC, IID_ICreateDevEnum,
                                reinterpret_cast<void **>(&g.devEnum))))
        return false;
    IEnumMoniker *monikers = NULL;
    g.devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    if (!monikers) {
        printf("frame path: no video input device (is simcam.ax registered?)\n");
        return false;
    }
    IMoniker *moniker = NULL;
    monikers->Next(1, &moniker, NULL);
    monikers->Release();
    if (!moniker)
        return false;
    const bool ours = SimCamMonikerIsOurs(moniker);
    if (ours)
        moniker->BindToObject(NULL, NULL, IID_IBaseFilter, reinterpret_cast<void **>(&g.source));
    moniker->Release();
    if (!ours)
        printf("frame path: the first video input device is not the simulated camera\n");
    return g.source != NULL;
}

// capview's graph: device, grabber taking RGB24, the requested size, the
// preview stream rendered into the grabber. Fills frameHeader.
bool BuildGraph(Graph &g, LONG width, LONG height)
{
    if (!BindFirstDevice(g))
        return false;
    CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC, IID_IGraphBuilder,
                     reinterpret_cast<void **>(&g.graph));
    if (!g.graph)
        return false;
    g.graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void **>(&g.control));
    g.graph->AddFilter(g.source, L"Video Capture");
    CoCreateInstance(CLSID_SampleGrabber, NULL, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                     reinterpret_cast<void **>(&g.grabberFilter));
    if (!g.control || !g.grabberFilter)
        return false;
    g.grabberFilter->QueryInterface(IID_SampleGrabberInterface,
                                    reinterpret_cast<void **>(&g.grabber));
    if (!g.grabber)
        return false;
    AM_MEDIA_TYPE mt = GrabberMediaType();
    g.grabber->SetMediaType(&mt);
    g.graph->AddFilter(g.grabberFilter, L"SamGra");
    CoCreateInstance(CLSID_CaptureGraphBuilder2, NULL, CLSCTX_INPROC, IID_ICaptureGraphBuilder2,
                     reinterpret_cast<void **>(&g.builder));
    if (!g.builder)
        return false;
    g.builder->SetFiltergraph(g.graph);
    g.builder->FindInterface(&PIN_CATEGORY_CAPTURE, NULL, g.source, IID_IAMStreamConfig,
                             reinterpret_cast<void **>(&g.config));
    if (!g.config)
        return false;
    AM_MEDIA_TYPE *current = NULL;
    g.config->GetFormat(&current);
    if (current && current->pbFormat && current->cbFormat >= sizeof(VIDEOINFOHEADER)) {
        VIDEOINFOHEADER *vih = reinterpret_cast<VIDEOINFOHEADER *>(current->pbFormat);
        vih->bmiHeader.biWidth = width;
        vih->bmiHeader.biHeight = height;
        g.config->SetFormat(current);
    }
    DeleteMediaType(current);
    if (FAILED(g.builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, g.source, NULL,
                                       g.grabberFilter)))
        return false;
    const bool connected = SUCCEEDED(g.grabber->GetConnectedMediaType(&mt)) && mt.pbFormat &&
                           mt.cbFormat >= sizeof(VIDEOINFOHEADER);
    if (connected)
        frameHeader = reinterpret_cast<VIDEOINFOHEADER *>(mt.pbFormat)->bmiHeader;
    FreeMediaType(mt);
    return connected && frameHeader.biWidth == width && frameHeader.biHeight == height;
}

bool RunSize(LONG width, LONG height, std::vector<Row> &frameRows, std::vector<Row> &loopRows)
{
    Graph g;
    if (!BuildGraph(g, width, height)) {
        printf("frame path: the %ldx%ld graph could not be built\n", static_cast<long>(width),
               static_cast<long>(height));
        return false;
    }
    DWORD bufferBytes = 0;
    if (!FrameBufferBytes(frameHeader, &bufferBytes))
        return false;
    LONG frameCopySize = static_cast<LONG>(bufferBytes);
    frameBuffer = static_cast<BYTE *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bufferBytes));
    // The memcpy floor copies between two buffers of the same size.
    BYTE *floorFrom = static_cast<BYTE *>(HeapAlloc(GetProcessHeap(), 0, bufferBytes));
    BYTE *floorTo = static_cast<BYTE *>(HeapAlloc(GetProcessHeap(), 0, bufferBytes));
    if (!frameBuffer || !floorFrom || !floorTo)
        return false;
    memset(floorFrom, 0x5A, bufferBytes);
    memset(floorTo, 0, bufferBytes);

    // The window thread, as capview starts it.
    moduleInstance = GetModuleHandleW(NULL);
    RegisterViewerClass();  // once per process; later calls fail harmlessly
    stopFlag = STOP_RUNNING;
    viewerWindow = NULL;
    DWORD windowThreadId = 0;
    HANDLE windowThread = CreateThread(NULL, 0, ViewerThread, NULL, 0, &windowThreadId);
    if (!windowThread)
        return false;
    for (int i = 0; i < 500 && !viewerWindow && !viewerWindowFailed; ++i)
        Sleep(10);
    HWND window = viewerWindow;
    if (!window) {
        printf("frame path: the viewer window was not created\n");
        return false;
    }
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TimedViewerProc));

    SimCamControl cam;
    const DWORD interval = PollInterval(CAPVIEW_DEFAULT_INTERVAL);
    g.grabber->SetBufferSamples(TRUE);
    g.control->Run();
    g.grabber->GetCurrentBuffer(&frameCopySize, reinterpret_cast<LONG *>(frameBuffer));

    // Warm-up.
    for (const double end = NowUs() + kWarmUpUs; NowUs() < end;) {
        InvalidateRect(window, NULL, FALSE);
        Sleep(interval);
        g.grabber->GetCurrentBuffer(&frameCopySize, reinterpret_cast<LONG *>(frameBuffer));
    }

    // Timed polls: the copy out of the grabber, then the floor with the
    // bytes it copied; the paints are timed on the window thread.
    std::vector<double> copyUs, floorUs;
    copyUs.reserve(kTimedPolls);
    floorUs.reserve(kTimedPolls);
    g_paintCount = 0;
    g_timing = true;
    for (int i = 0; i < kTimedPolls && stopFlag != STOP_REQUESTED; ++i) {
        InvalidateRect(window, NULL, FALSE);
        Sleep(interval);
        const double t0 = NowUs();
        const HRESULT hr =
            g.grabber->GetCurrentBuffer(&frameCopySize, reinterpret_cast<LONG *>(frameBuffer));
        const double t1 = NowUs();
        memcpy(floorTo, floorFrom, static_cast<size_t>(frameCopySize));
        const double t2 = NowUs();
        if (hr == S_OK) {
            copyUs.push_back(t1 - t0);
            floorUs.push_back(t2 - t1);
        }
    }
    Sleep(interval);  // the last invalidation's paint
    g_timing = false;
    const LONG painted = std::min<LONG>(g_paintCount, static_cast<LONG>(ARRAYSIZE(g_paintUs)));
    std::vector<double> paintUs(g_paintUs, g_paintUs + painted);

    // For reading the paint's figure: the same drawing call from this thread
    // on the window's device context, of this frame and of a 32-bit copy of
    // it (the screen's own format, so the platform converts nothing).
    const LONG stride24 = ((frameHeader.biWidth * 24 + 31) / 32) * 4;
    BITMAPINFOHEADER header32 = frameHeader;
    header32.biBitCount = 32;
    header32.biSizeImage = static_cast<DWORD>(frameHeader.biWidth * 4 * frameHeader.biHeight);
    BYTE *frame32 = static_cast<BYTE *>(HeapAlloc(GetProcessHeap(), 0, header32.biSizeImage));
    std::vector<double> direct24Us, direct32Us;
    if (frame32) {
        for (LONG y = 0; y < frameHeader.biHeight; ++y)
            for (LONG x = 0; x < frameHeader.biWidth; ++x) {
                const BYTE *from = frameBuffer + y * stride24 + x * 3;
                BYTE *to = frame32 + (y * frameHeader.biWidth + x) * 4;
                to[0] = from[0];
                to[1] = from[1];
                to[2] = from[2];
                to[3] = 0;
            }
        HDC dc = GetDC(window);
        for (int i = 0; i < 20; ++i) {
            const BITMAPINFOHEADER *headers[2] = {&frameHeader, &header32};
            const BYTE *bits[2] = {frameBuffer, frame32};
            for (int k = 0; k < 2; ++k) {
                const double t0 = NowUs();
                SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(frameHeader.biWidth),
                                  static_cast<DWORD>(frameHeader.biHeight), 0, 0, 0,
                                  static_cast<UINT>(frameHeader.biHeight), bits[k],
                                  reinterpret_cast<const BITMAPINFO *>(headers[k]),
                                  DIB_RGB_COLORS);
                GdiFlush();
                (k ? direct32Us : direct24Us).push_back(NowUs() - t0);
            }
        }
        ReleaseDC(window, dc);
        HeapFree(GetProcessHeap(), 0, frame32);
    }

    // The counted run: capview's poll loop as it is, for kRunUs.
    allocs::Hook();
    g_paints = 0;
    const LONG framesBefore = cam.FramesDelivered();
    const LONG busyBefore = allocs::BusyBlocks();
    LONG polls = 0;
    allocs::Start();
    for (const double end = NowUs() + kRunUs; stopFlag != STOP_REQUESTED && NowUs() < end;) {
        if (HWND w = viewerWindow)
            InvalidateRect(w, NULL, FALSE);
        if (interval != 0)
            Sleep(interval);
        g.grabber->GetCurrentBuffer(&frameCopySize, reinterpret_cast<LONG *>(frameBuffer));
        ++polls;
    }
    allocs::Stop();
    const LONG busyAfter = allocs::BusyBlocks();
    const LONG paints = g_paints;
    const LONG frames = cam.FramesDelivered() - framesBefore;
    const DWORD mainThreadId = GetCurrentThreadId();
    const LONG pollAllocs = allocs::OnThread(mainThreadId);
    const LONG windowAllocs = allocs::OnThread(windowThreadId);
    const LONG streamAllocs = allocs::Others({mainThreadId, windowThreadId});
    const std::vector<std::string> callers = allocs::Callers();

    // capview's teardown order: graph first, then the window.
    g.control->Stop();
    g.grabber->SetBufferSamples(FALSE);
    SendMessageW(window, WM_CLOSE, 0, 0);
    WaitForSingleObject(windowThread, 5000);
    CloseHandle(windowThread);
    viewerWindow = NULL;
    stopFlag = STOP_RUNNING;
    HeapFree(GetProcessHeap(), 0, frameBuffer);
    frameBuffer = NULL;
    HeapFree(GetProcessHeap(), 0, floorFrom);
    HeapFree(GetProcessHeap(), 0, floorTo);

    char size[32];
    snprintf(size, sizeof(size), "%ldx%ld", static_cast<long>(width), static_cast<long>(height));
    const double floorMedian = Median(floorUs);
    frameRows.push_back({std::string(size) + " copy out of the grabber", Median(copyUs),
                         floorMedian, "us", 1});
    frameRows.push_back({std::string(size) + " paint (WM_PAINT, SetDIBitsToDevice)",
                         Median(paintUs), floorMedian, "us", 1});
    frameRows.push_back({std::string(size) + " - the drawing call alone, 24-bit frame",
                         Median(direct24Us), floorMedian, "us", 1});
    frameRows.push_back({std::string(size) + " - the drawing call alone, 32-bit copy",
                         Median(direct32Us), floorMedian, "us", 1});
    const double wanted = kRunUs / 1000.0 / interval;
    loopRows.push_back({std::string(size) + " refreshes in 3 s (the poll loop)",
                        static_cast<double>(paints), wanted, "", 0});
    loopRows.push_back({std::string(size) + " allocations per poll, poll loop",
                        polls ? static_cast<double>(pollAllocs) / polls : 0, 0, "", 2});
    loopRows.push_back({std::string(size) + " allocations per frame, camera streaming",
                        frames ? static_cast<double>(streamAllocs) / frames : 0, 0, "", 2});
    loopRows.push_back({std::string(size) + " allocations per paint, window thread",
                        paints ? static_cast<double>(windowAllocs) / paints : 0, 0, "", 2});
    printf("%s: %ld polls, %ld paints, %ld frames delivered; allocations: poll loop %ld, "
           "streaming %ld, window thread %ld; busy heap blocks %+ld\n",
           size, static_cast<long>(polls), static_cast<long>(paints), static_cast<long>(frames),
           static_cast<long>(pollAllocs), static_cast<long>(streamAllocs),
           static_cast<long>(windowAllocs), static_cast<long>(busyAfter - busyBefore));
    for (const std::string &c : callers)
        printf("  allocation from %s\n", c.c_str());
    fflush(stdout);
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
