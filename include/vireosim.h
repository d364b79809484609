/* vireosim.h - the simulated camera, steered from a program: the library
 * vireo::simcam (static, C API, usable from C89 and C++) of the simulated
 * camera's package, for testing an application against a camera that fails
 * when asked to.
 *
 *     VireoSim *sim = NULL;
 *     HRESULT hr = VireoSimOpen(0, &sim);
 *     if (SUCCEEDED(hr))
 *         hr = VireoSimRefuse(sim, EXPOSURE, SET_DATA, E_ACCESSDENIED, 1);
 *     ... the application's next EXPOSURE SET_DATA gets E_ACCESSDENIED ...
 *     if (SUCCEEDED(hr))
 *         hr = VireoSimUnplug(sim);
 *     ... the camera is gone: its requests get VIREO_SIM_E_DEVICE_GONE ...
 *     if (FAILED(hr))
 *         printf("%s\n", VireoSimMessage(hr));
 *     VireoSimClose(sim);
 *
 * The simulated camera is simcam.ax, a DirectShow capture source that
 * registering (regsvr32 simcam.ax, or register.cmd of the package) lists
 * among the video input devices as "Vireo Simulated Camera"; a program opens
 * it as it opens any camera (through the camera library, IFace or the
 * filter's IKsPropertySet). Its state lives in memory shared by the
 * session: what this library changes, every program of the session sees at
 * once. It holds up to VIREO_SIM_MAX_DEVICES cameras, each with its own
 * driver (control values, refusals, log); device 0 is the one registering
 * installs, VireoSimAdd adds more. A VireoSim addresses one of them.
 *
 * Plugging, unplugging, adding and removing change the video input category
 * in the registry view of the calling program's width: steer the camera from
 * a program (or simcamctl.exe) of the width of the application under test.
 * A handle may be used from any thread. Every call returns an HRESULT: S_OK,
 * S_FALSE where said, the library's own VIREO_SIM_E_ results, E_POINTER for
 * a null pointer, E_INVALIDARG for a value outside what a call takes;
 * VireoSimMessage tells each in words.
 */
#ifndef VIREOSIM_H
#define VIREOSIM_H

#include "vireoctl.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Results of the library's own (FACILITY_ITF codes). */
#define VIREO_SIM_E_NOT_REGISTERED MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0A21)
/* simcam.ax is not registered for programs of this width */
#define VIREO_SIM_E_UNAVAILABLE MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0A22)
/* the simulated camera's shared state could not be opened */
#define VIREO_SIM_E_NO_SUCH_DEVICE MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0A23)
/* no simulated device of that index (or it was removed) */
#define VIREO_SIM_E_TABLE_FULL MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0A24)
/* VIREO_SIM_MAX_DEVICES devices already */
#define VIREO_SIM_E_UNKNOWN_CONTROL MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0A25)
/* not one of the fifteen control ids */

/* What the simulated camera answers an application, as a USB camera's
 * driver does: a property request or a stream of an unplugged camera; a
 * stream started while another application captures from it (or the camera
 * is marked busy); a property request while it is still starting. */
#define VIREO_SIM_E_DEVICE_GONE ((HRESULT)0x8007048FL) /* ERROR_DEVICE_NOT_CONNECTED */
#define VIREO_SIM_E_DEVICE_BUSY ((HRESULT)0x800705AAL) /* ERROR_NO_SYSTEM_RESOURCES */
#define VIREO_SIM_E_NOT_READY ((HRESULT)0x80070015L)   /* ERROR_NOT_READY */

enum {
    VIREO_SIM_MAX_DEVICES = 8,
    VIREO_SIM_NAME_CAPACITY = 64,  /* a friendly name, terminator included */
    VIREO_SIM_PATH_CAPACITY = 160, /* a device path, terminator included */
    VIREO_SIM_MAX_REFUSALS = 32,   /* refusal rules a device holds at a time */
    VIREO_SIM_LOG_CAPACITY = 4096  /* the newest requests the log keeps */
};

/* Any control or any request kind, in a refusal rule. */
#define VIREO_SIM_ANY ((ULONG)0xFFFFFFFFUL)

typedef struct VireoSim VireoSim;

/* Opens device index of the simulated camera. */
HRESULT VireoSimOpen(unsigned index, VireoSim **sim);
/* A new device named name (1 to 63 characters; two devices may share a
 * name, as two cameras of one model do): plugged, at its factory state,
 * listed after the devices of lower index, with the arrival message; opened
 * into *sim. */
HRESULT VireoSimAdd(const wchar_t *name, VireoSim **sim);
/* The device leaves the table (with the removal message while it was
 * plugged); the handle stays to be closed. Device 0 stays (E_INVALIDARG):
 * unregistering simcam.ax removes it. */
HRESULT VireoSimRemove(VireoSim *sim);
/* Lets the handle go; a null handle is ignored. The device stays as it is. */
void VireoSimClose(VireoSim *sim);
/* The index of the device the handle addresses. */
unsigned VireoSimIndex(const VireoSim *sim);

/* A device of the table. path is its device path (the moniker's
 * DevicePath, "\\?\usb#vid_2e9a&pid_0b01&mi_00#7&2f1c0a1&0&000N#{...}\global"),
 * which the camera library's VireoCameraOpenId takes. */
