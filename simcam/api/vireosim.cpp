// vireosim.cpp - the simulated camera's library for applications
// (vireosim.h): a C face over SimCamControl, the control path that the
// simulated camera's own tests use. No exception leaves it.
#include "vireosim.h"

#include <string.h>
#include <wchar.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "handles.h"
#include "simcontrol.h"

struct VireoSim {
    explicit VireoSim(ULONG index) : control(index) {}
    SimCamControl control;
};

namespace {

static_assert(int(VIREO_SIM_MAX_DEVICES) == int(SIMCAM_MAX_DEVICES), "the device table's size");
static_assert(int(VIREO_SIM_NAME_CAPACITY) == int(SIMCAM_NAME_CAPACITY), "a name's capacity");
static_assert(int(VIREO_SIM_MAX_REFUSALS) == int(SIM_MAX_FAULTS), "the driver's fault rules");
static_assert(int(VIREO_SIM_LOG_CAPACITY) == int(SIM_LOG_CAPACITY), "the driver's log");
static_assert(VIREO_SIM_ANY == SIM_ANY, "the wildcard of a fault rule");
static_assert(VIREO_SIM_E_DEVICE_GONE == SIMCAM_E_DEVICE_GONE &&
                  VIREO_SIM_E_DEVICE_BUSY == SIMCAM_E_DEVICE_BUSY &&
                  VIREO_SIM_E_NOT_READY == SIMCAM_E_NOT_READY,
              "the simulated camera's answers");

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
    for (ULONG known : CameraControlIds)
        if (known == id)
            return true;
    return false;
}

// Whether programs of this width can create the simulated camera's filter:
// the class is registered in this program's registry view.
bool Registered()
{
    WCHAR clsid[40];
    StringFromGUID2(CLSID_SimCamFilter, clsid, ARRAYSIZE(clsid));
    const std::wstring path = std::wstring(L"CLSID\\") + clsid + L"\\InprocServer32";
    RegKey key;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_QUERY_VALUE, key.Put()) ==
           ERROR_SUCCESS;
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
    if (!opened->control.IsOpen())
        return VIREO_SIM_E_UNAVAILABLE;
    if (!opened->control.Exists())
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
    SimCamControl table;
    if (!table.IsOpen())
        return VIREO_SIM_E_UNAVAILABLE;
    const int index = table.AddDevice(name);
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
        if (!sim->control.Exists())
            return VIREO_SIM_E_NO_SUCH_DEVICE;
        return call(sim->control);
    });
}

// The same for a call on one of the device's controls.
template <typename Call> HRESULT OnControl(VireoSim *sim, ULONG id, Call call)
{
    return OnDevice(sim, [&](SimCamControl &control) -> HRESULT {
        return KnownControl(id) ? call(control) : VIREO_SIM_E_UNKNOWN_CONTROL;
    });
}

HRESULT ResetDevice(SimCamControl &control)
{
    control.SetNotReady(0);
    // Plugging in and power alike give the factory controls.
    const HRESULT hr = control.Unplugged() ? control.Plug() : control.PowerCycle();
    control.ClearFaults();
    control.ClearLog();
    control.SetBusy(false);
    return FAILED(hr) ? hr : S_OK;
}

// The property of CameraPropertySet that carries requests of kind.
ULONG PropertyOfKind(ULONG kind)
{
    if (kind == VIREO_SIM_ANY)
        return SIM_ANY;
    return kind == SET_ENABLE ? VALUE20H : VALUE10H;
}

VireoSimRequest PublicRequest(const SimRequest &r)
{
    VireoSimRequest out;
    out.isSet = r.isSet != 0;
    out.property = r.property;
    out.controlId = r.ControlId();
    out.kind = r.Kind();
    out.value = 0;
    if (r.isSet && r.property == VALUE10H && r.Kind() == SET_DATA)
        out.value = r.Value();
    else if (r.isSet && r.property == VALUE20H && r.Kind() == SET_ENABLE)
        out.value = r.Word(3);  // ControlRequest32's default
    out.result = r.result;
    return out;
}

