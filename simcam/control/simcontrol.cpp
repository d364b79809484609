#include "simcontrol.h"

#include <dshow.h>
#include <oleauto.h>

#include <string.h>

static const ULONG kSharedMagic = 0x56534D43;  // "CMSV"

SimCamBlock::SimCamBlock() : m_mapping(NULL), m_mutex(NULL), m_shared(NULL) {}

SimCamBlock::~SimCamBlock()
{
    if (m_shared)
        UnmapViewOfFile(m_shared);
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
    m_mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, size,
                                   SIMCAM_SHARED_NAME);
    if (!m_mapping)
        return false;
    m_shared = static_cast<SimCamShared *>(MapViewOfFile(m_mapping, FILE_MAP_ALL_ACCESS, 0, 0, size));
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

void SimCamRecordEvent(SimCamShared *shared, ULONG kind, ULONG filterId, ULONG state,
                       ULONG graphRefs)
{
    SimEvent &e = shared->events[shared->eventCount % SIM_EVENT_CAPACITY];
    e.kind = kind;
    e.processId = GetCurrentProcessId();
    e.filterId = filterId;
    e.state = state;
    e.graphRefs = graphRefs;
    ++shared->eventCount;
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
    s->refuseSetFormat = 0;
    s->refuseResult = E_FAIL;
    s->zeroImageSize = 0;
    s->noStreamConfig = 0;
    s->refuseConnection = 0;
    s->cutFormatBlock = 0;
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

void SimCamControl::AddFault(ULONG property, ULONG controlId, ULONG kind, HRESULT result, LONG count)
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
    IPropertyBag *bag = NULL;
    if (FAILED(moniker->BindToStorage(NULL, NULL, IID_IPropertyBag, reinterpret_cast<void **>(&bag))))
        return false;
    VARIANT v;
    VariantInit(&v);
    const bool ours = SUCCEEDED(bag->Read(L"FriendlyName", &v, NULL)) && v.vt == VT_BSTR &&
                      lstrcmpW(v.bstrVal, SIMCAM_FRIENDLY_NAME) == 0;
    VariantClear(&v);
    bag->Release();
    return ours;
}

IBaseFilter *SimCamBindFilter()
{
    IBaseFilter *filter = NULL;
    ICreateDevEnum *devices = NULL;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                reinterpret_cast<void **>(&devices))))
        return NULL;
    IEnumMoniker *monikers = NULL;
    if (devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) == S_OK && monikers) {
        IMoniker *moniker = NULL;
        while (!filter && monikers->Next(1, &moniker, NULL) == S_OK) {
            if (SimCamMonikerIsOurs(moniker))
                moniker->BindToObject(NULL, NULL, IID_IBaseFilter, reinterpret_cast<void **>(&filter));
            moniker->Release();
        }
        monikers->Release();
    }
    devices->Release();
    return filter;
}
