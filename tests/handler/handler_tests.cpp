// The interface handler aggregated into an outer object that offers
// IKsPropertySet, records every property call byte for byte and counts its
// references.
#include <gtest/gtest.h>

#include <windows.h>
#include <strmif.h>

#include <atomic>
#include <cstring>
#include <new>
#include <vector>

#include "control/handler.h"
#include "wintest.h"

// Lets a test make the module's nothrow allocations fail.
static std::atomic<bool> g_failNothrowNew(false);
void *operator new(size_t size, const std::nothrow_t &) noexcept
{
    if (g_failNothrowNew)
        return NULL;
    return malloc(size ? size : 1);
}

namespace {

struct PropertyCall {
    bool isSet;
    GUID set;
    DWORD id;
    const void *instance;
    DWORD instanceLength;
    std::vector<BYTE> instanceBytes;
    const void *data;
    DWORD dataLength;
    std::vector<BYTE> dataBytes;
};

// An outer object in the place of the capture filter.
class FakeFilter : public IKsPropertySet {
public:
    explicit FakeFilter(bool offerPropertySet = true) : m_offer(offerPropertySet) {}

    // Creates the handler aggregated into this object.
    HRESULT Aggregate()
    {
        HRESULT hr = S_OK;
        m_inner = CInterfaceHandler::CreateInstance(this, &hr);
        if (m_inner)
            m_inner->NonDelegatingAddRef();
        return hr;
    }
    void DropInner()
    {
        if (m_inner)
            m_inner->NonDelegatingRelease();
        m_inner = NULL;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || (m_offer && IsEqualIID(riid, IID_IKsPropertySet))) {
            *ppv = static_cast<IKsPropertySet *>(this);
            AddRef();
            return S_OK;
        }
        if (m_inner && IsEqualIID(riid, CameraPropertySet))
            return m_inner->NonDelegatingQueryInterface(riid, ppv);
        *ppv = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --m_refs; }

    HRESULT STDMETHODCALLTYPE Set(REFGUID set, DWORD id, LPVOID instance, DWORD instanceLength,
                                  LPVOID data, DWORD dataLength) override
    {
        Record(true, set, id, instance, instanceLength, data, dataLength);
        return m_result;
    }
    HRESULT STDMETHODCALLTYPE Get(REFGUID set, DWORD id, LPVOID instance, DWORD instanceLength,
                                  LPVOID data, DWORD dataLength, DWORD *returned) override
    {
        Record(false, set, id, instance, instanceLength, data, dataLength);
        if (m_reply.size() && data)
            memcpy(data, m_reply.data(), std::min<size_t>(m_reply.size(), dataLength));
        if (m_writeCount && returned)
            *returned = m_count;
        return m_result;
    }
    HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID, DWORD, DWORD *) override
    {
        ++m_querySupported;
        return E_NOTIMPL;
    }

    long m_refs = 1;
    bool m_offer;
    CUnknown *m_inner = NULL;
    HRESULT m_result = S_OK;
    std::vector<BYTE> m_reply;
    bool m_writeCount = true;
    DWORD m_count = 0;
    int m_querySupported = 0;
    std::vector<PropertyCall> m_calls;

private:
    void Record(bool isSet, REFGUID set, DWORD id, LPVOID instance, DWORD instanceLength, LPVOID data,
                DWORD dataLength)
    {
        PropertyCall c;
        c.isSet = isSet;
        c.set = set;
        c.id = id;
        c.instance = instance;
        c.instanceLength = instanceLength;
        if (instance)
            c.instanceBytes.assign(static_cast<BYTE *>(instance),
                                   static_cast<BYTE *>(instance) + instanceLength);
        c.data = data;
        c.dataLength = dataLength;
        if (data)
            c.dataBytes.assign(static_cast<BYTE *>(data), static_cast<BYTE *>(data) + dataLength);
        m_calls.push_back(c);
    }
};

class HandlerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, filter.Aggregate());
        ASSERT_NE(nullptr, filter.m_inner);
        ASSERT_EQ(S_OK, filter.QueryInterface(CameraPropertySet, reinterpret_cast<void **>(&face)));
        ASSERT_NE(nullptr, face);
    }
    void TearDown() override
    {
        if (face)
            face->Release();
        filter.DropInner();
        EXPECT_EQ(1, filter.m_refs);
    }
    FakeFilter filter;
    IFace *face = NULL;
};

std::vector<BYTE> Bytes(std::initializer_list<int> list)
{
    std::vector<BYTE> v;
    for (int b : list)
        v.push_back(static_cast<BYTE>(b));
    return v;
}

}  // namespace

TEST(HandlerCreation, NullOuterGivesNeedOwner)
{
    HRESULT hr = S_OK;
    LONG before = CBaseObject::ObjectsActive();
    EXPECT_EQ(nullptr, CInterfaceHandler::CreateInstance(NULL, &hr));
    EXPECT_EQ(static_cast<HRESULT>(0x80040202), hr);
    EXPECT_EQ(before, CBaseObject::ObjectsActive());
}

TEST(HandlerCreation, OuterWithoutPropertySetPassesQueryFailure)
{
    FakeFilter outer(false);
    HRESULT hr = S_OK;
    EXPECT_EQ(nullptr, CInterfaceHandler::CreateInstance(&outer, &hr));
    EXPECT_EQ(E_NOINTERFACE, hr);
    EXPECT_EQ(1, outer.m_refs);
}

TEST(HandlerCreation, OuterCountUnchangedAndObjectCounted)
{
    FakeFilter outer;
    LONG before = CBaseObject::ObjectsActive();
    HRESULT hr = E_FAIL;
    CUnknown *inner = CInterfaceHandler::CreateInstance(&outer, &hr);
    ASSERT_NE(nullptr, inner);
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(1, outer.m_refs);  // the query's reference was given back
    EXPECT_EQ(before + 1, CBaseObject::ObjectsActive());
    EXPECT_EQ(1u, inner->NonDelegatingAddRef());
    EXPECT_EQ(0u, inner->NonDelegatingRelease());  // destroyed, outer untouched
    EXPECT_EQ(before, CBaseObject::ObjectsActive());
    EXPECT_EQ(1, outer.m_refs);
    EXPECT_EQ(0, outer.m_querySupported);
}

TEST(HandlerCreation, OutOfMemoryReleasesQueryReference)
{
    FakeFilter outer;
    HRESULT hr = S_OK;
    g_failNothrowNew = true;
    CUnknown *inner = CInterfaceHandler::CreateInstance(&outer, &hr);
    g_failNothrowNew = false;
    EXPECT_EQ(nullptr, inner);
    EXPECT_EQ(E_OUTOFMEMORY, hr);
    EXPECT_EQ(1, outer.m_refs);
}

TEST_F(HandlerTest, QueryInterfaceRules)
{
    CUnknown *inner = filter.m_inner;
    EXPECT_EQ(E_POINTER, inner->NonDelegatingQueryInterface(CameraPropertySet, NULL));
    EXPECT_EQ(E_POINTER, inner->NonDelegatingQueryInterface(IID_IUnknown, NULL));

    // IFace counts on the outer object.
    long refs = filter.m_refs;
    void *p = NULL;
    ASSERT_EQ(S_OK, inner->NonDelegatingQueryInterface(CameraPropertySet, &p));
    EXPECT_EQ(static_cast<void *>(face), p);
    EXPECT_EQ(refs + 1, filter.m_refs);
    static_cast<IFace *>(p)->Release();
    EXPECT_EQ(refs, filter.m_refs);

    // IUnknown is the inner unknown with a count of its own, not IFace.
    p = NULL;
    ASSERT_EQ(S_OK, inner->NonDelegatingQueryInterface(IID_IUnknown, &p));
    EXPECT_EQ(static_cast<void *>(static_cast<INonDelegatingUnknown *>(inner)), p);
    EXPECT_NE(static_cast<void *>(face), p);
    EXPECT_EQ(refs, filter.m_refs);
    EXPECT_EQ(1u, inner->NonDelegatingRelease());

    p = reinterpret_cast<void *>(1);
    EXPECT_EQ(E_NOINTERFACE, inner->NonDelegatingQueryInterface(IID_IKsPropertySet, &p));
    EXPECT_EQ(nullptr, p);
    p = reinterpret_cast<void *>(1);
    EXPECT_EQ(E_NOINTERFACE, inner->NonDelegatingQueryInterface(IID_IClassFactory, &p));
    EXPECT_EQ(nullptr, p);
}

