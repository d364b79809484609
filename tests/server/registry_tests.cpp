// DllRegisterServer and DllUnregisterServer linked into this program: the
// registered module path is then this program's own.
#include <gtest/gtest.h>

#include <windows.h>
#include <olectl.h>

#include "base/classfactory.h"
#include "base/module.h"
#include "control/vireoctl.h"
#include "fakes.h"
#include "servertest.h"

using namespace servertest;

namespace {

// {8E2C4A71-5F3B-4D0E-A6C9-1B7D2E9F4A30}: a page class of some other module.
const GUID kOtherPage = {
    0x8E2C4A71, 0x5F3B, 0x4D0E, {0xA6, 0xC9, 0x1B, 0x7D, 0x2E, 0x9F, 0x4A, 0x30}};

std::wstring ProgramPath()
{
    WCHAR path[MAX_PATH] = {};
    GetModuleFileNameW(NULL, path, MAX_PATH);
    return path;
}

// Creates HKLM\path as a volatile key: no non-volatile key can be made
// below it. (Under Wine a key's security descriptor does not stop a
// process of the machine's user from writing, so this is the way to make a
// key path unwritable that works there as well as on Windows.)
LONG CreateVolatileKey(const std::wstring &path)
{
    HKEY key = NULL;
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, NULL, REG_OPTION_VOLATILE,
                              KEY_READ, NULL, &key, NULL);
    if (rc == ERROR_SUCCESS)
        RegCloseKey(key);
    return rc;
}

const HRESULT kChildMustBeVolatile =
    static_cast<HRESULT>(0x80070000UL | ERROR_CHILD_MUST_BE_VOLATILE);

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_hInst = GetModuleHandleW(NULL);
        RemoveModuleEntries();
        m_hadMediaSets = KeyExists(HKEY_LOCAL_MACHINE, kMediaSets);
        m_hadMediaInterfaces = KeyExists(HKEY_LOCAL_MACHINE, kMediaInterfaces);
    }
    void TearDown() override
    {
        g_failNothrowNew = false;
        DllUnregisterServer();
        RegDeleteKeyW(HKEY_LOCAL_MACHINE,
                      (PropertyPagesKey() + L"\\" + GuidString(kOtherPage)).c_str());
        RemoveModuleEntries();
        ExpectUnregistered();
        EXPECT_EQ(0, CBaseObject::ObjectsActive());
    }

    bool m_hadMediaSets = false;
    bool m_hadMediaInterfaces = false;
};

}  // namespace

// Registered twice: every entry once (the module tests see one registration
// through regsvr32); unregistered: gone, the shared parents kept.
TEST_F(RegistryTest, RegisterTwiceWritesEveryEntryOnceAndUnregisterRemovesThem)
{
    ASSERT_EQ(S_OK, DllRegisterServer());
    ASSERT_EQ(S_OK, DllRegisterServer());
    ExpectRegistered(ProgramPath());
    // The setup step created the page and let it go again.
    EXPECT_EQ(0, CBaseObject::ObjectsActive());
    EXPECT_EQ(1u, SubkeyCount(HKEY_CLASSES_ROOT, ClassKey(CLSID_CameraSettingPage)));
    EXPECT_EQ(2u, ValueCount(HKEY_CLASSES_ROOT, ClassKey(CameraPropertySet) + L"\\InprocServer32"));
    EXPECT_EQ(1u, SubkeyCount(HKEY_LOCAL_MACHINE, SetKey()));
    EXPECT_EQ(1u, SubkeyCount(HKEY_LOCAL_MACHINE, PropertyPagesKey()));
    EXPECT_EQ(1u, ValueCount(HKEY_LOCAL_MACHINE, PageKey()));
    EXPECT_EQ(2u, ValueCount(HKEY_LOCAL_MACHINE, HandlerKey()));
    EXPECT_EQ(0u, SubkeyCount(HKEY_LOCAL_MACHINE, HandlerKey()));

    EXPECT_EQ(S_OK, DllUnregisterServer());
    ExpectUnregistered();
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, PropertyPagesKey()));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kMediaSets));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kMediaInterfaces));
}

TEST_F(RegistryTest, UnregisterWhenAbsentCreatesNothing)
{
    EXPECT_EQ(static_cast<HRESULT>(0x80070002), DllUnregisterServer());
    ExpectUnregistered();
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, PropertyPagesKey()));
    EXPECT_EQ(m_hadMediaSets, KeyExists(HKEY_LOCAL_MACHINE, kMediaSets));
    EXPECT_EQ(m_hadMediaInterfaces, KeyExists(HKEY_LOCAL_MACHINE, kMediaInterfaces));

    // Again, after a registration has made the parents exist.
    ASSERT_EQ(S_OK, DllRegisterServer());
    ASSERT_EQ(S_OK, DllUnregisterServer());
    EXPECT_EQ(static_cast<HRESULT>(0x80070002), DllUnregisterServer());
    ExpectUnregistered();
}

