// main.cpp - capview: shows the live picture of the machine's first video
// input device.
//
// The main thread reads the settings beside the program, prints the banner,
// waits for a key, builds a capture graph from the device to a sample
// grabber, starts the viewer window thread and then copies the grabber's
// newest frame into frameBuffer once per display interval until the window
// asks to stop.
#include <windows.h>
#include <conio.h>
#include <stdarg.h>
#include <stdio.h>

#include <dshow.h>

#include "capview.h"
#include "grabber.h"
#include "startup.h"

static_assert(sizeof(VIDEO_STREAM_CONFIG_CAPS) == 128, "capabilities record is 128 bytes");
static_assert(sizeof(VIDEOINFOHEADER) == 88, "video info header is 88 bytes");
static_assert(FIELD_OFFSET(VIDEOINFOHEADER, bmiHeader) == 48, "bitmap header at byte 48");

namespace {

// Every object the main thread holds while the graph lives.
struct CaptureGraph {
    ICreateDevEnum *devEnum;
    IEnumMoniker *monikers;
    IMoniker *moniker;
    IBaseFilter *source;  // the graph holds it once it has been added
    bool ownsSource;      // the source's reference is still ours
    IGraphBuilder *graph;
    IMediaControl *control;
    IBaseFilter *grabberFilter;
    ISampleGrabber *grabber;
    ICaptureGraphBuilder2 *builder;
    IAMStreamConfig *config;
    AM_MEDIA_TYPE mediaType;  // the type asked of the grabber, then the connected one
};

template <class T> void SafeRelease(T *&object)
{
    if (object) {
        object->Release();
        object = NULL;
    }
}

// The video info header of a media type, or null when the type carries none.
VIDEOINFOHEADER *VideoInfo(const AM_MEDIA_TYPE *type)
{
    if (!type || !IsEqualGUID(type->formattype, FORMAT_VideoInfo) ||
        type->cbFormat < sizeof(VIDEOINFOHEADER) || !type->pbFormat)
        return NULL;
    return reinterpret_cast<VIDEOINFOHEADER *>(type->pbFormat);
}

// Stops the graph and releases every object, in this order: the stop, the
// grabber's buffering off, the media control, the device enumerator, then
// what leads to the graph, the graph and the graph builder.
void TearDown(CaptureGraph &g)
{
    if (g.control)
        g.control->Stop();
    if (g.grabber)
        g.grabber->SetBufferSamples(FALSE);
    SafeRelease(g.control);
    SafeRelease(g.devEnum);
    SafeRelease(g.config);
    SafeRelease(g.grabber);
    SafeRelease(g.grabberFilter);
    if (g.ownsSource)
        SafeRelease(g.source);
    g.source = NULL;
    SafeRelease(g.moniker);
    SafeRelease(g.monikers);
    SafeRelease(g.graph);
    SafeRelease(g.builder);
    FreeMediaType(g.mediaType);
}

// A run that cannot go on: everything is stopped and released, then one line
// tells why, and the program ends with status 1.
int Abandon(CaptureGraph &g, const char *format, ...)
{
    TearDown(g);
    CoUninitialize();
    if (frameBuffer) {
        HeapFree(GetProcessHeap(), 0, frameBuffer);
        frameBuffer = NULL;
    }
    printf("capview: ");
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    printf("\n");
    fflush(stdout);
    return 1;
}

unsigned long Code(HRESULT hr)
{
    return static_cast<unsigned long>(hr);
}

// Asks the capture pin for the requested frame size: every capability entry
// that describes a video info format sets the current format's width and
// height once more.
void RequestFrameSize(IAMStreamConfig *config, const CapviewSettings &settings)
{
    int count = 0;
    int size = 0;
    config->GetNumberOfCapabilities(&count, &size);
    if (size != sizeof(VIDEO_STREAM_CONFIG_CAPS))
        return;
    for (int i = 0; i < count; ++i) {
        VIDEO_STREAM_CONFIG_CAPS caps;
        AM_MEDIA_TYPE *entry = NULL;
        const HRESULT hr = config->GetStreamCaps(i, &entry, reinterpret_cast<BYTE *>(&caps));
        const bool qualifies = SUCCEEDED(hr) && VideoInfo(entry) != NULL;
        DeleteMediaType(entry);
        if (!qualifies)
            continue;

        AM_MEDIA_TYPE *current = NULL;
        config->GetFormat(&current);
        if (VIDEOINFOHEADER *info = VideoInfo(current)) {
            info->bmiHeader.biWidth = settings.width;
            info->bmiHeader.biHeight = settings.height;
            config->SetFormat(current);
        }
        DeleteMediaType(current);
    }
}

// Copies the grabber's newest sample into frameBuffer. The size goes in as
// the buffer's capacity and comes back as the sample's length, so each copy
// offers the whole buffer afresh: a short sample must not shrink what the
// next copy may write. A failed copy (no sample yet, or one larger than the
// buffer) leaves the buffer as it was.
void CopyNewestFrame(ISampleGrabber *grabber, DWORD bufferBytes)
{
    LONG size = static_cast<LONG>(bufferBytes);
    grabber->GetCurrentBuffer(&size, reinterpret_cast<LONG *>(frameBuffer));
}

}  // namespace

