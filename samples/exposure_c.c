/* exposure_c.c - the camera control interface from C.
 *
 * Opens the first video input device, reads its EXPOSURE control through
 * IFace and writes the same value back. Exit status 0 on success, 1 when a
 * step fails, 3 when the machine has no video input device.
 */
#define COBJMACROS
#include <windows.h>
#include <dshow.h>
#include <stdio.h>
#include <string.h>

#include "vireoctl.h"

/* Binds the first video input device to its capture filter and prints its
 * friendly name; S_FALSE when there is none. */
static HRESULT OpenFirstDevice(IBaseFilter **filter)
{
    ICreateDevEnum *devices = NULL;
    IEnumMoniker *monikers = NULL;
    IMoniker *moniker = NULL;
    IPropertyBag *bag = NULL;
    HRESULT hr = CoCreateInstance(&CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER,
                                  &IID_ICreateDevEnum, (void **)&devices);
    if (FAILED(hr))
        return hr;
    hr = ICreateDevEnum_CreateClassEnumerator(devices, &CLSID_VideoInputDeviceCategory, &monikers,
                                              0);
    if (hr == S_OK && IEnumMoniker_Next(monikers, 1, &moniker, NULL) != S_OK)
        hr = S_FALSE;
    if (hr == S_OK) {
        if (SUCCEEDED(
                IMoniker_BindToStorage(moniker, NULL, NULL, &IID_IPropertyBag, (void **)&bag))) {
            VARIANT name;
            VariantInit(&name);
            if (SUCCEEDED(IPropertyBag_Read(bag, L"FriendlyName", &name, NULL)) &&
                V_VT(&name) == VT_BSTR)
                printf("device: %ls\n", V_BSTR(&name));
            VariantClear(&name);
            IPropertyBag_Release(bag);
        }
        hr = IMoniker_BindToObject(moniker, NULL, NULL, &IID_IBaseFilter, (void **)filter);
    }
    if (moniker)
        IMoniker_Release(moniker);
    if (monikers)
        IEnumMoniker_Release(monikers);
    ICreateDevEnum_Release(devices);
    return hr;
}

static int Run(void)
{
    IBaseFilter *filter = NULL;
    IFace *face = NULL;
    ControlRequest request;
    ControlReply reply;
    DWORD returned = 0;
    HRESULT hr = OpenFirstDevice(&filter);
    if (hr == S_FALSE) {
        printf("no video input device\n");
        return 3;
    }
    if (FAILED(hr)) {
        printf("opening the first video input device failed: 0x%08lX\n", (unsigned long)hr);
        return 1;
    }
    hr = IBaseFilter_QueryInterface(filter, &IID_IFace, (void **)&face);
    IBaseFilter_Release(filter); /* IFace holds the filter */
    if (FAILED(hr)) {
        printf("the device offers no IFace (is vireoprop.ax registered?): 0x%08lX\n",
               (unsigned long)hr);
        return 1;
    }

    /* GET_DATA: the driver writes the current value over word 0. */
    memset(&request, 0, sizeof(request));
    request.controlId = EXPOSURE;
    request.kind = GET_DATA;
    hr = IFace_GetValue10h(face, &request, &returned);
    memcpy(&reply, &request, sizeof(reply));
    if (SUCCEEDED(hr)) {
        printf("read %s = %ld (%.1f msec)\n", CameraControlName(EXPOSURE),
               (long)reply.enableOrValue, ExposureMilliseconds(reply.enableOrValue));

        /* SET_DATA: the same value back. */
        memset(&request, 0, sizeof(request));
        request.controlId = EXPOSURE;
        request.kind = SET_DATA;
        request.value = reply.enableOrValue;
        hr = IFace_SetValue10h(face, &request);
        if (SUCCEEDED(hr))
            printf("wrote %s = %ld\n", CameraControlName(EXPOSURE), (long)request.value);
        else
            printf("SET_DATA %s failed: 0x%08lX\n", CameraControlName(EXPOSURE), (unsigned long)hr);
    } else {
        printf("GET_DATA %s failed: 0x%08lX\n", CameraControlName(EXPOSURE), (unsigned long)hr);
    }
    IFace_Release(face);
    return SUCCEEDED(hr) ? 0 : 1;
}

int main(void)
{
    int status;
    if (FAILED(CoInitialize(NULL))) {
        printf("COM could not be initialised\n");
        return 1;
    }
    status = Run();
    CoUninitialize();
    return status;
}
