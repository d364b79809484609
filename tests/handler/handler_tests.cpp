// The interface handler aggregated into an outer object that offers
// IKsPropertySet, records every property call byte for byte and counts its
// references.
#include <gtest/gtest.h>

#include <windows.h>
#include <strmif.h>

#include <vector>

#include <wrl/client.h>

#include "control/handler.h"
#include "fakes.h"
#include "policy_keys.h"
#include "wintest.h"

namespace {

using Microsoft::WRL::ComPtr;

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
        // Created without a reference of its own and counted; the filter's
        // reference from the creation's query given back.
        EXPECT_EQ(1u, inner->NonDelegatingAddRef());
        EXPECT_EQ(objects + 1, CBaseObject::ObjectsActive());
        EXPECT_EQ(1, filter.refs);
        filter.inner = Inner(inner);
        ASSERT_EQ(S_OK, filter.QueryInterface(CameraPropertySet, &face));
    }
    void TearDown() override
    {
        face.Reset();
        filter.DropInner();  // the inner unknown's last reference ends the handler
        EXPECT_EQ(objects, CBaseObject::ObjectsActive());
        EXPECT_EQ(1, filter.refs);
    }
    const LONG objects = CBaseObject::ObjectsActive();
    FakeFilter filter;
    CUnknown *inner = NULL;
    ComPtr<IFace> face;
};

}  // namespace

TEST_F(HandlerTest, QueryInterfaceRules)
{
    EXPECT_EQ(E_POINTER, inner->NonDelegatingQueryInterface(CameraPropertySet, NULL));
    // IFace counts on the outer object.
    const LONG refs = filter.refs;
    void *p = NULL;
    ASSERT_EQ(S_OK, inner->NonDelegatingQueryInterface(CameraPropertySet, &p));
    EXPECT_EQ(face.Get(), p);
    EXPECT_EQ(refs + 1, filter.refs);
    EXPECT_EQ(static_cast<ULONG>(refs + 2), face->AddRef());
    EXPECT_EQ(static_cast<ULONG>(refs + 1), face->Release());
    EXPECT_EQ(static_cast<ULONG>(refs), static_cast<IFace *>(p)->Release());
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
    ComPtr<IKsPropertySet> ks;
    ASSERT_EQ(S_OK, face->QueryInterface(IID_IKsPropertySet, &ks));
    EXPECT_EQ(static_cast<IKsPropertySet *>(&filter), ks.Get());
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
        EXPECT_EQ(S_OK, (face.Get()->*r.set)(block));
        DWORD count = 0;
        EXPECT_EQ(S_OK, (face.Get()->*r.get)(block, &count));
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
        EXPECT_EQ(static_cast<const void *>(block), g.data);
        EXPECT_EQ(s.dataBytes, g.instanceBytes);  // the caller's block as it was
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

TEST_F(HandlerTest, NullCountIsRefusedBeforeTheDriver)
{
    typedef HRESULT (STDMETHODCALLTYPE IFace::*Get)(void *, DWORD *);
    for (Get get : {&IFace::GetValue10h, &IFace::GetValue20h, &IFace::GetValue30h,
                    &IFace::GetValue40h, &IFace::GetValue50h}) {
        BYTE block[80] = {0};
        EXPECT_EQ(E_POINTER, (face.Get()->*get)(block, NULL));
    }
    EXPECT_TRUE(filter.calls.empty());
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

// A control the organization's policy locks: a SET_DATA to another value is
// refused with E_ACCESSDENIED and never reaches the driver; every other
// request goes through as before.
TEST_F(HandlerTest, LockedControlsRefusedBeforeTheDriver)
{
    PolicyKeys keys;
    ASSERT_TRUE(PolicyKeys::Set(L"Mandatory", L"EXPOSURE", 800));
    const struct {
        const char *name;
        ControlRequest request;
        HRESULT result;
        bool reachesDriver;
    } cases[] = {
        {"another value", {EXPOSURE, SET_DATA, 300, 0}, E_ACCESSDENIED, false},
        {"the locked value", {EXPOSURE, SET_DATA, 800, 0}, S_OK, true},
        {"another control", {FLIP, SET_DATA, 1, 0}, S_OK, true},
        {"a read", {EXPOSURE, GET_DATA, 300, 0}, S_OK, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        filter.calls.clear();
        ControlRequest request = c.request;
        EXPECT_EQ(c.result, face->SetValue10h(&request));
        EXPECT_EQ(c.reachesDriver ? 1u : 0u, filter.calls.size());
    }
    // A null block is the driver's to answer, as ever.
    filter.calls.clear();
    EXPECT_EQ(S_OK, face->SetValue10h(NULL));
    ASSERT_EQ(1u, filter.calls.size());
    EXPECT_EQ(nullptr, filter.calls[0].data);
}
