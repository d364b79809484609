// simshared.h - the simulated camera's shared state: the block of named
// shared memory that every process opening the camera works on, its layout,
// and the one way to it (SimCamLock, which holds the block's named mutex).
//
// The block holds:
//   - the device table: up to VIREO_SIM_MAX_DEVICES cameras, each with its
//     friendly name, its device path (SimCamDevicePath), plugged or not, its
//     not-ready setting, and its own simulated driver (SimDriverState:
//     control values, fault rules and the log of property requests that
//     reached it). Device 0, SIMCAM_FRIENDLY_NAME, is the one registering
//     simcam.ax installs; more can be added under any name (two cameras of
//     one model share one);
//   - switches a test sets to make the filter misbehave on purpose (refuse
//     SetFormat, offer types with an image size of 0, offer no stream
//     configuration, connect to nothing, connect with a cut format block);
//   - what the filter reports back: its state transitions and final
//     releases in order, the frames it delivered, the current format size.
// The block lives as long as one process holds it open. The device table
// (with each driver's refusal rules and request log) outlives it, as a
// powered camera keeps its settings: each process that
// lets the block go (and each change of the table) leaves it in the
// registry (HKCU, SIMCAM_SETTINGS_KEY), and the next block to be laid out
// takes it up.
//
// The layout's fields are private to the records below: only this module
// (simshared.cpp, tablestore.cpp) reads and writes them, with the lock held.
#ifndef SIMCAM_SIMSHARED_H
#define SIMCAM_SIMSHARED_H

#include <windows.h>
#include <dshow.h>

#include <string>

#include "simdriver.h"

// {D0AF50DC-6191-401C-AD58-C7AED26E8597}: the simulated camera's capture
// source filter, registered in the video input device category.
static const GUID CLSID_SimCamFilter = {
    0xD0AF50DC, 0x6191, 0x401C, {0xAD, 0x58, 0xC7, 0xAE, 0xD2, 0x6E, 0x85, 0x97}};

// The device's friendly name, as the system device enumerator reports it.
#define SIMCAM_FRIENDLY_NAME L"Vireo Simulated Camera"

// Names of the shared block and of its mutex (session-local).
#define SIMCAM_SHARED_NAME L"Local\\VireoSimCamShared"
#define SIMCAM_MUTEX_NAME L"Local\\VireoSimCamLock"

// Where the device table waits while no process holds the block: a key
// "Device N" for each device N of the table, with "Name" (REG_SZ),
// "Unplugged" (REG_DWORD 1, absent while plugged), "Values" (REG_BINARY,
// pairs of control id and value, absent while every control is at its
// factory value), "NotReady" (REG_DWORD, milliseconds, absent at 0),
// "NotReadyUntil" (REG_QWORD, system time in FILETIME units), "Busy"
// (REG_DWORD 1), "Refused" (REG_DWORD, requests refused while unplugged),
// "Refusals" (REG_BINARY, the driver's SimFault rules, absent while none is
// active), "Log" (REG_BINARY, the SimRequest records the ring holds, oldest
// first) and "LogCount" (REG_DWORD, the requests logged since the log was
// cleared). Each is absent at 0 or empty. A script's refusal, busy flag and
// not-ready time thus hold for the programs it starts afterwards, and its
// log shows what they sent.
#define SIMCAM_SETTINGS_KEY L"Software\\Vireo\\Simulated Camera"

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
// The index of the device whose path (capture class) is path, -1 for none.
int SimCamDeviceOfPath(const WCHAR *path);
// A string value of a property bag (a device moniker's): false when it has
// none.
bool SimCamBagString(IPropertyBag *bag, const WCHAR *name, IErrorLog *log, std::wstring *value);
// The device whose path a bag's "DevicePath" is: its index, -1 when it is
// none of the table's; missing when the bag holds no path.
int SimCamBagDevice(IPropertyBag *bag, IErrorLog *log, int missing);

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

    // The record of mt (which may be null).
    void Take(const AM_MEDIA_TYPE *mt);
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

// The capability list a test can lay out: each entry is one of the camera's
// sizes (0 to 3: 640x480, 320x240, 1280x720, 160x120) or one of these
// entries that a reader must pass over.
enum SimCapsEntry {
    SIM_CAPS_FAILING = -1,       // GetStreamCaps fails (E_FAIL), no type
    SIM_CAPS_OTHER_TYPE = -2,    // a FORMAT_VideoInfo2 type (VIDEOINFOHEADER2 block)
    SIM_CAPS_SHORT_FORMAT = -3,  // FORMAT_VideoInfo with an 87-byte format block
    SIM_CAPS_NULL_FORMAT = -4    // FORMAT_VideoInfo, cbFormat 88, no format block
};
enum { SIM_CAPS_CAPACITY = 16 };

