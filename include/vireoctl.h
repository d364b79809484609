/* vireoctl.h - camera control interface of the vireoprop proxy extension.
 *
 * The header that C and C++ applications include to talk to the camera.
 * Every setting travels to the driver as a fixed-size block of one property
 * of the vendor property set CameraPropertySet, through the capture filter's
 * IKsPropertySet. The extension (vireoprop.ax, registered with regsvr32)
 * aggregates an object into the camera's capture filter that offers IFace,
 * one set/get pair of methods per property.
 *
 * IFace is declared the way the platform's COM headers declare interfaces:
 * C++ sees a class derived from IUnknown, C sees the vtable and the call
 * macros IFace_SetValue10h(p, block) and so on. The constant data below is
 * defined once per program (selectany), so any number of source files may
 * include this header; no INITGUID and no library are needed.
 *
 * C++, from an application holding the camera's capture filter:
 *
 *     IFace *face = NULL;
 *     if (SUCCEEDED(filter->QueryInterface(CameraPropertySet, (void **)&face))) {
 *         ControlRequest rq = { EXPOSURE, SET_DATA, 284, 0 };
 *         HRESULT hr = face->SetValue10h(&rq);
 *         face->Release();
 *     }
 *
 * C, the same:
 *
 *     IFace *face = NULL;
 *     if (SUCCEEDED(IBaseFilter_QueryInterface(filter, &CameraPropertySet, (void **)&face))) {
 *         ControlRequest rq = { EXPOSURE, SET_DATA, 284, 0 };
 *         HRESULT hr = IFace_SetValue10h(face, &rq);
 *         IFace_Release(face);
 *     }
 */
#ifndef VIREOCTL_H
#define VIREOCTL_H

#include <windows.h>
#include <unknwn.h>
#include <stddef.h>

/* The kit's version: this header, the extension and the programs ship
 * together. VIREO_VERSION compares as a number (0x010B00 is 1.11.0). */
#define VIREO_VERSION_MAJOR 1
#define VIREO_VERSION_MINOR 11
#define VIREO_VERSION_PATCH 0
#define VIREO_VERSION_STRING "1.11.0"
#define VIREO_VERSION \
    ((VIREO_VERSION_MAJOR << 16) | (VIREO_VERSION_MINOR << 8) | VIREO_VERSION_PATCH)

/* Constant data with one copy per program, whichever source files include
 * the header. */
#ifdef __cplusplus
#define VIREOCTL_DATA extern "C" DECLSPEC_SELECTANY
#else
#define VIREOCTL_DATA DECLSPEC_SELECTANY
#endif

/* {04F2A42A-479F-4511-8F03-1CE31876DBCC}: the vendor property set, the
 * interface identifier of IFace and the class identifier of the handler. */
VIREOCTL_DATA const GUID CameraPropertySet = {
    0x04F2A42A, 0x479F, 0x4511, {0x8F, 0x03, 0x1C, 0xE3, 0x18, 0x76, 0xDB, 0xCC}};
#define IID_IFace CameraPropertySet

/* {04FDFB8E-EC1E-44E6-B36E-5877D11903D5}: the "Camera Setting" property page. */
VIREOCTL_DATA const GUID CLSID_CameraSettingPage = {
    0x04FDFB8E, 0xEC1E, 0x44E6, {0xB3, 0x6E, 0x58, 0x77, 0xD1, 0x19, 0x03, 0xD5}};

/* Properties of CameraPropertySet; each has one block size for get and set. */
typedef enum CameraProperty {
    VALUE10H = 0, /* ControlRequest: GET_ENABLE, SET_DATA, GET_DATA */
    VALUE20H = 1, /* ControlRequest32: SET_ENABLE */
    VALUE30H = 2, /* opaque 48-byte block */
    VALUE40H = 3, /* opaque 64-byte block */
    VALUE50H = 4  /* opaque 80-byte block */
} CameraProperty;

typedef enum CameraPropertySize {
    VALUE10H_SIZE = 16,
    VALUE20H_SIZE = 32,
    VALUE30H_SIZE = 48,
    VALUE40H_SIZE = 64,
    VALUE50H_SIZE = 80
} CameraPropertySize;

