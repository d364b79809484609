// The module's class objects and unload rule, with the module's code linked
// into this program.
#include <gtest/gtest.h>

#include <windows.h>
#include <ocidl.h>
#include <strmif.h>
#include <vfwmsgs.h>

#include <thread>
#include <vector>

#include <wrl/client.h>

#include "base/classfactory.h"
#include "base/module.h"
#include "vireoctl.h"
#include "server/classtable.h"
#include "fakes.h"

namespace {

using Microsoft::WRL::ComPtr;

// {5B0F6C1E-2D7A-4C38-9E51-0A6B3F7D2C94}: a class the module does not serve.
const GUID kOtherClass = {
    0x5B0F6C1E, 0x2D7A, 0x4C38, {0x9E, 0x51, 0x0A, 0x6B, 0x3F, 0x7D, 0x2C, 0x94}};

// An out-parameter for a refused request: it starts as junk and must come
// back cleared.
class Cleared {
public:
    explicit Cleared(int line = __builtin_LINE()) : m_line(line) {}
    ~Cleared() { EXPECT_EQ(NULL, m_p) << "out-parameter left set on line " << m_line; }
    operator void **() { return &m_p; }

private:
    void *m_p = reinterpret_cast<void *>(static_cast<INT_PTR>(0x5A5A5A5A));
    int m_line;
};

class ClassObjectTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_hInst = GetModuleHandleW(NULL);
        ASSERT_EQ(0, CBaseObject::ObjectsActive());
        ASSERT_EQ(S_OK, DllCanUnloadNow());
    }
    void TearDown() override
    {
        g_failNothrowNew = false;
        EXPECT_EQ(0, CBaseObject::ObjectsActive());
        EXPECT_EQ(0, CClassFactory::ServerLocks());
        EXPECT_EQ(S_OK, DllCanUnloadNow());
    }

    ComPtr<IClassFactory> Factory(REFCLSID clsid)
    {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(S_OK, DllGetClassObject(clsid, IID_IClassFactory, &factory));
        return factory;
    }
};

}  // namespace

TEST_F(ClassObjectTest, GetClassObjectRules)
{
    // The interface is refused before the class is looked at.
    EXPECT_EQ(E_NOINTERFACE, DllGetClassObject(kOtherClass, IID_IPropertyPage, Cleared()));
    EXPECT_EQ(E_NOINTERFACE, DllGetClassObject(CameraPropertySet, CameraPropertySet, Cleared()));
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
              DllGetClassObject(kOtherClass, IID_IClassFactory, Cleared()));
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, DllGetClassObject(kOtherClass, IID_IUnknown, Cleared()));
    EXPECT_EQ(E_POINTER, DllGetClassObject(CameraPropertySet, IID_IClassFactory, NULL));
    g_failNothrowNew = true;
    EXPECT_EQ(E_OUTOFMEMORY, DllGetClassObject(CameraPropertySet, IID_IClassFactory, Cleared()));
    g_failNothrowNew = false;

    // Both classes, through either interface; each call is a new class object.
    for (const GUID *clsid : {&CLSID_CameraSettingPage, &CameraPropertySet}) {
        ComPtr<IUnknown> unk;
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(S_OK, DllGetClassObject(*clsid, IID_IUnknown, &unk));
        ASSERT_EQ(S_OK, DllGetClassObject(*clsid, IID_IClassFactory, &factory));
        EXPECT_EQ(2, CBaseObject::ObjectsActive());
        EXPECT_EQ(0u, unk.Reset());
        EXPECT_EQ(0u, factory.Reset());
    }
}

TEST_F(ClassObjectTest, ClassObjectInterfacesAndCount)
{
    ComPtr<IClassFactory> factory = Factory(CameraPropertySet);
    ASSERT_TRUE(factory);
    EXPECT_EQ(1, CBaseObject::ObjectsActive());
    EXPECT_EQ(S_FALSE, DllCanUnloadNow());

    void *p = NULL;
    EXPECT_EQ(S_OK, factory->QueryInterface(IID_IUnknown, &p));
    EXPECT_EQ(factory.Get(), p);
    EXPECT_EQ(S_OK, factory->QueryInterface(IID_IClassFactory, &p));
    EXPECT_EQ(factory.Get(), p);
    EXPECT_EQ(E_NOINTERFACE, factory->QueryInterface(IID_IPropertyPage, Cleared()));
    EXPECT_EQ(E_POINTER, factory->QueryInterface(IID_IUnknown, NULL));

    // One reference from DllGetClassObject and two from the queries.
    EXPECT_EQ(2u, factory->Release());
    EXPECT_EQ(1u, factory->Release());
    EXPECT_EQ(S_FALSE, DllCanUnloadNow());
    EXPECT_EQ(0u, factory.Reset());
}

TEST_F(ClassObjectTest, ServerLocksCountedFromManyThreads)
{
    ComPtr<IClassFactory> factory = Factory(CameraPropertySet);
    ASSERT_TRUE(factory);
    const int kThreads = 4, kLocks = 1000000;
    // All threads start together so that their changes overlap.
    auto run = [&factory](BOOL lock) {
        std::atomic<int> ready(0);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; t++)
            threads.emplace_back([&factory, lock, &ready] {
                ready++;
                while (ready < kThreads)
                    SwitchToThread();
                for (int i = 0; i < kLocks; i++)
                    factory->LockServer(lock);
            });
        for (std::thread &t : threads)
            t.join();
    };
    run(TRUE);
    EXPECT_EQ(kThreads * kLocks, CClassFactory::ServerLocks());
    run(FALSE);
    EXPECT_EQ(0, CClassFactory::ServerLocks());
}

