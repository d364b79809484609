#include "simcontrol.h"

#include <dshow.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <string.h>

static const ULONG kSharedMagic = 0x56534D43;  // "CMSV"

SimCamBlock::SimCamBlock() : m_mapping(NULL), m_mutex(NULL), m_shared(NULL)
{
}

namespace {

struct SavedValue {
    ULONG id;
    LONG value;
};

// Leaves the control values in the registry, or removes them when every one
// is at its factory value; the caller holds the lock.
void SaveSettings(SimDriverState *state)
{
    SavedValue saved[CAMERA_CONTROL_COUNT];
    bool factory = true;
    for (int i = 0; i < CAMERA_CONTROL_COUNT; ++i) {
        saved[i].id = state->controls[i].id;
        saved[i].value = state->controls[i].value;
        factory = factory && saved[i].value == SimDriver::FactoryValue(saved[i].id);
    }
    SimRegKey key;
    if (factory) {
        if (RegOpenKeyExW(HKEY_CURRENT_USER, SIMCAM_SETTINGS_KEY, 0, KEY_SET_VALUE,
                          key.Receive()) == ERROR_SUCCESS)
            RegDeleteValueW(key.Get(), L"Values");
        return;
    }
    if (RegCreateKeyExW(HKEY_CURRENT_USER, SIMCAM_SETTINGS_KEY, 0, NULL, 0, KEY_SET_VALUE, NULL,
                        key.Receive(), NULL) == ERROR_SUCCESS)
        RegSetValueExW(key.Get(), L"Values", 0, REG_BINARY, reinterpret_cast<const BYTE *>(saved),
                       sizeof(saved));
}

// Takes up the values a process left; the caller holds the lock.
void RestoreSettings(SimDriverState *state)
{
    SavedValue saved[CAMERA_CONTROL_COUNT];
    DWORD size = sizeof(saved);
    if (RegGetValueW(HKEY_CURRENT_USER, SIMCAM_SETTINGS_KEY, L"Values", RRF_RT_REG_BINARY, NULL,
                     saved, &size) != ERROR_SUCCESS)
        return;
    SimDriver driver(state);
    for (DWORD i = 0; i < size / sizeof(saved[0]); ++i)
        driver.SetValue(saved[i].id, saved[i].value);
}

}  // namespace

SimCamBlock::~SimCamBlock()
{
    if (m_shared) {
        Lock();
        SaveSettings(&m_shared->driver);
        Unlock();
        UnmapViewOfFile(m_shared);
    }
    if (m_mapping)
        CloseHandle(m_mapping);
    if (m_mutex)
        CloseHandle(m_mutex);
}

bool SimCamBlock::Open()
{
    if (m_shared)
        return true;
    m_mutex = CreateMutexW(NULL, FALSE, SIMCAM_MUTEX_NAME);
    if (!m_mutex)
        return false;
    const DWORD size = sizeof(SimCamShared);
    m_mapping =
        CreateFileMappingW(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, size, SIMCAM_SHARED_NAME);
    if (!m_mapping)
        return false;
    m_shared =
        static_cast<SimCamShared *>(MapViewOfFile(m_mapping, FILE_MAP_ALL_ACCESS, 0, 0, size));
    if (!m_shared)
        return false;

    // A new mapping is zero-filled: the first opener lays out the block.
    SimCamLock lock(*this);
    if (m_shared->magic != kSharedMagic || m_shared->size != size) {
        memset(m_shared, 0, size);
        m_shared->size = size;
        m_shared->refuseResult = E_FAIL;
        SimDriver driver(&m_shared->driver);
        driver.Reset();
        RestoreSettings(&m_shared->driver);
        m_shared->magic = kSharedMagic;
    }
    return true;
}

void SimCamBlock::Lock()
{
    // An abandoned mutex (its holder died) is ours all the same.
    WaitForSingleObject(m_mutex, INFINITE);
}

void SimCamBlock::Unlock()
{
    ReleaseMutex(m_mutex);
}

SimEvent &SimCamRecordEvent(SimCamShared *shared, ULONG kind, ULONG filterId, ULONG state,
                            ULONG graphRefs)
{
    SimEvent &e = shared->events[shared->eventCount % SIM_EVENT_CAPACITY];
    memset(&e, 0, sizeof(e));
    e.kind = kind;
    e.processId = GetCurrentProcessId();
    e.filterId = filterId;
    e.state = state;
    e.graphRefs = graphRefs;
    ++shared->eventCount;
    return e;
}