/* Request kinds: the second word of both request records. */
typedef enum ControlRequestKind {
    GET_ENABLE = 0, /* property 0, get: enable flag, default, minimum, maximum */
    SET_DATA = 1,   /* property 0, set: the control's current value */
    GET_DATA = 2,   /* property 0, get: the current value comes back in word 0 */
    SET_ENABLE = 3  /* property 1, set: enable flag and default value */
} ControlRequestKind;

/* Control identifiers of the camera. */
typedef enum CameraControlId {
    EXPOSURE = 12,       /* exposure time, units of 0.1 ms */
    AEC = 13,            /* automatic exposure: 0 off, 1 on */
    FLIP = 16,           /* image flip */
    MIRROR = 17,         /* image mirror */
    PRIVACY = 18,        /* privacy (no picture) */
    LEDCTRL = 29,        /* LED */
    A_GAIN = 300,        /* analog gain code */
    A_AUTOGAIN = 301,    /* automatic analog gain */
    D_GAIN = 302,        /* digital gain, steps of 0.25 */
    EXPOSURE2CTRL = 303, /* second (shutter list) exposure enabled */
    EXPOSURE2VAL = 304,  /* index into the shutter list */
    STROBECTRL = 305,    /* strobe output enabled */
    STROBEINVERT = 306,  /* strobe output inverted */
    VGA_FPS = 307,       /* frame rate at VGA size, index into the rate list */
    QVGA_FPS = 308       /* frame rate at QVGA size, index into the rate list */
} CameraControlId;

enum { CAMERA_CONTROL_COUNT = 15 };

/* All fifteen controls, in the order in which the setting page loads them. */
VIREOCTL_DATA const ULONG CameraControlIds[CAMERA_CONTROL_COUNT] = {
    A_GAIN, A_AUTOGAIN, D_GAIN,     EXPOSURE,     AEC,     EXPOSURE2CTRL, EXPOSURE2VAL, FLIP,
    MIRROR, LEDCTRL,    STROBECTRL, STROBEINVERT, VGA_FPS, QVGA_FPS,      PRIVACY};

/* The control's name as the catalogue and the page's messages know it;
 * NULL for an unknown id. */
static __inline const char *CameraControlName(ULONG id)
{
    switch (id) {
    case A_GAIN: return "A_GAIN";
    case A_AUTOGAIN: return "A_AUTOGAIN";
    case D_GAIN: return "D_GAIN";
    case EXPOSURE: return "EXPOSURE";
    case AEC: return "AEC";
    case EXPOSURE2CTRL: return "EXPOSURE2CTRL";
    case EXPOSURE2VAL: return "EXPOSURE2VAL";
    case FLIP: return "FLIP";
    case MIRROR: return "MIRROR";
    case LEDCTRL: return "LEDCTRL";
    case PRIVACY: return "PRIVACY";
    case STROBECTRL: return "STROBECTRL";
    case STROBEINVERT: return "STROBEINVERT";
    case VGA_FPS: return "VGA_FPS";
    case QVGA_FPS: return "QVGA_FPS";
    default: return NULL;
    }
}

/* The control's factory default, the value that the page's Default button
 * writes; -1 is never a default, so it marks an unknown id. */
static __inline LONG CameraControlFactoryDefault(ULONG id)
{
    switch (id) {
    case A_GAIN: return 1;
    case A_AUTOGAIN: return 1;
    case D_GAIN: return 4;
    case EXPOSURE: return 284;
    case AEC: return 1;
    case EXPOSURE2CTRL: return 0;
    case EXPOSURE2VAL: return 6;
    case FLIP:
    case MIRROR:
    case LEDCTRL:
    case PRIVACY: return 0;
    case STROBECTRL:
    case STROBEINVERT: return 0;
    case VGA_FPS:
    case QVGA_FPS: return 3;
    default: return -1;
    }
}

/* EXPOSURE2VAL: index into the shutter list; the exposure time in
 * microseconds and the label the page's list shows. */
enum { SHUTTER_COUNT = 10 };
VIREOCTL_DATA const LONG ShutterMicroseconds[SHUTTER_COUNT] = {100,  200,   500,   1000,  2000,
                                                               5000, 10000, 20000, 50000, 100000};