TEST_F(ClassObjectTest, CreateInstanceRefusals)
{
    ComPtr<IClassFactory> factory = Factory(CameraPropertySet);
    ASSERT_TRUE(factory);
    FakeFilter outer;

    EXPECT_EQ(E_POINTER, factory->CreateInstance(NULL, IID_IUnknown, NULL));

    // An aggregate's inner object is asked for nothing but IUnknown; the
    // class's creation is not even tried.
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(&outer, CameraPropertySet, Cleared()));
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(&outer, IID_IKsPropertySet, Cleared()));
    EXPECT_EQ(0, outer.queries);
    EXPECT_EQ(1, outer.refs);

    // The handler exists only aggregated.
    EXPECT_EQ(VFW_E_NEED_OWNER, factory->CreateInstance(NULL, IID_IUnknown, Cleared()));
    EXPECT_EQ(VFW_E_NEED_OWNER, factory->CreateInstance(NULL, CameraPropertySet, Cleared()));

    // An outer object without IKsPropertySet: the creation's own failure.
    FakeFilter bare(false);
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(&bare, IID_IUnknown, Cleared()));
    EXPECT_EQ(1, bare.refs);

    // Out of memory in the creation comes back as such.
    g_failNothrowNew = true;
    EXPECT_EQ(E_OUTOFMEMORY, factory->CreateInstance(&outer, IID_IUnknown, Cleared()));
    g_failNothrowNew = false;
    EXPECT_EQ(1, outer.refs);
}

namespace {

// A class whose creation hands back an object together with a failure.
HRESULT g_creationResult = S_OK;
bool g_creationReturnsObject = true;
int g_destroyed = 0;

class Probe : public CUnknown {
public:
    Probe() : CUnknown("probe", NULL) {}
    ~Probe() override { ++g_destroyed; }
};

CUnknown *CreateProbe(IUnknown *, HRESULT *phr)
{
    EXPECT_EQ(S_OK, *phr);  // the result code starts at S_OK
    if (g_creationResult != S_OK)
        *phr = g_creationResult;
    return g_creationReturnsObject ? new Probe : NULL;
}

const CFactoryTemplate kProbeTemplate = {L"probe", &kOtherClass, CreateProbe, NULL, NULL};

}  // namespace

TEST_F(ClassObjectTest, CreationResultRules)
{
    ComPtr<IClassFactory> factory(new CClassFactory(&kProbeTemplate));

    // Object and failure: the object is destroyed, the code returned.
    g_creationResult = E_ACCESSDENIED;
    EXPECT_EQ(E_ACCESSDENIED, factory->CreateInstance(NULL, IID_IUnknown, Cleared()));
    EXPECT_EQ(1, g_destroyed);

    // No object: its failure code, or E_OUTOFMEMORY when it reported none.
    g_creationReturnsObject = false;
    EXPECT_EQ(E_ACCESSDENIED, factory->CreateInstance(NULL, IID_IUnknown, Cleared()));
    g_creationResult = S_FALSE;
    EXPECT_EQ(E_OUTOFMEMORY, factory->CreateInstance(NULL, IID_IUnknown, Cleared()));
    g_creationResult = S_OK;
    EXPECT_EQ(E_OUTOFMEMORY, factory->CreateInstance(NULL, IID_IUnknown, Cleared()));

    // A success code with the object: the query decides, and the object
    // lives on only through the reference the query gave.
    g_creationResult = S_FALSE;
    g_creationReturnsObject = true;
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(NULL, IID_IClassFactory, Cleared()));
    EXPECT_EQ(2, g_destroyed);
    ComPtr<IUnknown> unk;
    EXPECT_EQ(S_OK, factory->CreateInstance(NULL, IID_IUnknown, &unk));
    ASSERT_TRUE(unk);
    EXPECT_EQ(2, CBaseObject::ObjectsActive());
    EXPECT_EQ(0u, unk.Reset());
    EXPECT_EQ(3, g_destroyed);
}

TEST_F(ClassObjectTest, PageAggregatedAsksForUnknownOnly)
{
    ComPtr<IClassFactory> factory = Factory(CLSID_CameraSettingPage);
    ASSERT_TRUE(factory);
    FakeFilter outer;
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(&outer, IID_IPropertyPage, Cleared()));

    ComPtr<IUnknown> inner;
    ASSERT_EQ(S_OK, factory->CreateInstance(&outer, IID_IUnknown, &inner));
    ComPtr<IPropertyPage> page;
    EXPECT_EQ(S_OK, inner->QueryInterface(IID_IPropertyPage, &page));
    EXPECT_EQ(2, outer.refs);  // the page's interfaces count on the outer object
    page.Reset();
    EXPECT_EQ(1, outer.refs);
    EXPECT_EQ(0u, inner.Reset());
}
