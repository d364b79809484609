// exposure_cpp.cpp - the camera's exposure from C++, through vireo::camera.
//
//     exposure_cpp          prints the first camera's EXPOSURE
//     exposure_cpp 500      also writes 500 and prints what the camera then holds
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "vireocamera.h"

int main(int argc, char **argv)
{
    VireoCamera *opened = nullptr;
    HRESULT hr = VireoCameraOpenIndex(0, &opened);
    std::unique_ptr<VireoCamera, decltype(&VireoCameraClose)> camera(opened, VireoCameraClose);
    LONG exposure = 0;
    if (SUCCEEDED(hr) && SUCCEEDED(hr = VireoCameraGet(camera.get(), EXPOSURE, &exposure)))
        std::printf("read EXPOSURE = %ld (%.1f msec)\n", static_cast<long>(exposure),
                    ExposureMilliseconds(exposure));
    if (SUCCEEDED(hr) && argc > 1 &&
        SUCCEEDED(hr = VireoCameraSet(camera.get(), EXPOSURE, std::atol(argv[1]))) &&
        SUCCEEDED(hr = VireoCameraGet(camera.get(), EXPOSURE, &exposure)))
        std::printf("wrote EXPOSURE = %ld\n", static_cast<long>(exposure));
    if (FAILED(hr))
        std::printf("%s (0x%08lX)\n", VireoCameraMessage(hr), static_cast<unsigned long>(hr));
    return FAILED(hr) ? 1 : 0;
}
