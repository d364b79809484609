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
#define VIREO_E_BAD_PROFILE MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0A07)
/* the profile's text is refused (VireoProfileProblem says where and why) */
#define VIREO_E_OTHER_CAMERA MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0A08)
/* the profile was saved from another camera */
#define VIREO_E_OUT_OF_RANGE MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0A09)
/* a value lies outside the range the camera reports for its control */
#define VIREO_S_SKIPPED MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_ITF, 0x0A0A)
/* a step not sent: the camera reports the control disabled */
/* A SET_DATA of a control the organization's policy locks at another value
 * is refused by the extension itself with E_ACCESSDENIED (0x80070005), for
 * every program. */

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

/* Camera identity. Every device has an id: its device path (the moniker's
 * DevicePath, the kernel-streaming interface's symbolic link, such as
 * "\\?\usb#vid_2e9a&pid_0b01&mi_00#7&2f1c0a1&0&0000#{65e8773d-...}\global")
 * with its trailing "#{interface class}\reference" part dropped, so that the
 * capture, video and camera interfaces of one camera, and the dbcc_name of
 * WM_DEVICECHANGE, give one id. Ids compare case-insensitively. A device
 * with no path is known by its friendly name. Two cameras of one model share
 * a friendly name, never an id. */
enum { VIREO_ID_CAPACITY = 512 };
/* The id of device index (cut to size characters, terminated). */
HRESULT VireoCameraDeviceId(unsigned index, wchar_t *id, unsigned size);
/* The id of a device path or a dbcc_name: the path without its interface
 * class part (cut to size characters, terminated). */
void VireoCameraIdFromPath(const wchar_t *path, wchar_t *id, unsigned size);
/* The one case-folding rule for ids in the kit: the key of an id or device
 * path is its id in lower case (invariant locale), and two ids name one
 * camera when their keys are equal (cut to size characters, terminated). */
void VireoCameraIdKey(const wchar_t *id, wchar_t *key, unsigned size);
/* Non-zero when a and b (ids or device paths) name one camera. */
int VireoCameraSameId(const wchar_t *a, const wchar_t *b);

/* The name to show a person for the camera of this name and id among count
 * present cameras (names[i], ids[i], itself among them or not): the name
 * itself for the first of those that share it in the order of their ids,
 * "NAME (2)" for the second, and so on, so that twins are told apart the
 * same way while both are present (cut to size characters, terminated). */
void VireoCameraShownName(const wchar_t *name, const wchar_t *id, const wchar_t *const *names,
                          const wchar_t *const *ids, unsigned count, wchar_t *out, unsigned size);
/* The same for device index among the video input devices. */
HRESULT VireoCameraDeviceShownName(unsigned index, wchar_t *name, unsigned size);

/* Opens a device by its index, its friendly name (case-insensitive; of two
 * devices of one name, the first) or its id (or device path). */
HRESULT VireoCameraOpenIndex(unsigned index, VireoCamera **camera);
HRESULT VireoCameraOpenName(const wchar_t *name, VireoCamera **camera);
HRESULT VireoCameraOpenId(const wchar_t *id, VireoCamera **camera);
/* Lets the camera go; a null camera is ignored. */
void VireoCameraClose(VireoCamera *camera);

/* The opened device's friendly name and id; IFace itself (no reference
 * added), for requests beyond the ones below. */
const wchar_t *VireoCameraName(const VireoCamera *camera);
const wchar_t *VireoCameraId(const VireoCamera *camera);
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

/* Profiles: the values of a camera's controls in a text file, one
 * "NAME=VALUE" line each (device units, decimal), with the camera's friendly
 * name ("device=") and id ("id="):
 *
 *     # vireoctl profile
 *     device=Vireo Simulated Camera
 *     id=\\?\usb#vid_2e9a&pid_0b01&mi_00#7&2f1c0a1&0&0000
 *     A_GAIN=17
 *     EXPOSURE=500
 *
 * Read: UTF-8 (a byte-order mark allowed), CRLF or LF, blank lines and "#"
 * comments; a profile of only some controls leaves the others as they are.
 * Refused, with the line: an unknown or repeated control, a value that is
 * not a decimal 32-bit integer, text that is not UTF-8, a NUL byte, a line
 * over 1 KiB, a file over 64 KiB, a profile naming no camera. Names are
 * written as a line holds them: control characters become spaces, and they
 * are trimmed and cut to the line. Written atomically: a crash at any moment
 * leaves the old file or the new one. */