void SimCamRecordMediaType(SimMediaRecord *record, const AM_MEDIA_TYPE *mt)
{
    memset(record, 0, sizeof(*record));
    if (!mt)
        return;
    record->given = 1;
    record->majortype = mt->majortype;
    record->subtype = mt->subtype;
    record->formattype = mt->formattype;
    record->cbFormat = mt->cbFormat;
    record->hasBlock = mt->pbFormat != NULL;
    if (mt->pbFormat)
        memcpy(&record->vih, mt->pbFormat,
               mt->cbFormat < sizeof(record->vih) ? mt->cbFormat : sizeof(record->vih));
}

// The mapper's part of SimCamRegisterDevice, with COM initialised.
static HRESULT MapDevice(int device, bool add)
{
    Microsoft::WRL::ComPtr<IFilterMapper2> mapper;
    HRESULT hr =
        CoCreateInstance(CLSID_FilterMapper2, NULL, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                         reinterpret_cast<void **>(mapper.GetAddressOf()));
    const CLSID &clsid = device ? CLSID_SimCamFilter2 : CLSID_SimCamFilter;
    if (SUCCEEDED(hr) && add) {
        REGPINTYPES type = {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24};
        REGFILTERPINS pin;
        pin.strName = const_cast<LPWSTR>(L"Capture");
        pin.bRendered = FALSE;
        pin.bOutput = TRUE;
        pin.bZero = FALSE;
        pin.bMany = FALSE;
        pin.clsConnectsToFilter = &CLSID_NULL;
        pin.strConnectsToPin = NULL;
        pin.nMediaTypes = 1;
        pin.lpMediaType = &type;
        REGFILTER2 filter;
        filter.dwVersion = 1;
        filter.dwMerit = MERIT_DO_NOT_USE;
        filter.cPins = 1;
        filter.rgPins = &pin;
        hr = mapper->RegisterFilter(clsid, device ? SIMCAM_FRIENDLY_NAME2 : SIMCAM_FRIENDLY_NAME,
                                    NULL, &CLSID_VideoInputDeviceCategory, NULL, &filter);
    } else if (SUCCEEDED(hr)) {
        hr = mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, NULL, clsid);
        if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))
            hr = S_OK;  // not there: nothing to undo
    }
    return hr;
}

void SimCamForgetSettings()
{
    SimCamBlock block;
    if (!block.Open())
        return;
    SimCamLock lock(block);
    SimDriver(&block.Shared()->driver).ResetControls();
    SaveSettings(&block.Shared()->driver);
}

HRESULT SimCamRegisterDevice(int device, bool add)
{
    const HRESULT co = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    const HRESULT hr = MapDevice(device, add);  // the mapper goes before COM does
    if (SUCCEEDED(co))
        CoUninitialize();
    return hr;
}

SimCamControl::SimCamControl()
{
    m_block.Open();
}

void SimCamControl::Reset()
{
    if (!IsOpen())
        return;
    SimCamLock lock(m_block);
    SimCamShared *s = m_block.Shared();
    SimDriver(&s->driver).Reset();
    SaveSettings(&s->driver);
    s->refuseSetFormat = 0;
    s->refuseResult = E_FAIL;
    s->zeroImageSize = 0;
    s->noStreamConfig = 0;
    s->refuseConnection = 0;
    s->cutFormatBlock = 0;
    s->capsRecordSize = 0;
    s->capsCount = 0;
    s->unplugged = 0;
    s->busy = 0;
    s->refusedRequests = 0;
    s->framesDelivered = 0;
    s->eventCount = 0;
}

SimDriver SimCamControl::LockDriver()
{
    m_block.Lock();
    return SimDriver(&m_block.Shared()->driver);
}

void SimCamControl::UnlockDriver()
{
    m_block.Unlock();
}

LONG SimCamControl::Value(ULONG id)
{
    SimCamLock lock(m_block);
    return SimDriver(&m_block.Shared()->driver).Value(id);
}

void SimCamControl::SetValue(ULONG id, LONG value)
{
    SimCamLock lock(m_block);
    SimDriver(&m_block.Shared()->driver).SetValue(id, value);
}

bool SimCamControl::GetControl(ULONG id, SimControl *out)
{
    SimCamLock lock(m_block);
    SimControl *c = SimDriver(&m_block.Shared()->driver).Control(id);
    if (c && out)
        *out = *c;
    return c != NULL;
}

void SimCamControl::SetPresent(ULONG id, bool present)
{
    SimCamLock lock(m_block);
    SimDriver(&m_block.Shared()->driver).SetPresent(id, present);
}

void SimCamControl::SetRange(ULONG id, LONG minValue, LONG maxValue)
{
    SimCamLock lock(m_block);
    SimDriver(&m_block.Shared()->driver).SetRange(id, minValue, maxValue);
}

