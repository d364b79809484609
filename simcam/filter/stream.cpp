#include "stream.h"

#include <string.h>

#include "picture.h"

SimStream::SimStream(SimStreamHost *host)
    : m_host(host), m_wake(CreateEventW(NULL, FALSE, FALSE, NULL))
{
}

SimStream::~SimStream()
{
    if (m_settings)
        HeapFree(GetProcessHeap(), 0, m_settings);
    if (m_wake)
        CloseHandle(m_wake);
}

HRESULT SimStream::Start(IMemAllocator *allocator)
{
    if (!m_settings) {
        m_settings = static_cast<SimDriverState *>(
            HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(SimDriverState)));
        if (!m_settings)
            return E_OUTOFMEMORY;
    }
    HRESULT hr = allocator->Commit();
    if (FAILED(hr))
        return hr;
    InterlockedExchange(&m_quit, 0);
    ResetEvent(m_wake);
    m_thread = CreateThread(NULL, 0, ThreadProc, this, 0, NULL);
    if (!m_thread) {
        hr = HRESULT_FROM_WIN32(GetLastError());
        allocator->Decommit();
        return hr;
    }
    return S_OK;
}

void SimStream::Stop(IMemAllocator *allocator, IPin *downstream)
{
    if (!m_thread) {
        if (allocator)
            allocator->Decommit();
        return;
    }
    InterlockedExchange(&m_quit, 1);
    SetEvent(m_wake);
    // A thread waiting for a buffer gets VFW_E_NOT_COMMITTED at once.
    allocator->Decommit();
    if (WaitForSingleObject(m_thread, 5000) == WAIT_TIMEOUT && downstream) {
        // The thread is held inside the downstream filter's Receive: a
        // flush makes the downstream let go of it.
        downstream->BeginFlush();
        WaitForSingleObject(m_thread, INFINITE);
        downstream->EndFlush();
    }
    CloseHandle(m_thread);
    m_thread = NULL;
}

DWORD WINAPI SimStream::ThreadProc(LPVOID param)
{
    HRESULT co = CoInitializeEx(NULL, COINIT_MULTITHREADED);
    static_cast<SimStream *>(param)->Loop();
    if (SUCCEEDED(co))
        CoUninitialize();
    return 0;
}

// Sends one frame per frame interval while the filter runs. The interval is
// the rate setting's at the connected size (read afresh for every frame), or
// the format's; the pace comes from the performance counter, the time stamps
// from the graph's clock (stream time), or from the frame count when there
// is no clock. When the camera is unplugged the stream ends and the graph is
// told (EC_DEVICE_LOST, 0); when it comes back the graph is told again (1),
// and frames come with the next run.
void SimStream::Loop()
{
    Pace pace;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    pace.frequency = frequency.QuadPart;
    while (!m_quit) {
        WatchDevice(pace);
        SimStreamView view;
        m_host->ReadView(&view);
        const DWORD wait = TimeToWait(pace, view);
        if (wait != 0)
            WaitForSingleObject(m_wake, wait);
        else
            SendFrame(pace, view);
    }
}

// Tells the graph when the camera goes or comes back; either way the stream
// sends nothing more until the next run.
void SimStream::WatchDevice(Pace &pace)
{
    const bool gone = m_host->CameraGone();
    if (gone == pace.lost)
        return;
    pace.lost = gone;
    m_host->CameraLost(gone);
    pace.refused = true;
}

// How long to wait before the next frame is due, in milliseconds; 0 when it
// is due now. Takes the camera's settings as the frame will see them.
DWORD SimStream::TimeToWait(Pace &pace, const SimStreamView &view)
{
    if (view.state != State_Running || pace.refused || !view.input || !view.allocator) {
        if (view.state != State_Running && !pace.lost) {
            pace.running = false;
            pace.refused = false;
        }
        // A lost camera is watched for its return.
        return pace.lost || pace.refused ? 20 : INFINITE;
    }
    if (const DWORD wait = TimeToStart(pace, view))
        return wait;
    // The settings as this frame sees them; the picture is drawn without
    // holding the camera's lock.
    m_host->ReadSettings(m_settings);
    pace.frameTime = SimFrameTime(view.format, *m_settings);
    return TimeToDue(pace);
}

