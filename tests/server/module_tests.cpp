// The built vireoprop.ax as the platform uses it: loaded by path, asked for
// class objects through its exports, registered and unregistered by
// regsvr32, and created through the COM runtime from its registration.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <ocidl.h>
#include <vfwmsgs.h>

#include "control/vireoctl.h"
#include "fakes.h"
#include "servertest.h"
#include "wintest.h"

using namespace servertest;

namespace {

typedef HRESULT(STDAPICALLTYPE *GetClassObjectFn)(REFCLSID, REFIID, void **);
typedef HRESULT(STDAPICALLTYPE *PlainFn)();

const GUID kOtherClass = {
    0x5B0F6C1E, 0x2D7A, 0x4C38, {0x9E, 0x51, 0x0A, 0x6B, 0x3F, 0x7D, 0x2C, 0x94}};

// GetProcAddress's result as the export's own type (through the generic
// function pointer type, which converts to any other).
template <class F> F Export(HMODULE module, const char *name)
{
    typedef void (*Generic)();
    return reinterpret_cast<F>(reinterpret_cast<Generic>(GetProcAddress(module, name)));
}

std::wstring ModulePath()
{
    return wintest::BinDir() + L"vireoprop.ax";
}

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_module = LoadLibraryW(ModulePath().c_str());
        ASSERT_TRUE(m_module != NULL) << GetLastError();
        m_getClassObject = Export<GetClassObjectFn>(m_module, "DllGetClassObject");
        m_canUnloadNow = Export<PlainFn>(m_module, "DllCanUnloadNow");
        m_register = Export<PlainFn>(m_module, "DllRegisterServer");
        m_unregister = Export<PlainFn>(m_module, "DllUnregisterServer");
        ASSERT_TRUE(m_getClassObject && m_canUnloadNow && m_register && m_unregister);
        ASSERT_EQ(S_OK, m_canUnloadNow());
    }
    void TearDown() override
    {
        if (m_module) {
            EXPECT_EQ(S_OK, m_canUnloadNow());
            FreeLibrary(m_module);
        }
    }

    HMODULE m_module = NULL;
    GetClassObjectFn m_getClassObject = NULL;
    PlainFn m_canUnloadNow = NULL;
    PlainFn m_register = NULL;
    PlainFn m_unregister = NULL;
};

class RegisteredModuleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveModuleEntries();
        ASSERT_EQ(S_OK, CoInitialize(NULL));
    }
    void TearDown() override
    {
        CoFreeUnusedLibraries();
        CoUninitialize();
        wintest::RegisterModule(L"vireoprop.ax", true);
        RemoveModuleEntries();
        ExpectUnregistered();
    }
};

}  // namespace

TEST_F(ModuleTest, ClassObjectsThroughTheExports)
{
    void *p = NULL;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, m_getClassObject(kOtherClass, IID_IClassFactory, &p));
    IClassFactory *handlers = NULL;
    ASSERT_EQ(S_OK, m_getClassObject(CameraPropertySet, IID_IClassFactory,
                                     reinterpret_cast<void **>(&handlers)));
    EXPECT_EQ(S_FALSE, m_canUnloadNow());
    FakeFilter outer;

    IUnknown *inner = NULL;
    ASSERT_EQ(S_OK,
              handlers->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void **>(&inner)));
    EXPECT_EQ(S_OK, handlers->LockServer(TRUE));
    EXPECT_EQ(0u, handlers->Release());
    EXPECT_EQ(S_FALSE, m_canUnloadNow());  // the handler and the lock

    outer.inner = inner;
    outer.DropInner();
    EXPECT_EQ(1, outer.refs);
    EXPECT_EQ(S_FALSE, m_canUnloadNow());  // the lock alone

    IClassFactory *pages = NULL;
    ASSERT_EQ(S_OK, m_getClassObject(CLSID_CameraSettingPage, IID_IUnknown,
                                     reinterpret_cast<void **>(&pages)));
    EXPECT_EQ(S_OK, pages->LockServer(FALSE));
    EXPECT_EQ(S_FALSE, m_canUnloadNow());  // the class object
    IPropertyPage *page = NULL;
    ASSERT_EQ(S_OK,
              pages->CreateInstance(NULL, IID_IPropertyPage, reinterpret_cast<void **>(&page)));
    pages->Release();
    EXPECT_EQ(S_FALSE, m_canUnloadNow());  // the page
    EXPECT_EQ(0u, page->Release());
    EXPECT_EQ(S_OK, m_canUnloadNow());
}

TEST_F(RegisteredModuleTest, Regsvr32RegistersAndUnregisters)
{
    std::wstring command = L"regsvr32.exe /s \"" + ModulePath() + L"\"";
    ASSERT_EQ(0, wintest::RunProcess(command));
    ExpectRegistered(ModulePath());

    std::wstring unregister = L"regsvr32.exe /s /u \"" + ModulePath() + L"\"";
    EXPECT_EQ(0, wintest::RunProcess(unregister));
    ExpectUnregistered();
    // Nothing left to remove: the handler key's absence is reported.
    EXPECT_NE(0, wintest::RunProcess(unregister));
    ExpectUnregistered();
}

TEST_F(RegisteredModuleTest, RuntimeCreatesBothClassesFromTheRegistration)
{
    ASSERT_TRUE(wintest::RegisterModule(L"vireoprop.ax"));

    // What the kernel-streaming proxy does: the handler aggregated into
    // the filter, found through the registered class.
    FakeFilter outer;
    IUnknown *inner = NULL;
    ASSERT_EQ(S_OK, CoCreateInstance(CameraPropertySet, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                     reinterpret_cast<void **>(&inner)));
    ASSERT_TRUE(inner);
    IUnknown *refused = NULL;
    EXPECT_EQ(VFW_E_NEED_OWNER,
              CoCreateInstance(CameraPropertySet, NULL, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void **>(&refused)));
    outer.inner = inner;
    outer.DropInner();
    EXPECT_EQ(1, outer.refs);

    // What a property frame does: the page by its class.
    IPropertyPage *page = NULL;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_CameraSettingPage, NULL, CLSCTX_INPROC_SERVER,
                                     IID_IPropertyPage, reinterpret_cast<void **>(&page)));
    PROPPAGEINFO info = {};
    info.cb = sizeof(info);
    ASSERT_EQ(S_OK, page->GetPageInfo(&info));
    EXPECT_STREQ(L"Camera Setting", info.pszTitle);
    CoTaskMemFree(info.pszTitle);
    CoTaskMemFree(info.pszDocString);
    CoTaskMemFree(info.pszHelpFile);
    page->Release();
}
