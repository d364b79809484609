#include "simcontrol.h"

#include <dshow.h>
#include <oleauto.h>

#include <dbt.h>
#include <stddef.h>
#include <string.h>

using Microsoft::WRL::ComPtr;

namespace {

// What Windows sends when a camera's interface comes or goes.
void BroadcastDeviceChange(ULONG index, bool arrival)
{
    const std::wstring path = SimCamDevicePath(index, SIMCAM_CAMERA_CLASS);
    // The record ends with the name, terminator included.
    const size_t size =
        offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (path.size() + 1) * sizeof(WCHAR);
    std::vector<BYTE> bytes(size);
    DEV_BROADCAST_DEVICEINTERFACE_W *record =
        reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W *>(bytes.data());
    record->dbcc_size = static_cast<DWORD>(size);
    record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    record->dbcc_classguid = SIMCAM_CAMERA_CLASS;
    memcpy(record->dbcc_name, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    DWORD_PTR result = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_DEVICECHANGE,
                        arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
                        reinterpret_cast<LPARAM>(record), SMTO_ABORTIFHUNG, 2000, &result);
}

}  // namespace

// The name of device index's instance key in the category: the class for
// device 0 (what the mapper gives without a name), the class and the index
// for the others, so that the category lists them in the order of the table.
static std::wstring InstanceName(ULONG index)
{
    WCHAR name[64];
    StringFromGUID2(CLSID_SimCamFilter, name, ARRAYSIZE(name));
    if (index)
        wsprintfW(name + lstrlenW(name), L" %lu", index);
    return name;
}

// Writes the device path into the instance key the mapper made.
static HRESULT WriteDevicePath(const std::wstring &instance, ULONG index)
{
    WCHAR category[40];
    StringFromGUID2(CLSID_VideoInputDeviceCategory, category, ARRAYSIZE(category));
    const std::wstring key = std::wstring(L"CLSID\\") + category + L"\\Instance\\" + instance;
    const std::wstring path = SimCamDevicePath(index);
    const LONG rc =
        RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), L"DevicePath", REG_SZ, path.c_str(),
                        static_cast<DWORD>((path.size() + 1) * sizeof(WCHAR)));
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
}

// The mapper's part of SimCamRegisterDevice, with COM initialised. Every
// device is an instance of the one class: the filter learns which from the
// DevicePath its moniker's bag gives it.
static HRESULT MapDevice(ULONG index, const WCHAR *name, bool add)
{
    Microsoft::WRL::ComPtr<IFilterMapper2> mapper;
    HRESULT hr =
        CoCreateInstance(CLSID_FilterMapper2, NULL, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                         reinterpret_cast<void **>(mapper.GetAddressOf()));
    const std::wstring instance = InstanceName(index);
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
        hr = mapper->RegisterFilter(CLSID_SimCamFilter, name, NULL, &CLSID_VideoInputDeviceCategory,
                                    instance.c_str(), &filter);
        if (SUCCEEDED(hr))
            hr = WriteDevicePath(instance, index);
    } else if (SUCCEEDED(hr)) {
        hr = mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, instance.c_str(),
                                      CLSID_SimCamFilter);
        if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))
            hr = S_OK;  // not there: nothing to undo
    }
    return hr;
}

HRESULT SimCamRegisterDevice(ULONG index, const WCHAR *name, bool add)
{
    const HRESULT co = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    const HRESULT hr = MapDevice(index, name, add);  // the mapper goes before COM does
    if (SUCCEEDED(co))
        CoUninitialize();
    return hr;
}

HRESULT SimCamInstall(bool install)
{
    SimCamBlock block;
    if (!block.Open())
        return E_FAIL;
    SimCamLock(block)->Install();
    HRESULT hr = S_OK;
    for (ULONG i = install ? 1 : 0; i < SIMCAM_MAX_DEVICES; ++i) {
        const HRESULT removed = SimCamRegisterDevice(i, NULL, false);
        if (SUCCEEDED(hr))
            hr = removed;
    }
    if (SUCCEEDED(hr) && install)
        hr = SimCamRegisterDevice(0, SIMCAM_FRIENDLY_NAME, true);
    return hr;
}

SimCamControl::SimCamControl(ULONG device)
    : m_device(device < SIMCAM_MAX_DEVICES ? device : SIMCAM_MAX_DEVICES - 1)
{
    if (device < SIMCAM_MAX_DEVICES)
        m_block.Open();
}

bool SimCamControl::Exists()
{
    if (!IsOpen())
        return false;
    SimCamLock lock(m_block);
    return Dev(lock).InTable();
}

void SimCamControl::Reset()
{
    if (IsOpen())
        SimCamLock(m_block)->Reset();
}

SimCamDriverLock SimCamControl::LockDriver()
{
    return SimCamDriverLock(m_block, m_device);
}

LONG SimCamControl::Value(ULONG id)
{
    return LockDriver().Driver().Value(id);
}