typedef struct VireoSimDeviceInfo {
    unsigned index;
    wchar_t name[VIREO_SIM_NAME_CAPACITY];
    wchar_t path[VIREO_SIM_PATH_CAPACITY];
    int plugged; /* non-zero while plugged in */
} VireoSimDeviceInfo;
/* Device index; VIREO_SIM_E_NO_SUCH_DEVICE for a free place of the table. */
HRESULT VireoSimDescribe(unsigned index, VireoSimDeviceInfo *info);

/* Unplug: the camera goes from the video input category, with the removal
 * message (WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, a device interface of
 * class KSCATEGORY_VIDEO_CAMERA); its filters answer property requests with
 * VIREO_SIM_E_DEVICE_GONE and a stream on it stops (the graph gets
 * EC_DEVICE_LOST). Plug: it comes back at its factory values, with the
 * arrival message; a filter that lost its stream stays refused, as on
 * Windows. S_FALSE when it is unplugged (plugged) already. */
HRESULT VireoSimUnplug(VireoSim *sim);
HRESULT VireoSimPlug(VireoSim *sim);
/* The camera loses power and comes back, staying listed: factory values,
 * no device message (what many cameras do across a sleep). */
HRESULT VireoSimPowerCycle(VireoSim *sim);
/* Property requests fail with VIREO_SIM_E_NOT_READY for milliseconds from
 * now, and as long again after each later plug and power cycle; 0 ends it. */
HRESULT VireoSimSetNotReady(VireoSim *sim, unsigned long milliseconds);
/* Busy (non-zero): another application captures from the camera, and
 * running a filter of it fails with VIREO_SIM_E_DEVICE_BUSY. */
HRESULT VireoSimSetBusy(VireoSim *sim, int busy);
/* The device back to its factory state: plugged (with the arrival message
 * when it was unplugged), ready, not busy, every control present at its
 * factory range and value, no refusal rules, an empty log. */
HRESULT VireoSimReset(VireoSim *sim);

/* What the driver holds of a control: what GET_ENABLE reports (enable,
 * default, minimum, maximum) and GET_DATA reads. */
typedef struct VireoSimControl {
    LONG enable;
    LONG defaultValue;
    LONG minValue;
    LONG maxValue;
    LONG value;
} VireoSimControl;
HRESULT VireoSimGetControl(VireoSim *sim, ULONG controlId, VireoSimControl *control);
HRESULT VireoSimGetValue(VireoSim *sim, ULONG controlId, LONG *value);
/* The value GET_DATA reads from now on (any value: the driver takes what a
 * SET_DATA sends, unchecked, as the camera does). */
HRESULT VireoSimSetValue(VireoSim *sim, ULONG controlId, LONG value);
/* The range GET_ENABLE reports; minValue above maxValue is E_INVALIDARG. */
HRESULT VireoSimSetRange(VireoSim *sim, ULONG controlId, LONG minValue, LONG maxValue);
/* The enable flag GET_ENABLE reports: zero, a camera without the control. */
HRESULT VireoSimSetPresent(VireoSim *sim, ULONG controlId, int present);

/* The driver refuses the requests of a control (or VIREO_SIM_ANY) of a
 * kind (GET_ENABLE, SET_DATA, GET_DATA, SET_ENABLE, or VIREO_SIM_ANY) with
 * result, a failure code, count times (negative: every time, until
 * VireoSimClearRefusals or VireoSimReset). A refused request changes
 * nothing and is logged with its result. The oldest rule that matches
 * answers. A device holds up to VIREO_SIM_MAX_REFUSALS rules at a time (a
 * rule used up frees its place); a rule beyond them is not kept. */
HRESULT VireoSimRefuse(VireoSim *sim, ULONG controlId, ULONG kind, HRESULT result, LONG count);
HRESULT VireoSimClearRefusals(VireoSim *sim);

/* A request that reached the driver. */
typedef struct VireoSimRequest {
    int isSet;       /* non-zero for a set, zero for a get */
    ULONG property;  /* VALUE10H to VALUE50H */
    ULONG controlId; /* properties 0 and 1: the control; else the block's first word */
    ULONG kind;      /* properties 0 and 1: the request kind; else the block's second word */
    LONG value;      /* SET_DATA: the value sent; SET_ENABLE: the default sent; else 0 */
    HRESULT result;  /* the driver's answer */
} VireoSimRequest;
/* Requests since the log was last cleared (more than the log keeps, once
 * over VIREO_SIM_LOG_CAPACITY). */
HRESULT VireoSimLogCount(VireoSim *sim, LONG *count);
/* Requests first, first + 1, ... (0 the oldest since the log was cleared;
 * a count taken earlier reads what came after it), oldest first, up to
 * capacity of them; *read says how many were written. Requests older than
 * the newest VIREO_SIM_LOG_CAPACITY are passed over. */
HRESULT VireoSimReadLog(VireoSim *sim, LONG first, VireoSimRequest *requests, unsigned capacity,
                        unsigned *read);
HRESULT VireoSimClearLog(VireoSim *sim);

/* A sentence for any result: the library's own, the simulated camera's
 * answers above, the common COM ones, and a general one for the rest. */
const char *VireoSimMessage(HRESULT result);

#ifdef __cplusplus
}
#endif

#endif /* VIREOSIM_H */
