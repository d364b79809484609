// graph.cpp - capview's capture graph (see graph.h).
#include "graph.h"

#include <stdarg.h>
#include <stdio.h>

#include "capview.h"

static_assert(sizeof(VIDEO_STREAM_CONFIG_CAPS) == 128, "capabilities record is 128 bytes");
static_assert(sizeof(VIDEOINFOHEADER) == 88, "video info header is 88 bytes");
static_assert(FIELD_OFFSET(VIDEOINFOHEADER, bmiHeader) == 48, "bitmap header at byte 48");

using Microsoft::WRL::ComPtr;

namespace {

// The out-parameter of a creation or query, for an owner that gives up what
// it held first.
template <class T> void **Out(ComPtr<T> &owner)
{
    return reinterpret_cast<void **>(owner.ReleaseAndGetAddressOf());
}

unsigned long Code(HRESULT hr)
{
    return static_cast<unsigned long>(hr);
}

// The video info header of a media type, or null when the type carries none.
VIDEOINFOHEADER *VideoInfo(const AM_MEDIA_TYPE *type)
{
    if (!type || !IsEqualGUID(type->formattype, FORMAT_VideoInfo) ||
        type->cbFormat < sizeof(VIDEOINFOHEADER) || !type->pbFormat)
        return NULL;
    return reinterpret_cast<VIDEOINFOHEADER *>(type->pbFormat);
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
        const MediaTypePtr ownedEntry(entry);
        if (FAILED(hr) || !VideoInfo(entry))
            continue;

        AM_MEDIA_TYPE *current = NULL;
        config->GetFormat(&current);
        const MediaTypePtr ownedCurrent(current);
        if (VIDEOINFOHEADER *info = VideoInfo(current)) {
            info->bmiHeader.biWidth = settings.width;
            info->bmiHeader.biHeight = settings.height;
            config->SetFormat(current);
        }
    }
}

}  // namespace

bool Fail(CaptureGraph &g, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vsnprintf(g.failure, sizeof(g.failure), format, args);
    va_end(args);
    return false;
}

bool EnumerateVideoInputs(CaptureGraph &g)
{
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC, IID_ICreateDevEnum,
                                  Out(g.devEnum));
    if (!g.devEnum)
        return Fail(g, "the system device enumerator could not be created (0x%08lX).", Code(hr));
    g.devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory,
                                     g.monikers.ReleaseAndGetAddressOf(), 0);
    return true;
}

bool OpenFirstDevice(CaptureGraph &g)
{
    ULONG fetched = 0;
    g.monikers->Next(1, g.moniker.ReleaseAndGetAddressOf(), &fetched);
    if (!g.moniker)
        return Fail(g, "the video input category lists no device.");
    HRESULT hr = g.moniker->BindToObject(NULL, NULL, IID_IBaseFilter, Out(g.ownedSource));
    if (!g.ownedSource)
        return Fail(g, "the video capture device could not be opened (0x%08lX).", Code(hr));
    g.source = g.ownedSource.Get();
    return true;
}

