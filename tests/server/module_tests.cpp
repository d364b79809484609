// The built vireoprop.ax as the platform uses it: loaded by path, asked for
// class objects through its exports, registered and unregistered by
// regsvr32, and created through the COM runtime from its registration.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <ocidl.h>
#include <wrl/client.h>

#include "vireoctl.h"
#include "fakes.h"
#include "servertest.h"
#include "wintest.h"

using Microsoft::WRL::ComPtr;
using namespace servertest;

namespace {

typedef HRESULT(STDAPICALLTYPE *GetClassObjectFn)(REFCLSID, REFIID, void **);
typedef HRESULT(STDAPICALLTYPE *PlainFn)();

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
    ComPtr<IClassFactory> handlers;
    ASSERT_EQ(S_OK, m_getClassObject(CameraPropertySet, IID_IClassFactory, &handlers));
    EXPECT_EQ(S_FALSE, m_canUnloadNow());
    FakeFilter outer;
    ASSERT_EQ(S_OK, handlers->CreateInstance(&outer, IID_IUnknown,
                                             reinterpret_cast<void **>(&outer.inner)));
    EXPECT_EQ(S_OK, handlers->LockServer(TRUE));
    EXPECT_EQ(0u, handlers.Reset());
    EXPECT_EQ(S_FALSE, m_canUnloadNow());  // the handler and the lock
    outer.DropInner();
    EXPECT_EQ(1, outer.refs);
    EXPECT_EQ(S_FALSE, m_canUnloadNow());  // the lock alone

    ComPtr<IClassFactory> pages;
    ASSERT_EQ(S_OK, m_getClassObject(CLSID_CameraSettingPage, IID_IUnknown, &pages));
    EXPECT_EQ(S_OK, pages->LockServer(FALSE));
    EXPECT_EQ(S_FALSE, m_canUnloadNow());  // the class object
    ComPtr<IPropertyPage> page;
    ASSERT_EQ(S_OK, pages->CreateInstance(NULL, IID_IPropertyPage, &page));
    pages.Reset();
    EXPECT_EQ(S_FALSE, m_canUnloadNow());  // the page
    EXPECT_EQ(0u, page.Reset());
    EXPECT_EQ(S_OK, m_canUnloadNow());
}

// Registered by regsvr32, the module serves the COM runtime both classes;
// unregistered, nothing of it is left, and a second time that is reported.
TEST_F(RegisteredModuleTest, Regsvr32RegistersForTheRuntimeAndUnregisters)
{
    ASSERT_TRUE(wintest::RegisterModule(L"vireoprop.ax"));
    ExpectRegistered(ModulePath());

    // What the kernel-streaming proxy does: the handler aggregated into
    // the filter, found through the registered class.
    FakeFilter outer;
    ASSERT_EQ(S_OK, CoCreateInstance(CameraPropertySet, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                     reinterpret_cast<void **>(&outer.inner)));
    outer.DropInner();
    EXPECT_EQ(1, outer.refs);
    // What a property frame does: the page by its class.
    ComPtr<IPropertyPage> page;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_CameraSettingPage, NULL, CLSCTX_INPROC_SERVER,
                                     IID_IPropertyPage, &page));
    PROPPAGEINFO info = {};
    ASSERT_EQ(S_OK, page->GetPageInfo(&info));
    EXPECT_STREQ(L"Camera Setting", info.pszTitle);
    CoTaskMemFree(info.pszTitle);
    page.Reset();

    EXPECT_TRUE(wintest::RegisterModule(L"vireoprop.ax", true));
    ExpectUnregistered();
    // Nothing left to remove: the handler key's absence is reported.
    EXPECT_FALSE(wintest::RegisterModule(L"vireoprop.ax", true));
    ExpectUnregistered();
}