enum { VIREO_PROFILE_TEXT_CAPACITY = 1024 };
typedef struct VireoProfile {
    wchar_t device[VIREO_PROFILE_TEXT_CAPACITY]; /* friendly name; empty: none */
    wchar_t id[VIREO_PROFILE_TEXT_CAPACITY];     /* camera id; empty: none */
    ULONG present; /* bit i: values[i], of control CameraControlIds[i], is in it */
    LONG values[CAMERA_CONTROL_COUNT];
} VireoProfile;

/* Where and why a profile was refused. */
typedef struct VireoProfileProblem {
    unsigned line;     /* the file's line (1 the first); 0: not of one line */
    ULONG controlId;   /* the control concerned; 0: none */
    char message[256]; /* in words, UTF-8, without the file's name */
} VireoProfileProblem;

/* Reads and checks a profile file (VIREO_E_BAD_PROFILE, or the file
 * system's error); problem may be null. */
HRESULT VireoProfileRead(const wchar_t *path, VireoProfile *profile, VireoProfileProblem *problem);
/* The same for text in memory. */
HRESULT VireoProfileParse(const char *text, size_t size, VireoProfile *profile,
                          VireoProfileProblem *problem);
/* Writes the profile atomically: a temporary file in the same folder
 * ("<path>.<process id>.<n>.tmp"), flushed to disk, then put in the old
 * one's place in one step. A failed write leaves the old file and no
 * temporary file; problem says why, the result is the system's error (a
 * read-only file is not replaced: ERROR_ACCESS_DENIED). A profile naming no
 * camera is not written (VIREO_E_BAD_PROFILE). */
HRESULT VireoProfileWrite(const wchar_t *path, const VireoProfile *profile,
                          VireoProfileProblem *problem);

/* Every control's value (GET_DATA of each), with the camera's name and id;
 * the first refusal is returned and the profile then lacks the refused
 * controls (their present bits are clear). */
HRESULT VireoCameraReadProfile(VireoCamera *camera, VireoProfile *profile);
/* Writes a profile onto the camera. First, before any write: the profile
 * must be of this camera (ids compared where both have one, else names,
 * case-insensitively; VIREO_E_OTHER_CAMERA), and every value in the profile
 * lie in its control's range as GET_ENABLE reports it, asked in the
 * catalogue's order (CameraControlIds) up to the first value outside
 * (VIREO_E_OUT_OF_RANGE, problem names it); a refused GET_ENABLE is a step
 * and the result. Then each control of the profile is written in the Default
 * sequence, with its pause after a control written; controls the camera
 * reports disabled are skipped (a step with VIREO_S_SKIPPED, no range
 * check). Steps go to VireoCameraWatch's function. Returns the first
 * refusal; else VIREO_S_SKIPPED when a control was skipped; else S_OK.
 * problem may be null. Flags (VIREO_LOAD_ANY_VALUE with
 * VIREO_LOAD_SKIP_OUT_OF_RANGE is E_INVALIDARG): */
enum {
    VIREO_LOAD_ANY_CAMERA = 1,       /* a profile of another camera loads too */
    VIREO_LOAD_ANY_VALUE = 2,        /* values outside the range are sent */
    VIREO_LOAD_SKIP_OUT_OF_RANGE = 4 /* values outside the range are skipped (a
                                        step with VIREO_E_OUT_OF_RANGE; problem
                                        names the first), the rest written */
};
HRESULT VireoCameraLoadProfile(VireoCamera *camera, const VireoProfile *profile, unsigned flags,
                               VireoProfileProblem *problem);

/* Settings an organization sets (Group Policy, Intune), machine-wide:
 *
 *   HKLM\Software\Policies\Vireo\Camera\Mandatory     a control is locked at
 *                                                       its value
 *   HKLM\Software\Policies\Vireo\Camera\Recommended   the starting value of a
 *                                                       camera with no profile
 *   ...\Camera\Models\vid_XXXX&pid_XXXX\Mandatory and \Recommended: the same
 *                                                       for one model; its values
 *                                                       win over the general ones
 *
 * One REG_DWORD a control, named as the catalogue names it ("EXPOSURE");
 * values of another type are not read. Read in the 64-bit view of the
 * registry on 64-bit Windows, from programs of either width. Nothing is
 * locked or recommended when no policy is set. */
