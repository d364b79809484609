// simcam_peer: a second process beside a test. It changes the simulated
// camera's state from outside the test's process and reports what it sees.
//
//   simcam_peer setvalue <id> <value>  write a control value through the control path
//   simcam_peer getvalue <id>          exit code: the control's value through the control path
// The exit code is 0 on success (or the value asked for), 100 and up on failure.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "simcontrol.h"

int main(int argc, char **argv)
{
    if (argc < 3)
        return 100;
    const ULONG id = strtoul(argv[2], NULL, 10);
    SimCamControl cam;
    if (!cam.IsOpen())
        return 101;
    if (strcmp(argv[1], "setvalue") == 0 && argc >= 4) {
        cam.SetValue(id, strtol(argv[3], NULL, 10));
        return 0;
    }
    if (strcmp(argv[1], "getvalue") == 0)
        return static_cast<int>(cam.Value(id));
    return 102;
}
