#include "simcam_test.h"

std::vector<std::wstring> VideoInputDevices()
{
    std::vector<std::wstring> names;
    ICreateDevEnum *devices = NULL;
    IEnumMoniker *monikers = NULL;
    IMoniker *moniker = NULL;
    if (SUCCEEDED(CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER,
                                   IID_ICreateDevEnum, reinterpret_cast<void **>(&devices))) &&
        devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) == S_OK) {
        while (monikers->Next(1, &moniker, NULL) == S_OK) {
            IPropertyBag *bag = NULL;
            VARIANT v;
            VariantInit(&v);
            if (SUCCEEDED(moniker->BindToStorage(NULL, NULL, IID_IPropertyBag,
                                                 reinterpret_cast<void **>(&bag)))) {
                bag->Read(L"FriendlyName", &v, NULL);
                bag->Release();
            }
            names.push_back(v.vt == VT_BSTR ? v.bstrVal : L"");
            VariantClear(&v);
            moniker->Release();
        }
        monikers->Release();
    }
    SafeRelease(devices);
    return names;
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
    // A guard against a stalled stream, not a timing check.
    for (int i = 0; i < 1000 && cam.FramesDelivered() < count; ++i)
        Sleep(10);
    return cam.FramesDelivered();
}

void SimCamTest::SetUp()
{
    ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
    ASSERT_TRUE(m_cam.IsOpen());
    m_cam.Reset();
    ASSERT_TRUE(m_registered = wintest::RegisterModule(L"simcam.ax"));
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
    ASSERT_TRUE(m_extension = wintest::RegisterModule(L"vireoprop.ax"));
}

void SimCamExtensionTest::TearDown()
{
    if (m_extension) {
        EXPECT_TRUE(wintest::RegisterModule(L"vireoprop.ax", true));
    }
    SimCamTest::TearDown();
}