#define VIREO_POLICY_KEY L"Software\\Policies\\Vireo\\Camera"
#define VIREO_POLICY_MANDATORY L"Mandatory"
#define VIREO_POLICY_RECOMMENDED L"Recommended"
#define VIREO_POLICY_MODELS L"Models"

typedef struct VireoPolicy {
    ULONG locked;      /* bit i: control CameraControlIds[i] is locked at lockedValues[i] */
    ULONG recommended; /* bit i: recommendedValues[i] is its starting value */
    LONG lockedValues[CAMERA_CONTROL_COUNT];
    LONG recommendedValues[CAMERA_CONTROL_COUNT];
} VireoPolicy;

/* The model of a camera id or device path, "vid_2e9a&pid_0b01" (lower case,
 * cut to size characters, terminated); empty when it names none. */
enum { VIREO_MODEL_CAPACITY = 32 };
void VireoCameraModel(const wchar_t *id, wchar_t *model, unsigned size);
/* The policy of a camera of that model (null or empty: the general values
 * only); S_OK, or E_POINTER. A key that cannot be read counts as unset. */
HRESULT VireoPolicyRead(const wchar_t *model, VireoPolicy *policy);
/* The policy of an opened camera, after its id's model. */
HRESULT VireoCameraPolicy(VireoCamera *camera, VireoPolicy *policy);
/* The bit of control id in a policy's masks (and a profile's present); 0 for
 * an unknown id. */
ULONG VireoPolicyBit(ULONG id);
/* For a program that cannot tell its camera's model (the extension, which
 * sees only the capture filter): non-zero when control id may be set to
 * value, that is when the general policy does not lock it, or locks it at
 * that value, or some model's policy locks it at that value. */
int VireoPolicyAllows(ULONG id, LONG value);

/* Writes the policy's locked values onto the camera where it holds another
 * value, in the Default sequence with its pauses after a control written.
 * Each locked control: GET_ENABLE (disabled: a step with VIREO_S_SKIPPED; a
 * value outside the range: a step with VIREO_E_OUT_OF_RANGE, for the caller
 * to log; neither is sent), GET_DATA, and a SET_DATA when the value differs.
 * Steps go to VireoCameraWatch's function (a value already held makes none).
 * Returns the first refusal, else S_OK; *written (may be null) counts the
 * SET_DATA requests sent. */
HRESULT VireoCameraApplyLocked(VireoCamera *camera, const VireoPolicy *policy, unsigned *written);
/* The starting values of the camera when it has no profile: the policy's
 * recommended values that lie in the camera's ranges, as a profile of the
 * camera (its name and id); a disabled control or a value outside its range
 * is left out, with a step as above. Returns the first refused GET_ENABLE,
 * else S_OK; the profile's present bits say which values it holds (none
 * when nothing is recommended). */
HRESULT VireoCameraRecommended(VireoCamera *camera, const VireoPolicy *policy,
                               VireoProfile *profile);

/* Watching the policy keys: the event is set when anything under
 * HKLM\Software\Policies\Vireo\Camera changes (a gpupdate writes there), or,
 * while that key does not exist, under the nearest key above it that does.
 * Once it is set, VireoPolicyWatchRearm resets it and watches again (the key
 * watched may then be a deeper one); read the policy after re-arming, so that
 * a change made meanwhile is not missed. Re-arm from a thread that lives as
 * long as the watch: before Windows 8 a watch ends with the thread that set
 * it. */
typedef struct VireoPolicyWatch VireoPolicyWatch;
HRESULT VireoPolicyWatchOpen(VireoPolicyWatch **watch);
HANDLE VireoPolicyWatchEvent(const VireoPolicyWatch *watch);
HRESULT VireoPolicyWatchRearm(VireoPolicyWatch *watch);
void VireoPolicyWatchClose(VireoPolicyWatch *watch);

/* A sentence for any result: the library's own, the common COM ones, and a
 * general one for the rest ("the camera refused the request"). */
const char *VireoCameraMessage(HRESULT result);

#ifdef __cplusplus
}
#endif

#endif /* VIREOCAMERA_H */
