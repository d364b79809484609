// vireoctl.h - camera control interface of the vireoprop proxy extension.
//
// This is the header that applications include to talk to the camera. Every
// setting travels to the driver as a fixed-size block of one property of the
// vendor property set CameraPropertySet, through the capture filter's
// IKsPropertySet. The extension aggregates an object into the capture filter
// that offers IFace, one set/get pair of methods per property.
//
// Usage from an application holding the camera's capture filter:
//
//     IFace *face = NULL;
//     if (SUCCEEDED(filter->QueryInterface(CameraPropertySet, (void **)&face))) {
//         ControlRequest rq = { EXPOSURE, SET_DATA, 284, 0 };
//         HRESULT hr = face->SetValue10h(&rq);
//         face->Release();
//     }
#ifndef VIREOCTL_H
#define VIREOCTL_H

#include <windows.h>
#include <unknwn.h>
#include <stddef.h>

// {04F2A42A-479F-4511-8F03-1CE31876DBCC}: the vendor property set, the
// interface identifier of IFace and the class identifier of the handler.
static const GUID CameraPropertySet = {
    0x04F2A42A, 0x479F, 0x4511, {0x8F, 0x03, 0x1C, 0xE3, 0x18, 0x76, 0xDB, 0xCC}};

// {04FDFB8E-EC1E-44E6-B36E-5877D11903D5}: the "Camera Setting" property page.
static const GUID CLSID_CameraSettingPage = {
    0x04FDFB8E, 0xEC1E, 0x44E6, {0xB3, 0x6E, 0x58, 0x77, 0xD1, 0x19, 0x03, 0xD5}};

// Properties of CameraPropertySet; each has one block size for get and set.
enum CameraProperty {
    VALUE10H = 0,  // ControlRequest: GET_ENABLE, SET_DATA, GET_DATA
    VALUE20H = 1,  // ControlRequest32: SET_ENABLE
    VALUE30H = 2,  // opaque 48-byte block
    VALUE40H = 3,  // opaque 64-byte block
    VALUE50H = 4   // opaque 80-byte block
};

enum CameraPropertySize {
    VALUE10H_SIZE = 16,
    VALUE20H_SIZE = 32,
    VALUE30H_SIZE = 48,
    VALUE40H_SIZE = 64,
    VALUE50H_SIZE = 80
};

// Request kinds: the second word of both request records.
enum ControlRequestKind {
    GET_ENABLE = 0,  // property 0, get: enable flag, default, minimum, maximum
    SET_DATA = 1,    // property 0, set: the control's current value
    GET_DATA = 2,    // property 0, get: the current value comes back in word 0
    SET_ENABLE = 3   // property 1, set: enable flag and default value
};

// Control identifiers of the camera.
enum CameraControlId {
    EXPOSURE = 12,        // exposure time, units of 0.1 ms
    AEC = 13,             // automatic exposure: 0 off, 1 on
    FLIP = 16,            // image flip
    MIRROR = 17,          // image mirror
    PRIVACY = 18,         // privacy (no picture)
    LEDCTRL = 29,         // LED
    A_GAIN = 300,         // analog gain code
    A_AUTOGAIN = 301,     // automatic analog gain
    D_GAIN = 302,         // digital gain, steps of 0.25
    EXPOSURE2CTRL = 303,  // second (shutter list) exposure enabled
    EXPOSURE2VAL = 304,   // index into the shutter list
    STROBECTRL = 305,     // strobe output enabled
    STROBEINVERT = 306,   // strobe output inverted
    VGA_FPS = 307,        // frame rate at VGA size, index into the rate list
    QVGA_FPS = 308        // frame rate at QVGA size, index into the rate list
};

enum { CAMERA_CONTROL_COUNT = 15 };

// All fifteen controls, in the order in which the setting page loads them.
static const ULONG CameraControlIds[CAMERA_CONTROL_COUNT] = {
    A_GAIN, A_AUTOGAIN, D_GAIN, EXPOSURE, AEC, EXPOSURE2CTRL, EXPOSURE2VAL, FLIP,
    MIRROR, LEDCTRL, STROBECTRL, STROBEINVERT, VGA_FPS, QVGA_FPS, PRIVACY};

