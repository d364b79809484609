// simcontrol.h - the control path that tests and benchmarks use to watch
// and steer the simulated camera: the public library's device operations
// (SimCamTable) and, beyond them, the switches that make the filter
// misbehave on purpose and the reports of what it did. Test equipment, not
// part of the shipped library.
//
// Every process that opens the simulated camera (the filter inside simcam.ax,
// wherever an application creates it) and every test that opens a
// SimCamControl works on the same shared block (simshared.h). A test that
// keeps a SimCamControl open while it starts other programs sees what the
// camera does inside them. Unplugging a camera, power-cycling it,
// registering or unregistering simcam.ax and SimCamControl::Reset give the
// factory values.
//
// A SimCamControl addresses one device (SimCamControl(i); device 0 by
// default) for the driver, plugging, power and readiness; the test switches
// and the reports below are the block's, shared by all.
//
// Typical use in a test:
//
//     SimCamControl cam;                    // opens (or creates) the block
//     ASSERT_TRUE(cam.IsOpen());
//     cam.Reset();                          // factory state, empty records
//     cam.SetValue(EXPOSURE, 500);          // what the driver reports from now on
//     cam.AddFault(VALUE10H, A_GAIN, SET_DATA, E_FAIL, 1);
//     ... build a graph, run it, drive the page ...
//     EXPECT_GT(cam.FramesDelivered(), 0);
//     std::vector<SimRequest> log = cam.Log();
//     std::vector<SimEvent> events = cam.Events();
//     // e.g. the last SIM_EVENT_STOP comes before the SIM_EVENT_RELEASE
//
// What a test can read back of a client (capview, a capture program):
//     cam.Events(SIM_EVENT_SETFORMAT)  every SetFormat: the type it was given
//                                      (format: GUIDs, cbFormat, the video info
//                                      header) and its result
//     cam.Events(SIM_EVENT_JOIN)       the name the filter joined the graph under
//     cam.Events(SIM_EVENT_CONNECT)    what the pin connected to (class and name
//                                      of the peer filter; CLSID_SmartTee when
//                                      the preview stream comes through a tee)
//     cam.Events(SIM_EVENT_RUN)        result, and the stream's way down (text)
//     e.device                         which device of the table it was
// And set: the capability list (SetCapabilities, SetCapsRecordSize), refusals
// (RefuseSetFormat, RefuseConnection, ...), unplugging (Unplug, Plug), power
// (PowerCycle), a camera still starting (SetNotReady), a camera in use
// (SetBusy), more devices (AddDevice, RemoveDevice). simcamctl.exe does the
// device part from the command line.
//
// Link the static library simcam_control (it brings the table and the
// driver model along).
#ifndef VIREO_TESTS_SIMCONTROL_H
#define VIREO_TESTS_SIMCONTROL_H

#include <windows.h>
#include <dshow.h>

#include <string>
#include <vector>

#include <wrl/client.h>

#include "table.h"

// One device's simulated driver with the block's lock held, from LockDriver
// until it goes: requests sent through Driver() arrive as the filter's do.
//
//     {
//         SimCamDriverLock driver = cam.LockDriver();
//         driver.Driver().Set(CameraPropertySet, VALUE10H, NULL, 0, &rq, sizeof(rq));
//         SimRenderFrame(bits, width, height, 1, driver.State());
//     }
class SimCamDriverLock {
public:
    SimCamDriverLock(SimCamBlock &block, ULONG device)
        : m_lock(block), m_device(m_lock->Device(device))
    {
    }
    SimDriver Driver() { return m_device.Driver(); }
    const SimDriverState &State() const { return m_device.DriverState(); }

private:
    SimCamLock m_lock;
    SimCamDevice &m_device;
};

// The control path of tests and benchmarks. Each method takes the lock for
// its own duration.
//
// One SimCamControl addresses one device of the table, given at construction
// (device 0 by default): the driver methods, Unplug, Plug, PowerCycle,
// SetNotReady, SetBusy, OwnerProcess and RefusedRequests are that device's.
//
//     SimCamControl cam;                        // device 0
//     const int twin = cam.AddDevice(L"Vireo Simulated Camera");
//     SimCamControl other(twin);                // the second of that name
//     other.SetValue(FLIP, 1);                  // device 0 keeps FLIP 0
//     other.RemoveDevice();
class SimCamControl {
public:
    // Opens the block; an index beyond the table gives a control that is not
    // open (IsOpen false), on which nothing else may be called.
    explicit SimCamControl(ULONG device = 0);
    bool IsOpen() const { return m_inRange && m_table.IsOpen(); }
    ULONG Device() const { return m_device; }
    bool Exists();  // the addressed device is in the table

