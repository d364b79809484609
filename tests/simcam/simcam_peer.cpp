// simcam_peer: a second process beside a test, on the simulated camera's
// filter (found through the system device enumerator, as an application
// finds it).
//   capture   pauses a graph of the filter straight into a sample grabber,
//             runs the filter and stops it all. Exit code 0 when the filter
//             ran, 20 when the camera was refused as busy.
//   get       reads EXPOSURE (GET_DATA) through the filter's IKsPropertySet
//             and prints the result and the value read: "0x00000000 284".
// 100 and up on failure.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
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
    return hr == S_OK ? 0 : hr == VIREO_SIM_E_DEVICE_BUSY ? 20 : 115;
}

static int GetExposure()
{
    const ComPtr<IBaseFilter> source = BindSimCam();
    const ComPtr<IKsPropertySet> props =
        source ? Query<IKsPropertySet>(source, IID_IKsPropertySet) : nullptr;
    if (!props)
        return 114;
    ControlRequest rq = {EXPOSURE, GET_DATA, 0, 0};
    ControlReply reply = {};
    DWORD returned = 0;
    const HRESULT hr =
        props->Get(CameraPropertySet, VALUE10H, &rq, sizeof(rq), &reply, sizeof(reply), &returned);
    printf("0x%08lX %ld\n", static_cast<unsigned long>(hr), static_cast<long>(reply.enableOrValue));
    return 0;
}

int main(int argc, char **argv)
{
    _setmode(_fileno(stdout), _O_BINARY);  // LF line ends
    const bool capture = argc == 2 && strcmp(argv[1], "capture") == 0;
    if (argc != 2 || (!capture && strcmp(argv[1], "get") != 0))
        return 100;
    if (FAILED(CoInitialize(NULL)))
        return 103;
    const int result = capture ? Capture() : GetExposure();
    CoUninitialize();
    return result;
}
