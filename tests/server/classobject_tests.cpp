// The module's class objects and unload rule, with the module's code linked
// into this program.
#include <gtest/gtest.h>

#include <windows.h>
#include <ocidl.h>
#include <strmif.h>
#include <vfwmsgs.h>

#include <thread>
#include <vector>

#include "base/classfactory.h"
#include "base/module.h"
#include "control/vireoctl.h"
#include "server/classtable.h"
#include "fakes.h"

namespace {

// {5B0F6C1E-2D7A-4C38-9E51-0A6B3F7D2C94}: a class the module does not serve.
const GUID kOtherClass = {
    0x5B0F6C1E, 0x2D7A, 0x4C38, {0x9E, 0x51, 0x0A, 0x6B, 0x3F, 0x7D, 0x2C, 0x94}};

void *const kJunk = reinterpret_cast<void *>(static_cast<INT_PTR>(0x5A5A5A5A));

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

    IClassFactory *Factory(REFCLSID clsid)
    {
        IClassFactory *factory = NULL;
        EXPECT_EQ(S_OK,
                  DllGetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void **>(&factory)));
        return factory;
    }
};

}  // namespace

TEST_F(ClassObjectTest, GetClassObjectRules)
{
    // The interface is refused before the class is looked at.
    void *p = kJunk;
    EXPECT_EQ(E_NOINTERFACE, DllGetClassObject(kOtherClass, IID_IPropertyPage, &p));
    EXPECT_EQ(NULL, p);
    p = kJunk;
    EXPECT_EQ(E_NOINTERFACE, DllGetClassObject(CameraPropertySet, CameraPropertySet, &p));
    EXPECT_EQ(NULL, p);
    EXPECT_EQ(0, CBaseObject::ObjectsActive());

    p = kJunk;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, DllGetClassObject(kOtherClass, IID_IClassFactory, &p));
    EXPECT_EQ(NULL, p);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, DllGetClassObject(kOtherClass, IID_IUnknown, &p));
    EXPECT_EQ(E_POINTER, DllGetClassObject(CameraPropertySet, IID_IClassFactory, NULL));
    g_failNothrowNew = true;
    EXPECT_EQ(E_OUTOFMEMORY, DllGetClassObject(CameraPropertySet, IID_IClassFactory, &p));
    g_failNothrowNew = false;
    EXPECT_EQ(NULL, p);

    // Both classes, through either interface; each call is a new class object.
    for (const GUID *clsid : {&CLSID_CameraSettingPage, &CameraPropertySet}) {
        IUnknown *unk = NULL;
        IClassFactory *factory = NULL;
        ASSERT_EQ(S_OK, DllGetClassObject(*clsid, IID_IUnknown, reinterpret_cast<void **>(&unk)));
        ASSERT_EQ(S_OK, DllGetClassObject(*clsid, IID_IClassFactory,
                                          reinterpret_cast<void **>(&factory)));
        EXPECT_NE(static_cast<void *>(unk), static_cast<void *>(factory));
        EXPECT_EQ(2, CBaseObject::ObjectsActive());
        EXPECT_EQ(0u, unk->Release());
        EXPECT_EQ(0u, factory->Release());
    }
}

TEST_F(ClassObjectTest, ClassObjectInterfacesAndCount)
{
    IClassFactory *factory = Factory(CameraPropertySet);
    ASSERT_TRUE(factory);
    EXPECT_EQ(1, CBaseObject::ObjectsActive());
    EXPECT_EQ(S_FALSE, DllCanUnloadNow());

    void *p = kJunk;
    EXPECT_EQ(S_OK, factory->QueryInterface(IID_IUnknown, &p));
    EXPECT_EQ(static_cast<void *>(factory), p);
    EXPECT_EQ(S_OK, factory->QueryInterface(IID_IClassFactory, &p));
    EXPECT_EQ(static_cast<void *>(factory), p);
    p = kJunk;
    EXPECT_EQ(E_NOINTERFACE, factory->QueryInterface(IID_IPropertyPage, &p));
    EXPECT_EQ(NULL, p);
    EXPECT_EQ(E_POINTER, factory->QueryInterface(IID_IUnknown, NULL));

    // One reference from DllGetClassObject and two from the queries.
    EXPECT_EQ(2u, factory->Release());
    EXPECT_EQ(1u, factory->Release());
    EXPECT_EQ(S_FALSE, DllCanUnloadNow());
    EXPECT_EQ(0u, factory->Release());
    EXPECT_EQ(0, CBaseObject::ObjectsActive());
    EXPECT_EQ(S_OK, DllCanUnloadNow());
}

