// simcontrol.h - the simulated camera's shared state, and the control path
// that tests and benchmarks use to watch and steer it.
//
// Every process that opens the simulated camera (the filter inside simcam.ax,
// wherever an application creates it) and every test that opens a
// SimCamControl works on the same block of named shared memory, guarded by a
// named mutex held around each access. The block holds:
//   - the device table: up to SIMCAM_MAX_DEVICES cameras, each with its
//     friendly name, its device path (SimCamDevicePath), plugged or not, its
//     not-ready setting, and its own simulated driver (SimDriverState:
//     control values, fault rules and the log of property requests that
//     reached it). Device 0, SIMCAM_FRIENDLY_NAME, is the one registering
//     simcam.ax installs; SimCamControl::AddDevice adds more, under any
//     name (two cameras of one model share one);
//   - switches a test sets to make the filter misbehave on purpose (refuse
//     SetFormat, offer types with an image size of 0, offer no stream
//     configuration, connect to nothing, connect with a cut format block);
//   - what the filter reports back: its state transitions and final
//     releases in order, the frames it delivered, the current format size.
// The block lives as long as one process holds it open; a test that keeps a
// SimCamControl open while it starts other programs sees what the camera does
// inside them. The device table outlives it, as a powered camera keeps its
// settings: each process that lets the block go (and each change of the
// table) leaves it in the registry (HKCU, SIMCAM_SETTINGS_KEY: names, plugged
// or not, control values, not-ready settings), and the next block to be laid
// out takes it up. Unplugging a camera, power-cycling it, registering or
// unregistering simcam.ax and SimCamControl::Reset give the factory values.
//
// Each device of the table is one instance of CLSID_SimCamFilter in the
// video input category, its instance key holding the device path as
// "DevicePath"; the filter learns its device from that value when the
// moniker loads it (IPersistPropertyBag::Load), and is device 0 when created
// without a moniker. A SimCamControl addresses one device (SimCamControl(i);
// device 0 by default) for the driver, plugging, power and readiness; the
// test switches and the reports below are the block's, shared by all.
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
// Link the static library simcam_control (it brings the driver model along).
#ifndef SIMCAM_SIMCONTROL_H
#define SIMCAM_SIMCONTROL_H

#include <windows.h>
#include <dshow.h>

#include <string>
#include <vector>

#include "simdriver.h"

// {D0AF50DC-6191-401C-AD58-C7AED26E8597}: the simulated camera's capture
// source filter, registered in the video input device category.
static const GUID CLSID_SimCamFilter = {
    0xD0AF50DC, 0x6191, 0x401C, {0xAD, 0x58, 0xC7, 0xAE, 0xD2, 0x6E, 0x85, 0x97}};

// The device's friendly name, as the system device enumerator reports it.
#define SIMCAM_FRIENDLY_NAME L"Vireo Simulated Camera"

// Names of the shared block and of its mutex (session-local).
#define SIMCAM_SHARED_NAME L"Local\\VireoSimCamState"
#define SIMCAM_MUTEX_NAME L"Local\\VireoSimCamLock"

// Where the device table waits while no process holds the block: a key
// "Device N" for each device N of the table, with "Name" (REG_SZ),
// "Unplugged" (REG_DWORD 1, absent while plugged), "Values" (REG_BINARY,
// pairs of control id and value, absent while every control is at its
// factory value), "NotReady" (REG_DWORD, milliseconds, absent at 0) and
// "NotReadyUntil" (REG_QWORD, system time in FILETIME units).
#define SIMCAM_SETTINGS_KEY L"Software\\Vireo\\Simulated Camera"

enum { SIMCAM_MAX_DEVICES = 8, SIMCAM_NAME_CAPACITY = 64 };

