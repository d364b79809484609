#include "simshared.h"

#include <oleauto.h>
#include <stddef.h>
#include <string.h>

static const ULONG kSharedMagic = 0x56534D43;  // "CMSV"

namespace {

LONGLONG SystemTimeNow()
{
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return static_cast<LONGLONG>((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) |
                                 ft.dwLowDateTime);
}

bool ProcessAlive(ULONG pid)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process)
        return false;
    const bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return alive;
}

}  // namespace

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
    for (ULONG i = 0; path && i < VIREO_SIM_MAX_DEVICES; ++i)
        if (lstrcmpiW(SimCamDevicePath(i).c_str(), path) == 0)
            return static_cast<int>(i);
    return -1;
}

bool SimCamBagString(IPropertyBag *bag, const WCHAR *name, IErrorLog *log, std::wstring *value)
{
    VARIANT v;
    VariantInit(&v);
    const bool found = SUCCEEDED(bag->Read(name, &v, log)) && v.vt == VT_BSTR;
    if (found)
        *value = v.bstrVal ? v.bstrVal : L"";
    VariantClear(&v);
    return found;
}

int SimCamBagDevice(IPropertyBag *bag, IErrorLog *log, int missing)
{
    std::wstring path;
    return SimCamBagString(bag, L"DevicePath", log, &path) ? SimCamDeviceOfPath(path.c_str())
                                                           : missing;
}

void SimMediaRecord::Take(const AM_MEDIA_TYPE *mt)
{
    memset(this, 0, sizeof(*this));
    if (!mt)
        return;
    given = 1;
    majortype = mt->majortype;
    subtype = mt->subtype;
    formattype = mt->formattype;
    cbFormat = mt->cbFormat;
    hasBlock = mt->pbFormat != NULL;
    if (mt->pbFormat)
        memcpy(&vih, mt->pbFormat, mt->cbFormat < sizeof(vih) ? mt->cbFormat : sizeof(vih));
}

// The device.

void SimCamDevice::Take(ULONG serial, const WCHAR *name)
{
    memset(this, 0, offsetof(SimCamDevice, m_driver));
    m_inTable = 1;
    m_serial = serial;
    lstrcpynW(m_name, name, ARRAYSIZE(m_name));
    Driver().Reset();
}

void SimCamDevice::Leave()
{
    m_inTable = 0;
    m_unplugged = 1;  // for the filters it leaves behind
}

bool SimCamDevice::GoneFor(ULONG serial) const
{
    return !m_inTable || m_serial != serial || m_unplugged;
}

HRESULT SimCamDevice::RequestRefusal(ULONG serial)
{
    if (GoneFor(serial)) {
        ++m_refusedRequests;
        return VIREO_SIM_E_DEVICE_GONE;
    }
    return NotReady() ? VIREO_SIM_E_NOT_READY : S_OK;
}

bool SimCamDevice::BusyFor(ULONG filterId) const
{
    return m_busy || (m_ownerFilter && m_ownerFilter != filterId && ProcessAlive(m_ownerProcess));
}

void SimCamDevice::Claim(ULONG filterId)
{
    m_ownerFilter = filterId;
    m_ownerProcess = GetCurrentProcessId();
}

void SimCamDevice::Unclaim(ULONG filterId)
{
    if (m_ownerFilter == filterId && m_ownerProcess == GetCurrentProcessId())
        m_ownerFilter = 0;
}

void SimCamDevice::SetPlugged(bool plugged)
{
    m_unplugged = plugged ? 0 : 1;
    if (plugged)
        PowerUp();
    else
        Driver().ResetControls();  // without power the camera forgets its settings
}

void SimCamDevice::PowerUp()
{
    Driver().ResetControls();
    m_notReadyUntil = m_notReadyMs ? SystemTimeNow() + LONGLONG(m_notReadyMs) * 10000 : 0;
}

void SimCamDevice::SetNotReady(ULONG ms)
{
    m_notReadyMs = ms;
    m_notReadyUntil = ms ? SystemTimeNow() + LONGLONG(ms) * 10000 : 0;
}

bool SimCamDevice::NotReady() const
{
    return m_notReadyUntil && SystemTimeNow() < m_notReadyUntil;
}

void SimCamDevice::Reset()
{
    Driver().Reset();
    m_unplugged = 0;
    m_busy = 0;
    m_refusedRequests = 0;
    m_notReadyMs = 0;
    m_notReadyUntil = 0;
}

void SimCamDevice::Install()
{
    m_unplugged = 0;
    m_notReadyMs = 0;
    m_notReadyUntil = 0;
    Driver().ResetControls();
}

// The block.

void SimCamShared::LayOut()
{
    memset(this, 0, sizeof(*this));
    m_size = sizeof(*this);
    m_refuseResult = E_FAIL;
    LoadTable();
    m_magic = kSharedMagic;
}