void SimCamControl::SetShortReply(ULONG bytes)
{
    SimCamLock lock(m_block);
    m_block.Shared()->driver.shortReply = bytes;
}

void SimCamControl::AddFault(ULONG property, ULONG controlId, ULONG kind, HRESULT result,
                             LONG count)
{
    SimCamLock lock(m_block);
    SimDriver(&m_block.Shared()->driver).AddFault(property, controlId, kind, result, count);
}

void SimCamControl::ClearFaults()
{
    SimCamLock lock(m_block);
    SimDriver(&m_block.Shared()->driver).ClearFaults();
}

LONG SimCamControl::LogCount()
{
    SimCamLock lock(m_block);
    return SimDriver(&m_block.Shared()->driver).LogCount();
}

std::vector<SimRequest> SimCamControl::Log()
{
    std::vector<SimRequest> out;
    SimCamLock lock(m_block);
    SimDriver driver(&m_block.Shared()->driver);
    const LONG count = driver.LogCount();
    for (LONG i = count > SIM_LOG_CAPACITY ? count - SIM_LOG_CAPACITY : 0; i < count; ++i)
        if (const SimRequest *r = driver.LogEntry(i))
            out.push_back(*r);
    return out;
}

void SimCamControl::ClearLog()
{
    SimCamLock lock(m_block);
    SimDriver(&m_block.Shared()->driver).ClearLog();
}

void SimCamControl::RefuseSetFormat(bool refuse, HRESULT result)
{
    SimCamLock lock(m_block);
    m_block.Shared()->refuseSetFormat = refuse ? 1 : 0;
    m_block.Shared()->refuseResult = result;
}

void SimCamControl::ForceZeroImageSize(bool on)
{
    SimCamLock lock(m_block);
    m_block.Shared()->zeroImageSize = on ? 1 : 0;
}

void SimCamControl::HideStreamConfig(bool on)
{
    SimCamLock lock(m_block);
    m_block.Shared()->noStreamConfig = on ? 1 : 0;
}

void SimCamControl::RefuseConnection(bool on)
{
    SimCamLock lock(m_block);
    m_block.Shared()->refuseConnection = on ? 1 : 0;
}

void SimCamControl::CutFormatBlock(bool on)
{
    SimCamLock lock(m_block);
    m_block.Shared()->cutFormatBlock = on ? 1 : 0;
}

void SimCamControl::SetCapsRecordSize(int size)
{
    SimCamLock lock(m_block);
    m_block.Shared()->capsRecordSize = size;
}

void SimCamControl::SetCapabilities(const std::vector<LONG> &entries)
{
    SimCamLock lock(m_block);
    SimCamShared *s = m_block.Shared();
    s->capsCount = 0;
    for (size_t i = 0; i < entries.size() && i < SIM_CAPS_CAPACITY; ++i)
        s->capsLayout[s->capsCount++] = entries[i];
}

HRESULT SimCamControl::Unplug()
{
    {
        SimCamLock lock(m_block);
        m_block.Shared()->unplugged = 1;
        // Without power the camera forgets its settings.
        SimDriver(&m_block.Shared()->driver).ResetControls();
        SaveSettings(&m_block.Shared()->driver);
    }
    return SimCamRegisterDevice(0, false);
}

HRESULT SimCamControl::Plug()
{
    const HRESULT hr = SimCamRegisterDevice(0, true);
    SimCamLock lock(m_block);
    m_block.Shared()->unplugged = 0;
    return hr;
}

bool SimCamControl::Unplugged()
{
    SimCamLock lock(m_block);
    return m_block.Shared()->unplugged != 0;
}

LONG SimCamControl::RefusedRequests()
{
    SimCamLock lock(m_block);
    return m_block.Shared()->refusedRequests;
}

void SimCamControl::SetBusy(bool busy)
{
    SimCamLock lock(m_block);
    m_block.Shared()->busy = busy ? 1 : 0;
}

ULONG SimCamControl::OwnerProcess()
{
    SimCamLock lock(m_block);
    return m_block.Shared()->ownerFilter ? m_block.Shared()->ownerProcess : 0;
}