// The interface classes in a device path: KSCATEGORY_CAPTURE, as the
// moniker's DevicePath has it, and KSCATEGORY_VIDEO_CAMERA, as device
// messages name the camera.
static const GUID SIMCAM_CAPTURE_CLASS = {
    0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
static const GUID SIMCAM_CAMERA_CLASS = {
    0xE5323777, 0xF976, 0x4F5B, {0x9B, 0x55, 0xB9, 0x46, 0x99, 0xC4, 0x6E, 0x44}};

// The path of device index, as a USB camera's interface of class
// interfaceClass: "\\?\usb#vid_2e9a&pid_0b01&mi_00#7&2f1c0a1&0&000N#{class}\global"
// with N the index and the class in lower case. The same for a device across
// unplugging, plugging and processes.
std::wstring SimCamDevicePath(ULONG index, REFGUID interfaceClass = SIMCAM_CAPTURE_CLASS);

// What the camera answers while it is unplugged (property requests, and a
// stream started on it), while another client captures from it (a stream
// started on it) and while it is still starting (property requests). The
// second is what Windows' capture filters were seen to give when a second
// filter of the same device starts.
static const HRESULT SIMCAM_E_DEVICE_GONE =
    static_cast<HRESULT>(0x8007048F);  // ERROR_DEVICE_NOT_CONNECTED
static const HRESULT SIMCAM_E_DEVICE_BUSY =
    static_cast<HRESULT>(0x800705AA);  // ERROR_NO_SYSTEM_RESOURCES
static const HRESULT SIMCAM_E_NOT_READY = static_cast<HRESULT>(0x80070015);  // ERROR_NOT_READY

// What the filter records, in the order it happens.
enum SimEventKind {
    SIM_EVENT_CREATE = 1,  // a filter object was created (device: which one)
    SIM_EVENT_STOP = 2,    // IMediaFilter::Stop was called
    SIM_EVENT_PAUSE =
        3,              // IMediaFilter::Pause was called (result; path when it started the stream)
    SIM_EVENT_RUN = 4,  // IMediaFilter::Run was called (result; path when it started the stream)
    SIM_EVENT_RELEASE = 5,     // the filter's last reference went: it is destroyed
    SIM_EVENT_JOIN = 6,        // IBaseFilter::JoinFilterGraph with a graph (text: the name)
    SIM_EVENT_SETFORMAT = 7,   // IAMStreamConfig::SetFormat (format: the type given; result)
    SIM_EVENT_CONNECT = 8,     // the pin connected (format: the type; peer, text: the peer filter)
    SIM_EVENT_DEVICE_LOST = 9  // EC_DEVICE_LOST sent to the graph (result: its second
                               //   parameter, 0 gone, 1 back)
};

// A media type as the filter was given it: the GUIDs, the format length,
// whether a format block was there, and its first bytes as a video info
// header (zeros beyond cbFormat).
struct SimMediaRecord {
    ULONG given;  // 0: a null type pointer
    GUID majortype;
    GUID subtype;
    GUID formattype;
    ULONG cbFormat;
    ULONG hasBlock;  // pbFormat was not null
    VIDEOINFOHEADER vih;
};

struct SimEvent {
    ULONG kind;       // SimEventKind
    ULONG processId;  // process in which the filter lives
    ULONG filterId;   // the filter object's serial number (unique in the block)
    ULONG state;      // the filter's state after the call (0 stopped, 1 paused, 2 running)
    ULONG graphRefs;  // SIM_EVENT_STOP: references on the filter graph when the stop
                      //   arrived (0: in no graph). A graph that stops itself in its
                      //   final release holds only the guard reference of that
                      //   release (1); a stop from an application that still holds
                      //   the graph finds more.
    ULONG device;     // the device of the filter (its index in the table)
    HRESULT result;   // PAUSE, RUN, SETFORMAT: what the call returned; DEVICE_LOST: param 2
    CLSID peer;       // CONNECT: class of the filter the pin connected to
    WCHAR text[64];   // JOIN: the name the filter joined the graph under.
                      // CONNECT: the peer filter's name in the graph.
                      // PAUSE, RUN that started the stream: the stream's way down,
                      //   "<filter>" (its name in the graph) for a filter on the pin
                      //   itself, or "Smart Tee/<tee pin>><filter>" for each output
                      //   of a Smart Tee behind it, joined by "|" (so
                      //   "Smart Tee/Preview>SamGra" is
                      //   the preview stream of the capture graph builder).
    SimMediaRecord format;
};

enum { SIM_EVENT_CAPACITY = 1024 };

// The capability list a test can lay out (SimCamControl::SetCapabilities):
// each entry is one of the camera's sizes (0 to 3: 640x480, 320x240,
// 1280x720, 160x120) or one of these entries that a reader must pass over.
enum SimCapsEntry {
    SIM_CAPS_FAILING = -1,       // GetStreamCaps fails (E_FAIL), no type
    SIM_CAPS_OTHER_TYPE = -2,    // a FORMAT_VideoInfo2 type (VIDEOINFOHEADER2 block)
    SIM_CAPS_SHORT_FORMAT = -3,  // FORMAT_VideoInfo with an 87-byte format block
    SIM_CAPS_NULL_FORMAT = -4    // FORMAT_VideoInfo, cbFormat 88, no format block
};
enum { SIM_CAPS_CAPACITY = 16 };

// One camera of the device table.
struct SimCamDevice {
    LONG inTable;                      // non-zero: the slot holds a device
    ULONG serial;                      // new each time the slot takes a device: the
                                       //   filters of an earlier one find it gone
    WCHAR name[SIMCAM_NAME_CAPACITY];  // friendly name
    LONG unplugged;                    // non-zero: the camera is gone
    LONG busy;                         // non-zero: another application captures from it
    LONG refusedRequests;  // property requests refused while unplugged, since the last Reset
    // The filter that streams from the camera (0: none), and its process.
    ULONG ownerFilter;
    ULONG ownerProcess;
    ULONG notReadyMs;        // each plug and power cycle starts a not-ready time this long
    LONGLONG notReadyUntil;  // system time (FILETIME units) until which property
                             //   requests fail with SIMCAM_E_NOT_READY; 0: none
    SimDriverState driver;
};

// The shared block. Plain data only; every field is read and written with
// the mutex held.
struct SimCamShared {
    ULONG magic;
    ULONG size;  // sizeof(SimCamShared), to catch mismatched builds
    ULONG nextSerial;
    SimCamDevice devices[SIMCAM_MAX_DEVICES];

    // Switches set by tests.
    LONG refuseSetFormat;   // non-zero: IAMStreamConfig::SetFormat fails ...
    HRESULT refuseResult;   // ... with this result
    LONG zeroImageSize;     // non-zero: offered and connected types carry biSizeImage 0
    LONG noStreamConfig;    // non-zero: the pin does not give out IAMStreamConfig
    LONG refuseConnection;  // non-zero: the pin's Connect fails with every pin
    LONG cutFormatBlock;    // non-zero: the connection's format block ends before
                            //   its bitmap header (cbFormat 48)
    LONG capsRecordSize;    // non-zero: GetNumberOfCapabilities reports this size
    LONG capsCount;         // non-zero: the capability list is capsLayout
    LONG capsLayout[SIM_CAPS_CAPACITY];

    // Reports of the filter.
    LONG framesDelivered;  // samples handed downstream since the last Reset
    LONG formatWidth;      // size of the current format of the most recently
    LONG formatHeight;     //   changed filter (SetFormat or connection)
    LONG connected;        // non-zero while that filter's pin is connected
    LONG filtersAlive;     // filter objects alive in all processes
    LONG nextFilterId;
    LONG eventCount;                      // events since the last Reset (may exceed capacity)
    SimEvent events[SIM_EVENT_CAPACITY];  // ring: event n is events[n % capacity]
};

// The opened block: the mapping and the mutex. Used by the filter and by
// SimCamControl alike.
class SimCamBlock {
public:
    SimCamBlock();
    ~SimCamBlock();

    bool Open();  // creates the block or opens the existing one; true when usable
    bool IsOpen() const { return m_shared != NULL; }
    SimCamShared *Shared() { return m_shared; }

    void Lock();
    void Unlock();

private:
    SimCamBlock(const SimCamBlock &);
    SimCamBlock &operator=(const SimCamBlock &);
    HANDLE m_mapping;
    HANDLE m_mutex;
    SimCamShared *m_shared;
};

// Holds the block's mutex for its lifetime.
class SimCamLock {
public:
    explicit SimCamLock(SimCamBlock &block) : m_block(block) { m_block.Lock(); }
    ~SimCamLock() { m_block.Unlock(); }

private:
    SimCamLock(const SimCamLock &);
    SimCamLock &operator=(const SimCamLock &);
    SimCamBlock &m_block;
};

// Adds an event to the block's record and returns it (the fields beyond
// those given are zero) for the caller to complete; the caller holds the lock.
SimEvent &SimCamRecordEvent(SimCamShared *shared, ULONG kind, ULONG filterId, ULONG state,
                            ULONG graphRefs = 0);

// Lays out slot index of the table for a new device named name: in the
// table, plugged, a new serial, factory driver; the caller holds the lock.
void SimCamTakeSlot(SimCamShared *shared, ULONG index, const WCHAR *name);

// Whether device answers SIMCAM_E_NOT_READY now; the caller holds the lock.
bool SimCamDeviceNotReady(const SimCamDevice &device);

// Fills a record of the media type mt (which may be null).
void SimCamRecordMediaType(SimMediaRecord *record, const AM_MEDIA_TYPE *mt);

// Registering simcam.ax (install true) and unregistering it: the device
// table anew, device 0 alone, plugged, at its factory state, and every other
// device's category entry gone; installing adds device 0's entry.
HRESULT SimCamInstall(bool install);

// Adds (add true) or removes the video input category entry of device index
// (an instance of CLSID_SimCamFilter under the given friendly name, its
// DevicePath written into it), through the filter mapper; COM is
// initialised for the call when the thread has not done it. The class entry
// is left as it is. S_OK also when there was nothing to remove.
HRESULT SimCamRegisterDevice(ULONG index, const WCHAR *name, bool add);

// What a device of the table is, for listings.
struct SimCamDeviceInfo {
    ULONG index;
    std::wstring name;
    std::wstring path;  // SimCamDevicePath(index)
    bool plugged;
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
    bool IsOpen() const { return m_block.IsOpen(); }
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

    // The simulated driver. LockDriver takes the lock and returns the driver
    // over the shared state; UnlockDriver must follow. The other methods do
    // one driver call each under the lock.
    SimDriver LockDriver();
    void UnlockDriver();
    LONG Value(ULONG id);
    void SetValue(ULONG id, LONG value);
    bool GetControl(ULONG id, SimControl *out);  // false for an unknown id
    void SetPresent(ULONG id, bool present);
    void SetRange(ULONG id, LONG minValue, LONG maxValue);
    void SetShortReply(ULONG bytes);  // gets report this many returned bytes (0: normal)

    // Fault injection: requests matching (property, control id, kind; SIM_ANY
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

    // Unplug: the camera goes. Its category entry is removed (the device is
    // no longer enumerated, and an old moniker no longer binds: its filter
    // is refused with SIMCAM_E_DEVICE_GONE), its filters answer property
    // requests with SIMCAM_E_DEVICE_GONE, a stream on it stops and the graph
    // gets EC_DEVICE_LOST with 0, and running a connected filter fails with
    // SIMCAM_E_DEVICE_GONE. Plug: it comes back: the category entry again,
    // property requests answered, EC_DEVICE_LOST with 1 to a graph whose
    // stream it lost. As on Windows, a filter whose stream lost the camera
    // does not stream again (its runs fail with SIMCAM_E_DEVICE_GONE): the
    // application builds its graph afresh. COM must be initialised on the
    // calling thread.
    //
    // After the category changes, each sends WM_DEVICECHANGE to every
    // top-level window (SendMessageTimeout to HWND_BROADCAST, 2 s a window):
    // DBT_DEVICEREMOVECOMPLETE or DBT_DEVICEARRIVAL with a
    // DEV_BROADCAST_DEVICEINTERFACE_W of class SIMCAM_CAMERA_CLASS named
    // SimCamDevicePath(device, SIMCAM_CAMERA_CLASS). Plugging gives the
    // factory values (the camera had no power) and starts a not-ready time
    // when one is set. S_FALSE, doing nothing, when the device already is
    // unplugged (plugged); E_INVALIDARG for a device not in the table.
    HRESULT Unplug();
    HRESULT Plug();
    bool Unplugged();
    // The camera loses power and comes back while staying listed: factory
    // values and a new not-ready time when one is set, no device message
    // (what many cameras do across sleep). E_INVALIDARG for a device not in
    // the table.
    HRESULT PowerCycle();
    // Not ready: every property request of the device fails with
    // SIMCAM_E_NOT_READY for ms milliseconds from now, and as long again
    // after each later Plug and PowerCycle, until set to 0. The end is an
    // absolute time, held across processes.
    void SetNotReady(ULONG ms);
    bool NotReady();         // the device answers SIMCAM_E_NOT_READY now
    LONG RefusedRequests();  // property requests refused while unplugged, since the last Reset
    // Busy: another application captures from the camera; running a
    // connected filter fails with SIMCAM_E_DEVICE_BUSY (as it does for every
    // filter but the one already streaming, in any process, until that one
    // stops). The refusal comes from Run, not Pause: the graph has paused
    // every filter by then and stops them all again.
    void SetBusy(bool busy);
    // The process whose filter streams from the camera now (0: none).
    ULONG OwnerProcess();

    // The device table. AddDevice: a camera under name (any name, also one
    // that another device has) comes: the lowest free index, plugged, at its
    // factory state, listed in the video input category after the devices
    // of lower index, with the arrival message; returns its index, -1 when
    // the table is full or the category entry failed. RemoveDevice: the
    // addressed device leaves the table (its category entry goes, with the
    // removal message while it was plugged; its filters answer as unplugged
    // ones); device 0 stays (E_INVALIDARG), as for a device not in the
    // table. Unregistering simcam.ax removes every device but 0.
    int AddDevice(const WCHAR *name);
    HRESULT RemoveDevice();
    std::vector<SimCamDeviceInfo> Devices();  // by index

    // Reports.
    std::vector<SimEvent> Events();            // oldest first
    std::vector<SimEvent> Events(ULONG kind);  // those of one kind, oldest first
    void ClearEvents();
    LONG FramesDelivered();
    bool CurrentFormat(LONG *width, LONG *height);  // false before any filter set one
    bool Connected();
    LONG FiltersAlive();

    SimCamBlock &Block() { return m_block; }

private:
    SimCamDevice &Dev() { return m_block.Shared()->devices[m_device]; }  // lock held
    SimCamBlock m_block;
    const ULONG m_device;
};

// The simulated camera as the system device enumerator lists it.
// SimCamMonikerIsOurs: the moniker's FriendlyName is the simulated camera's.
// SimCamMonikerDevice: the index of the device whose path is the moniker's
// DevicePath, -1 when it is none of the table's.
// SimCamBindFilter: binds the first video input device that is the simulated
// camera (COM initialised by the caller); null when none is registered.
bool SimCamMonikerIsOurs(IMoniker *moniker);
int SimCamMonikerDevice(IMoniker *moniker);
// The index of the device whose path (capture class) is path, -1 for none.
int SimCamDeviceOfPath(const WCHAR *path);
IBaseFilter *SimCamBindFilter();

#endif  // SIMCAM_SIMCONTROL_H
