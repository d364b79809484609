// simcontrol.h - the simulated camera's shared state, and the control path
// that tests and benchmarks use to watch and steer it.
//
// Every process that opens the simulated camera (the filter inside simcam.ax,
// wherever an application creates it) and every test that opens a
// SimCamControl works on the same block of named shared memory, guarded by a
// named mutex held around each access. The block holds:
//   - the simulated driver's state (SimDriverState): control values, fault
//     rules and the log of property requests that reached the driver;
//   - switches a test sets to make the filter misbehave on purpose (refuse
//     SetFormat, offer types with an image size of 0, offer no stream
//     configuration, connect to nothing, connect with a cut format block);
//   - what the filter reports back: its state transitions and final
//     releases in order, the frames it delivered, the current format size.
// The block lives as long as one process holds it open; a test that keeps a
// SimCamControl open while it starts other programs sees what the camera does
// inside them. The control values outlive it, as a powered camera keeps its
// settings: each process that lets the block go leaves them in the registry
// (HKCU, SIMCAM_SETTINGS_KEY), and the next block to be laid out takes them
// up. Unplugging the camera, registering or unregistering simcam.ax and
// SimCamControl::Reset give the factory values.
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
//     e.device                         which of two registered devices it was
// And set: the capability list (SetCapabilities, SetCapsRecordSize), refusals
// (RefuseSetFormat, RefuseConnection, ...), unplugging (Unplug, Plug), a
// camera in use (SetBusy), a second device (RegisterSecondDevice).
//
// Link the static library simcam_control (it brings the driver model along).
#ifndef SIMCAM_SIMCONTROL_H
#define SIMCAM_SIMCONTROL_H

#include <windows.h>
#include <dshow.h>

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

// Where the control values wait while no process holds the block: value
// "Values" (REG_BINARY, pairs of control id and value), absent while every
// control is at its factory value.
#define SIMCAM_SETTINGS_KEY L"Software\\Vireo\\Simulated Camera"

// The second simulated device: the same camera under another name and
// class, registered only on request (SimCamControl::RegisterSecondDevice).
// {6B1E2D3A-44F7-4C0B-9E52-8A1D3C7F0B64}
static const GUID CLSID_SimCamFilter2 = {
    0x6B1E2D3A, 0x44F7, 0x4C0B, {0x9E, 0x52, 0x8A, 0x1D, 0x3C, 0x7F, 0x0B, 0x64}};
#define SIMCAM_FRIENDLY_NAME2 L"Vireo Simulated Camera 2"

// What the camera answers while it is unplugged (property requests, and a
// stream started on it) and while another client captures from it (a stream
// started on it). The second is what Windows' capture filters were seen to
// give when a second filter of the same device starts.
static const HRESULT SIMCAM_E_DEVICE_GONE =
    static_cast<HRESULT>(0x8007048F);  // ERROR_DEVICE_NOT_CONNECTED
static const HRESULT SIMCAM_E_DEVICE_BUSY =
    static_cast<HRESULT>(0x800705AA);  // ERROR_NO_SYSTEM_RESOURCES

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
    ULONG device;     // the device of the filter: 0 the first, 1 the second
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

// The shared block. Plain data only; every field is read and written with
// the mutex held.
struct SimCamShared {
    ULONG magic;
    ULONG size;  // sizeof(SimCamShared), to catch mismatched builds
    SimDriverState driver;

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
    LONG unplugged;  // non-zero: the camera is gone
    LONG busy;       // non-zero: another application captures from it

    LONG refusedRequests;  // property requests refused while unplugged, since the last Reset

    // The filter that streams from the camera (0: none), and its process.
    ULONG ownerFilter;
    ULONG ownerProcess;

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

// An open registry key of the module or the control path, closed when it
// goes.
class SimRegKey {
public:
    SimRegKey() : m_key(NULL) {}
    ~SimRegKey() { Close(); }
    SimRegKey(const SimRegKey &) = delete;
    SimRegKey &operator=(const SimRegKey &) = delete;

    HKEY Get() const { return m_key; }
    // For the opening call's out-parameter: closes what is held first.
    HKEY *Receive()
    {
        Close();
        return &m_key;
    }
    void Close()
    {
        if (m_key)
            RegCloseKey(m_key);
        m_key = NULL;
    }

private:
    HKEY m_key;
};

// Adds an event to the block's record and returns it (the fields beyond
// those given are zero) for the caller to complete; the caller holds the lock.
SimEvent &SimCamRecordEvent(SimCamShared *shared, ULONG kind, ULONG filterId, ULONG state,
                            ULONG graphRefs = 0);

// Fills a record of the media type mt (which may be null).
void SimCamRecordMediaType(SimMediaRecord *record, const AM_MEDIA_TYPE *mt);

// The camera's settings back to the factory values: in the block when a
// process holds it, and in the registry. For unplugging and (un)registering.
void SimCamForgetSettings();

// Adds (add true) or removes the video input category entry of a device
// (0 the first, 1 the second), through the filter mapper; COM is initialised
// for the call when the thread has not done it. The class entry is left as
// it is. S_OK also when there was nothing to remove.
HRESULT SimCamRegisterDevice(int device, bool add);

// The control path of tests and benchmarks. Each method takes the lock for
// its own duration.
class SimCamControl {
public:
    SimCamControl();  // opens the block
    bool IsOpen() const { return m_block.IsOpen(); }

    // Factory state of the driver (every control present at its default, no
    // faults, empty log), switches off (the capability list the camera's
    // own, plugged in, not busy), frame count and events cleared. The
    // current format, the count of live filters and the streaming filter are
    // kept: they describe objects that exist. Of the registry Reset touches
    // only the saved control values: after an Unplug, Plug (or registering
    // simcam.ax) brings the category entry back.
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
    HRESULT Unplug();
    HRESULT Plug();
    bool Unplugged();
    LONG RefusedRequests();  // property requests refused while unplugged, since the last Reset
    // Busy: another application captures from the camera; running a
    // connected filter fails with SIMCAM_E_DEVICE_BUSY (as it does for every
    // filter but the one already streaming, in any process, until that one
    // stops). The refusal comes from Run, not Pause: the graph has paused
    // every filter by then and stops them all again.
    void SetBusy(bool busy);
    // The process whose filter streams from the camera now (0: none).
    ULONG OwnerProcess();

    // The second device: class CLSID_SimCamFilter2, name SIMCAM_FRIENDLY_NAME2,
    // served by the simcam.ax registered for the first; registered (add) or
    // removed. Unregistering simcam.ax removes it too. Its filters record
    // device 1 in their events.
    HRESULT RegisterSecondDevice(bool add);

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
    SimCamBlock m_block;
};

// The simulated camera as the system device enumerator lists it.
// SimCamMonikerIsOurs: the moniker's FriendlyName is the simulated camera's.
// SimCamBindFilter: binds the first video input device that is the simulated
// camera (COM initialised by the caller); null when none is registered.
bool SimCamMonikerIsOurs(IMoniker *moniker);
IBaseFilter *SimCamBindFilter();

#endif  // SIMCAM_SIMCONTROL_H