VIREOCTL_DATA const char *const ShutterLabels[SHUTTER_COUNT] = {
    "1/10000( 100usec )", "1/5000( 200usec )", "1/2000( 500usec )", "1/1000( 1msec )",
    "1/500( 2msec )",     "1/200( 5msec )",    "1/100( 10msec )",   "1/50( 20msec )",
    "1/20( 50msec )",     "1/10( 100msec )"};

/* VGA_FPS and QVGA_FPS: index into the frame-rate list, frames per second
 * (the page labels them "60fps" and so on). */
enum { FRAME_RATE_COUNT = 5 };
VIREOCTL_DATA const LONG FrameRatesPerSecond[FRAME_RATE_COUNT] = {60, 50, 30, 25, 15};

/* Display conversions, in floating point so that no device value overflows;
 * the value on the wire is never converted back. The page shows the analog
 * gain factor as "%.4lf", the digital gain factor as "%.2lf" and the
 * exposure as "%.1lf msec". */
static __inline double AnalogGainFactor(LONG v)
{
    return v <= 16 ? 1.0 + ((double)v - 1.0) * 0.0625 : ((double)v - 1.0) * 0.125;
}
static __inline double DigitalGainFactor(LONG v)
{
    return (double)v * 0.25;
}
static __inline double ExposureMilliseconds(LONG v)
{
    return (double)v * 0.1;
}

/* Property 0 block as sent. All fields are 32-bit little-endian. */
typedef struct ControlRequest {
    ULONG controlId; /* CameraControlId */
    ULONG kind;      /* GET_ENABLE, SET_DATA or GET_DATA */
    LONG value;      /* SET_DATA: the new value; otherwise zero */
    ULONG reserved;  /* zero */
} ControlRequest;

/* The same 16 bytes as the driver leaves them after a get. */
typedef struct ControlReply {
    LONG enableOrValue; /* GET_ENABLE: non-zero when present; GET_DATA: current value */
    LONG defaultValue;  /* GET_ENABLE only */
    LONG minValue;      /* GET_ENABLE only */
    LONG maxValue;      /* GET_ENABLE only */
} ControlReply;

/* Property 1 block, sent only as a set with kind SET_ENABLE. */
typedef struct ControlRequest32 {
    ULONG controlId;
    ULONG kind;        /* always SET_ENABLE */
    ULONG enable;      /* always 1 */
    LONG defaultValue; /* the control's factory default */
    ULONG reserved[4]; /* zero */
} ControlRequest32;

C_ASSERT(sizeof(ControlRequest) == VALUE10H_SIZE);
C_ASSERT(sizeof(ControlReply) == VALUE10H_SIZE);
C_ASSERT(sizeof(ControlRequest32) == VALUE20H_SIZE);
C_ASSERT(offsetof(ControlRequest, controlId) == 0);
C_ASSERT(offsetof(ControlRequest, kind) == 4);
C_ASSERT(offsetof(ControlRequest, value) == 8);
C_ASSERT(offsetof(ControlRequest, reserved) == 12);
C_ASSERT(offsetof(ControlReply, defaultValue) == 4);
C_ASSERT(offsetof(ControlReply, minValue) == 8);
C_ASSERT(offsetof(ControlReply, maxValue) == 12);
C_ASSERT(offsetof(ControlRequest32, kind) == 4);
C_ASSERT(offsetof(ControlRequest32, enable) == 8);
C_ASSERT(offsetof(ControlRequest32, defaultValue) == 12);
C_ASSERT(offsetof(ControlRequest32, reserved) == 16);

/* IFace: the camera's private interface, identifier CameraPropertySet. Each
 * method is one get or set of one property; the HRESULT of the property call
 * comes back unchanged. A get hands the caller's block to the driver as
 * instance data and as the reply buffer; the returned byte count is written
 * only when the call succeeds. The method order is part of the interface. */
/* C's DECLARE_INTERFACE makes the typedef itself (a second one is an error
 * before C11), so only C++ declares the name ahead. */
#ifndef __IFace_FWD_DEFINED__
#define __IFace_FWD_DEFINED__
#ifdef __cplusplus
typedef interface IFace IFace;
#endif
#endif

#ifndef __IFace_INTERFACE_DEFINED__
#define __IFace_INTERFACE_DEFINED__
/* The identifier rides on the declaration itself, so that __uuidof(IFace)
 * and IID_PPV_ARGS work in C++: MSVC reads it from __declspec(uuid), which
 * DECLARE_INTERFACE_IID_ puts there; MinGW-w64 from __CRT_UUID_DECL below. */