// The class entry of the second device points at the module that serves the
// first.
HRESULT SimCamControl::RegisterSecondDevice(bool add)
{
    WCHAR first[128], second[128], clsid[40];
    StringFromGUID2(CLSID_SimCamFilter, clsid, ARRAYSIZE(clsid));
    lstrcpyW(first, L"CLSID\\");
    lstrcatW(first, clsid);
    StringFromGUID2(CLSID_SimCamFilter2, clsid, ARRAYSIZE(clsid));
    lstrcpyW(second, L"CLSID\\");
    lstrcatW(second, clsid);
    if (!add) {
        HRESULT hr = SimCamRegisterDevice(1, false);
        const LONG rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, second);
        if (SUCCEEDED(hr) && rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
            hr = HRESULT_FROM_WIN32(rc);
        return hr;
    }
    WCHAR path[MAX_PATH];
    DWORD size = sizeof(path);
    lstrcatW(first, L"\\InprocServer32");
    LONG rc = RegGetValueW(HKEY_CLASSES_ROOT, first, NULL, RRF_RT_REG_SZ, NULL, path, &size);
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    lstrcatW(second, L"\\InprocServer32");
    SimRegKey key;
    rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, second, 0, NULL, REG_OPTION_NON_VOLATILE,
                         KEY_ALL_ACCESS, NULL, key.Receive(), NULL);
    if (rc == ERROR_SUCCESS) {
        static const WCHAR kBoth[] = L"Both";
        rc = RegSetValueExW(key.Get(), NULL, 0, REG_SZ, reinterpret_cast<const BYTE *>(path),
                            static_cast<DWORD>((lstrlenW(path) + 1) * sizeof(WCHAR)));
        if (rc == ERROR_SUCCESS)
            rc = RegSetValueExW(key.Get(), L"ThreadingModel", 0, REG_SZ,
                                reinterpret_cast<const BYTE *>(kBoth), sizeof(kBoth));
        key.Close();
    }
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    return SimCamRegisterDevice(1, true);
}

std::vector<SimEvent> SimCamControl::Events(ULONG kind)
{
    std::vector<SimEvent> out;
    for (const SimEvent &e : Events())
        if (e.kind == kind)
            out.push_back(e);
    return out;
}

std::vector<SimEvent> SimCamControl::Events()
{
    std::vector<SimEvent> out;
    SimCamLock lock(m_block);
    const SimCamShared *s = m_block.Shared();
    const LONG count = s->eventCount;
    for (LONG i = count > SIM_EVENT_CAPACITY ? count - SIM_EVENT_CAPACITY : 0; i < count; ++i)
        out.push_back(s->events[i % SIM_EVENT_CAPACITY]);
    return out;
}

void SimCamControl::ClearEvents()
{
    SimCamLock lock(m_block);
    m_block.Shared()->eventCount = 0;
}

LONG SimCamControl::FramesDelivered()
{
    SimCamLock lock(m_block);
    return m_block.Shared()->framesDelivered;
}

bool SimCamControl::CurrentFormat(LONG *width, LONG *height)
{
    SimCamLock lock(m_block);
    const SimCamShared *s = m_block.Shared();
    if (width)
        *width = s->formatWidth;
    if (height)
        *height = s->formatHeight;
    return s->formatWidth != 0;
}

bool SimCamControl::Connected()
{
    SimCamLock lock(m_block);
    return m_block.Shared()->connected != 0;
}

LONG SimCamControl::FiltersAlive()
{
    SimCamLock lock(m_block);
    return m_block.Shared()->filtersAlive;
}

bool SimCamMonikerIsOurs(IMoniker *moniker)
{
    Microsoft::WRL::ComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(NULL, NULL, IID_IPropertyBag,
                                      reinterpret_cast<void **>(bag.GetAddressOf()))))
        return false;
    VARIANT v;
    VariantInit(&v);
    const bool ours = SUCCEEDED(bag->Read(L"FriendlyName", &v, NULL)) && v.vt == VT_BSTR &&
                      lstrcmpW(v.bstrVal, SIMCAM_FRIENDLY_NAME) == 0;
    VariantClear(&v);
    return ours;
}

IBaseFilter *SimCamBindFilter()
{
    IBaseFilter *filter = NULL;
    Microsoft::WRL::ComPtr<ICreateDevEnum> devices;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER,
                                IID_ICreateDevEnum,
                                reinterpret_cast<void **>(devices.GetAddressOf()))))
        return NULL;
    Microsoft::WRL::ComPtr<IEnumMoniker> monikers;
    if (devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.GetAddressOf(),
                                       0) == S_OK &&
        monikers) {
        Microsoft::WRL::ComPtr<IMoniker> moniker;
        while (!filter && monikers->Next(1, moniker.ReleaseAndGetAddressOf(), NULL) == S_OK) {
            if (SimCamMonikerIsOurs(moniker.Get()))
                moniker->BindToObject(NULL, NULL, IID_IBaseFilter,
                                      reinterpret_cast<void **>(&filter));
        }
        moniker.Reset();
        monikers.Reset();
    }
    return filter;
}
