#include "simcontrol.h"

#include <dshow.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <dbt.h>
#include <stddef.h>
#include <string.h>

#include "handles.h"

static const ULONG kSharedMagic = 0x56534D43;  // "CMSV"

SimCamBlock::SimCamBlock() : m_mapping(NULL), m_mutex(NULL), m_shared(NULL)
{
}

namespace {

struct SavedValue {
    ULONG id;
    LONG value;
};

// The device table in the registry (SIMCAM_SETTINGS_KEY): the one place
// that reads and writes it. The caller holds the block's lock.
class TableStore {
public:
    // Leaves every device of the table, and removes the keys of free slots.
    static void Save(const SimCamShared *shared)
    {
        for (ULONG i = 0; i < SIMCAM_MAX_DEVICES; ++i) {
            const SimCamDevice &d = shared->devices[i];
            WCHAR path[96];
            KeyPath(i, path);
            if (!d.inTable) {
                RegDeleteTreeW(HKEY_CURRENT_USER, path);
                continue;
            }
            RegKey key;
            if (RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, NULL, 0, KEY_SET_VALUE, NULL, key.Put(),
                                NULL) != ERROR_SUCCESS)
                continue;
            RegSetValueExW(key.Get(), L"Name", 0, REG_SZ, reinterpret_cast<const BYTE *>(d.name),
                           static_cast<DWORD>((lstrlenW(d.name) + 1) * sizeof(WCHAR)));
            SetOrDelete(key.Get(), L"Unplugged", REG_DWORD, d.unplugged ? 1u : 0u);
            SetOrDelete(key.Get(), L"NotReady", REG_DWORD, d.notReadyMs);
            SetOrDelete(key.Get(), L"NotReadyUntil", REG_QWORD,
                        static_cast<ULONGLONG>(d.notReadyUntil));
            SaveValues(key.Get(), d.driver);
        }
    }

    // Takes up the table a process left; slots without a key stay free,
    // device 0 is there in any case.
    static void Load(SimCamShared *shared)
    {
        for (ULONG i = 0; i < SIMCAM_MAX_DEVICES; ++i) {
            SimCamDevice &d = shared->devices[i];
            WCHAR path[96];
            KeyPath(i, path);
            RegKey key;
            const bool stored = RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_QUERY_VALUE,
                                              key.Put()) == ERROR_SUCCESS;
            if (!stored && i != 0)
                continue;
            SimCamTakeSlot(shared, i, SIMCAM_FRIENDLY_NAME);
            if (!stored)
                continue;
            DWORD size = sizeof(d.name);
            if (RegGetValueW(key.Get(), NULL, L"Name", RRF_RT_REG_SZ, NULL, d.name, &size) !=
                ERROR_SUCCESS)
                lstrcpynW(d.name, SIMCAM_FRIENDLY_NAME, ARRAYSIZE(d.name));
            d.unplugged = Number(key.Get(), L"Unplugged", RRF_RT_REG_DWORD) != 0;
            d.notReadyMs = static_cast<ULONG>(Number(key.Get(), L"NotReady", RRF_RT_REG_DWORD));
            d.notReadyUntil =
                static_cast<LONGLONG>(Number(key.Get(), L"NotReadyUntil", RRF_RT_REG_QWORD));
            SavedValue saved[CAMERA_CONTROL_COUNT];
            size = sizeof(saved);
            if (RegGetValueW(key.Get(), NULL, L"Values", RRF_RT_REG_BINARY, NULL, saved, &size) ==
                ERROR_SUCCESS) {
                SimDriver driver(&d.driver);
                for (DWORD v = 0; v < size / sizeof(saved[0]); ++v)
                    driver.SetValue(saved[v].id, saved[v].value);
            }
        }
    }