void SimCamControl::SetValue(ULONG id, LONG value)
{
    LockDriver().Driver().SetValue(id, value);
}

bool SimCamControl::GetControl(ULONG id, SimControl *out)
{
    SimCamDriverLock driver = LockDriver();
    SimControl *c = driver.Driver().Control(id);
    if (c && out)
        *out = *c;
    return c != NULL;
}

void SimCamControl::SetPresent(ULONG id, bool present)
{
    LockDriver().Driver().SetPresent(id, present);
}

void SimCamControl::SetRange(ULONG id, LONG minValue, LONG maxValue)
{
    LockDriver().Driver().SetRange(id, minValue, maxValue);
}

void SimCamControl::SetShortReply(ULONG bytes)
{
    LockDriver().Driver().SetShortReply(bytes);
}

void SimCamControl::AddFault(ULONG property, ULONG controlId, ULONG kind, HRESULT result,
                             LONG count)
{
    LockDriver().Driver().AddFault(property, controlId, kind, result, count);
}

void SimCamControl::ClearFaults()
{
    LockDriver().Driver().ClearFaults();
}

LONG SimCamControl::LogCount()
{
    return LockDriver().Driver().LogCount();
}

std::vector<SimRequest> SimCamControl::Log()
{
    std::vector<SimRequest> out;
    SimCamDriverLock lock = LockDriver();
    SimDriver driver = lock.Driver();
    const LONG count = driver.LogCount();
    for (LONG i = count > SIM_LOG_CAPACITY ? count - SIM_LOG_CAPACITY : 0; i < count; ++i)
        if (const SimRequest *r = driver.LogEntry(i))
            out.push_back(*r);
    return out;
}

void SimCamControl::ClearLog()
{
    LockDriver().Driver().ClearLog();
}

void SimCamControl::RefuseSetFormat(bool refuse, HRESULT result)
{
    SimCamLock(m_block)->RefuseSetFormat(refuse, result);
}

void SimCamControl::SetSwitch(SimSwitch which, bool on)
{
    SimCamLock(m_block)->SetSwitch(which, on);
}

void SimCamControl::ForceZeroImageSize(bool on)
{
    SetSwitch(SIM_SWITCH_ZERO_IMAGE_SIZE, on);
}

void SimCamControl::HideStreamConfig(bool on)
{
    SetSwitch(SIM_SWITCH_NO_STREAM_CONFIG, on);
}

void SimCamControl::RefuseConnection(bool on)
{
    SetSwitch(SIM_SWITCH_REFUSE_CONNECTION, on);
}

void SimCamControl::CutFormatBlock(bool on)
{
    SetSwitch(SIM_SWITCH_CUT_FORMAT_BLOCK, on);
}

void SimCamControl::SetCapsRecordSize(int size)
{
    SimCamLock(m_block)->SetCapsRecordSize(size);
}

void SimCamControl::SetCapabilities(const std::vector<LONG> &entries)
{
    SimCamLock(m_block)->SetCapabilities(entries.data(), entries.size());
}

// The category entry of the addressed device added or removed, and the
// device message when message is true.
HRESULT SimCamControl::ChangeCategory(bool add, bool message)
{
    WCHAR name[SIMCAM_NAME_CAPACITY];
    {
        SimCamLock lock(m_block);
        lstrcpynW(name, Dev(lock).Name(), ARRAYSIZE(name));
    }
    const HRESULT hr = SimCamRegisterDevice(m_device, add ? name : NULL, add);
    if (message)
        BroadcastDeviceChange(m_device, add);
    return hr;
}

HRESULT SimCamControl::Unplug()
{
    {
        SimCamLock lock(m_block);
        SimCamDevice &d = Dev(lock);
        if (!d.InTable())
            return E_INVALIDARG;
        if (d.Unplugged())
            return S_FALSE;
        d.SetPlugged(false);
        lock->SaveTable();
    }
    return ChangeCategory(false, true);
}

HRESULT SimCamControl::Plug()
{
    {
        SimCamLock lock(m_block);
        SimCamDevice &d = Dev(lock);
        if (!d.InTable())
            return E_INVALIDARG;
        if (!d.Unplugged())
            return S_FALSE;
    }
    const HRESULT hr = ChangeCategory(true, false);
    {
        SimCamLock lock(m_block);
        Dev(lock).SetPlugged(true);
        lock->SaveTable();
    }
    BroadcastDeviceChange(m_device, true);
    return hr;
}

bool SimCamControl::Unplugged()
{
    SimCamLock lock(m_block);
    return Dev(lock).Unplugged();
}

HRESULT SimCamControl::PowerCycle()
{
    SimCamLock lock(m_block);
    if (!Dev(lock).InTable())
        return E_INVALIDARG;
    Dev(lock).PowerUp();
    lock->SaveTable();
    return S_OK;
}

