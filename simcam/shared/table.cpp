#include "table.h"

#include <dshow.h>

#include <dbt.h>
#include <stddef.h>
#include <string.h>

#include <wrl/client.h>

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

// The name of device index's instance key in the category: the class for
// device 0 (what the mapper gives without a name), the class and the index
// for the others, so that the category lists them in the order of the table.
std::wstring InstanceName(ULONG index)
{
    WCHAR name[64];
    StringFromGUID2(CLSID_SimCamFilter, name, ARRAYSIZE(name));
    if (index)
        wsprintfW(name + lstrlenW(name), L" %lu", index);
    return name;
}

// Writes the device path into the instance key the mapper made.
HRESULT WriteDevicePath(const std::wstring &instance, ULONG index)
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

HRESULT AddToCategory(IFilterMapper2 *mapper, ULONG index, const WCHAR *name)
{
    REGPINTYPES type = {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24};
    REGFILTERPINS pin = {
        const_cast<LPWSTR>(L"Capture"), FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, NULL, 1, &type};
    REGFILTER2 filter;
    filter.dwVersion = 1;
    filter.dwMerit = MERIT_DO_NOT_USE;
    filter.cPins = 1;
    filter.rgPins = &pin;
    const std::wstring instance = InstanceName(index);
    const HRESULT hr = mapper->RegisterFilter(
        CLSID_SimCamFilter, name, NULL, &CLSID_VideoInputDeviceCategory, instance.c_str(), &filter);
    return SUCCEEDED(hr) ? WriteDevicePath(instance, index) : hr;
}

// The category entry of device index added (under name) or removed,
// through the filter mapper. Every device is an instance of the one class:
// the filter learns which from the DevicePath its moniker's bag gives it.
HRESULT MapDevice(ULONG index, const WCHAR *name, bool add)
{
    Microsoft::WRL::ComPtr<IFilterMapper2> mapper;
    HRESULT hr =
        CoCreateInstance(CLSID_FilterMapper2, NULL, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                         reinterpret_cast<void **>(mapper.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    if (add)
        return AddToCategory(mapper.Get(), index, name);
    hr = mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, InstanceName(index).c_str(),
                                  CLSID_SimCamFilter);
    return hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ? S_OK
                                                          : hr;  // not there: nothing to undo
}

// MapDevice with COM initialised for the call when the thread has not done
// it; the mapper goes before COM does.
HRESULT RegisterDevice(ULONG index, const WCHAR *name, bool add)
{
    const HRESULT co = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    const HRESULT hr = MapDevice(index, name, add);
    if (SUCCEEDED(co))
        CoUninitialize();
    return hr;
}

}  // namespace

HRESULT SimCamTable::Install(bool install)
{
    SimCamBlock block;
    if (!block.Open())
        return E_FAIL;
    SimCamLock(block)->Install();
    HRESULT hr = S_OK;
    for (ULONG i = install ? 1 : 0; i < VIREO_SIM_MAX_DEVICES; ++i) {
        const HRESULT removed = RegisterDevice(i, NULL, false);
        if (SUCCEEDED(hr))
            hr = removed;
    }
    if (SUCCEEDED(hr) && install)
        hr = RegisterDevice(0, SIMCAM_FRIENDLY_NAME, true);
    return hr;
}

bool SimCamTable::Exists(ULONG device)
{
    return IsOpen() && device < VIREO_SIM_MAX_DEVICES &&
           SimCamLock(m_block)->Device(device).InTable();
}

// The category entry of device added or removed, and the device message
// when message is true.
HRESULT SimCamTable::ChangeCategory(ULONG device, bool add, bool message)
{
    WCHAR name[VIREO_SIM_NAME_CAPACITY];
    lstrcpynW(name, SimCamLock(m_block)->Device(device).Name(), ARRAYSIZE(name));
    const HRESULT hr = RegisterDevice(device, add ? name : NULL, add);
    if (message)
        BroadcastDeviceChange(device, add);
    return hr;
}

HRESULT SimCamTable::Unplug(ULONG device)
{
    {
        SimCamLock lock(m_block);
        SimCamDevice &d = lock->Device(device);
        if (!d.InTable())
            return E_INVALIDARG;
        if (d.Unplugged())
            return S_FALSE;
        d.SetPlugged(false);
        lock->SaveTable();
    }
    return ChangeCategory(device, false, true);
}

HRESULT SimCamTable::Plug(ULONG device)
{
    {
        SimCamLock lock(m_block);
        const SimCamDevice &d = lock->Device(device);
        if (!d.InTable())
            return E_INVALIDARG;
        if (!d.Unplugged())
            return S_FALSE;
    }
    const HRESULT hr = ChangeCategory(device, true, false);
    {
        SimCamLock lock(m_block);
        lock->Device(device).SetPlugged(true);
        lock->SaveTable();
    }
    BroadcastDeviceChange(device, true);
    return hr;
}

HRESULT SimCamTable::PowerCycle(ULONG device)
{
    SimCamLock lock(m_block);
    if (!lock->Device(device).InTable())
        return E_INVALIDARG;
    lock->Device(device).PowerUp();
    lock->SaveTable();
    return S_OK;
}

void SimCamTable::SetNotReady(ULONG device, ULONG ms)
{
    SimCamLock lock(m_block);
    lock->Device(device).SetNotReady(ms);
    lock->SaveTable();
}

HRESULT SimCamTable::Reset(ULONG device)
{
    const HRESULT hr = Plug(device);  // plugging in gives the factory controls
    if (FAILED(hr))
        return hr;
    SimCamLock lock(m_block);
    lock->Device(device).Reset();
    lock->SaveTable();
    return S_OK;
}

int SimCamTable::Add(const WCHAR *name)
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
    const ULONG device = static_cast<ULONG>(index);
    if (FAILED(RegisterDevice(device, name, true))) {
        SimCamLock lock(m_block);
        lock->Device(device).Leave();
        lock->SaveTable();
        return -1;
    }
    BroadcastDeviceChange(device, true);
    return index;
}

HRESULT SimCamTable::Remove(ULONG device)
{
    bool plugged;
    {
        SimCamLock lock(m_block);
        SimCamDevice &d = lock->Device(device);
        if (device == 0 || !d.InTable())
            return E_INVALIDARG;
        plugged = d.Plugged();
        d.Leave();
        lock->SaveTable();
    }
    return ChangeCategory(device, false, plugged);
}

std::vector<SimCamDeviceInfo> SimCamTable::Devices()
{
    std::vector<SimCamDeviceInfo> out;
    SimCamLock lock(m_block);
    for (ULONG i = 0; i < VIREO_SIM_MAX_DEVICES; ++i) {
        const SimCamDevice &d = lock->Device(i);
        if (d.InTable())
            out.push_back({i, d.Name(), SimCamDevicePath(i), !d.Unplugged()});
    }
    return out;
}
