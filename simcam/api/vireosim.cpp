// vireosim.cpp - the simulated camera's library for applications
// (vireosim.h): a C face over the device table (SimCamTable) and each
// device's driver in the shared block. No exception leaves it.
#include "vireosim.h"

#include <string.h>
#include <wchar.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "comclass.h"
#include "table.h"

struct VireoSim {
    explicit VireoSim(ULONG device) : index(device) {}
    const ULONG index;
    SimCamTable table;

    // call(SimCamDevice &) with the block's lock held.
    template <typename Call> HRESULT Locked(Call call)
    {
        SimCamLock lock(table.Block());
        return call(lock->Device(index));
    }
    // call(SimDriver &) on the device's driver, with the lock held.
    template <typename Call> HRESULT OnDriver(Call call)
    {
        return Locked([&](SimCamDevice &device) {
            SimDriver driver = device.Driver();
            return call(driver);
        });
    }
};

namespace {

// Runs a call that may allocate: out of memory is a result like another.
template <typename Call> HRESULT Guarded(Call call)
{
    try {
        return call();
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }
}

bool KnownControl(ULONG id)
{
    return CameraControlName(id) != NULL;
}

// Whether programs of this width can create the simulated camera's filter:
// the class is registered in this program's registry view.
bool Registered()
{
    return ComClassRegistered(CLSID_SimCamFilter);
}

HRESULT OpenDevice(unsigned index, VireoSim **sim)
{
    if (!Registered())
        return VIREO_SIM_E_NOT_REGISTERED;
    if (index >= VIREO_SIM_MAX_DEVICES)
        return VIREO_SIM_E_NO_SUCH_DEVICE;
    std::unique_ptr<VireoSim> opened(new (std::nothrow) VireoSim(index));
    if (!opened)
        return E_OUTOFMEMORY;
    if (!opened->table.IsOpen())
        return VIREO_SIM_E_UNAVAILABLE;
    if (!opened->table.Exists(index))
        return VIREO_SIM_E_NO_SUCH_DEVICE;
    *sim = opened.release();
    return S_OK;
}

HRESULT AddDevice(const wchar_t *name, VireoSim **sim)
{
    const size_t length = wcslen(name);
    if (length == 0 || length >= VIREO_SIM_NAME_CAPACITY)
        return E_INVALIDARG;
    if (!Registered())
        return VIREO_SIM_E_NOT_REGISTERED;
    SimCamTable table;
    if (!table.IsOpen())
        return VIREO_SIM_E_UNAVAILABLE;
    const int index = table.Add(name);
    if (index < 0)
        return table.Devices().size() >= VIREO_SIM_MAX_DEVICES ? VIREO_SIM_E_TABLE_FULL : E_FAIL;
    return OpenDevice(static_cast<unsigned>(index), sim);
}

// A call on the handle's device, while it is in the table.
template <typename Call> HRESULT OnDevice(VireoSim *sim, Call call)
{
    if (!sim)
        return E_POINTER;
    return Guarded([&]() -> HRESULT {
        if (!sim->table.Exists(sim->index))
            return VIREO_SIM_E_NO_SUCH_DEVICE;
        return call(*sim);
    });
}

// A call on the device's driver.
template <typename Call> HRESULT OnDriverOf(VireoSim *sim, Call call)
{
    return OnDevice(sim, [&](VireoSim &device) { return device.OnDriver(call); });
}

// The same for a call on one of the device's controls, given its driver.
template <typename Call> HRESULT OnControl(VireoSim *sim, ULONG id, Call call)
{
    return OnDevice(sim, [&](VireoSim &device) -> HRESULT {
        return KnownControl(id) ? device.OnDriver(call) : VIREO_SIM_E_UNKNOWN_CONTROL;
    });
}

// The property of CameraPropertySet that carries requests of kind.
ULONG PropertyOfKind(ULONG kind)
{
    if (kind == VIREO_SIM_ANY)
        return VIREO_SIM_ANY;
    return kind == SET_ENABLE ? VALUE20H : VALUE10H;
}

// Requests first on, up to capacity, read under one lock: the count and
// the ring agree.
HRESULT ReadLog(SimDriver &driver, LONG first, VireoSimRequest *requests, unsigned capacity,
                unsigned *read)
{
    const LONG count = driver.LogCount();
    LONG n = count > VIREO_SIM_LOG_CAPACITY ? count - VIREO_SIM_LOG_CAPACITY : 0;
    for (n = n > first ? n : first; n < count && *read < capacity; ++n)
        requests[(*read)++] = SimDecodeRequest(*driver.LogEntry(n));
    return S_OK;
}

}  // namespace