private:
    static void KeyPath(ULONG index, WCHAR *path)
    {
        wsprintfW(path, L"%s\\Device %lu", SIMCAM_SETTINGS_KEY, index);
    }

    static void SetOrDelete(HKEY key, const WCHAR *name, DWORD type, ULONGLONG value)
    {
        if (!value) {
            RegDeleteValueW(key, name);
            return;
        }
        const DWORD dword = static_cast<DWORD>(value);
        RegSetValueExW(key, name, 0, type,
                       type == REG_DWORD ? reinterpret_cast<const BYTE *>(&dword)
                                         : reinterpret_cast<const BYTE *>(&value),
                       type == REG_DWORD ? sizeof(dword) : sizeof(value));
    }

    static ULONGLONG Number(HKEY key, const WCHAR *name, DWORD flags)
    {
        ULONGLONG value = 0;
        DWORD size = sizeof(value);
        if (RegGetValueW(key, NULL, name, flags, NULL, &value, &size) != ERROR_SUCCESS)
            return 0;
        return size == sizeof(DWORD) ? static_cast<DWORD>(value) : value;
    }

    // The control values, none while every one is at its factory value.
    static void SaveValues(HKEY key, const SimDriverState &state)
    {
        SavedValue saved[CAMERA_CONTROL_COUNT];
        bool factory = true;
        for (int i = 0; i < CAMERA_CONTROL_COUNT; ++i) {
            saved[i].id = state.controls[i].id;
            saved[i].value = state.controls[i].value;
            factory = factory && saved[i].value == SimDriver::FactoryValue(saved[i].id);
        }
        if (factory)
            RegDeleteValueW(key, L"Values");
        else
            RegSetValueExW(key, L"Values", 0, REG_BINARY, reinterpret_cast<const BYTE *>(saved),
                           sizeof(saved));
    }
};

LONGLONG SystemTimeNow()
{
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return static_cast<LONGLONG>((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) |
                                 ft.dwLowDateTime);
}

// The camera comes back from no power: factory values, and a not-ready time
// when one is set.
void PowerUp(SimCamDevice &d)
{
    SimDriver(&d.driver).ResetControls();
    d.notReadyUntil = d.notReadyMs ? SystemTimeNow() + LONGLONG(d.notReadyMs) * 10000 : 0;
}

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

void SimCamTakeSlot(SimCamShared *shared, ULONG index, const WCHAR *name)
{
    SimCamDevice &d = shared->devices[index];
    memset(&d, 0, offsetof(SimCamDevice, driver));
    d.inTable = 1;
    d.serial = ++shared->nextSerial;
    lstrcpynW(d.name, name, ARRAYSIZE(d.name));
    SimDriver(&d.driver).Reset();
}

std::wstring SimCamDevicePath(ULONG index, REFGUID interfaceClass)
{
    WCHAR guid[40], path[160];
    StringFromGUID2(interfaceClass, guid, ARRAYSIZE(guid));
    CharLowerW(guid);
    wsprintfW(path, L"\\\\?\\usb#vid_2e9a&pid_0b01&mi_00#7&2f1c0a1&0&%04lu#%s\\global", index,
              guid);
    return path;
}

int SimCamDeviceOfPath(const WCHAR *path)
{
    for (ULONG i = 0; path && i < SIMCAM_MAX_DEVICES; ++i)
        if (lstrcmpiW(SimCamDevicePath(i).c_str(), path) == 0)
            return static_cast<int>(i);
    return -1;
}

