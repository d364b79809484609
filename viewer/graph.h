// graph.h - capview's capture graph: the first video input device, the
// sample grabber taking 24-bit RGB, the requested frame size, the device's
// preview stream connected to the grabber, the frame buffer sized by the
// connected format, and the teardown in capview's order. The benchmarks
// build the same graph through it.
#ifndef CAPVIEW_GRAPH_H
#define CAPVIEW_GRAPH_H

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include "grabber.h"
#include "startup.h"

// Every object the main thread holds while the graph lives.
struct CaptureGraph {
    Microsoft::WRL::ComPtr<ICreateDevEnum> devEnum;
    Microsoft::WRL::ComPtr<IEnumMoniker> monikers;
    Microsoft::WRL::ComPtr<IMoniker> moniker;
    Microsoft::WRL::ComPtr<IBaseFilter> ownedSource;  // ours until the graph takes the filter
    IBaseFilter *source = NULL;                       // then used through the graph's reference
    Microsoft::WRL::ComPtr<IGraphBuilder> graph;
    Microsoft::WRL::ComPtr<IMediaControl> control;
    Microsoft::WRL::ComPtr<IBaseFilter> grabberFilter;
    Microsoft::WRL::ComPtr<ISampleGrabber> grabber;
    Microsoft::WRL::ComPtr<ICaptureGraphBuilder2> builder;
    Microsoft::WRL::ComPtr<IAMStreamConfig> config;
    AM_MEDIA_TYPE mediaType = {};  // the type asked of the grabber, then the connected one
    DWORD bufferBytes = 0;         // the size of frameBuffer
    char failure[256] = "";        // why the run cannot go on
};

// Notes why the run cannot go on; always false, for the caller to return.
bool Fail(CaptureGraph &g, const char *format, ...);

// The system device enumerator and its video input category; g.monikers
// stays null when the category lists no device. False when the enumerator
// cannot be created.
bool EnumerateVideoInputs(CaptureGraph &g);

// The first device of the video input category, bound to its filter.
bool OpenFirstDevice(CaptureGraph &g);

// The filter graph with the device and the sample grabber in it, the
// requested frame size asked of the device, and the device's preview stream
// connected to the grabber.
bool BuildGraph(CaptureGraph &g, const CapviewSettings &settings);

// The connected format decides the frame from here on: frameHeader, and
// frameBuffer, black until the first frame arrives.
bool PrepareFrameBuffer(CaptureGraph &g);

// Copies the grabber's newest sample into frameBuffer; returns its length,
// 0 when nothing was copied.
LONG CopyNewestFrame(const CaptureGraph &g);

// Stops the graph and releases every object, in this order: the stop, the
// grabber's buffering off, the media control, the device enumerator, then
// what leads to the graph, the graph and the graph builder.
void TearDown(CaptureGraph &g);

void FreeFrameBuffer();

#endif  // CAPVIEW_GRAPH_H
