// stream.h - the simulated camera's streaming thread: one frame per frame
// interval into the downstream pin while the filter runs. It reaches the
// filter through SimStreamHost alone.
#ifndef SIMCAM_STREAM_H
#define SIMCAM_STREAM_H

#include <windows.h>
#include <dshow.h>

#include <wrl/client.h>

#include "mediatype.h"
#include "simdriver.h"

// What a frame needs of the filter, read afresh for each one.
struct SimStreamView {
    FILTER_STATE state = State_Stopped;
    REFERENCE_TIME start = 0;  // the run's start time: stream time 0
    Microsoft::WRL::ComPtr<IReferenceClock> clock;
    SimFormat format = {};  // the connection's
    // The downstream's input and the allocator: held by the pin while the
    // thread lives.
    IMemInputPin *input = NULL;
    IMemAllocator *allocator = NULL;
};

// What the streaming thread asks of its filter. Each call takes the locks
// it needs for its own duration.
class SimStreamHost {
public:
    virtual void ReadView(SimStreamView *view) = 0;
    // Whether the camera is gone (unplugged or removed) now.
    virtual bool CameraGone() = 0;
    // The camera's settings as the next frame sees them (the driver's log
    // is left out).
    virtual void ReadSettings(SimDriverState *settings) = 0;
    // The stream saw the camera go (gone) or come back: the graph is told.
    virtual void CameraLost(bool gone) = 0;
    // The downstream took a frame.
    virtual void FrameDelivered() = 0;

protected:
    ~SimStreamHost() = default;
};

class SimStream {
public:
    explicit SimStream(SimStreamHost *host);
    ~SimStream();
    SimStream(const SimStream &) = delete;
    SimStream &operator=(const SimStream &) = delete;

    // Commits allocator and starts the thread.
    HRESULT Start(IMemAllocator *allocator);
    // Ends the thread (if it runs) and decommits allocator (if any). A thread
    // held inside the downstream's Receive is let go by a flush of
    // downstream.
    void Stop(IMemAllocator *allocator, IPin *downstream);
    // The filter's state changed: the thread looks again at once.
    void Wake() { SetEvent(m_wake); }

private:
    // Where the loop stands between two frames.
    struct Pace {
        LONGLONG frequency = 0;         // performance counter ticks a second
        bool running = false;           // frames are being sent in this run
        bool refused = false;           // the downstream wants nothing more until the next run
        bool lost = false;              // the camera went while this stream lived
        LONGLONG due = 0;               // performance counter time of the next frame
        REFERENCE_TIME streamTime = 0;  // the next frame's time without a clock
        REFERENCE_TIME frameTime = 0;   // the interval of the frame being sent
        bool discontinuity = true;
    };
    static DWORD WINAPI ThreadProc(LPVOID param);
    void Loop();
    void WatchDevice(Pace &pace);
    DWORD TimeToWait(Pace &pace, const SimStreamView &view);
    DWORD TimeToStart(const Pace &pace, const SimStreamView &view);
    DWORD TimeToDue(Pace &pace);
    void SendFrame(Pace &pace, const SimStreamView &view);
    HRESULT Deliver(IMediaSample *sample, Pace &pace, const SimStreamView &view);

    SimStreamHost *const m_host;
    HANDLE m_thread = NULL;
    HANDLE m_wake;  // auto-reset: state changed or quit
    volatile LONG m_quit = 0;
    SimDriverState *m_settings = NULL;  // the camera's settings as one frame sees them
    ULONG m_frameNumber = 0;
};

#endif  // SIMCAM_STREAM_H
