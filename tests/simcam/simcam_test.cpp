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

// Each moniker of the category with its bag, in order; stops when each
// returns false.
template <typename Each> void ForEachVideoInput(Each each)
{
    const ComPtr<ICreateDevEnum> devices =
        Create<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
    ComPtr<IEnumMoniker> monikers;
    if (!devices ||
        devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) != S_OK)
        return;
    for (ComPtr<IMoniker> moniker; monikers->Next(1, &moniker, NULL) == S_OK;) {
        ListedDevice listed;
        ComPtr<IPropertyBag> bag;
        if (SUCCEEDED(moniker->BindToStorage(NULL, NULL, IID_IPropertyBag, &bag))) {
            for (auto field : {std::make_pair(L"FriendlyName", &listed.name),
                               std::make_pair(L"DevicePath", &listed.path)}) {
                VARIANT v;
                VariantInit(&v);
                if (SUCCEEDED(bag->Read(field.first, &v, NULL)) && v.vt == VT_BSTR)
                    *field.second = v.bstrVal;
                VariantClear(&v);
            }
        }
        if (!each(moniker.Get(), listed))
            return;
    }
}

std::vector<ListedDevice> ListedDevices()
{
    std::vector<ListedDevice> listed;
    ForEachVideoInput([&](IMoniker *, const ListedDevice &d) {
        listed.push_back(d);
        return true;
    });
    return listed;
}

std::vector<std::wstring> VideoInputDevices()
{
    std::vector<std::wstring> names;
    for (const ListedDevice &d : ListedDevices())
        names.push_back(d.name);
    return names;
}

ComPtr<IBaseFilter> BindDevice(ULONG device)
{
    ComPtr<IBaseFilter> filter;
    const std::wstring path = SimCamDevicePath(device);
    ForEachVideoInput([&](IMoniker *moniker, const ListedDevice &d) {
        if (d.path != path)
            return true;
        moniker->BindToObject(NULL, NULL, IID_IBaseFilter, &filter);
        return false;
    });
    return filter;
}

HRESULT GetThrough(IBaseFilter *filter, ULONG id, LONG *value)
{
    const ComPtr<IKsPropertySet> props = Query<IKsPropertySet>(filter, IID_IKsPropertySet);
    ControlRequest rq = {id, GET_DATA, 0, 0};
    ControlReply reply = {};
    DWORD returned = 0;
    const HRESULT hr = props ? props->Get(CameraPropertySet, VALUE10H, &rq, sizeof(rq), &reply,
                                          sizeof(reply), &returned)
                             : E_NOINTERFACE;
    *value = reply.enableOrValue;
    return hr;
}

HRESULT SetThrough(IBaseFilter *filter, ULONG id, LONG value)
{
    const ComPtr<IKsPropertySet> props = Query<IKsPropertySet>(filter, IID_IKsPropertySet);
    ControlRequest rq = {id, SET_DATA, value, 0};
    return props ? props->Set(CameraPropertySet, VALUE10H, NULL, 0, &rq, sizeof(rq))
                 : E_NOINTERFACE;
}

HRESULT SendThrough(IBaseFilter *filter, ULONG id, ULONG kind, LONG value, ControlReply *reply)
{
    const ComPtr<IKsPropertySet> props = Query<IKsPropertySet>(filter, IID_IKsPropertySet);
    if (!props)
        return E_NOINTERFACE;
    if (kind == SET_ENABLE) {
        ControlRequest32 rq = {id, SET_ENABLE, 1, value, {0, 0, 0, 0}};
        return props->Set(CameraPropertySet, VALUE20H, NULL, 0, &rq, sizeof(rq));
    }
    ControlRequest rq = {id, kind, value, 0};
    if (kind == SET_DATA)
        return props->Set(CameraPropertySet, VALUE10H, NULL, 0, &rq, sizeof(rq));
    DWORD returned = 0;
    const HRESULT hr =
        props->Get(CameraPropertySet, VALUE10H, &rq, sizeof(rq), &rq, sizeof(rq), &returned);
    if (reply)
        memcpy(reply, &rq, sizeof(*reply));
    return hr;
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