TEST_F(HandlerTest, FaceDelegatesToOuter)
{
    long refs = filter.m_refs;
    EXPECT_EQ(static_cast<ULONG>(refs + 1), face->AddRef());
    EXPECT_EQ(static_cast<ULONG>(refs), face->Release());
    IKsPropertySet *ks = NULL;
    ASSERT_EQ(S_OK, face->QueryInterface(IID_IKsPropertySet, reinterpret_cast<void **>(&ks)));
    EXPECT_EQ(static_cast<IKsPropertySet *>(&filter), ks);
    ks->Release();
    EXPECT_EQ(refs, filter.m_refs);
}

TEST_F(HandlerTest, SetDataOfAnalogGainSendsExactBytes)
{
    ControlRequest rq = {A_GAIN, SET_DATA, 5, 0};
    EXPECT_EQ(S_OK, face->SetValue10h(&rq));
    ASSERT_EQ(1u, filter.m_calls.size());
    const PropertyCall &c = filter.m_calls[0];
    EXPECT_TRUE(c.isSet);
    EXPECT_TRUE(IsEqualGUID(CameraPropertySet, c.set));
    EXPECT_EQ(0u, c.id);
    EXPECT_EQ(nullptr, c.instance);
    EXPECT_EQ(0u, c.instanceLength);
    EXPECT_EQ(&rq, c.data);
    EXPECT_EQ(16u, c.dataLength);
    EXPECT_EQ(Bytes({0x2C, 0x01, 0, 0, 0x01, 0, 0, 0, 0x05, 0, 0, 0, 0, 0, 0, 0}), c.dataBytes);
}

