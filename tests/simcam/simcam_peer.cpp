// simcam_peer: a second process beside a test. It changes the simulated
// camera's state from outside the test's process and reports what it sees.
//
//   simcam_peer filterset <id> <value>  SET_DATA through the device's own filter
//   simcam_peer capture                 pauses a graph of the device's filter straight into a
//                                       sample grabber, runs the filter and stops it all: 0
//                                       when it ran, 20 when the camera was refused as busy
// The device's filter is found through the system device enumerator, as an
// application finds it. Exit code 0 on success, 100 and up on failure.
#include <windows.h>
#include <dshow.h>

#include <stdlib.h>
#include <string.h>

#include "simcontrol.h"

static int FilterSet(ULONG id, LONG value)
{
    IBaseFilter *filter = SimCamBindFilter();
    if (!filter)
        return 110;
    IKsPropertySet *props = NULL;
    int result = 111;
    if (SUCCEEDED(filter->QueryInterface(IID_IKsPropertySet, reinterpret_cast<void **>(&props)))) {
        ControlRequest rq = {id, SET_DATA, value, 0};
        result =
            SUCCEEDED(props->Set(CameraPropertySet, VALUE10H, NULL, 0, &rq, sizeof(rq))) ? 0 : 112;
        props->Release();
    }
    filter->Release();
    return result;
}

static const CLSID kSampleGrabber = {
    0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

static IPin *FirstPin(IBaseFilter *filter)
{
    IEnumPins *pins = NULL;
    IPin *pin = NULL;
    if (SUCCEEDED(filter->EnumPins(&pins))) {
        pins->Next(1, &pin, NULL);
        pins->Release();
    }
    return pin;
}

static int Capture()
{
    IBaseFilter *source = SimCamBindFilter();
    IBaseFilter *grabber = NULL;
    IGraphBuilder *graph = NULL;
    IMediaControl *control = NULL;
    int result = 114;
    if (source &&
        SUCCEEDED(CoCreateInstance(kSampleGrabber, NULL, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   reinterpret_cast<void **>(&grabber))) &&
        SUCCEEDED(CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                   reinterpret_cast<void **>(&graph))) &&
        SUCCEEDED(graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void **>(&control))) &&
        SUCCEEDED(graph->AddFilter(source, L"Video Capture")) &&
        SUCCEEDED(graph->AddFilter(grabber, L"SamGra"))) {
        IPin *out = FirstPin(source), *in = FirstPin(grabber);
        if (out && in && SUCCEEDED(graph->ConnectDirect(out, in, NULL))) {
            // The filter's own answer: the graph's Run does not pass it on here.
            IMediaFilter *filter = NULL;
            HRESULT hr = control->Pause();
            if (SUCCEEDED(hr))
                hr = source->QueryInterface(IID_IMediaFilter, reinterpret_cast<void **>(&filter));
            if (SUCCEEDED(hr)) {
                hr = filter->Run(0);
                filter->Release();
            }
            result = hr == S_OK ? 0 : hr == SIMCAM_E_DEVICE_BUSY ? 20 : 115;
            control->Stop();
        }
        if (out)
            out->Release();
        if (in)
            in->Release();
    }
    if (control)
        control->Release();
    if (graph)
        graph->Release();
    if (grabber)
        grabber->Release();
    if (source)
        source->Release();
    return result;
}

int main(int argc, char **argv)
{
    const bool capture = argc == 2 && strcmp(argv[1], "capture") == 0;
    if (!capture && (argc != 4 || strcmp(argv[1], "filterset") != 0))
        return 100;
    if (FAILED(CoInitialize(NULL)))
        return 103;
    const int result =
        capture ? Capture() : FilterSet(strtoul(argv[2], NULL, 10), strtol(argv[3], NULL, 10));
    CoUninitialize();
    return result;
}