HRESULT ReadLog(SimCamControl &control, LONG first, VireoSimRequest *requests, unsigned capacity,
                unsigned *read)
{
    // The entries' numbers: the ring holds the newest, so where it is full
    // the count (taken while nothing arrives) says where it starts.
    std::vector<SimRequest> log;
    LONG start = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const LONG before = control.LogCount();
        log = control.Log();
        const LONG after = control.LogCount();
        start = after - static_cast<LONG>(log.size());
        if (log.size() < static_cast<size_t>(VIREO_SIM_LOG_CAPACITY))
            start = 0;  // the ring is not full: the first entry is the oldest
        if (before == after || start == 0)
            break;
    }
    for (size_t i = 0; i < log.size() && *read < capacity; ++i)
        if (start + static_cast<LONG>(i) >= first)
            requests[(*read)++] = PublicRequest(log[i]);
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
    return OnDevice(sim, [](SimCamControl &control) {
        return control.Device() == 0 ? E_INVALIDARG : control.RemoveDevice();
    });
}

void VireoSimClose(VireoSim *sim)
{
    delete sim;
}

unsigned VireoSimIndex(const VireoSim *sim)
{
    return sim ? sim->control.Device() : 0;
}

HRESULT VireoSimDescribe(unsigned index, VireoSimDeviceInfo *info)
{
    if (!info)
        return E_POINTER;
    memset(info, 0, sizeof(*info));
    if (index >= VIREO_SIM_MAX_DEVICES)
        return VIREO_SIM_E_NO_SUCH_DEVICE;
    return Guarded([&]() -> HRESULT {
        SimCamControl table(index);
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
    return OnDevice(sim, [](SimCamControl &control) { return control.Unplug(); });
}

HRESULT VireoSimPlug(VireoSim *sim)
{
    return OnDevice(sim, [](SimCamControl &control) { return control.Plug(); });
}

HRESULT VireoSimPowerCycle(VireoSim *sim)
{
    return OnDevice(sim, [](SimCamControl &control) { return control.PowerCycle(); });
}

HRESULT VireoSimSetNotReady(VireoSim *sim, unsigned long milliseconds)
{
    return OnDevice(sim, [&](SimCamControl &control) {
        control.SetNotReady(milliseconds);
        return S_OK;
    });
}

HRESULT VireoSimSetBusy(VireoSim *sim, int busy)
{
    return OnDevice(sim, [&](SimCamControl &control) {
        control.SetBusy(busy != 0);
        return S_OK;
    });
}

HRESULT VireoSimReset(VireoSim *sim)
{
    return OnDevice(sim, ResetDevice);
}

HRESULT VireoSimGetControl(VireoSim *sim, ULONG controlId, VireoSimControl *control)
{
    if (!control)
        return E_POINTER;
    memset(control, 0, sizeof(*control));
    return OnControl(sim, controlId, [&](SimCamControl &cam) {
        SimControl c;
        cam.GetControl(controlId, &c);
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
    return OnControl(sim, controlId, [&](SimCamControl &control) {
        control.SetValue(controlId, value);
        return S_OK;
    });
}

HRESULT VireoSimSetRange(VireoSim *sim, ULONG controlId, LONG minValue, LONG maxValue)
{
    return OnControl(sim, controlId, [&](SimCamControl &control) {
        if (minValue > maxValue)
            return E_INVALIDARG;
        control.SetRange(controlId, minValue, maxValue);
        return S_OK;
    });
}

HRESULT VireoSimSetPresent(VireoSim *sim, ULONG controlId, int present)
{
    return OnControl(sim, controlId, [&](SimCamControl &control) {
        control.SetPresent(controlId, present != 0);
        return S_OK;
    });
}

HRESULT VireoSimRefuse(VireoSim *sim, ULONG controlId, ULONG kind, HRESULT result, LONG count)
{
    return OnDevice(sim, [&](SimCamControl &control) -> HRESULT {
        if (controlId != VIREO_SIM_ANY && !KnownControl(controlId))
            return VIREO_SIM_E_UNKNOWN_CONTROL;
        if ((kind > SET_ENABLE && kind != VIREO_SIM_ANY) || SUCCEEDED(result) || count == 0)
            return E_INVALIDARG;
        control.AddFault(PropertyOfKind(kind), controlId, kind, result, count);
        return S_OK;
    });
}

HRESULT VireoSimClearRefusals(VireoSim *sim)
{
    return OnDevice(sim, [](SimCamControl &control) {
        control.ClearFaults();
        return S_OK;
    });
}

HRESULT VireoSimLogCount(VireoSim *sim, LONG *count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return OnDevice(sim, [&](SimCamControl &control) {
        *count = control.LogCount();
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
    return OnDevice(sim, [&](SimCamControl &control) {
        return ReadLog(control, first, requests, capacity, read);
    });
}

HRESULT VireoSimClearLog(VireoSim *sim)
{
    return OnDevice(sim, [](SimCamControl &control) {
        control.ClearLog();
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
