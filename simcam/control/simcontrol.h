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
// inside them.
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
// Link the static library simcam_control (it brings the driver model along).
#ifndef SIMCAM_SIMCONTROL_H
#define SIMCAM_SIMCONTROL_H

#include <windows.h>
#include <strmif.h>

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

// What the filter records, in the order it happens.
enum SimEventKind {
    SIM_EVENT_CREATE = 1,   // a filter object was created
    SIM_EVENT_STOP = 2,     // IMediaFilter::Stop was called
    SIM_EVENT_PAUSE = 3,    // IMediaFilter::Pause was called
    SIM_EVENT_RUN = 4,      // IMediaFilter::Run was called
    SIM_EVENT_RELEASE = 5   // the filter's last reference went: it is destroyed
};

struct SimEvent {
    ULONG kind;        // SimEventKind
    ULONG processId;   // process in which the filter lives
    ULONG filterId;    // the filter object's serial number (unique in the block)
    ULONG state;       // the filter's state after the call (0 stopped, 1 paused, 2 running)
    ULONG graphRefs;   // SIM_EVENT_STOP: references on the filter graph when the stop
                       //   arrived (0: in no graph). A graph that stops itself in its
                       //   final release holds only the guard reference of that
                       //   release (1); a stop from an application that still holds
                       //   the graph finds more.
};

enum { SIM_EVENT_CAPACITY = 1024 };

// The shared block. Plain data only; every field is read and written with
// the mutex held.
struct SimCamShared {
    ULONG magic;
    ULONG size;                  // sizeof(SimCamShared), to catch mismatched builds
    SimDriverState driver;

    // Switches set by tests.
    LONG refuseSetFormat;        // non-zero: IAMStreamConfig::SetFormat fails ...
    HRESULT refuseResult;        // ... with this result
    LONG zeroImageSize;          // non-zero: offered and connected types carry biSizeImage 0
    LONG noStreamConfig;         // non-zero: the pin does not give out IAMStreamConfig
    LONG refuseConnection;       // non-zero: the pin's Connect fails with every pin
    LONG cutFormatBlock;         // non-zero: the connection's format block ends before
                                 //   its bitmap header (cbFormat 48)

    // Reports of the filter.
    LONG framesDelivered;        // samples handed downstream since the last Reset
    LONG formatWidth;            // size of the current format of the most recently
    LONG formatHeight;           //   changed filter (SetFormat or connection)
    LONG connected;              // non-zero while that filter's pin is connected
    LONG filtersAlive;           // filter objects alive in all processes
    LONG nextFilterId;
    LONG eventCount;             // events since the last Reset (may exceed capacity)
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

// Adds an event to the block's record; the caller holds the lock.
void SimCamRecordEvent(SimCamShared *shared, ULONG kind, ULONG filterId, ULONG state,
                       ULONG graphRefs = 0);

// The control path of tests and benchmarks. Each method takes the lock for
// its own duration.
class SimCamControl {
public:
    SimCamControl();  // opens the block
    bool IsOpen() const { return m_block.IsOpen(); }

    // Factory state of the driver (every control present at its default, no
    // faults, empty log), switches off, frame count and events cleared. The
    // current format and the count of live filters are kept: they describe
    // objects that exist.
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

    // Reports.
    std::vector<SimEvent> Events();   // oldest first
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
