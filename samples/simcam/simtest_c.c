/* simtest_c.c - an application's test against the simulated camera (C89).
 * The application opens the camera through the camera library, as it
 * would any camera; the test steers the camera through vireosim.h: its
 * driver refuses one EXPOSURE SET_DATA, then it is unplugged. Exit status 0
 * when the application saw both, 1 otherwise.
 */
#include <stdio.h>

#include "vireocamera.h"
#include "vireosim.h"

/* Prints what the application got and whether it is what the test set up. */
static int Saw(const char *what, HRESULT got, HRESULT expected)
{
    printf("%s: 0x%08lX %s\n", what, (unsigned long)got, got == expected ? "as expected" : "WRONG");
    return got == expected;
}

int main(void)
{
    VireoSim *sim = NULL;
    VireoCamera *camera = NULL;
    VireoSimDeviceInfo device;
    LONG exposure = 0;
    int seen = 0;
    HRESULT hr = VireoSimOpen(0, &sim);
    if (SUCCEEDED(hr))
        hr = VireoSimReset(sim); /* plugged, factory values, no refusals */
    if (SUCCEEDED(hr))
        hr = VireoSimDescribe(VireoSimIndex(sim), &device);
    if (FAILED(hr))
        printf("simulated camera: %s (0x%08lX)\n", VireoSimMessage(hr), (unsigned long)hr);
    else if (FAILED(hr = VireoCameraOpenId(device.path, &camera)))
        printf("camera: %s (0x%08lX)\n", VireoCameraMessage(hr), (unsigned long)hr);
    if (SUCCEEDED(hr) && SUCCEEDED(VireoSimRefuse(sim, EXPOSURE, SET_DATA, E_ACCESSDENIED, 1))) {
        seen += Saw("EXPOSURE SET_DATA, refused once", VireoCameraSet(camera, EXPOSURE, 500),
                    E_ACCESSDENIED);
        seen += Saw("EXPOSURE SET_DATA again", VireoCameraSet(camera, EXPOSURE, 500), S_OK);
    }
    if (SUCCEEDED(hr) && SUCCEEDED(VireoSimUnplug(sim))) {
        seen += Saw("EXPOSURE GET_DATA, unplugged", VireoCameraGet(camera, EXPOSURE, &exposure),
                    VIREO_SIM_E_DEVICE_GONE);
        VireoSimPlug(sim);
    }
    VireoCameraClose(camera);
    VireoSimClose(sim);
    return seen == 3 ? 0 : 1;
}