bool BuildGraph(CaptureGraph &g, const CapviewSettings &settings)
{
    HRESULT hr =
        CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC, IID_IGraphBuilder, Out(g.graph));
    if (!g.graph)
        return Fail(g, "the filter graph could not be created (0x%08lX).", Code(hr));
    hr = g.graph->QueryInterface(IID_IMediaControl, Out(g.control));
    if (!g.control)
        return Fail(g, "the filter graph offers no media control (0x%08lX).", Code(hr));
    hr = g.graph->AddFilter(g.source, L"Video Capture");
    if (FAILED(hr))
        return Fail(g, "the video capture device could not join the graph (0x%08lX).", Code(hr));
    // The graph keeps the device from here on.
    g.ownedSource.Reset();

    // The sample grabber, taking 24-bit RGB video.
    hr = CoCreateInstance(CLSID_SampleGrabber, NULL, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                          Out(g.grabberFilter));
    if (!g.grabberFilter)
        return Fail(g, "the sample grabber could not be created (0x%08lX).", Code(hr));
    hr = g.grabberFilter->QueryInterface(IID_SampleGrabberInterface, Out(g.grabber));
    if (!g.grabber)
        return Fail(g, "the sample grabber offers no grabber interface (0x%08lX).", Code(hr));
    g.mediaType = GrabberMediaType();
    g.grabber->SetMediaType(&g.mediaType);
    g.graph->AddFilter(g.grabberFilter.Get(), L"SamGra");

    // The capture graph builder on that graph.
    hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, NULL, CLSCTX_INPROC,
                          IID_ICaptureGraphBuilder2, Out(g.builder));
    if (!g.builder)
        return Fail(g, "the capture graph builder could not be created (0x%08lX).", Code(hr));
    g.builder->SetFiltergraph(g.graph.Get());

    // The requested frame size.
    hr = g.builder->FindInterface(&PIN_CATEGORY_CAPTURE, NULL, g.source, IID_IAMStreamConfig,
                                  Out(g.config));
    if (!g.config)
        return Fail(g, "the capture pin offers no stream configuration (0x%08lX).", Code(hr));
    RequestFrameSize(g.config.Get(), settings);

    // Device to grabber, through the preview stream.
    hr = g.builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, g.source, NULL,
                                 g.grabberFilter.Get());
    if (FAILED(hr))
        return Fail(g, "the video stream could not be connected to the sample grabber (0x%08lX).",
                    Code(hr));
    return true;
}

// The connected format decides the frame from here on: its header, and one
// frame buffer big enough for every row that painting reads, black until the
// first frame arrives.
bool PrepareFrameBuffer(CaptureGraph &g)
{
    HRESULT hr = g.grabber->GetConnectedMediaType(&g.mediaType);
    if (FAILED(hr))
        return Fail(g, "the connected media type could not be read (0x%08lX).", Code(hr));
    const VIDEOINFOHEADER *connected = VideoInfo(&g.mediaType);
    if (!connected)
        return Fail(g, "the connected video stream carries no video info header.");
    CopyMemory(&frameHeader, &connected->bmiHeader, sizeof(frameHeader));

    if (!FrameBufferBytes(frameHeader, &g.bufferBytes))
        return Fail(g, "the connected frame (%ld x %ld, %u bits) is too large to hold.",
                    static_cast<long>(frameHeader.biWidth), static_cast<long>(frameHeader.biHeight),
                    static_cast<unsigned>(frameHeader.biBitCount));
    frameBuffer = static_cast<BYTE *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, g.bufferBytes));
    if (!frameBuffer)
        return Fail(g, "the frame buffer of %lu bytes could not be allocated.",
                    static_cast<unsigned long>(g.bufferBytes));
    return true;
}

// The size goes in as the buffer's capacity and comes back as the sample's
// length, so each copy offers the whole buffer afresh: a short sample must
// not shrink what the next copy may write. A failed copy (no sample yet, or
// one larger than the buffer) leaves the buffer as it was.
LONG CopyNewestFrame(const CaptureGraph &g)
{
    LONG size = static_cast<LONG>(g.bufferBytes);
    const HRESULT hr = g.grabber->GetCurrentBuffer(&size, reinterpret_cast<LONG *>(frameBuffer));
    return hr == S_OK ? size : 0;
}

void TearDown(CaptureGraph &g)
{
    if (g.control)
        g.control->Stop();
    if (g.grabber)
        g.grabber->SetBufferSamples(FALSE);
    g.control.Reset();
    g.devEnum.Reset();
    g.config.Reset();
    g.grabber.Reset();
    g.grabberFilter.Reset();
    g.ownedSource.Reset();
    g.source = NULL;
    g.moniker.Reset();
    g.monikers.Reset();
    g.graph.Reset();
    g.builder.Reset();
    FreeMediaType(g.mediaType);
}

void FreeFrameBuffer()
{
    if (frameBuffer)
        HeapFree(GetProcessHeap(), 0, frameBuffer);
    frameBuffer = NULL;
}
