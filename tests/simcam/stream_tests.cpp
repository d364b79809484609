// The streaming thread on its own: a host of the test's in place of the
// filter, a real memory allocator, and a downstream input that keeps what
// it receives.
#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "picture.h"
#include "simcam_graph.h"
#include "stream.h"

namespace {

struct Received {
    REFERENCE_TIME start, end;
    LONGLONG mediaStart;
    bool discontinuity;
    long length;
};

// The downstream's input: keeps the stamps of every sample and answers
// Receive with answer.
class Downstream : public StaticObject<IMemInputPin> {
public:
    Downstream() : StaticObject(IID_IMemInputPin) {}
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator *, BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES *) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample *sample) override
    {
        Received r = {};
        LONGLONG mediaEnd = 0;
        sample->GetTime(&r.start, &r.end);
        sample->GetMediaTime(&r.mediaStart, &mediaEnd);
        r.discontinuity = sample->IsDiscontinuity() == S_OK;
        r.length = sample->GetActualDataLength();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_received.push_back(r);
        return m_answer;
    }
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample **, long, long *) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_OK; }

    std::vector<Received> Samples()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }

    std::mutex m_mutex;
    std::vector<Received> m_received;
    HRESULT m_answer = S_OK;
};

// The filter as the stream sees it: a state the test sets, no clock, a
// camera at its factory settings that the test can unplug.
class Host : public SimStreamHost {
public:
    Host() { SimDriver(&m_settings).Reset(); }
    void ReadView(SimStreamView *view) override
    {
        view->state = m_state;
        view->format = m_format;
        view->input = &m_downstream;
        view->allocator = m_allocator;
    }
    bool CameraGone() override { return m_gone; }
    void ReadSettings(SimDriverState *settings) override { *settings = m_settings; }
    void CameraLost(bool gone) override
    {
        std::lock_guard<std::mutex> lock(m_downstream.m_mutex);
        m_lost.push_back(gone);
    }
    void FrameDelivered() override { ++m_delivered; }
    std::vector<bool> Lost()
    {
        std::lock_guard<std::mutex> lock(m_downstream.m_mutex);
        return m_lost;
    }

    std::atomic<FILTER_STATE> m_state{State_Running};
    std::atomic<bool> m_gone{false};
    std::atomic<int> m_delivered{0};
    std::vector<bool> m_lost;
    SimFormat m_format = {160, 120, kSimMinFrameTime};
    SimDriverState m_settings;
    IMemAllocator *m_allocator = NULL;
    Downstream m_downstream;
};

class SimStreamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(NULL, COINIT_MULTITHREADED)));
        ASSERT_EQ(S_OK,
                  CoCreateInstance(CLSID_MemoryAllocator, NULL, CLSCTX_INPROC_SERVER,
                                   IID_IMemAllocator, reinterpret_cast<void **>(&m_allocator)));
        ALLOCATOR_PROPERTIES wanted = {3, static_cast<long>(SimFrameBytes(160, 120)), 1, 0}, actual;
        ASSERT_EQ(S_OK, m_allocator->SetProperties(&wanted, &actual));
        m_host.m_allocator = m_allocator;
    }
    void TearDown() override
    {
        if (m_allocator)
            m_allocator->Release();
        CoUninitialize();
    }

    // Waits (5 s at most) until done() holds.
    template <class Done> bool WaitFor(Done done)
    {
        for (int i = 0; i < 500 && !done(); ++i)
            Sleep(10);
        return done();
    }
    // The deliveries go on no more: the count after a few intervals.
    int Settled()
    {
        Sleep(150);
        return m_host.m_delivered;
    }

    IMemAllocator *m_allocator = NULL;
    Host m_host;
};

// Each frame one interval after the last without a clock, numbered, whole,
// the first of the run marked as a break.
TEST_F(SimStreamTest, SendsStampedFramesAtTheFormatsIntervalWhileRunning)
{
    SimStream stream(&m_host);
    ASSERT_EQ(S_OK, stream.Start(m_allocator));
    EXPECT_TRUE(WaitFor([&] { return m_host.m_delivered >= 5; }));
    stream.Stop(m_allocator, NULL);

    const std::vector<Received> got = m_host.m_downstream.Samples();
    ASSERT_GE(got.size(), 5u);
    EXPECT_EQ(static_cast<int>(got.size()), m_host.m_delivered);
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(static_cast<REFERENCE_TIME>(i) * kSimMinFrameTime, got[i].start) << i;
        EXPECT_EQ(got[i].start + kSimMinFrameTime, got[i].end) << i;
        EXPECT_EQ(static_cast<LONGLONG>(i), got[i].mediaStart) << i;
        EXPECT_EQ(i == 0, got[i].discontinuity) << i;
        EXPECT_EQ(static_cast<long>(SimFrameBytes(160, 120)), got[i].length) << i;
    }
}

// The camera going and coming back is told once each; the stream sends
// nothing from the loss until the next run.
TEST_F(SimStreamTest, TellsTheCameraGoingAndComingBackAndSendsNoMoreInThatRun)
{
    SimStream stream(&m_host);
    ASSERT_EQ(S_OK, stream.Start(m_allocator));
    ASSERT_TRUE(WaitFor([&] { return m_host.m_delivered >= 2; }));
    m_host.m_gone = true;
    ASSERT_TRUE(WaitFor([&] { return m_host.Lost().size() == 1; }));
    const int atLoss = Settled();
    m_host.m_gone = false;
    ASSERT_TRUE(WaitFor([&] { return m_host.Lost().size() == 2; }));
    EXPECT_EQ(atLoss, Settled());
    stream.Stop(m_allocator, NULL);
    EXPECT_EQ((std::vector<bool>{true, false}), m_host.Lost());
}

// A downstream that answers S_FALSE gets nothing more until the filter
// pauses and runs again.
TEST_F(SimStreamTest, DownstreamRefusalHoldsTheFramesUntilTheNextRun)
{
    m_host.m_downstream.m_answer = S_FALSE;
    SimStream stream(&m_host);
    ASSERT_EQ(S_OK, stream.Start(m_allocator));
    ASSERT_TRUE(WaitFor([&] { return m_host.m_delivered >= 1; }));
    EXPECT_EQ(1, Settled());
    m_host.m_state = State_Paused;
    stream.Wake();
    Sleep(50);
    m_host.m_state = State_Running;
    stream.Wake();
    EXPECT_TRUE(WaitFor([&] { return m_host.m_delivered >= 2; }));
    EXPECT_EQ(2, Settled());
    stream.Stop(m_allocator, NULL);
    EXPECT_TRUE(m_host.m_downstream.Samples().back().discontinuity);
}

}  // namespace