// The block's switches, as SimCamShared::Switch names them.
enum SimSwitch {
    SIM_SWITCH_ZERO_IMAGE_SIZE,    // offered and connected types carry biSizeImage 0
    SIM_SWITCH_NO_STREAM_CONFIG,   // the pin does not give out IAMStreamConfig
    SIM_SWITCH_REFUSE_CONNECTION,  // the pin's Connect fails with every pin
    SIM_SWITCH_CUT_FORMAT_BLOCK,   // the connection's format block ends before
                                   //   its bitmap header (cbFormat 48)
    SIM_SWITCH_COUNT
};

// One camera of the device table.
class SimCamDevice {
public:
    // Lays out the slot for a new device named name: in the table, plugged,
    // serial, factory driver.
    void Take(ULONG serial, const WCHAR *name);
    // Leaves the table; its filters find the camera gone from now on.
    void Leave();

    bool InTable() const { return m_inTable != 0; }
    bool Plugged() const { return m_inTable && !m_unplugged; }
    bool Unplugged() const { return m_unplugged != 0; }
    ULONG Serial() const { return m_serial; }
    const WCHAR *Name() const { return m_name; }
    SimDriver Driver() { return SimDriver(&m_driver); }
    const SimDriverState &DriverState() const { return m_driver; }

    // Whether the camera is gone for a filter that took it at serial:
    // unplugged, or no longer the device of the slot.
    bool GoneFor(ULONG serial) const;
    // What a property request of such a filter is answered now: gone
    // (counted), still starting, or S_OK to go ahead.
    HRESULT RequestRefusal(ULONG serial);
    // Busy elsewhere: another application, or another live filter streams.
    bool BusyFor(ULONG filterId) const;
    // The filter filterId of this process streams from the camera; and
    // leaves it again (only the owner can).
    void Claim(ULONG filterId);
    void Unclaim(ULONG filterId);
    ULONG OwnerProcess() const { return m_ownerFilter ? m_ownerProcess : 0; }

    // Unplugging: the camera forgets its settings; plugging: powered up.
    void SetPlugged(bool plugged);
    // Back from no power: factory values, and a not-ready time when one is set.
    void PowerUp();
    void SetNotReady(ULONG ms);
    bool NotReady() const;
    void SetBusy(bool busy) { m_busy = busy ? 1 : 0; }
    LONG RefusedRequests() const { return m_refusedRequests; }
    // The factory state of Reset: driver, plugged, not busy, ready.
    void Reset();
    // Registering simcam.ax: plugged, ready, the controls at factory values.
    void Install();

    // The registry's copy (tablestore.cpp).
    void Save(HKEY key) const;
    void Load(HKEY key);

private:
    LONG m_inTable;                         // non-zero: the slot holds a device
    ULONG m_serial;                         // new each time the slot takes a device: the
                                            //   filters of an earlier one find it gone
    WCHAR m_name[VIREO_SIM_NAME_CAPACITY];  // friendly name
    LONG m_unplugged;                       // non-zero: the camera is gone
    LONG m_busy;                            // non-zero: another application captures from it
    LONG m_refusedRequests;  // property requests refused while unplugged, since the last Reset
    // The filter that streams from the camera (0: none), and its process.
    ULONG m_ownerFilter;
    ULONG m_ownerProcess;
    ULONG m_notReadyMs;        // each plug and power cycle starts a not-ready time this long
    LONGLONG m_notReadyUntil;  // system time (FILETIME units) until which property
                               //   requests fail with VIREO_SIM_E_NOT_READY; 0: none
    SimDriverState m_driver;
};

// The shared block. Plain data only; every field is read and written with
// the mutex held (through SimCamLock).
class SimCamShared {
public:
    // The block as the first process lays it out: the table the registry
    // kept, every switch off.
    void LayOut();
    bool LaidOut() const;

    // The device table.
    SimCamDevice &Device(ULONG index) { return m_devices[index]; }
    bool AnyPlugged() const;
    int FreeSlot() const;  // -1 when the table is full
    void TakeSlot(ULONG index, const WCHAR *name) { m_devices[index].Take(++m_nextSerial, name); }
    void SaveTable() const;  // the table to the registry (tablestore.cpp)
    void LoadTable();
    // simcam.ax registered or unregistered: device 0 alone, factory values.
    void Install();
    // Every device and switch at its factory state, the records cleared.
    void Reset();

