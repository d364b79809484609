// The interface handler aggregated into an outer object that offers
// IKsPropertySet, records every property call byte for byte and counts its
// references.
#include <gtest/gtest.h>

#include <windows.h>
#include <strmif.h>

#include <vector>

#include "control/handler.h"
#include "fakes.h"
#include "wintest.h"

namespace {

IUnknown *Inner(CUnknown *object)
{
    return reinterpret_cast<IUnknown *>(static_cast<INonDelegatingUnknown *>(object));
}

class HandlerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        HRESULT hr = E_FAIL;
        inner = CInterfaceHandler::CreateInstance(&filter, &hr);
        ASSERT_EQ(S_OK, hr);
        ASSERT_NE(nullptr, inner);
        inner->NonDelegatingAddRef();
        filter.inner = Inner(inner);
        ASSERT_EQ(S_OK, filter.QueryInterface(CameraPropertySet, reinterpret_cast<void **>(&face)));
    }
    void TearDown() override
    {
        if (face)
            face->Release();
        filter.DropInner();
        EXPECT_EQ(1, filter.refs);
    }
    FakeFilter filter;
    CUnknown *inner = NULL;
    IFace *face = NULL;
};

std::vector<BYTE> Bytes(std::initializer_list<int> list)
{
    return std::vector<BYTE>(list.begin(), list.end());
}

}  // namespace

TEST(HandlerCreation, RefusalsLeaveNoObjectAndNoReference)
{
    const LONG before = CBaseObject::ObjectsActive();
    HRESULT hr = S_OK;
    EXPECT_EQ(nullptr, CInterfaceHandler::CreateInstance(NULL, &hr));
    EXPECT_EQ(static_cast<HRESULT>(0x80040202), hr);  // VFW_E_NEED_OWNER

    FakeFilter bare(false);
    EXPECT_EQ(nullptr, CInterfaceHandler::CreateInstance(&bare, &hr));
    EXPECT_EQ(E_NOINTERFACE, hr);
    EXPECT_EQ(1, bare.refs);

    FakeFilter outer;
    g_failNothrowNew = true;
    EXPECT_EQ(nullptr, CInterfaceHandler::CreateInstance(&outer, &hr));
    g_failNothrowNew = false;
    EXPECT_EQ(E_OUTOFMEMORY, hr);
    EXPECT_EQ(1, outer.refs);
    EXPECT_EQ(before, CBaseObject::ObjectsActive());
}

TEST(HandlerCreation, KeepsTheOuterUncountedAndIsCounted)
{
    FakeFilter outer;
    const LONG before = CBaseObject::ObjectsActive();
    HRESULT hr = E_FAIL;
    CUnknown *inner = CInterfaceHandler::CreateInstance(&outer, &hr);
    ASSERT_NE(nullptr, inner);
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(1, outer.refs);  // the query's reference was given back
    EXPECT_EQ(before + 1, CBaseObject::ObjectsActive());
    EXPECT_EQ(1u, inner->NonDelegatingAddRef());
    EXPECT_EQ(0u, inner->NonDelegatingRelease());
    EXPECT_EQ(before, CBaseObject::ObjectsActive());
    EXPECT_EQ(1, outer.refs);
    EXPECT_EQ(0, outer.querySupported);
}

TEST_F(HandlerTest, QueryInterfaceRules)
{
    EXPECT_EQ(E_POINTER, inner->NonDelegatingQueryInterface(CameraPropertySet, NULL));
    // IFace counts on the outer object.
    const LONG refs = filter.refs;
    void *p = NULL;
    ASSERT_EQ(S_OK, inner->NonDelegatingQueryInterface(CameraPropertySet, &p));
    EXPECT_EQ(static_cast<void *>(face), p);
    EXPECT_EQ(refs + 1, filter.refs);
    EXPECT_EQ(static_cast<ULONG>(refs + 2), face->AddRef());
    face->Release();
    static_cast<IFace *>(p)->Release();
    EXPECT_EQ(refs, filter.refs);
    // IUnknown is the inner unknown with a count of its own.
    ASSERT_EQ(S_OK, inner->NonDelegatingQueryInterface(IID_IUnknown, &p));
    EXPECT_EQ(static_cast<void *>(Inner(inner)), p);
    EXPECT_EQ(refs, filter.refs);
    EXPECT_EQ(1u, inner->NonDelegatingRelease());
    for (const GUID *other : {&IID_IKsPropertySet, &IID_IClassFactory}) {
        p = reinterpret_cast<void *>(1);
        EXPECT_EQ(E_NOINTERFACE, inner->NonDelegatingQueryInterface(*other, &p));
        EXPECT_EQ(nullptr, p);
    }
    // IFace's own QueryInterface is the filter's.
    IKsPropertySet *ks = NULL;
    ASSERT_EQ(S_OK, face->QueryInterface(IID_IKsPropertySet, reinterpret_cast<void **>(&ks)));
    EXPECT_EQ(static_cast<IKsPropertySet *>(&filter), ks);
    ks->Release();
}

