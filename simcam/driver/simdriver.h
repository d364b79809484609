// simdriver.h - the simulated camera driver: answers the vendor property set
// CameraPropertySet the way the camera's kernel-mode driver does.
//
// The state is one plain record (SimDriverState) with no pointers, so it can
// live in a block of memory shared between processes; SimDriver works on a
// record it is given and does no locking of its own (callers that share the
// record across threads or processes hold their lock around each call).
#ifndef SIMCAM_SIMDRIVER_H
#define SIMCAM_SIMDRIVER_H

#include <windows.h>

#include "vireosim.h"

// Codes the kernel-streaming proxy returns for what a driver does not know.
static const HRESULT SIM_E_PROP_SET_UNSUPPORTED = static_cast<HRESULT>(0x80070492);
static const HRESULT SIM_E_PROP_ID_UNSUPPORTED = static_cast<HRESULT>(0x80070490);
static const HRESULT SIM_E_BUFFER_TOO_SMALL = static_cast<HRESULT>(0x8007007A);

enum { SIM_OPAQUE_PROPERTIES = 3 };

struct SimControl {
    ULONG id;
    LONG enable;  // what GET_ENABLE reports in word 0
    LONG defaultValue;
    LONG minValue;
    LONG maxValue;
    LONG value;  // current value: what GET_DATA reports, what SET_DATA writes
};

// A rule that makes matching requests fail with a given HRESULT.
// property: 0 or 1 (or VIREO_SIM_ANY); controlId and kind may be VIREO_SIM_ANY.
struct SimFault {
    ULONG active;
    ULONG property;
    ULONG controlId;
    ULONG kind;
    HRESULT result;
    LONG remaining;  // requests left to fail; negative: every one
};

// One request as the driver received it.
struct SimRequest {
    ULONG isSet;           // 1 for IKsPropertySet::Set, 0 for Get
    ULONG property;        // property id of CameraPropertySet
    ULONG instanceLength;  // length of the instance data
    ULONG dataLength;      // length of the property data
    ULONG sameBuffer;      // Get: instance data and reply buffer were one block
    BYTE block[80];        // Get: the instance data; Set: the property data (first 80 bytes)
    HRESULT result;        // what the driver answered

    ULONG ControlId() const { return *reinterpret_cast<const ULONG *>(block); }
    ULONG Kind() const { return *reinterpret_cast<const ULONG *>(block + 4); }
    LONG Value() const { return *reinterpret_cast<const LONG *>(block + 8); }
    LONG Word(int i) const { return *reinterpret_cast<const LONG *>(block + 4 * i); }
};

// The request as the public library reports it: control, kind and the
// value a set sent (SET_ENABLE: the default), read off its block.
VireoSimRequest SimDecodeRequest(const SimRequest &r);

struct SimDriverState {
    ULONG magic;
    SimControl controls[CAMERA_CONTROL_COUNT];
    SimFault faults[VIREO_SIM_MAX_REFUSALS];
    BYTE opaque[SIM_OPAQUE_PROPERTIES][80];  // last block set on properties 2 to 4
    LONG logCount;  // requests received since the last ClearLog (may exceed capacity)
    SimRequest log[VIREO_SIM_LOG_CAPACITY];  // ring: entry n is log[n % capacity]
};

class SimDriver {
public:
    explicit SimDriver(SimDriverState *state);

    // Factory state: every control present, at its default, no faults, empty log.
    void Reset();
    // The controls alone back to the factory state (presence, range, value).
    void ResetControls();

    // IKsPropertySet, for set CameraPropertySet (any other set is refused).
    HRESULT Get(REFGUID set, ULONG property, const void *instance, ULONG instanceLength, void *data,
                ULONG dataLength, DWORD *returned);
    HRESULT Set(REFGUID set, ULONG property, const void *instance, ULONG instanceLength,
                const void *data, ULONG dataLength);

    // Direct access for tests and for the picture.
    SimControl *Control(ULONG id);
    LONG Value(ULONG id);  // 0 for an unknown id
    void SetValue(ULONG id, LONG value);
    void SetPresent(ULONG id, bool present);
    void SetRange(ULONG id, LONG minValue, LONG maxValue);

    // Fault injection.
    void AddFault(ULONG property, ULONG controlId, ULONG kind, HRESULT result, LONG count = -1);
    void ClearFaults();

    // The log of received requests.
    LONG LogCount() const;
    const SimRequest *LogEntry(LONG index) const;  // null when out of the ring
    void ClearLog();

private:
    HRESULT Fault(ULONG property, ULONG controlId, ULONG kind);
    HRESULT GetControl(ULONG controlId, ULONG kind, ControlReply *reply, ULONG *replyLength);
    void Log(bool isSet, ULONG property, const void *block, ULONG instanceLength, ULONG dataLength,
             bool sameBuffer, HRESULT result);

    SimDriverState *m_state;
};

#endif  // SIMCAM_SIMDRIVER_H