TEST_F(RegistryTest, UnregisterBesideAnotherPage)
{
    ASSERT_EQ(S_OK, DllRegisterServer());
    std::wstring otherPage = PropertyPagesKey() + L"\\" + GuidString(kOtherPage);
    HKEY key = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, otherPage.c_str(), 0, NULL, 0,
                                             KEY_ALL_ACCESS, NULL, &key, NULL));
    RegCloseKey(key);

    EXPECT_EQ(S_OK, DllUnregisterServer());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, PageKey()));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, otherPage));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, PropertyPagesKey()));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, SetKey()));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, HandlerKey()));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey(CLSID_CameraSettingPage)));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey(CameraPropertySet)));
}

TEST_F(RegistryTest, UnregisterRemovesWhatIsLeftOfAPartialRegistration)
{
    ASSERT_EQ(S_OK, DllRegisterServer());
    ASSERT_EQ(ERROR_SUCCESS,
              RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKey(CameraPropertySet).c_str()));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_LOCAL_MACHINE, HandlerKey().c_str()));

    EXPECT_EQ(static_cast<HRESULT>(0x80070002), DllUnregisterServer());
    ExpectUnregistered();
}

TEST_F(RegistryTest, PageKeyFailureIsReportedAfterTheHandlerKey)
{
    ASSERT_EQ(ERROR_SUCCESS, CreateVolatileKey(SetKey()));
    ASSERT_EQ(ERROR_SUCCESS, CreateVolatileKey(PropertyPagesKey()));

    EXPECT_EQ(kChildMustBeVolatile, DllRegisterServer());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, PageKey()));
    // The handler key was still written in full.
    EXPECT_EQ(86u, ReadValue(HKEY_LOCAL_MACHINE, HandlerKey(), NULL).bytes.size());
    EXPECT_EQ(16u, ReadValue(HKEY_LOCAL_MACHINE, HandlerKey(), L"IID").bytes.size());
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, ClassKey(CameraPropertySet) + L"\\InprocServer32"));

    // Unregistration removes the handler key and the blocker's empty keys.
    EXPECT_EQ(S_OK, DllUnregisterServer());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, HandlerKey()));
}

TEST_F(RegistryTest, HandlerKeyFailureIsReturned)
{
    // Put a volatile MediaInterfaces in place of the real one for the test.
    ASSERT_EQ(0u, m_hadMediaInterfaces ? SubkeyCount(HKEY_LOCAL_MACHINE, kMediaInterfaces) : 0u)
        << "MediaInterfaces holds other extensions";
    if (m_hadMediaInterfaces) {
        ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_LOCAL_MACHINE, kMediaInterfaces));
    }
    ASSERT_EQ(ERROR_SUCCESS, CreateVolatileKey(kMediaInterfaces));

    HRESULT hr = DllRegisterServer();
    bool handlerKey = KeyExists(HKEY_LOCAL_MACHINE, HandlerKey());
    RegValue page = ReadValue(HKEY_LOCAL_MACHINE, PageKey(), NULL);

    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kMediaInterfaces);
    if (m_hadMediaInterfaces) {
        HKEY key = NULL;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kMediaInterfaces, 0, NULL, 0,
                                                 KEY_READ, NULL, &key, NULL));
        RegCloseKey(key);
    }

    EXPECT_EQ(kChildMustBeVolatile, hr);
    EXPECT_FALSE(handlerKey);
    EXPECT_EQ(ERROR_SUCCESS, page.status);
    EXPECT_EQ(78u, page.bytes.size());
}

TEST_F(RegistryTest, FailedClassSetupEndsRegistration)
{
    // The setup step creates a page; when that cannot be allocated the
    // registration ends with the page's class entries and nothing more.
    g_failNothrowNew = true;
    HRESULT hr = DllRegisterServer();
    g_failNothrowNew = false;
    EXPECT_EQ(E_OUTOFMEMORY, hr);
    EXPECT_TRUE(
        KeyExists(HKEY_CLASSES_ROOT, ClassKey(CLSID_CameraSettingPage) + L"\\InprocServer32"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey(CameraPropertySet)));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, SetKey()));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, HandlerKey()));
}