TEST_F(HandlerTest, GetHandsTheCallersBlockAsInstanceAndData)
{
    ControlRequest get = {EXPOSURE, GET_ENABLE, 0, 0};
    filter.reply = Bytes({1, 0, 0, 0, 0x1C, 1, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x0D, 0, 0});
    filter.count = 16;
    DWORD count = 0xDEAD;
    EXPECT_EQ(S_OK, face->GetValue10h(&get, &count));
    ASSERT_EQ(1u, filter.calls.size());
    const PropertyCall &c = filter.calls[0];
    EXPECT_EQ(&get, c.instance);
    EXPECT_EQ(&get, c.data);
    const std::vector<BYTE> sent = Bytes({0x0C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(sent, c.instanceBytes);
    EXPECT_EQ(sent, c.dataBytes);
    EXPECT_EQ(16u, count);
    const ControlReply *reply = reinterpret_cast<const ControlReply *>(&get);
    EXPECT_EQ(1, reply->enableOrValue);
    EXPECT_EQ(284, reply->defaultValue);
    EXPECT_EQ(-1, reply->minValue);  // signed, passed on unchanged
    EXPECT_EQ(3330, reply->maxValue);
}

TEST_F(HandlerTest, EveryMethodUsesItsPropertyAndSize)
{
    typedef HRESULT (STDMETHODCALLTYPE IFace::*SetFn)(void *);
    typedef HRESULT (STDMETHODCALLTYPE IFace::*GetFn)(void *, DWORD *);
    const struct {
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
    for (const auto &r : rows) {
        SCOPED_TRACE(r.id);
        BYTE block[80];
        for (int i = 0; i < 80; ++i)
            block[i] = static_cast<BYTE>(i + r.id);
        filter.calls.clear();
        EXPECT_EQ(S_OK, (face->*r.set)(block));
        DWORD count = 0;
        EXPECT_EQ(S_OK, (face->*r.get)(block, &count));
        ASSERT_EQ(2u, filter.calls.size());
        const PropertyCall &s = filter.calls[0], &g = filter.calls[1];
        EXPECT_TRUE(s.isSet);
        EXPECT_TRUE(IsEqualGUID(CameraPropertySet, s.set) && IsEqualGUID(CameraPropertySet, g.set));
        EXPECT_EQ(static_cast<const void *>(block), s.data);
        EXPECT_EQ(r.id, s.id);
        EXPECT_EQ(0u, s.instanceLength);
        EXPECT_EQ(std::vector<BYTE>(block, block + r.size), s.dataBytes);
        EXPECT_FALSE(g.isSet);
        EXPECT_EQ(r.id, g.id);
        EXPECT_EQ(r.size, g.instanceLength);
        EXPECT_EQ(r.size, g.dataLength);
        EXPECT_EQ(static_cast<const void *>(block), g.instance);
    }
    // A null block is handed on as it is.
    filter.calls.clear();
    filter.result = E_POINTER;
    EXPECT_EQ(E_POINTER, face->SetValue20h(NULL));
    ASSERT_EQ(1u, filter.calls.size());
    EXPECT_EQ(nullptr, filter.calls[0].data);
    EXPECT_EQ(32u, filter.calls[0].dataLength);
}

TEST_F(HandlerTest, ResultsComeBackUnchangedAndCountOnlyOnSuccess)
{
    for (HRESULT result : {S_OK, S_FALSE, static_cast<HRESULT>(0x0004027E), E_FAIL,
                           static_cast<HRESULT>(0x80070491)}) {
        SCOPED_TRACE(result);
        filter.result = result;
        filter.count = 8;  // a short reply is still counted
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

    filter.count = 80;
    EXPECT_EQ(S_OK, face->GetValue50h(block, &count));
    filter.result = static_cast<HRESULT>(0x8007001F);
    filter.writeCount = false;  // a failing driver leaves the count alone
    EXPECT_EQ(static_cast<HRESULT>(0x8007001F), face->GetValue50h(block, &count));
    EXPECT_EQ((std::vector<std::string>{"00000000 = IFace::GetValue50h RetLen=80\n",
                                        "8007001F = IFace::GetValue50h RetLen=0\n"}),
              debug.Lines());
    EXPECT_EQ(80u, count);
}