    // The switches and the capability list.
    bool Switch(SimSwitch which) const { return m_switches[which] != 0; }
    void SetSwitch(SimSwitch which, bool on) { m_switches[which] = on ? 1 : 0; }
    // Whether SetFormat is refused, and with what result.
    bool SetFormatRefused(HRESULT *result) const;
    void RefuseSetFormat(bool refuse, HRESULT result);
    // A test's capability list: its length (0: none, the camera's own list)
    // and entries; the record size to report (0: the real one).
    int CapsCount() const { return m_capsCount; }
    LONG CapsEntry(int index) const { return m_capsLayout[index]; }
    LONG CapsRecordSize() const { return m_capsRecordSize; }
    void SetCapsRecordSize(LONG size) { m_capsRecordSize = size; }
    void SetCapabilities(const LONG *entries, size_t count);

    // The filters' reports.
    ULONG FilterCreated();  // counts a live filter; its new id
    void FilterReleased() { --m_filtersAlive; }
    LONG FiltersAlive() const { return m_filtersAlive; }
    // Adds an event and returns it (the fields beyond those given zero).
    SimEvent &RecordEvent(ULONG kind, ULONG filterId, ULONG state, ULONG graphRefs = 0);
    // The creation record of filterId learns its device.
    void SetCreatedDevice(ULONG filterId, ULONG device);
    LONG EventCount() const { return m_eventCount; }
    const SimEvent &Event(LONG n) const { return m_events[n % SIM_EVENT_CAPACITY]; }
    void FrameDelivered() { ++m_framesDelivered; }
    LONG FramesDelivered() const { return m_framesDelivered; }
    void PublishFormat(LONG width, LONG height);
    bool CurrentFormat(LONG *width, LONG *height) const;

private:
    ULONG m_magic;
    ULONG m_size;  // sizeof(SimCamShared), to catch mismatched builds
    ULONG m_nextSerial;
    SimCamDevice m_devices[VIREO_SIM_MAX_DEVICES];

    // Switches set by tests.
    LONG m_refuseSetFormat;             // non-zero: IAMStreamConfig::SetFormat fails ...
    HRESULT m_refuseResult;             // ... with this result
    LONG m_switches[SIM_SWITCH_COUNT];  // non-zero: the switch is on
    LONG m_capsRecordSize;              // non-zero: GetNumberOfCapabilities reports this size
    LONG m_capsCount;                   // non-zero: the capability list is capsLayout
    LONG m_capsLayout[SIM_CAPS_CAPACITY];

    // Reports of the filter.
    LONG m_framesDelivered;  // samples handed downstream since the last Reset
    LONG m_formatWidth;      // size of the current format of the most recently
    LONG m_formatHeight;     //   changed filter (SetFormat or connection)
    LONG m_filtersAlive;     // filter objects alive in all processes
    LONG m_nextFilterId;
    LONG m_eventCount;                      // events since the last Reset (may exceed capacity)
    SimEvent m_events[SIM_EVENT_CAPACITY];  // ring: event n is events[n % capacity]
};

// The opened block: the mapping and the mutex. Its contents are reached
// through a SimCamLock only.
class SimCamBlock {
public:
    SimCamBlock() = default;
    ~SimCamBlock();  // leaves the table in the registry
    SimCamBlock(const SimCamBlock &) = delete;
    SimCamBlock &operator=(const SimCamBlock &) = delete;

    bool Open();  // creates the block or opens the existing one; true when usable
    bool IsOpen() const { return m_state != NULL; }

private:
    // The block's mutex, held from construction to destruction.
    class Hold {
    public:
        explicit Hold(HANDLE mutex);
        ~Hold();
        Hold(const Hold &) = delete;
        Hold &operator=(const Hold &) = delete;

    private:
        HANDLE m_mutex;
    };

public:
    // Holds the block's mutex for its lifetime and gives the contents.
    class Lock {
    public:
        explicit Lock(SimCamBlock &block) : m_hold(block.m_mutex), m_state(*block.m_state) {}
        Lock(const Lock &) = delete;
        Lock &operator=(const Lock &) = delete;
        SimCamShared *operator->() const { return &m_state; }
        SimCamShared &operator*() const { return m_state; }

    private:
        Hold m_hold;
        SimCamShared &m_state;
    };

private:
    HANDLE m_mapping = NULL;
    HANDLE m_mutex = NULL;
    SimCamShared *m_state = NULL;
};

typedef SimCamBlock::Lock SimCamLock;

#endif  // SIMCAM_SIMSHARED_H