SimCamBlock::~SimCamBlock()
{
    if (m_shared) {
        Lock();
        TableStore::Save(m_shared);
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
        TableStore::Load(m_shared);
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
    {
        SimCamLock lock(block);
        SimCamShared *s = block.Shared();
        for (ULONG i = 1; i < SIMCAM_MAX_DEVICES; ++i) {
            s->devices[i].inTable = 0;
            s->devices[i].unplugged = 1;  // for the filters it leaves behind
        }
        SimCamDevice &first = s->devices[0];
        first.unplugged = 0;
        first.notReadyMs = 0;
        first.notReadyUntil = 0;
        SimDriver(&first.driver).ResetControls();
        TableStore::Save(s);
    }
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
    return Dev().inTable != 0;
}

void SimCamControl::Reset()
{
    if (!IsOpen())
        return;
    SimCamLock lock(m_block);
    SimCamShared *s = m_block.Shared();
    for (SimCamDevice &d : s->devices) {
        if (!d.inTable)
            continue;
        SimDriver(&d.driver).Reset();
        d.unplugged = 0;
        d.busy = 0;
        d.refusedRequests = 0;
        d.notReadyMs = 0;
        d.notReadyUntil = 0;
    }
    TableStore::Save(s);
    s->refuseSetFormat = 0;
    s->refuseResult = E_FAIL;
    s->zeroImageSize = 0;
    s->noStreamConfig = 0;
    s->refuseConnection = 0;
    s->cutFormatBlock = 0;
    s->capsRecordSize = 0;
    s->capsCount = 0;
    s->framesDelivered = 0;
    s->eventCount = 0;
}

SimDriver SimCamControl::LockDriver()
{
    m_block.Lock();
    return SimDriver(&Dev().driver);
}

void SimCamControl::UnlockDriver()
{
    m_block.Unlock();
}

LONG SimCamControl::Value(ULONG id)
{
    SimCamLock lock(m_block);
    return SimDriver(&Dev().driver).Value(id);
}

void SimCamControl::SetValue(ULONG id, LONG value)
{
    SimCamLock lock(m_block);
    SimDriver(&Dev().driver).SetValue(id, value);
}

bool SimCamControl::GetControl(ULONG id, SimControl *out)
{
    SimCamLock lock(m_block);
    SimControl *c = SimDriver(&Dev().driver).Control(id);
    if (c && out)
        *out = *c;
    return c != NULL;
}

void SimCamControl::SetPresent(ULONG id, bool present)
{
    SimCamLock lock(m_block);
    SimDriver(&Dev().driver).SetPresent(id, present);
}

void SimCamControl::SetRange(ULONG id, LONG minValue, LONG maxValue)
{
    SimCamLock lock(m_block);
    SimDriver(&Dev().driver).SetRange(id, minValue, maxValue);
}

void SimCamControl::SetShortReply(ULONG bytes)
{
    SimCamLock lock(m_block);
    Dev().driver.shortReply = bytes;
}

void SimCamControl::AddFault(ULONG property, ULONG controlId, ULONG kind, HRESULT result,
                             LONG count)
{
    SimCamLock lock(m_block);
    SimDriver(&Dev().driver).AddFault(property, controlId, kind, result, count);
}

void SimCamControl::ClearFaults()
{
    SimCamLock lock(m_block);
    SimDriver(&Dev().driver).ClearFaults();
}

LONG SimCamControl::LogCount()
{
    SimCamLock lock(m_block);
    return SimDriver(&Dev().driver).LogCount();
}

std::vector<SimRequest> SimCamControl::Log()
{
    std::vector<SimRequest> out;
    SimCamLock lock(m_block);
    SimDriver driver(&Dev().driver);
    const LONG count = driver.LogCount();
    for (LONG i = count > SIM_LOG_CAPACITY ? count - SIM_LOG_CAPACITY : 0; i < count; ++i)
        if (const SimRequest *r = driver.LogEntry(i))
            out.push_back(*r);
    return out;
}

void SimCamControl::ClearLog()
{
    SimCamLock lock(m_block);
    SimDriver(&Dev().driver).ClearLog();
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
    WCHAR name[SIMCAM_NAME_CAPACITY];
    {
        SimCamLock lock(m_block);
        SimCamDevice &d = Dev();
        if (!d.inTable)
            return E_INVALIDARG;
        if (d.unplugged)
            return S_FALSE;
        d.unplugged = 1;
        // Without power the camera forgets its settings.
        SimDriver(&d.driver).ResetControls();
        TableStore::Save(m_block.Shared());
        lstrcpynW(name, d.name, ARRAYSIZE(name));
    }
    const HRESULT hr = SimCamRegisterDevice(m_device, name, false);
    BroadcastDeviceChange(m_device, false);
    return hr;
}

HRESULT SimCamControl::Plug()
{
    WCHAR name[SIMCAM_NAME_CAPACITY];
    {
        SimCamLock lock(m_block);
        SimCamDevice &d = Dev();
        if (!d.inTable)
            return E_INVALIDARG;
        if (!d.unplugged)
            return S_FALSE;
        lstrcpynW(name, d.name, ARRAYSIZE(name));
    }
    const HRESULT hr = SimCamRegisterDevice(m_device, name, true);
    {
        SimCamLock lock(m_block);
        SimCamDevice &d = Dev();
        d.unplugged = 0;
        PowerUp(d);
        TableStore::Save(m_block.Shared());
    }
    BroadcastDeviceChange(m_device, true);
    return hr;
}

bool SimCamControl::Unplugged()
{
    SimCamLock lock(m_block);
    return Dev().unplugged != 0;
}

HRESULT SimCamControl::PowerCycle()
{
    SimCamLock lock(m_block);
    if (!Dev().inTable)
        return E_INVALIDARG;
    PowerUp(Dev());
    TableStore::Save(m_block.Shared());
    return S_OK;
}

void SimCamControl::SetNotReady(ULONG ms)
{
    SimCamLock lock(m_block);
    SimCamDevice &d = Dev();
    d.notReadyMs = ms;
    d.notReadyUntil = ms ? SystemTimeNow() + LONGLONG(ms) * 10000 : 0;
    TableStore::Save(m_block.Shared());
}

bool SimCamControl::NotReady()
{
    SimCamLock lock(m_block);
    return SimCamDeviceNotReady(Dev());
}

bool SimCamDeviceNotReady(const SimCamDevice &device)
{
    return device.notReadyUntil && SystemTimeNow() < device.notReadyUntil;
}

LONG SimCamControl::RefusedRequests()
{
    SimCamLock lock(m_block);
    return Dev().refusedRequests;
}

void SimCamControl::SetBusy(bool busy)
{
    SimCamLock lock(m_block);
    Dev().busy = busy ? 1 : 0;
}

ULONG SimCamControl::OwnerProcess()
{
    SimCamLock lock(m_block);
    return Dev().ownerFilter ? Dev().ownerProcess : 0;
}

int SimCamControl::AddDevice(const WCHAR *name)
{
    if (!IsOpen() || !name || !name[0])
        return -1;
    ULONG index = 0;
    {
        SimCamLock lock(m_block);
        SimCamShared *s = m_block.Shared();
        while (index < SIMCAM_MAX_DEVICES && s->devices[index].inTable)
            ++index;
        if (index == SIMCAM_MAX_DEVICES)
            return -1;
        SimCamTakeSlot(s, index, name);
        TableStore::Save(s);
    }
    if (FAILED(SimCamRegisterDevice(index, name, true))) {
        SimCamLock lock(m_block);
        m_block.Shared()->devices[index].inTable = 0;
        TableStore::Save(m_block.Shared());
        return -1;
    }
    BroadcastDeviceChange(index, true);
    return static_cast<int>(index);
}

HRESULT SimCamControl::RemoveDevice()
{
    bool plugged;
    {
        SimCamLock lock(m_block);
        SimCamDevice &d = Dev();
        if (m_device == 0 || !d.inTable)
            return E_INVALIDARG;
        plugged = !d.unplugged;
        d.inTable = 0;
        d.unplugged = 1;  // for the filters it leaves behind
        TableStore::Save(m_block.Shared());
    }
    const HRESULT hr = SimCamRegisterDevice(m_device, NULL, false);
    if (plugged)
        BroadcastDeviceChange(m_device, false);
    return hr;
}

std::vector<SimCamDeviceInfo> SimCamControl::Devices()
{
    std::vector<SimCamDeviceInfo> out;
    SimCamLock lock(m_block);
    for (ULONG i = 0; i < SIMCAM_MAX_DEVICES; ++i) {
        const SimCamDevice &d = m_block.Shared()->devices[i];
        if (d.inTable)
            out.push_back({i, d.name, SimCamDevicePath(i), d.unplugged == 0});
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

int SimCamMonikerDevice(IMoniker *moniker)
{
    Microsoft::WRL::ComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(NULL, NULL, IID_IPropertyBag,
                                      reinterpret_cast<void **>(bag.GetAddressOf()))))
        return -1;
    VARIANT v;
    VariantInit(&v);
    const int device = SUCCEEDED(bag->Read(L"DevicePath", &v, NULL)) && v.vt == VT_BSTR
                           ? SimCamDeviceOfPath(v.bstrVal)
                           : -1;
    VariantClear(&v);
    return device;
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
