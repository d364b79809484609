// exposure_cpp.cpp - the camera control interface from C++.
//
// Opens the first video input device, reads its EXPOSURE control through
// IFace and writes the same value back. Exit status 0 on success, 1 when a
// step fails, 3 when the machine has no video input device.
#include <windows.h>
#include <dshow.h>

#include <cstdio>
#include <cstring>

#include "vireoctl.h"

namespace {

// Holds one COM reference and releases it at the end of its scope.
template <typename T> class Ref {
public:
    Ref() = default;
    Ref(const Ref &) = delete;
    Ref &operator=(const Ref &) = delete;
    ~Ref()
    {
        if (m_p)
            m_p->Release();
    }
    T *operator->() const { return m_p; }
    T *get() const { return m_p; }
    T **operator&() { return &m_p; }

private:
    T *m_p = nullptr;
};

// The first video input device's capture filter; S_FALSE when there is none.
HRESULT OpenFirstDevice(IBaseFilter **filter)
{
    Ref<ICreateDevEnum> devices;
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(&devices));
    if (FAILED(hr))
        return hr;
    Ref<IEnumMoniker> monikers;
    hr = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    if (hr != S_OK)
        return hr;
    Ref<IMoniker> moniker;
    if (monikers->Next(1, &moniker, nullptr) != S_OK)
        return S_FALSE;
    Ref<IPropertyBag> bag;
    if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag)))) {
        VARIANT name;
        VariantInit(&name);
        if (SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && V_VT(&name) == VT_BSTR)
            std::printf("device: %ls\n", V_BSTR(&name));
        VariantClear(&name);
    }
    return moniker->BindToObject(nullptr, nullptr, IID_PPV_ARGS(filter));
}

int Run()
{
    Ref<IBaseFilter> filter;
    HRESULT hr = OpenFirstDevice(&filter);
    if (hr == S_FALSE) {
        std::printf("no video input device\n");
        return 3;
    }
    if (FAILED(hr)) {
        std::printf("opening the first video input device failed: 0x%08lX\n",
                    static_cast<unsigned long>(hr));
        return 1;
    }
    Ref<IFace> face;
    hr = filter->QueryInterface(IID_PPV_ARGS(&face));
    if (FAILED(hr)) {
        std::printf("the device offers no IFace (is vireoprop.ax registered?): 0x%08lX\n",
                    static_cast<unsigned long>(hr));
        return 1;
    }

    // GET_DATA: the driver writes the current value over word 0.
    ControlRequest request = {EXPOSURE, GET_DATA, 0, 0};
    DWORD returned = 0;
    hr = face->GetValue10h(&request, &returned);
    if (FAILED(hr)) {
        std::printf("GET_DATA EXPOSURE failed: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }
    ControlReply reply;
    std::memcpy(&reply, &request, sizeof(reply));
    const LONG value = reply.enableOrValue;
    std::printf("read EXPOSURE = %ld (%.1f msec)\n", static_cast<long>(value),
                ExposureMilliseconds(value));

    // SET_DATA: the same value back.
    ControlRequest set = {EXPOSURE, SET_DATA, value, 0};
    hr = face->SetValue10h(&set);
    if (FAILED(hr)) {
        std::printf("SET_DATA EXPOSURE failed: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }
    std::printf("wrote EXPOSURE = %ld\n", static_cast<long>(value));
    return 0;
}

}  // namespace

int main()
{
    if (FAILED(CoInitialize(nullptr))) {
        std::printf("COM could not be initialised\n");
        return 1;
    }
    const int status = Run();
    CoUninitialize();
    return status;
}