    // Every device of the table: factory state of its driver (every control
    // present at its default, no faults, empty log), plugged in, not busy,
    // ready (its not-ready setting 0); the block's switches off (the
    // capability list the camera's own), frame count and events cleared. The
    // table itself (which devices there are), the current format, the count
    // of live filters and the streaming filters are kept: they describe
    // objects that exist. Of the registry Reset touches only the saved
    // table: after an Unplug, Plug (or registering simcam.ax) brings the
    // category entry back.
    void Reset();

    // The simulated driver. LockDriver holds the lock for the life of what it
    // returns (see SimCamDriverLock). The other methods do one driver call
    // each under the lock.
    SimCamDriverLock LockDriver();
    LONG Value(ULONG id);
    void SetValue(ULONG id, LONG value);
    bool GetControl(ULONG id, SimControl *out);  // false for an unknown id
    void SetPresent(ULONG id, bool present);
    void SetRange(ULONG id, LONG minValue, LONG maxValue);

    // Fault injection: requests matching (property, control id, kind; VIREO_SIM_ANY
    // for any) fail with result, count times (negative: always).
    void AddFault(ULONG property, ULONG controlId, ULONG kind, HRESULT result, LONG count = -1);
    void ClearFaults();

    // The requests that reached the driver, oldest first (at most the ring's
    // capacity of the newest ones).
    LONG LogCount();
    std::vector<SimRequest> Log();
    void ClearLog();

    // Switches.
    void RefuseSetFormat(bool refuse, HRESULT result = E_FAIL);
    void ForceZeroImageSize(bool on);
    void HideStreamConfig(bool on);
    void RefuseConnection(bool on);
    void CutFormatBlock(bool on);

    // The capability list. SetCapsRecordSize: the record size that
    // GetNumberOfCapabilities reports (0: the real one, 128).
    // SetCapabilities: the entries that GetNumberOfCapabilities counts and
    // GetStreamCaps gives, in order, each a size index (0 to 3) or a
    // SimCapsEntry; empty: the camera's own list, the four sizes. Other
    // indexes give S_FALSE. The types the pin enumerates stay the four sizes.
    //     cam.SetCapabilities({SIM_CAPS_FAILING, 1, SIM_CAPS_SHORT_FORMAT, 2});
    void SetCapsRecordSize(int size);
    void SetCapabilities(const std::vector<LONG> &entries);

    // The device operations of SimCamTable on the addressed device.
    HRESULT Unplug();
    HRESULT Plug();
    bool Unplugged();
    HRESULT PowerCycle();
    void SetNotReady(ULONG ms);
    bool NotReady();         // the device answers VIREO_SIM_E_NOT_READY now
    LONG RefusedRequests();  // property requests refused while unplugged, since the last Reset
    // Busy: another application captures from the camera; running a
    // connected filter fails with VIREO_SIM_E_DEVICE_BUSY (as it does for every
    // filter but the one already streaming, in any process, until that one
    // stops). The refusal comes from Run, not Pause: the graph has paused
    // every filter by then and stops them all again.
    void SetBusy(bool busy);
    // The process whose filter streams from the camera now (0: none).
    ULONG OwnerProcess();

    // SimCamTable::Add and Remove (of the addressed device).
    int AddDevice(const WCHAR *name);
    HRESULT RemoveDevice();
    std::vector<SimCamDeviceInfo> Devices();  // by index

    // Reports.
    std::vector<SimEvent> Events();            // oldest first
    std::vector<SimEvent> Events(ULONG kind);  // those of one kind, oldest first
    LONG FramesDelivered();
    bool CurrentFormat(LONG *width, LONG *height);  // false before any filter set one
    LONG FiltersAlive();

    SimCamBlock &Block() { return m_table.Block(); }

private:
    // The addressed device's slot, for the life of lock.
    SimCamDevice &Dev(const SimCamLock &lock) { return lock->Device(m_device); }
    void SetSwitch(SimSwitch which, bool on);
    SimCamTable m_table;
    const ULONG m_device;
    const bool m_inRange;
};

// A request in a form that reads well in a test's failure: "GE 300"
// GET_ENABLE, "GD 300" GET_DATA, "SD 300=5" SET_DATA, "SE 300=1" SET_ENABLE
// with its default; anything else "? set=1 property=2". text holds 64.
void SimDescribeRequest(const SimRequest &r, char *text, size_t size);

// The simulated camera as the system device enumerator lists it.
// SimCamMonikerIsOurs: the moniker's FriendlyName is the simulated camera's.
// SimCamMonikerDevice: the index of the device whose path is the moniker's
// DevicePath, -1 when it is none of the table's.
// SimCamBindFilter: binds the first video input device that is the simulated
// camera (COM initialised by the caller); null when none is registered. The
// reference that binding gives is the one returned.
bool SimCamMonikerIsOurs(IMoniker *moniker);
int SimCamMonikerDevice(IMoniker *moniker);
Microsoft::WRL::ComPtr<IBaseFilter> SimCamBindFilter();

#endif  // VIREO_TESTS_SIMCONTROL_H