TEST_F(ClassObjectTest, ServerLocksCountedFromManyThreads)
{
    IClassFactory *factory = Factory(CameraPropertySet);
    ASSERT_TRUE(factory);
    const int kThreads = 4, kLocks = 1000000;
    // All threads start together so that their changes overlap.
    auto run = [factory](BOOL lock) {
        std::atomic<int> ready(0);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; t++)
            threads.emplace_back([factory, lock, &ready] {
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
    factory->Release();
}

TEST_F(ClassObjectTest, CreateInstanceRefusals)
{
    IClassFactory *factory = Factory(CameraPropertySet);
    ASSERT_TRUE(factory);
    FakeFilter outer;

    EXPECT_EQ(E_POINTER, factory->CreateInstance(NULL, IID_IUnknown, NULL));

    // An aggregate's inner object is asked for nothing but IUnknown; the
    // class's creation is not even tried.
    void *p = kJunk;
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(&outer, CameraPropertySet, &p));
    EXPECT_EQ(NULL, p);
    p = kJunk;
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(&outer, IID_IKsPropertySet, &p));
    EXPECT_EQ(NULL, p);
    EXPECT_EQ(0, outer.queries);
    EXPECT_EQ(1, outer.refs);

    // The handler exists only aggregated.
    p = kJunk;
    EXPECT_EQ(VFW_E_NEED_OWNER, factory->CreateInstance(NULL, IID_IUnknown, &p));
    EXPECT_EQ(NULL, p);
    EXPECT_EQ(VFW_E_NEED_OWNER, factory->CreateInstance(NULL, CameraPropertySet, &p));

    // An outer object without IKsPropertySet: the creation's own failure.
    FakeFilter bare(false);
    p = kJunk;
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(&bare, IID_IUnknown, &p));
    EXPECT_EQ(NULL, p);
    EXPECT_EQ(1, bare.refs);

    // Out of memory in the creation comes back as such.
    g_failNothrowNew = true;
    EXPECT_EQ(E_OUTOFMEMORY, factory->CreateInstance(&outer, IID_IUnknown, &p));
    g_failNothrowNew = false;
    EXPECT_EQ(NULL, p);
    EXPECT_EQ(1, outer.refs);

    EXPECT_EQ(1, CBaseObject::ObjectsActive());  // the class object alone
    factory->Release();
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
    CClassFactory *factory = new CClassFactory(&kProbeTemplate);
    factory->AddRef();
    void *p = kJunk;

    // Object and failure: the object is destroyed, the code returned.
    g_destroyed = 0;
    g_creationResult = E_ACCESSDENIED;
    g_creationReturnsObject = true;
    EXPECT_EQ(E_ACCESSDENIED, factory->CreateInstance(NULL, IID_IUnknown, &p));
    EXPECT_EQ(NULL, p);
    EXPECT_EQ(1, g_destroyed);

    // No object: its failure code, or E_OUTOFMEMORY when it reported none.
    g_creationReturnsObject = false;
    EXPECT_EQ(E_ACCESSDENIED, factory->CreateInstance(NULL, IID_IUnknown, &p));
    g_creationResult = S_FALSE;
    EXPECT_EQ(E_OUTOFMEMORY, factory->CreateInstance(NULL, IID_IUnknown, &p));
    g_creationResult = S_OK;
    EXPECT_EQ(E_OUTOFMEMORY, factory->CreateInstance(NULL, IID_IUnknown, &p));

    // A success code with the object: the query decides, and the object
    // lives on only through the reference the query gave.
    g_creationResult = S_FALSE;
    g_creationReturnsObject = true;
    p = kJunk;
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(NULL, IID_IClassFactory, &p));
    EXPECT_EQ(NULL, p);
    EXPECT_EQ(2, g_destroyed);
    IUnknown *unk = NULL;
    EXPECT_EQ(S_OK, factory->CreateInstance(NULL, IID_IUnknown, reinterpret_cast<void **>(&unk)));
    ASSERT_TRUE(unk);
    EXPECT_EQ(2, CBaseObject::ObjectsActive());
    EXPECT_EQ(0u, unk->Release());
    EXPECT_EQ(3, g_destroyed);

    g_creationResult = S_OK;
    factory->Release();
}

TEST_F(ClassObjectTest, PageAggregatedAsksForUnknownOnly)
{
    IClassFactory *factory = Factory(CLSID_CameraSettingPage);
    ASSERT_TRUE(factory);
    FakeFilter outer;
    void *p = kJunk;
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(&outer, IID_IPropertyPage, &p));
    EXPECT_EQ(NULL, p);
    EXPECT_EQ(1, CBaseObject::ObjectsActive());

    IUnknown *inner = NULL;
    ASSERT_EQ(S_OK,
              factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void **>(&inner)));
    ASSERT_TRUE(inner);
    IPropertyPage *page = NULL;
    EXPECT_EQ(S_OK, inner->QueryInterface(IID_IPropertyPage, reinterpret_cast<void **>(&page)));
    EXPECT_EQ(2, outer.refs);  // the page's interfaces count on the outer object
    page->Release();
    EXPECT_EQ(1, outer.refs);
    EXPECT_EQ(0u, inner->Release());
    factory->Release();
}
