#include "simcontrol.h"

#include <dshow.h>
#include <oleauto.h>
#include <stdio.h>

using Microsoft::WRL::ComPtr;

SimCamControl::SimCamControl(ULONG device)
    : m_device(device < VIREO_SIM_MAX_DEVICES ? device : VIREO_SIM_MAX_DEVICES - 1),
      m_inRange(device < VIREO_SIM_MAX_DEVICES)
{
}

bool SimCamControl::Exists()
{
    return m_table.Exists(m_device);
}

void SimCamControl::Reset()
{
    if (IsOpen())
        SimCamLock(Block())->Reset();
}

SimCamDriverLock SimCamControl::LockDriver()
{
    return SimCamDriverLock(Block(), m_device);
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
    for (LONG i = count > VIREO_SIM_LOG_CAPACITY ? count - VIREO_SIM_LOG_CAPACITY : 0; i < count;
         ++i)
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
    SimCamLock(Block())->RefuseSetFormat(refuse, result);
}

void SimCamControl::SetSwitch(SimSwitch which, bool on)
{
    SimCamLock(Block())->SetSwitch(which, on);
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
    SimCamLock(Block())->SetCapsRecordSize(size);
}

void SimCamControl::SetCapabilities(const std::vector<LONG> &entries)
{
    SimCamLock(Block())->SetCapabilities(entries.data(), entries.size());
}

HRESULT SimCamControl::Unplug()
{
    return m_table.Unplug(m_device);
}

HRESULT SimCamControl::Plug()
{
    return m_table.Plug(m_device);
}

bool SimCamControl::Unplugged()
{
    SimCamLock lock(Block());
    return Dev(lock).Unplugged();
}

HRESULT SimCamControl::PowerCycle()
{
    return m_table.PowerCycle(m_device);
}

void SimCamControl::SetNotReady(ULONG ms)
{
    m_table.SetNotReady(m_device, ms);
}

bool SimCamControl::NotReady()
{
    SimCamLock lock(Block());
    return Dev(lock).NotReady();
}

LONG SimCamControl::RefusedRequests()
{
    SimCamLock lock(Block());
    return Dev(lock).RefusedRequests();
}

void SimCamControl::SetBusy(bool busy)
{
    SimCamLock lock(Block());
    Dev(lock).SetBusy(busy);
}

ULONG SimCamControl::OwnerProcess()
{
    SimCamLock lock(Block());
    return Dev(lock).OwnerProcess();
}

int SimCamControl::AddDevice(const WCHAR *name)
{
    return m_table.Add(name);
}

HRESULT SimCamControl::RemoveDevice()
{
    return m_table.Remove(m_device);
}

std::vector<SimCamDeviceInfo> SimCamControl::Devices()
{
    return m_table.Devices();
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
    SimCamLock lock(Block());
    const LONG count = lock->EventCount();
    for (LONG i = count > SIM_EVENT_CAPACITY ? count - SIM_EVENT_CAPACITY : 0; i < count; ++i)
        out.push_back(lock->Event(i));
    return out;
}

LONG SimCamControl::FramesDelivered()
{
    return SimCamLock(Block())->FramesDelivered();
}

bool SimCamControl::CurrentFormat(LONG *width, LONG *height)
{
    return SimCamLock(Block())->CurrentFormat(width, height);
}

LONG SimCamControl::FiltersAlive()
{
    return SimCamLock(Block())->FiltersAlive();
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

void SimDescribeRequest(const SimRequest &r, char *text, size_t size)
{
    const VireoSimRequest d = SimDecodeRequest(r);
    const bool control = d.property == (d.kind == SET_ENABLE ? VALUE20H : VALUE10H);
    const char *const kinds[] = {"GE", "SD", "GD", "SE"};
    const unsigned long id = d.controlId;
    if (!control || d.kind > SET_ENABLE || d.isSet != (d.kind == SET_DATA || d.kind == SET_ENABLE))
        snprintf(text, size, "? set=%lu property=%lu", static_cast<unsigned long>(r.isSet),
                 static_cast<unsigned long>(r.property));
    else if (d.isSet)
        snprintf(text, size, "%s %lu=%ld", kinds[d.kind], id, static_cast<long>(d.value));
    else
        snprintf(text, size, "%s %lu", kinds[d.kind], id);
}
