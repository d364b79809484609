#include "simcam_test.h"

MediaTypePtr Format(IAMStreamConfig *config)
{
    AM_MEDIA_TYPE *mt = NULL;
    config->GetFormat(&mt);
    return MediaTypePtr(mt);
}

MediaTypePtr StreamCaps(IAMStreamConfig *config, int index, void *caps, HRESULT *hr)
{
    AM_MEDIA_TYPE *mt = NULL;
    const HRESULT result = config->GetStreamCaps(index, &mt, static_cast<BYTE *>(caps));
    if (hr)
        *hr = result;
    return MediaTypePtr(mt);
}

std::vector<std::wstring> VideoInputDevices()
{
    std::vector<std::wstring> names;
    const ComPtr<ICreateDevEnum> devices =
        Create<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
    ComPtr<IEnumMoniker> monikers;
    if (!devices ||
        devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) != S_OK)
        return names;
    for (ComPtr<IMoniker> moniker; monikers->Next(1, &moniker, NULL) == S_OK;) {
        ComPtr<IPropertyBag> bag;
        VARIANT v;
        VariantInit(&v);
        if (SUCCEEDED(moniker->BindToStorage(NULL, NULL, IID_IPropertyBag, &bag)))
            bag->Read(L"FriendlyName", &v, NULL);
        names.push_back(v.vt == VT_BSTR ? v.bstrVal : L"");
        VariantClear(&v);
    }
    return names;
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
