#include "simcam_test.h"

std::vector<std::wstring> VideoInputDevices()
{
    std::vector<std::wstring> names;
    ICreateDevEnum *devices = NULL;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER,
                                IID_ICreateDevEnum, reinterpret_cast<void **>(&devices))))
        return names;
    IEnumMoniker *monikers = NULL;
    if (devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) == S_OK &&
        monikers) {
        IMoniker *moniker = NULL;
        while (monikers->Next(1, &moniker, NULL) == S_OK) {
            IPropertyBag *bag = NULL;
            std::wstring name;
            if (SUCCEEDED(moniker->BindToStorage(NULL, NULL, IID_IPropertyBag,
                                                 reinterpret_cast<void **>(&bag)))) {
                VARIANT v;
                VariantInit(&v);
                if (SUCCEEDED(bag->Read(L"FriendlyName", &v, NULL)) && v.vt == VT_BSTR)
                    name = v.bstrVal;
                VariantClear(&v);
                bag->Release();
            }
            names.push_back(name);
            moniker->Release();
        }
        monikers->Release();
    }
    devices->Release();
    return names;
}

IBaseFilter *BindSimCam()
{
    return SimCamBindFilter();
}

IPin *CapturePin(IBaseFilter *filter)
{
    IEnumPins *pins = NULL;
    IPin *pin = NULL;
    if (SUCCEEDED(filter->EnumPins(&pins))) {
        pins->Next(1, &pin, NULL);
        pins->Release();
    }
    return pin;
}

LONG WaitForFrames(SimCamControl &cam, LONG count)
{
    LONG seen = 0;
    for (int i = 0; i < 1000; ++i) {  // a guard against a stalled stream, not a timing check
        seen = cam.FramesDelivered();
        if (seen >= count)
            break;
        Sleep(10);
    }
    return seen;
}

void SimCamTest::SetUp()
{
    ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
    ASSERT_TRUE(m_cam.IsOpen());
    m_cam.Reset();
    m_registered = wintest::RegisterModule(L"simcam.ax");
    ASSERT_TRUE(m_registered);
}

void SimCamTest::TearDown()
{
    if (m_registered) {
        EXPECT_TRUE(wintest::RegisterModule(L"simcam.ax", true));
    }
    CoUninitialize();
}

void SimCamExtensionTest::SetUp()
{
    SimCamTest::SetUp();
    m_extension = wintest::RegisterModule(L"vireoprop.ax");
    ASSERT_TRUE(m_extension);
}

void SimCamExtensionTest::TearDown()
{
    if (m_extension) {
        EXPECT_TRUE(wintest::RegisterModule(L"vireoprop.ax", true));
    }
    SimCamTest::TearDown();
}
