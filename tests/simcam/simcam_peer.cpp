// simcam_peer capture: a second process beside a test, capturing from the
// simulated camera. It pauses a graph of the device's filter (found through
// the system device enumerator, as an application finds it) straight into a
// sample grabber, runs the filter and stops it all. Exit code 0 when the
// filter ran, 20 when the camera was refused as busy, 100 and up on failure.
#include <windows.h>
#include <dshow.h>

#include <string.h>

#include "simcontrol.h"

static const CLSID kSampleGrabber = {
    0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

template <typename T> static void Release(T *p)
{
    if (p)
        p->Release();
}

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
    IBaseFilter *source = SimCamBindFilter(), *grabber = NULL;
    IGraphBuilder *graph = NULL;
    IMediaControl *control = NULL;
    IMediaFilter *filter = NULL;
    IPin *out = NULL, *in = NULL;
    int result = 114;
    if (source &&
        SUCCEEDED(CoCreateInstance(kSampleGrabber, NULL, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   reinterpret_cast<void **>(&grabber))) &&
        SUCCEEDED(CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                   reinterpret_cast<void **>(&graph))) &&
        SUCCEEDED(graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void **>(&control))) &&
        SUCCEEDED(graph->AddFilter(source, L"Video Capture")) &&
        SUCCEEDED(graph->AddFilter(grabber, L"SamGra")) && (out = FirstPin(source)) != NULL &&
        (in = FirstPin(grabber)) != NULL && SUCCEEDED(graph->ConnectDirect(out, in, NULL)) &&
        SUCCEEDED(control->Pause()) &&
        SUCCEEDED(source->QueryInterface(IID_IMediaFilter, reinterpret_cast<void **>(&filter)))) {
        // The filter's own answer: the graph's Run does not pass it on here.
        const HRESULT hr = filter->Run(0);
        result = hr == S_OK ? 0 : hr == SIMCAM_E_DEVICE_BUSY ? 20 : 115;
        control->Stop();
    }
    Release(filter);
    Release(out);
    Release(in);
    Release(control);
    Release(graph);
    Release(grabber);
    Release(source);
    return result;
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
