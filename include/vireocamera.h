/* vireocamera.h - the camera from a program in a few lines: the library
 * vireo::camera (static, C API, usable from C89 and C++).
 *
 *     VireoCamera *camera = NULL;
 *     LONG exposure = 0;
 *     HRESULT hr = VireoCameraOpenIndex(0, &camera);
 *     if (SUCCEEDED(hr))
 *         hr = VireoCameraGet(camera, EXPOSURE, &exposure);
 *     if (SUCCEEDED(hr))
 *         hr = VireoCameraSet(camera, EXPOSURE, exposure * 2);
 *     if (FAILED(hr))
 *         printf("%s\n", VireoCameraMessage(hr));
 *     VireoCameraClose(camera);
 *
 * Opening finds the video input device, binds its capture filter and asks
 * it for IFace; COM is initialised for the calling thread when it is not
 * yet (and given back by VireoCameraClose). Every call returns an HRESULT:
 * the camera's own answer for a request it refused, or one of the VIREO_E_
 * results below; VireoCameraMessage tells each in words. A camera is used
 * from the thread that opened it.
 */
#ifndef VIREOCAMERA_H
#define VIREOCAMERA_H

#include "vireoctl.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Results of the library's own (FACILITY_ITF codes). */
#define VIREO_E_NO_DEVICE MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0A01)
/* the machine has no video input device */
#define VIREO_E_NO_SUCH_DEVICE MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0A02)
/* no video input device of that index or name */
#define VIREO_E_CANNOT_OPEN MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0A03)
/* the device's capture filter could not be made (driver missing, device
 * gone) */
#define VIREO_E_NO_IFACE MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0A04)
/* the device offers no IFace: the extension vireoprop.ax is not registered */
#define VIREO_E_OTHER_WIDTH MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0A05)
/* the extension is registered only for programs of the other width (a 32-bit
 * vireoprop.ax seen from a 64-bit program, or the reverse) */
#define VIREO_E_UNKNOWN_CONTROL MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0A06)
/* not one of the fifteen control ids */

typedef struct VireoCamera VireoCamera;

/* What GET_ENABLE reports of a control. */
typedef struct VireoRange {
    LONG enable; /* non-zero when the camera has the control */
    LONG defaultValue;
    LONG minValue;
    LONG maxValue;
} VireoRange;

/* The video input devices, in the system device enumerator's order. */
HRESULT VireoCameraDeviceCount(unsigned *count);
/* The friendly name of device index (cut to size characters, terminated). */
HRESULT VireoCameraDeviceName(unsigned index, wchar_t *name, unsigned size);

/* Opens a device by its index or by its friendly name (case-insensitive). */
HRESULT VireoCameraOpenIndex(unsigned index, VireoCamera **camera);
HRESULT VireoCameraOpenName(const wchar_t *name, VireoCamera **camera);
/* Lets the camera go; a null camera is ignored. */
void VireoCameraClose(VireoCamera *camera);

/* The opened device's friendly name; IFace itself (no reference added),
 * for requests beyond the ones below. */
const wchar_t *VireoCameraName(const VireoCamera *camera);
IFace *VireoCameraInterface(const VireoCamera *camera);

/* GET_DATA, GET_ENABLE and SET_DATA of one control, in device units. */
HRESULT VireoCameraGet(VireoCamera *camera, ULONG id, LONG *value);
HRESULT VireoCameraRange(VireoCamera *camera, ULONG id, VireoRange *range);
HRESULT VireoCameraSet(VireoCamera *camera, ULONG id, LONG value);

/* The order in which the "Camera Setting" page's Default button writes the
 * controls, and after which ones it pauses (VIREO_DEFAULT_PAUSE_MS), so that
 * the camera takes a gain or exposure change before the next one. */
typedef struct VireoDefaultStep {
    ULONG controlId;
    ULONG pauseAfter;
} VireoDefaultStep;
enum { VIREO_DEFAULT_PAUSE_MS = 10 };
extern const VireoDefaultStep VireoDefaultSequence[CAMERA_CONTROL_COUNT];

/* What the Default button sends: every control's SET_ENABLE with its
 * factory default, then every control's SET_DATA of it, in the sequence
 * above with its pauses. Every request is sent; the first refusal is
 * returned. */
HRESULT VireoCameraDefaults(VireoCamera *camera);
/* SET_DATA of values[i] to control CameraControlIds[i], for every control,
 * in the Default sequence with its pauses. Every request is sent; the first
 * refusal is returned. */
HRESULT VireoCameraSetAll(VireoCamera *camera, const LONG values[CAMERA_CONTROL_COUNT]);

/* Watching VireoCameraDefaults and VireoCameraSetAll: after each request,
 * step gets the control, the request kind (SET_ENABLE or SET_DATA), the
 * value and the camera's answer. pause replaces Sleep for the pauses (null:
 * Sleep). */
typedef struct VireoStep {
    ULONG controlId;
    ULONG kind;
    LONG value;
    HRESULT result;
} VireoStep;
typedef void(CALLBACK *VireoStepFunction)(void *context, const VireoStep *step);
typedef void(WINAPI *VireoPauseFunction)(DWORD milliseconds);
void VireoCameraWatch(VireoCamera *camera, VireoStepFunction step, void *context);
void VireoCameraSetPause(VireoCamera *camera, VireoPauseFunction pause);

/* A sentence for any result: the library's own, the common COM ones, and a
 * general one for the rest ("the camera refused the request"). */
const char *VireoCameraMessage(HRESULT result);

#ifdef __cplusplus
}
#endif

#endif /* VIREOCAMERA_H */
