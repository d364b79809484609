/* exposure_c.c - the camera's exposure from C (C89), through vireo::camera.
 *
 *     exposure_c          prints the first camera's EXPOSURE
 *     exposure_c 500      also writes 500 and prints what the camera then holds
 */
#include <stdio.h>
#include <stdlib.h>

#include "vireocamera.h"

int main(int argc, char **argv)
{
    VireoCamera *camera = NULL;
    LONG exposure = 0;
    HRESULT hr = VireoCameraOpenIndex(0, &camera);
    if (SUCCEEDED(hr))
        hr = VireoCameraGet(camera, EXPOSURE, &exposure);
    if (SUCCEEDED(hr))
        printf("read EXPOSURE = %ld (%.1f msec)\n", (long)exposure, ExposureMilliseconds(exposure));
    if (SUCCEEDED(hr) && argc > 1) {
        hr = VireoCameraSet(camera, EXPOSURE, atol(argv[1]));
        if (SUCCEEDED(hr))
            hr = VireoCameraGet(camera, EXPOSURE, &exposure);
        if (SUCCEEDED(hr))
            printf("wrote EXPOSURE = %ld\n", (long)exposure);
    }
    if (FAILED(hr))
        printf("%s (0x%08lX)\n", VireoCameraMessage(hr), (unsigned long)hr);
    VireoCameraClose(camera);
    return FAILED(hr) ? 1 : 0;
}
