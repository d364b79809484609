// simcam_peer capture: a second process beside a test, capturing from the
// simulated camera. It pauses a graph of the device's filter (found through
// the system device enumerator, as an application finds it) straight into a
// sample grabber, runs the filter and stops it all. Exit code 0 when the
// filter ran, 20 when the camera was refused as busy, 100 and up on failure.
#include <string.h>

#include "simcam_graph.h"

static int Capture()
{
    const ComPtr<IBaseFilter> source = BindSimCam();
    const ComPtr<IBaseFilter> grabber = Create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    const ComPtr<IGraphBuilder> graph = Create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    if (!source || !grabber || !graph)
        return 114;
    const ComPtr<IMediaControl> control = Query<IMediaControl>(graph, IID_IMediaControl);
    const ComPtr<IMediaFilter> filter = Query<IMediaFilter>(source, IID_IMediaFilter);
    const ComPtr<IPin> out = FirstPin(source), in = FirstPin(grabber);
    if (!control || !filter || !out || !in ||
        FAILED(graph->AddFilter(source.Get(), L"Video Capture")) ||
        FAILED(graph->AddFilter(grabber.Get(), L"SamGra")) ||
        FAILED(graph->ConnectDirect(out.Get(), in.Get(), NULL)) || FAILED(control->Pause()))
        return 114;
    // The filter's own answer: the graph's Run does not pass it on here.
    const HRESULT hr = filter->Run(0);
    control->Stop();
    return hr == S_OK ? 0 : hr == SIMCAM_E_DEVICE_BUSY ? 20 : 115;
}

int main(int argc, char **argv)
{
    if (argc != 2 || strcmp(argv[1], "capture") != 0)
        return 100;
    if (FAILED(CoInitialize(NULL)))
        return 103;
    const int result = Capture();
    CoUninitialize();
    return result;
}