bool SimCamShared::LaidOut() const
{
    return m_magic == kSharedMagic && m_size == sizeof(*this);
}

bool SimCamShared::AnyPlugged() const
{
    for (const SimCamDevice &d : m_devices)
        if (d.Plugged())
            return true;
    return false;
}

int SimCamShared::FreeSlot() const
{
    for (ULONG i = 0; i < VIREO_SIM_MAX_DEVICES; ++i)
        if (!m_devices[i].InTable())
            return static_cast<int>(i);
    return -1;
}

void SimCamShared::Install()
{
    for (ULONG i = 1; i < VIREO_SIM_MAX_DEVICES; ++i)
        m_devices[i].Leave();
    m_devices[0].Install();
    SaveTable();
}

void SimCamShared::Reset()
{
    for (SimCamDevice &d : m_devices)
        if (d.InTable())
            d.Reset();
    SaveTable();
    m_refuseSetFormat = 0;
    m_refuseResult = E_FAIL;
    memset(m_switches, 0, sizeof(m_switches));
    m_capsRecordSize = 0;
    m_capsCount = 0;
    m_framesDelivered = 0;
    m_eventCount = 0;
}

bool SimCamShared::SetFormatRefused(HRESULT *result) const
{
    *result = m_refuseResult;
    return m_refuseSetFormat != 0;
}

void SimCamShared::RefuseSetFormat(bool refuse, HRESULT result)
{
    m_refuseSetFormat = refuse ? 1 : 0;
    m_refuseResult = result;
}

void SimCamShared::SetCapabilities(const LONG *entries, size_t count)
{
    m_capsCount = 0;
    for (size_t i = 0; i < count && i < SIM_CAPS_CAPACITY; ++i)
        m_capsLayout[m_capsCount++] = entries[i];
}

ULONG SimCamShared::FilterCreated()
{
    ++m_filtersAlive;
    return static_cast<ULONG>(++m_nextFilterId);
}

SimEvent &SimCamShared::RecordEvent(ULONG kind, ULONG filterId, ULONG state, ULONG graphRefs)
{
    SimEvent &e = m_events[m_eventCount % SIM_EVENT_CAPACITY];
    memset(&e, 0, sizeof(e));
    e.kind = kind;
    e.processId = GetCurrentProcessId();
    e.filterId = filterId;
    e.state = state;
    e.graphRefs = graphRefs;
    ++m_eventCount;
    return e;
}

void SimCamShared::SetCreatedDevice(ULONG filterId, ULONG device)
{
    for (LONG n = m_eventCount - 1; n >= 0 && n + SIM_EVENT_CAPACITY >= m_eventCount; --n) {
        SimEvent &e = m_events[n % SIM_EVENT_CAPACITY];
        if (e.kind == SIM_EVENT_CREATE && e.filterId == filterId) {
            e.device = device;
            return;
        }
    }
}

void SimCamShared::PublishFormat(LONG width, LONG height)
{
    m_formatWidth = width;
    m_formatHeight = height;
}

bool SimCamShared::CurrentFormat(LONG *width, LONG *height) const
{
    if (width)
        *width = m_formatWidth;
    if (height)
        *height = m_formatHeight;
    return m_formatWidth != 0;
}

// The mapping and its mutex.

SimCamBlock::Hold::Hold(HANDLE mutex) : m_mutex(mutex)
{
    // An abandoned mutex (its holder died) is ours all the same.
    WaitForSingleObject(m_mutex, INFINITE);
}

SimCamBlock::Hold::~Hold()
{
    ReleaseMutex(m_mutex);
}

SimCamBlock::~SimCamBlock()
{
    if (m_state) {
        SimCamLock(*this)->SaveTable();
        UnmapViewOfFile(m_state);
    }
    if (m_mapping)
        CloseHandle(m_mapping);
    if (m_mutex)
        CloseHandle(m_mutex);
}

bool SimCamBlock::Open()
{
    if (m_state)
        return true;
    m_mutex = CreateMutexW(NULL, FALSE, SIMCAM_MUTEX_NAME);
    if (!m_mutex)
        return false;
    const DWORD size = sizeof(SimCamShared);
    m_mapping =
        CreateFileMappingW(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, size, SIMCAM_SHARED_NAME);
    if (!m_mapping)
        return false;
    m_state =
        static_cast<SimCamShared *>(MapViewOfFile(m_mapping, FILE_MAP_ALL_ACCESS, 0, 0, size));
    if (!m_state)
        return false;

    // A new mapping is zero-filled: the first opener lays out the block.
    SimCamLock lock(*this);
    if (!lock->LaidOut())
        lock->LayOut();
    return true;
}