void SimCamControl::SetNotReady(ULONG ms)
{
    SimCamLock lock(m_block);
    Dev(lock).SetNotReady(ms);
    lock->SaveTable();
}

bool SimCamControl::NotReady()
{
    SimCamLock lock(m_block);
    return Dev(lock).NotReady();
}

LONG SimCamControl::RefusedRequests()
{
    SimCamLock lock(m_block);
    return Dev(lock).RefusedRequests();
}

void SimCamControl::SetBusy(bool busy)
{
    SimCamLock lock(m_block);
    Dev(lock).SetBusy(busy);
}

ULONG SimCamControl::OwnerProcess()
{
    SimCamLock lock(m_block);
    return Dev(lock).OwnerProcess();
}

int SimCamControl::AddDevice(const WCHAR *name)
{
    if (!IsOpen() || !name || !name[0])
        return -1;
    int index;
    {
        SimCamLock lock(m_block);
        index = lock->FreeSlot();
        if (index < 0)
            return -1;
        lock->TakeSlot(static_cast<ULONG>(index), name);
        lock->SaveTable();
    }
    if (FAILED(SimCamRegisterDevice(static_cast<ULONG>(index), name, true))) {
        SimCamLock lock(m_block);
        lock->Device(static_cast<ULONG>(index)).Leave();
        lock->SaveTable();
        return -1;
    }
    BroadcastDeviceChange(static_cast<ULONG>(index), true);
    return index;
}

HRESULT SimCamControl::RemoveDevice()
{
    bool plugged;
    {
        SimCamLock lock(m_block);
        SimCamDevice &d = Dev(lock);
        if (m_device == 0 || !d.InTable())
            return E_INVALIDARG;
        plugged = d.Plugged();
        d.Leave();
        lock->SaveTable();
    }
    return ChangeCategory(false, plugged);
}

std::vector<SimCamDeviceInfo> SimCamControl::Devices()
{
    std::vector<SimCamDeviceInfo> out;
    SimCamLock lock(m_block);
    for (ULONG i = 0; i < SIMCAM_MAX_DEVICES; ++i) {
        const SimCamDevice &d = lock->Device(i);
        if (d.InTable())
            out.push_back({i, d.Name(), SimCamDevicePath(i), !d.Unplugged()});
    }
    return out;
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
    const LONG count = lock->EventCount();
    for (LONG i = count > SIM_EVENT_CAPACITY ? count - SIM_EVENT_CAPACITY : 0; i < count; ++i)
        out.push_back(lock->Event(i));
    return out;
}

void SimCamControl::ClearEvents()
{
    SimCamLock(m_block)->ClearEvents();
}

LONG SimCamControl::FramesDelivered()
{
    return SimCamLock(m_block)->FramesDelivered();
}

bool SimCamControl::CurrentFormat(LONG *width, LONG *height)
{
    return SimCamLock(m_block)->CurrentFormat(width, height);
}

bool SimCamControl::Connected()
{
    return SimCamLock(m_block)->Connected();
}

LONG SimCamControl::FiltersAlive()
{
    return SimCamLock(m_block)->FiltersAlive();
}

// The moniker's property bag, or null.
static ComPtr<IPropertyBag> MonikerBag(IMoniker *moniker)
{
    ComPtr<IPropertyBag> bag;
    moniker->BindToStorage(NULL, NULL, IID_IPropertyBag,
                           reinterpret_cast<void **>(bag.GetAddressOf()));
    return bag;
}

int SimCamMonikerDevice(IMoniker *moniker)
{
    const ComPtr<IPropertyBag> bag = MonikerBag(moniker);
    return bag ? SimCamBagDevice(bag.Get(), NULL, -1) : -1;
}

bool SimCamMonikerIsOurs(IMoniker *moniker)
{
    const ComPtr<IPropertyBag> bag = MonikerBag(moniker);
    std::wstring name;
    return bag && SimCamBagString(bag.Get(), L"FriendlyName", NULL, &name) &&
           name == SIMCAM_FRIENDLY_NAME;
}

ComPtr<IBaseFilter> SimCamBindFilter()
{
    ComPtr<IBaseFilter> filter;
    ComPtr<ICreateDevEnum> devices;
    ComPtr<IEnumMoniker> monikers;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER,
                                IID_ICreateDevEnum,
                                reinterpret_cast<void **>(devices.GetAddressOf()))) ||
        devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.GetAddressOf(),
                                       0) != S_OK ||
        !monikers)
        return filter;
    ComPtr<IMoniker> moniker;
    while (!filter && monikers->Next(1, moniker.ReleaseAndGetAddressOf(), NULL) == S_OK) {
        if (SimCamMonikerIsOurs(moniker.Get()))
            moniker->BindToObject(NULL, NULL, IID_IBaseFilter,
                                  reinterpret_cast<void **>(filter.GetAddressOf()));
    }
    return filter;
}