TEST_F(HandlerTest, GetEnableOfExposureHandsTheBlockTwice)
{
    ControlRequest rq = {EXPOSURE, GET_ENABLE, 0, 0};
    filter.m_reply = Bytes({1, 0, 0, 0, 0x1C, 1, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x0D, 0, 0});
    filter.m_count = 16;
    DWORD count = 0xDEAD;
    EXPECT_EQ(S_OK, face->GetValue10h(&rq, &count));
    ASSERT_EQ(1u, filter.m_calls.size());
    const PropertyCall &c = filter.m_calls[0];
    EXPECT_FALSE(c.isSet);
    EXPECT_EQ(0u, c.id);
    EXPECT_EQ(&rq, c.instance);
    EXPECT_EQ(&rq, c.data);
    EXPECT_EQ(16u, c.instanceLength);
    EXPECT_EQ(16u, c.dataLength);
    std::vector<BYTE> sent = Bytes({0x0C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(sent, c.instanceBytes);
    EXPECT_EQ(sent, c.dataBytes);
    EXPECT_EQ(16u, count);
    const ControlReply *reply = reinterpret_cast<const ControlReply *>(&rq);
    EXPECT_EQ(1, reply->enableOrValue);
    EXPECT_EQ(284, reply->defaultValue);
    EXPECT_EQ(-1, reply->minValue);  // signed, passed on unchanged
    EXPECT_EQ(3330, reply->maxValue);
}

TEST_F(HandlerTest, EveryMethodUsesItsPropertyAndSize)
{
    typedef HRESULT (STDMETHODCALLTYPE IFace::*SetFn)(void *);
    typedef HRESULT (STDMETHODCALLTYPE IFace::*GetFn)(void *, DWORD *);
    struct Row {
        SetFn set;
        GetFn get;
        DWORD id;
        DWORD size;
    } rows[] = {
        {&IFace::SetValue10h, &IFace::GetValue10h, 0, 16},
        {&IFace::SetValue20h, &IFace::GetValue20h, 1, 32},
        {&IFace::SetValue30h, &IFace::GetValue30h, 2, 48},
        {&IFace::SetValue40h, &IFace::GetValue40h, 3, 64},
        {&IFace::SetValue50h, &IFace::GetValue50h, 4, 80},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.id);
        BYTE block[80];
        for (int i = 0; i < 80; ++i)
            block[i] = static_cast<BYTE>(i + r.id);
        filter.m_calls.clear();
        EXPECT_EQ(S_OK, (face->*r.set)(block));
        DWORD count = 0;
        EXPECT_EQ(S_OK, (face->*r.get)(block, &count));
        ASSERT_EQ(2u, filter.m_calls.size());
        EXPECT_TRUE(filter.m_calls[0].isSet);
        EXPECT_EQ(r.id, filter.m_calls[0].id);
        EXPECT_EQ(r.size, filter.m_calls[0].dataLength);
        EXPECT_EQ(0u, filter.m_calls[0].instanceLength);
        EXPECT_EQ(std::vector<BYTE>(block, block + r.size), filter.m_calls[0].dataBytes);
        EXPECT_FALSE(filter.m_calls[1].isSet);
        EXPECT_EQ(r.id, filter.m_calls[1].id);
        EXPECT_EQ(r.size, filter.m_calls[1].instanceLength);
        EXPECT_EQ(r.size, filter.m_calls[1].dataLength);
        EXPECT_EQ(static_cast<const void *>(block), filter.m_calls[1].instance);
        EXPECT_TRUE(IsEqualGUID(CameraPropertySet, filter.m_calls[1].set));
    }
}

TEST_F(HandlerTest, ResultsComeBackUnchangedAndCountOnlyOnSuccess)
{
    const HRESULT results[] = {S_OK, S_FALSE, static_cast<HRESULT>(0x0004027E), E_FAIL,
                               static_cast<HRESULT>(0x80070490), static_cast<HRESULT>(0x80070490) + 1};
    for (HRESULT result : results) {
        SCOPED_TRACE(result);
        filter.m_result = result;
        filter.m_count = 8;  // a short reply is still counted
        BYTE block[80] = {0};
        DWORD count = 1234;
        EXPECT_EQ(result, face->SetValue10h(block));
        EXPECT_EQ(result, face->SetValue50h(block));
        EXPECT_EQ(result, face->GetValue10h(block, &count));
        EXPECT_EQ(SUCCEEDED(result) ? 8u : 1234u, count);
        count = 1234;
        EXPECT_EQ(result, face->GetValue40h(block, &count));
        EXPECT_EQ(SUCCEEDED(result) ? 8u : 1234u, count);
    }
}

TEST_F(HandlerTest, NullBlockIsHandedOn)
{
    filter.m_result = E_POINTER;
    EXPECT_EQ(E_POINTER, face->SetValue20h(NULL));
    ASSERT_EQ(1u, filter.m_calls.size());
    EXPECT_EQ(nullptr, filter.m_calls[0].data);
    EXPECT_EQ(32u, filter.m_calls[0].dataLength);
}

TEST_F(HandlerTest, OnlyGetValue50hTracesAndAlways)
{
    wintest::DebugOutputCatcher debug;
    BYTE block[80] = {0};
    DWORD count = 0;
    face->SetValue10h(block);
    face->GetValue10h(block, &count);
    face->SetValue20h(block);
    face->GetValue20h(block, &count);
    face->GetValue30h(block, &count);
    face->GetValue40h(block, &count);
    face->SetValue50h(block);
    EXPECT_TRUE(debug.Lines().empty());

    filter.m_count = 80;
    EXPECT_EQ(S_OK, face->GetValue50h(block, &count));
    filter.m_result = static_cast<HRESULT>(0x8007001F);
    filter.m_writeCount = false;  // a failing driver leaves the count alone
    EXPECT_EQ(static_cast<HRESULT>(0x8007001F), face->GetValue50h(block, &count));
    std::vector<std::string> lines = debug.Lines();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("00000000 = IFace::GetValue50h RetLen=80\n", lines[0]);
    EXPECT_EQ("8007001F = IFace::GetValue50h RetLen=0\n", lines[1]);
    EXPECT_EQ(80u, count);
}
