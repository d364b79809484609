// simcam_peer: a second process beside a test. It changes the simulated
// camera's state from outside the test's process and reports what it sees.
//
//   simcam_peer setvalue <id> <value>   write a control value through the control path
//   simcam_peer getvalue <id>           exit code: the control's value, through the control path
//   simcam_peer filterset <id> <value>  SET_DATA through the device's own filter
//   simcam_peer filterget <id>          exit code: GET_DATA through the device's own filter
// The device's filter is found through the system device enumerator, as an
// application finds it. Exit code 0 on success (or the value asked for);
// 100 and up on failure.
#include <windows.h>
#include <dshow.h>

#include <stdlib.h>
#include <string.h>

#include "simcontrol.h"

static int ThroughFilter(bool set, ULONG id, LONG value)
{
    IBaseFilter *filter = SimCamBindFilter();
    if (!filter)
        return 110;
    IKsPropertySet *props = NULL;
    int result = 111;
    if (SUCCEEDED(filter->QueryInterface(IID_IKsPropertySet, reinterpret_cast<void **>(&props)))) {
        ControlRequest rq = {id, static_cast<ULONG>(set ? SET_DATA : GET_DATA), value, 0};
        DWORD returned = 0;
        HRESULT hr = set ? props->Set(CameraPropertySet, VALUE10H, NULL, 0, &rq, sizeof(rq))
                         : props->Get(CameraPropertySet, VALUE10H, &rq, sizeof(rq), &rq, sizeof(rq), &returned);
        if (SUCCEEDED(hr))
            result = set ? 0 : static_cast<int>(static_cast<LONG>(rq.controlId));  // the reply's word 0
        else
            result = 112;
        props->Release();
    }
    filter->Release();
    return result;
}

int main(int argc, char **argv)
{
    if (argc < 3)
        return 100;
    const ULONG id = strtoul(argv[2], NULL, 10);
    const LONG value = argc >= 4 ? strtol(argv[3], NULL, 10) : 0;
    if (strcmp(argv[1], "filterset") == 0 || strcmp(argv[1], "filterget") == 0) {
        if (FAILED(CoInitialize(NULL)))
            return 103;
        int result = ThroughFilter(argv[1][6] == 's', id, value);
        CoUninitialize();
        return result;
    }
    SimCamControl cam;
    if (!cam.IsOpen())
        return 101;
    if (strcmp(argv[1], "setvalue") == 0 && argc >= 4) {
        cam.SetValue(id, value);
        return 0;
    }
    if (strcmp(argv[1], "getvalue") == 0)
        return static_cast<int>(cam.Value(id));
    return 102;
}