int main()
{
    // Settings beside the program.
    char programPath[CAPVIEW_PATH_CHARS] = {0};
    char settingsPath[CAPVIEW_PATH_CHARS] = {0};
    if (GetModuleFileNameA(NULL, programPath, CAPVIEW_PATH_CHARS) != 0) {
        programPath[CAPVIEW_PATH_CHARS - 1] = '\0';
        BuildSettingsPath(programPath, settingsPath);
    }
    CapviewSettings settings = {640, 480, CAPVIEW_DEFAULT_INTERVAL};
    if (settingsPath[0])
        settings = ReadSettings(settingsPath);

    printf("%s", BANNER_TITLE);
    printf(BANNER_RESOLUTION, settings.width, settings.height);
    printf("%s", BANNER_START);
    printf("%s", BANNER_QUIT);
    fflush(stdout);

    _getch();

    CoInitialize(NULL);

    CaptureGraph g;
    ZeroMemory(&g, sizeof(g));
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC, IID_ICreateDevEnum,
                                  reinterpret_cast<void **>(&g.devEnum));
    if (!g.devEnum)
        return Abandon(g, "the system device enumerator could not be created (0x%08lX).",
                       Code(hr));
    g.devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &g.monikers, 0);
    if (!g.monikers) {
        printf("%s", NO_DEVICE_MESSAGE);
        fflush(stdout);
        SafeRelease(g.devEnum);
        CoUninitialize();
        return 0;
    }

    // The first device.
    ULONG fetched = 0;
    g.monikers->Next(1, &g.moniker, &fetched);
    if (!g.moniker)
        return Abandon(g, "the video input category lists no device.");
    hr = g.moniker->BindToObject(NULL, NULL, IID_IBaseFilter, reinterpret_cast<void **>(&g.source));
    if (!g.source)
        return Abandon(g, "the video capture device could not be opened (0x%08lX).", Code(hr));
    g.ownsSource = true;

    // The filter graph, with the device in it.
    hr = CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC, IID_IGraphBuilder,
                          reinterpret_cast<void **>(&g.graph));
    if (!g.graph)
        return Abandon(g, "the filter graph could not be created (0x%08lX).", Code(hr));
    hr = g.graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void **>(&g.control));
    if (!g.control)
        return Abandon(g, "the filter graph offers no media control (0x%08lX).", Code(hr));
    hr = g.graph->AddFilter(g.source, L"Video Capture");
    if (FAILED(hr))
        return Abandon(g, "the video capture device could not join the graph (0x%08lX).",
                       Code(hr));
    // The graph keeps the device from here on.
    g.source->Release();
    g.ownsSource = false;

    // The sample grabber, taking 24-bit RGB video.
    hr = CoCreateInstance(CLSID_SampleGrabber, NULL, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                          reinterpret_cast<void **>(&g.grabberFilter));
    if (!g.grabberFilter)
        return Abandon(g, "the sample grabber could not be created (0x%08lX).", Code(hr));
    hr = g.grabberFilter->QueryInterface(IID_SampleGrabberInterface,
                                         reinterpret_cast<void **>(&g.grabber));
    if (!g.grabber)
        return Abandon(g, "the sample grabber offers no grabber interface (0x%08lX).", Code(hr));
    g.mediaType = GrabberMediaType();
    g.grabber->SetMediaType(&g.mediaType);
    g.graph->AddFilter(g.grabberFilter, L"SamGra");

    // The capture graph builder on that graph.
    hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, NULL, CLSCTX_INPROC, IID_ICaptureGraphBuilder2,
                          reinterpret_cast<void **>(&g.builder));
    if (!g.builder)
        return Abandon(g, "the capture graph builder could not be created (0x%08lX).", Code(hr));
    g.builder->SetFiltergraph(g.graph);

    // The requested frame size.
    hr = g.builder->FindInterface(&PIN_CATEGORY_CAPTURE, NULL, g.source, IID_IAMStreamConfig,
                                  reinterpret_cast<void **>(&g.config));
    if (!g.config)
        return Abandon(g, "the capture pin offers no stream configuration (0x%08lX).", Code(hr));
    RequestFrameSize(g.config, settings);

    // Device to grabber, through the preview stream.
    hr = g.builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, g.source, NULL,
                                 g.grabberFilter);
    if (FAILED(hr))
        return Abandon(g, "the video stream could not be connected to the sample grabber "
                          "(0x%08lX).",
                       Code(hr));

    // The connected format decides the frame from here on.
    hr = g.grabber->GetConnectedMediaType(&g.mediaType);
    if (FAILED(hr))
        return Abandon(g, "the connected media type could not be read (0x%08lX).", Code(hr));
    const VIDEOINFOHEADER *connected = VideoInfo(&g.mediaType);
    if (!connected)
        return Abandon(g, "the connected video stream carries no video info header.");
    CopyMemory(&frameHeader, &connected->bmiHeader, sizeof(frameHeader));

    // One frame buffer, big enough for every row that painting reads, black
    // until the first frame arrives.
    DWORD bufferBytes = 0;
    if (!FrameBufferBytes(frameHeader, &bufferBytes))
        return Abandon(g, "the connected frame (%ld x %ld, %u bits) is too large to hold.",
                       static_cast<long>(frameHeader.biWidth),
                       static_cast<long>(frameHeader.biHeight),
                       static_cast<unsigned>(frameHeader.biBitCount));
    frameBuffer = static_cast<BYTE *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bufferBytes));
    if (!frameBuffer)
        return Abandon(g, "the frame buffer of %lu bytes could not be allocated.",
                       static_cast<unsigned long>(bufferBytes));

    // The viewer window and its thread.
    moduleInstance = GetModuleHandleW(NULL);
    RegisterViewerClass();
    stopFlag = STOP_RUNNING;
    viewerWindow = NULL;
    DWORD threadId = 0;
    HANDLE thread = CreateThread(NULL, 0, ViewerThread, NULL, 0, &threadId);
    if (!thread)
        return Abandon(g, "the viewer window thread could not be started (error %lu).",
                       static_cast<unsigned long>(GetLastError()));
    CloseHandle(thread);

    // Run, and show the newest frame once per display interval.
    g.grabber->SetBufferSamples(TRUE);
    g.control->Run();
    CopyNewestFrame(g.grabber, bufferBytes);

    const DWORD interval = PollInterval(settings.dispInterval);
    while (stopFlag != STOP_REQUESTED) {
        // A null window would invalidate the whole desktop.
        if (HWND window = viewerWindow)
            InvalidateRect(window, NULL, FALSE);
        if (interval != 0)
            Sleep(interval);
        CopyNewestFrame(g.grabber, bufferBytes);
    }

    if (viewerWindowFailed)
        return Abandon(g, "the viewer window could not be created.");

    TearDown(g);
    CoUninitialize();
    if (HWND window = viewerWindow)
        SendMessageW(window, WM_CLOSE, 0, 0);
    HeapFree(GetProcessHeap(), 0, frameBuffer);
    frameBuffer = NULL;
    return 0;
}