#undef INTERFACE
#define INTERFACE IFace
DECLARE_INTERFACE_IID_(IFace, IUnknown, "04F2A42A-479F-4511-8F03-1CE31876DBCC")
{
#if !defined(__cplusplus) || defined(CINTERFACE)
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
#endif
    STDMETHOD(SetValue10h)(THIS_ void *block) PURE;
    STDMETHOD(GetValue10h)(THIS_ void *block, DWORD *returned) PURE;
    STDMETHOD(SetValue20h)(THIS_ void *block) PURE;
    STDMETHOD(GetValue20h)(THIS_ void *block, DWORD *returned) PURE;
    STDMETHOD(SetValue30h)(THIS_ void *block) PURE;
    STDMETHOD(GetValue30h)(THIS_ void *block, DWORD *returned) PURE;
    STDMETHOD(SetValue40h)(THIS_ void *block) PURE;
    STDMETHOD(GetValue40h)(THIS_ void *block, DWORD *returned) PURE;
    STDMETHOD(SetValue50h)(THIS_ void *block) PURE;
    STDMETHOD(GetValue50h)(THIS_ void *block, DWORD *returned) PURE;
};
#undef INTERFACE

#if defined(__cplusplus) && !defined(CINTERFACE) && defined(__CRT_UUID_DECL)
__CRT_UUID_DECL(IFace, 0x04F2A42A, 0x479F, 0x4511, 0x8F, 0x03, 0x1C, 0xE3, 0x18, 0x76, 0xDB, 0xCC)
#endif

#if !defined(__cplusplus) || defined(CINTERFACE)
#define IFace_QueryInterface(p, riid, ppv) (p)->lpVtbl->QueryInterface(p, riid, ppv)
#define IFace_AddRef(p) (p)->lpVtbl->AddRef(p)
#define IFace_Release(p) (p)->lpVtbl->Release(p)
#define IFace_SetValue10h(p, block) (p)->lpVtbl->SetValue10h(p, block)
#define IFace_GetValue10h(p, block, returned) (p)->lpVtbl->GetValue10h(p, block, returned)
#define IFace_SetValue20h(p, block) (p)->lpVtbl->SetValue20h(p, block)
#define IFace_GetValue20h(p, block, returned) (p)->lpVtbl->GetValue20h(p, block, returned)
#define IFace_SetValue30h(p, block) (p)->lpVtbl->SetValue30h(p, block)
#define IFace_GetValue30h(p, block, returned) (p)->lpVtbl->GetValue30h(p, block, returned)
#define IFace_SetValue40h(p, block) (p)->lpVtbl->SetValue40h(p, block)
#define IFace_GetValue40h(p, block, returned) (p)->lpVtbl->GetValue40h(p, block, returned)
#define IFace_SetValue50h(p, block) (p)->lpVtbl->SetValue50h(p, block)
#define IFace_GetValue50h(p, block, returned) (p)->lpVtbl->GetValue50h(p, block, returned)
#else
#define IFace_QueryInterface(p, riid, ppv) (p)->QueryInterface(riid, ppv)
#define IFace_AddRef(p) (p)->AddRef()
#define IFace_Release(p) (p)->Release()
#define IFace_SetValue10h(p, block) (p)->SetValue10h(block)
#define IFace_GetValue10h(p, block, returned) (p)->GetValue10h(block, returned)
#define IFace_SetValue20h(p, block) (p)->SetValue20h(block)
#define IFace_GetValue20h(p, block, returned) (p)->GetValue20h(block, returned)
#define IFace_SetValue30h(p, block) (p)->SetValue30h(block)
#define IFace_GetValue30h(p, block, returned) (p)->GetValue30h(block, returned)
#define IFace_SetValue40h(p, block) (p)->SetValue40h(block)
#define IFace_GetValue40h(p, block, returned) (p)->GetValue40h(block, returned)
#define IFace_SetValue50h(p, block) (p)->SetValue50h(block)
#define IFace_GetValue50h(p, block, returned) (p)->GetValue50h(block, returned)
#endif
#endif /* __IFace_INTERFACE_DEFINED__ */

#endif /* VIREOCTL_H */