extern "C" {

HRESULT VireoSimOpen(unsigned index, VireoSim **sim)
{
    if (!sim)
        return E_POINTER;
    *sim = NULL;
    return Guarded([&] { return OpenDevice(index, sim); });
}

HRESULT VireoSimAdd(const wchar_t *name, VireoSim **sim)
{
    if (!sim)
        return E_POINTER;
    *sim = NULL;
    if (!name)
        return E_POINTER;
    return Guarded([&] { return AddDevice(name, sim); });
}

HRESULT VireoSimRemove(VireoSim *sim)
{
    return OnDevice(sim, [](VireoSim &d) { return d.table.Remove(d.index); });
}

void VireoSimClose(VireoSim *sim)
{
    delete sim;
}

unsigned VireoSimIndex(const VireoSim *sim)
{
    return sim ? sim->index : 0;
}

HRESULT VireoSimDescribe(unsigned index, VireoSimDeviceInfo *info)
{
    if (!info)
        return E_POINTER;
    memset(info, 0, sizeof(*info));
    if (index >= VIREO_SIM_MAX_DEVICES)
        return VIREO_SIM_E_NO_SUCH_DEVICE;
    return Guarded([&]() -> HRESULT {
        SimCamTable table;
        if (!table.IsOpen())
            return VIREO_SIM_E_UNAVAILABLE;
        for (const SimCamDeviceInfo &d : table.Devices()) {
            if (d.index != index)
                continue;
            info->index = index;
            lstrcpynW(info->name, d.name.c_str(), VIREO_SIM_NAME_CAPACITY);
            lstrcpynW(info->path, d.path.c_str(), VIREO_SIM_PATH_CAPACITY);
            info->plugged = d.plugged ? 1 : 0;
            return S_OK;
        }
        return VIREO_SIM_E_NO_SUCH_DEVICE;
    });
}

HRESULT VireoSimUnplug(VireoSim *sim)
{
    return OnDevice(sim, [](VireoSim &d) { return d.table.Unplug(d.index); });
}

HRESULT VireoSimPlug(VireoSim *sim)
{
    return OnDevice(sim, [](VireoSim &d) { return d.table.Plug(d.index); });
}

HRESULT VireoSimPowerCycle(VireoSim *sim)
{
    return OnDevice(sim, [](VireoSim &d) { return d.table.PowerCycle(d.index); });
}

HRESULT VireoSimSetNotReady(VireoSim *sim, unsigned long milliseconds)
{
    return OnDevice(sim, [&](VireoSim &d) {
        d.table.SetNotReady(d.index, milliseconds);
        return S_OK;
    });
}

HRESULT VireoSimSetBusy(VireoSim *sim, int busy)
{
    return OnDevice(sim, [&](VireoSim &d) {
        return d.Locked([&](SimCamDevice &device) {
            device.SetBusy(busy != 0);
            return S_OK;
        });
    });
}

HRESULT VireoSimReset(VireoSim *sim)
{
    return OnDevice(sim, [](VireoSim &d) { return d.table.Reset(d.index); });
}

HRESULT VireoSimGetControl(VireoSim *sim, ULONG controlId, VireoSimControl *control)
{
    if (!control)
        return E_POINTER;
    memset(control, 0, sizeof(*control));
    return OnControl(sim, controlId, [&](SimDriver &driver) {
        const SimControl &c = *driver.Control(controlId);
        control->enable = c.enable;
        control->defaultValue = c.defaultValue;
        control->minValue = c.minValue;
        control->maxValue = c.maxValue;
        control->value = c.value;
        return S_OK;
    });
}

HRESULT VireoSimGetValue(VireoSim *sim, ULONG controlId, LONG *value)
{
    if (!value)
        return E_POINTER;
    VireoSimControl control;
    const HRESULT hr = VireoSimGetControl(sim, controlId, &control);
    *value = control.value;
    return hr;
}

HRESULT VireoSimSetValue(VireoSim *sim, ULONG controlId, LONG value)
{
    return OnControl(sim, controlId, [&](SimDriver &driver) {
        driver.SetValue(controlId, value);
        return S_OK;
    });
}

HRESULT VireoSimSetRange(VireoSim *sim, ULONG controlId, LONG minValue, LONG maxValue)
{
    return OnControl(sim, controlId, [&](SimDriver &driver) {
        if (minValue > maxValue)
            return E_INVALIDARG;
        driver.SetRange(controlId, minValue, maxValue);
        return S_OK;
    });
}

HRESULT VireoSimSetPresent(VireoSim *sim, ULONG controlId, int present)
{
    return OnControl(sim, controlId, [&](SimDriver &driver) {
        driver.SetPresent(controlId, present != 0);
        return S_OK;
    });
}

HRESULT VireoSimRefuse(VireoSim *sim, ULONG controlId, ULONG kind, HRESULT result, LONG count)
{
    return OnDevice(sim, [&](VireoSim &d) -> HRESULT {
        if (controlId != VIREO_SIM_ANY && !KnownControl(controlId))
            return VIREO_SIM_E_UNKNOWN_CONTROL;
        if ((kind > SET_ENABLE && kind != VIREO_SIM_ANY) || SUCCEEDED(result) || count == 0)
            return E_INVALIDARG;
        return d.OnDriver([&](SimDriver &driver) {
            driver.AddFault(PropertyOfKind(kind), controlId, kind, result, count);
            return S_OK;
        });
    });
}

HRESULT VireoSimClearRefusals(VireoSim *sim)
{
    return OnDriverOf(sim, [](SimDriver &driver) {
        driver.ClearFaults();
        return S_OK;
    });
}

HRESULT VireoSimLogCount(VireoSim *sim, LONG *count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return OnDriverOf(sim, [&](SimDriver &driver) {
        *count = driver.LogCount();
        return S_OK;
    });
}

HRESULT VireoSimReadLog(VireoSim *sim, LONG first, VireoSimRequest *requests, unsigned capacity,
                        unsigned *read)
{
    if (!read || (!requests && capacity))
        return E_POINTER;
    *read = 0;
    if (first < 0)
        return E_INVALIDARG;
    return OnDriverOf(
        sim, [&](SimDriver &driver) { return ReadLog(driver, first, requests, capacity, read); });
}

HRESULT VireoSimClearLog(VireoSim *sim)
{
    return OnDriverOf(sim, [](SimDriver &driver) {
        driver.ClearLog();
        return S_OK;
    });
}

const char *VireoSimMessage(HRESULT result)
{
    switch (result) {
    case VIREO_SIM_E_NOT_REGISTERED:
#ifdef _WIN64
        return "the simulated camera is not registered for 64-bit programs: register the 64-bit "
               "simcam.ax (register.cmd of the win64 package)";
#else
        return "the simulated camera is not registered for 32-bit programs: register the 32-bit "
               "simcam.ax (register.cmd of the win32 package)";
#endif
    case VIREO_SIM_E_UNAVAILABLE: return "the simulated camera's shared state cannot be opened";
    case VIREO_SIM_E_NO_SUCH_DEVICE: return "no simulated device of that index";
    case VIREO_SIM_E_TABLE_FULL: return "the simulated camera holds 8 devices already";
    case VIREO_SIM_E_UNKNOWN_CONTROL: return "no control of that id";
    case VIREO_SIM_E_DEVICE_GONE: return "the camera is unplugged";
    case VIREO_SIM_E_DEVICE_BUSY: return "another application captures from the camera";
    case VIREO_SIM_E_NOT_READY: return "the camera is still starting (not ready)";
    case E_POINTER: return "a required pointer was null";
    case E_INVALIDARG: return "a value the call does not take";
    case E_OUTOFMEMORY: return "out of memory";
    default: return SUCCEEDED(result) ? "done" : "the request failed";
    }
}

}  // extern "C"