// Frames begin at stream time 0, when the graph's start time comes: the
// wait until then, 0 when it has come (or there is no clock).
DWORD SimStream::TimeToStart(const Pace &pace, const SimStreamView &view)
{
    REFERENCE_TIME clockNow = 0;
    if (pace.running || !view.clock || FAILED(view.clock->GetTime(&clockNow)) ||
        clockNow >= view.start)
        return 0;
    const DWORD wait = static_cast<DWORD>((view.start - clockNow) / 10000);
    return wait ? wait : 1;
}

// The wait until the next frame is due by the performance counter; a run's
// first frame is due at once.
DWORD SimStream::TimeToDue(Pace &pace)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    if (!pace.running) {
        pace.running = true;
        pace.due = now.QuadPart;
        pace.streamTime = 0;
        pace.discontinuity = true;
    }
    if (pace.due > now.QuadPart) {
        const DWORD wait = static_cast<DWORD>((pace.due - now.QuadPart) * 1000 / pace.frequency);
        return wait ? wait : 1;
    }
    if (now.QuadPart - pace.due > pace.frequency) {
        // Far behind (the downstream was slow for a second): keep the pace
        // from now on rather than sending a burst.
        pace.due = now.QuadPart;
    }
    return 0;
}

// Fills a buffer with the next frame and delivers it.
void SimStream::SendFrame(Pace &pace, const SimStreamView &view)
{
    Microsoft::WRL::ComPtr<IMediaSample> sample;
    HRESULT hr = view.allocator->GetBuffer(sample.GetAddressOf(), NULL, NULL, 0);
    if (FAILED(hr) || !sample) {
        if (!m_quit)
            WaitForSingleObject(m_wake, 10);
        return;
    }
    BYTE *bits = NULL;
    const SimFormat &format = view.format;
    const ULONG bytes = SimFrameBytes(format.width, format.height);
    if (FAILED(sample->GetPointer(&bits)) || !bits ||
        sample->GetSize() < static_cast<long>(bytes)) {
        pace.refused = true;
        return;
    }
    SimRenderFrame(bits, format.width, format.height, m_frameNumber, *m_settings);
    sample->SetActualDataLength(static_cast<long>(bytes));
    hr = Deliver(sample.Get(), pace, view);
    sample.Reset();
    ++m_frameNumber;
    pace.due += pace.frameTime * pace.frequency / 10000000;
    pace.streamTime += pace.frameTime;
    pace.discontinuity = false;
    if (SUCCEEDED(hr))
        m_host->FrameDelivered();
    if (hr != S_OK)
        pace.refused = true;
}

// Stamps the frame (stream time by the clock, or by the frame count) and
// hands it downstream.
HRESULT SimStream::Deliver(IMediaSample *sample, Pace &pace, const SimStreamView &view)
{
    REFERENCE_TIME t0 = pace.streamTime;
    REFERENCE_TIME clockNow = 0;
    if (view.clock && SUCCEEDED(view.clock->GetTime(&clockNow)))
        t0 = clockNow - view.start;
    REFERENCE_TIME t1 = t0 + pace.frameTime;
    sample->SetTime(&t0, &t1);
    LONGLONG m0 = m_frameNumber, m1 = m_frameNumber + 1;
    sample->SetMediaTime(&m0, &m1);
    sample->SetSyncPoint(TRUE);
    sample->SetDiscontinuity(pace.discontinuity ? TRUE : FALSE);
    sample->SetPreroll(FALSE);
    return view.input->Receive(sample);
}
