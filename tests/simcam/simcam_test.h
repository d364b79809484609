// simcam_test.h - what the simulated camera's tests share: the camera
// registered for the test's lifetime, the device found through the system
// device enumerator, and small COM helpers.
#ifndef VIREO_TESTS_SIMCAM_TEST_H
#define VIREO_TESTS_SIMCAM_TEST_H

#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>

#include <string>
#include <vector>

#include "simcontrol.h"
#include "wintest.h"

// Not in MinGW's qedit.h.
static const CLSID CLSID_SampleGrabberFilter = {
    0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
static const CLSID CLSID_NullRendererFilter = {
    0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

template <typename T>
void SafeRelease(T *&p)
{
    if (p) {
        p->Release();
        p = NULL;
    }
}

inline void FreeMediaType(AM_MEDIA_TYPE *mt)
{
    if (!mt)
        return;
    if (mt->pbFormat)
        CoTaskMemFree(mt->pbFormat);
    if (mt->pUnk)
        mt->pUnk->Release();
    mt->pbFormat = NULL;
    mt->pUnk = NULL;
    mt->cbFormat = 0;
}

inline void DeleteMediaType(AM_MEDIA_TYPE *mt)
{
    FreeMediaType(mt);
    CoTaskMemFree(mt);
}

inline const BITMAPINFOHEADER &Bmi(const AM_MEDIA_TYPE *mt)
{
    return reinterpret_cast<const VIDEOINFOHEADER *>(mt->pbFormat)->bmiHeader;
}

// The friendly names of the video input devices, in enumeration order.
std::vector<std::wstring> VideoInputDevices();

// Binds the simulated camera's moniker (found by its friendly name) to its
// filter; null when it is not there.
IBaseFilter *BindSimCam();

// The filter's only pin.
IPin *CapturePin(IBaseFilter *filter);

// Waits until the camera has delivered at least count frames in all, or a
// generous guard time has passed; returns the count seen.
LONG WaitForFrames(SimCamControl &cam, LONG count);

// COM, the simulated camera registered, and its state reset, for one test.
class SimCamTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    SimCamControl m_cam;
    bool m_registered = false;
};

// The simulated camera and the extension (vireoprop.ax) registered for one
// test; each is unregistered again unless the test did it itself.
class SimCamExtensionTest : public SimCamTest {
protected:
    void SetUp() override;
    void TearDown() override;
    bool m_extension = false;
};

#endif  // VIREO_TESTS_SIMCAM_TEST_H