// The control's factory default, the value that the page's Default button
// writes; -1 is never a default, so it marks an unknown id.
static inline LONG CameraControlFactoryDefault(ULONG id)
{
    switch (id) {
    case A_GAIN: return 1;
    case A_AUTOGAIN: return 1;
    case D_GAIN: return 4;
    case EXPOSURE: return 284;
    case AEC: return 1;
    case EXPOSURE2CTRL: return 0;
    case EXPOSURE2VAL: return 6;
    case FLIP: case MIRROR: case LEDCTRL: case PRIVACY: return 0;
    case STROBECTRL: case STROBEINVERT: return 0;
    case VGA_FPS: case QVGA_FPS: return 3;
    default: return -1;
    }
}

// EXPOSURE2VAL: index into the shutter list, exposure time in microseconds.
enum { SHUTTER_COUNT = 10 };
static const LONG ShutterMicroseconds[SHUTTER_COUNT] = {
    100, 200, 500, 1000, 2000, 5000, 10000, 20000, 50000, 100000};

// VGA_FPS and QVGA_FPS: index into the frame-rate list, frames per second.
enum { FRAME_RATE_COUNT = 5 };
static const LONG FrameRatesPerSecond[FRAME_RATE_COUNT] = {60, 50, 30, 25, 15};

// Display conversions; the value on the wire is never converted back.
static inline double AnalogGainFactor(LONG v)
{
    return v <= 16 ? 1.0 + (v - 1) * 0.0625 : (v - 1) * 0.125;
}
static inline double DigitalGainFactor(LONG v) { return v * 0.25; }
static inline double ExposureMilliseconds(LONG v) { return v * 0.1; }

// Property 0 block as sent. All fields are 32-bit little-endian.
struct ControlRequest {
    ULONG controlId;  // CameraControlId
    ULONG kind;       // GET_ENABLE, SET_DATA or GET_DATA
    LONG value;       // SET_DATA: the new value; otherwise zero
    ULONG reserved;   // zero
};

// The same 16 bytes as the driver leaves them after a get.
struct ControlReply {
    LONG enableOrValue;  // GET_ENABLE: non-zero when present; GET_DATA: current value
    LONG defaultValue;   // GET_ENABLE only
    LONG minValue;       // GET_ENABLE only
    LONG maxValue;       // GET_ENABLE only
};

// Property 1 block, sent only as a set with kind SET_ENABLE.
struct ControlRequest32 {
    ULONG controlId;
    ULONG kind;         // always SET_ENABLE
    ULONG enable;       // always 1
    LONG defaultValue;  // the control's factory default
    ULONG reserved[4];  // zero
};

#ifdef __cplusplus
static_assert(sizeof(ControlRequest) == VALUE10H_SIZE, "ControlRequest is 16 bytes");
static_assert(sizeof(ControlReply) == VALUE10H_SIZE, "ControlReply is 16 bytes");
static_assert(sizeof(ControlRequest32) == VALUE20H_SIZE, "ControlRequest32 is 32 bytes");
static_assert(offsetof(ControlRequest, controlId) == 0, "control id at 0");
static_assert(offsetof(ControlRequest, kind) == 4, "kind at 4");
static_assert(offsetof(ControlRequest, value) == 8, "value at 8");
static_assert(offsetof(ControlRequest, reserved) == 12, "reserved at 12");
static_assert(offsetof(ControlReply, defaultValue) == 4, "default at 4");
static_assert(offsetof(ControlReply, minValue) == 8, "minimum at 8");
static_assert(offsetof(ControlReply, maxValue) == 12, "maximum at 12");
static_assert(offsetof(ControlRequest32, kind) == 4, "kind at 4");
static_assert(offsetof(ControlRequest32, enable) == 8, "enable at 8");
static_assert(offsetof(ControlRequest32, defaultValue) == 12, "default at 12");
static_assert(offsetof(ControlRequest32, reserved) == 16, "reserved from 16");
#endif

// IFace: the camera's private interface, identifier CameraPropertySet. Each
// method is one get or set of one property; the HRESULT of the property call
// comes back unchanged. A get hands the caller's block to the driver as
// instance data and as the reply buffer; the returned byte count is written
// only when the call succeeds. The method order is part of the interface.
#ifdef __cplusplus
struct IFace : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetValue10h(void *block) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetValue10h(void *block, DWORD *returned) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetValue20h(void *block) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetValue20h(void *block, DWORD *returned) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetValue30h(void *block) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetValue30h(void *block, DWORD *returned) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetValue40h(void *block) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetValue40h(void *block, DWORD *returned) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetValue50h(void *block) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetValue50h(void *block, DWORD *returned) = 0;
};
#endif

#endif  // VIREOCTL_H
