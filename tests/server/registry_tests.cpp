// DllRegisterServer and DllUnregisterServer linked into this program: the
// registered module path is then this program's own.
#include <gtest/gtest.h>

#include <windows.h>
#include <olectl.h>

#include "base/classfactory.h"
#include "handles.h"
#include "base/module.h"
#include "vireoctl.h"
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

// Creates HKLM\path, by default as a volatile key: no non-volatile key can
// be made below one. (Under Wine a key's security descriptor does not stop a
// process of the machine's user from writing, so this is the way to make a
// key path unwritable that works there as well as on Windows.)
LONG CreateKey(const std::wstring &path, DWORD options = REG_OPTION_VOLATILE)
{
    RegKey key;
    return RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, NULL, options, KEY_READ, NULL,
                           key.Put(), NULL);
}

const HRESULT kChildMustBeVolatile =
    static_cast<HRESULT>(0x80070000UL | ERROR_CHILD_MUST_BE_VOLATILE);
const HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002);

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
                      (kPropertyPagesKey + L"\\" + GuidString(kOtherPage)).c_str());
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
    // Subkeys and values of each key.
    EXPECT_EQ(KeyCounts(1, 1), CountKey(HKEY_CLASSES_ROOT, ClassKey(CLSID_CameraSettingPage)));
    EXPECT_EQ(KeyCounts(0, 2),
              CountKey(HKEY_CLASSES_ROOT, ClassKey(CameraPropertySet) + L"\\InprocServer32"));
    EXPECT_EQ(KeyCounts(1, 0), CountKey(HKEY_LOCAL_MACHINE, kSetKey));
    EXPECT_EQ(KeyCounts(1, 0), CountKey(HKEY_LOCAL_MACHINE, kPropertyPagesKey));
    EXPECT_EQ(KeyCounts(0, 1), CountKey(HKEY_LOCAL_MACHINE, kPageKey));
    EXPECT_EQ(KeyCounts(0, 2), CountKey(HKEY_LOCAL_MACHINE, kHandlerKey));

    EXPECT_EQ(S_OK, DllUnregisterServer());
    ExpectUnregistered();
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kMediaSets));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kMediaInterfaces));
}

// Unregistering finds nothing, or what is left of a registration: it
// removes what is there, reports the handler key's absence, creates nothing.
TEST_F(RegistryTest, UnregisterRemovesWhatIsLeftAndCreatesNothing)
{
    EXPECT_EQ(kFileNotFound, DllUnregisterServer());
    ExpectUnregistered();
    EXPECT_EQ(m_hadMediaSets, KeyExists(HKEY_LOCAL_MACHINE, kMediaSets));
    EXPECT_EQ(m_hadMediaInterfaces, KeyExists(HKEY_LOCAL_MACHINE, kMediaInterfaces));

    ASSERT_EQ(S_OK, DllRegisterServer());
    ASSERT_EQ(ERROR_SUCCESS,
              RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKey(CameraPropertySet).c_str()));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_LOCAL_MACHINE, kHandlerKey.c_str()));
    EXPECT_EQ(kFileNotFound, DllUnregisterServer());
    ExpectUnregistered();
    // Again, now that a registration has made the parents exist.
    EXPECT_EQ(kFileNotFound, DllUnregisterServer());
    ExpectUnregistered();
}

TEST_F(RegistryTest, UnregisterBesideAnotherPage)
{
    ASSERT_EQ(S_OK, DllRegisterServer());
    std::wstring otherPage = kPropertyPagesKey + L"\\" + GuidString(kOtherPage);
    ASSERT_EQ(ERROR_SUCCESS, CreateKey(otherPage, REG_OPTION_NON_VOLATILE));

    EXPECT_EQ(S_OK, DllUnregisterServer());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPageKey));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, otherPage));  // and the keys above it
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kHandlerKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey(CLSID_CameraSettingPage)));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey(CameraPropertySet)));
}

TEST_F(RegistryTest, PageKeyFailureIsReportedAfterTheHandlerKey)
{
    ASSERT_EQ(ERROR_SUCCESS, CreateKey(kSetKey));
    ASSERT_EQ(ERROR_SUCCESS, CreateKey(kPropertyPagesKey));

    EXPECT_EQ(kChildMustBeVolatile, DllRegisterServer());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPageKey));
    // The handler key was still written in full.
    EXPECT_EQ(86u, ReadValue(HKEY_LOCAL_MACHINE, kHandlerKey, NULL).bytes.size());
    EXPECT_EQ(16u, ReadValue(HKEY_LOCAL_MACHINE, kHandlerKey, L"IID").bytes.size());
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, ClassKey(CameraPropertySet) + L"\\InprocServer32"));

    // Unregistration removes the handler key and the blocker's empty keys.
    EXPECT_EQ(S_OK, DllUnregisterServer());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kHandlerKey));
}

TEST_F(RegistryTest, HandlerKeyFailureIsReturned)
{
    // Put a volatile MediaInterfaces in place of the real one for the test.
    ASSERT_EQ(0u, m_hadMediaInterfaces ? CountKey(HKEY_LOCAL_MACHINE, kMediaInterfaces).first : 0u)
        << "MediaInterfaces holds other extensions";
    if (m_hadMediaInterfaces) {
        ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_LOCAL_MACHINE, kMediaInterfaces));
    }
    ASSERT_EQ(ERROR_SUCCESS, CreateKey(kMediaInterfaces));

    HRESULT hr = DllRegisterServer();
    bool handlerKey = KeyExists(HKEY_LOCAL_MACHINE, kHandlerKey);
    RegValue page = ReadValue(HKEY_LOCAL_MACHINE, kPageKey, NULL);

    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kMediaInterfaces);
    if (m_hadMediaInterfaces) {
        ASSERT_EQ(ERROR_SUCCESS, CreateKey(kMediaInterfaces, REG_OPTION_NON_VOLATILE));
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
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kSetKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kHandlerKey));
}

// The proxy's keys under HKLM\System serve both widths: they stay while the
// other registry view still registers the handler class, and go with the
// last width. On 32-bit Windows the "other" view is this one, which the
// unregistration empties first, so the keys go at once.
TEST_F(RegistryTest, SharedKeysStayWhileTheOtherWidthIsRegistered)
{
#ifdef _WIN64
    const REGSAM otherView = KEY_WOW64_32KEY;
    const BOOL twoViews = TRUE;
#else
    const REGSAM otherView = KEY_WOW64_64KEY;
    BOOL twoViews = FALSE;
    IsWow64Process(GetCurrentProcess(), &twoViews);
#endif
    const std::wstring otherServer = ClassKey(CameraPropertySet) + L"\\InprocServer32";
    ASSERT_EQ(S_OK, DllRegisterServer());
    {
        RegKey other;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExW(HKEY_CLASSES_ROOT, otherServer.c_str(), 0, NULL,
                                  REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | otherView, NULL,
                                  other.Put(), NULL));
    }

    EXPECT_EQ(S_OK, DllUnregisterServer());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey(CLSID_CameraSettingPage)));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey(CameraPropertySet)));
    EXPECT_EQ(twoViews != FALSE, KeyExists(HKEY_LOCAL_MACHINE, kPageKey));
    EXPECT_EQ(twoViews != FALSE, KeyExists(HKEY_LOCAL_MACHINE, kHandlerKey));
    if (twoViews) {
        EXPECT_EQ(16u, ReadValue(HKEY_LOCAL_MACHINE, kHandlerKey, L"IID").bytes.size());
        // Unregistering again while nothing of this width is registered
        // changes nothing either.
        EXPECT_EQ(S_OK, DllUnregisterServer());
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kPageKey));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kHandlerKey));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegDeleteKeyExW(HKEY_CLASSES_ROOT, otherServer.c_str(), otherView, 0));
        ASSERT_EQ(
            ERROR_SUCCESS,
            RegDeleteKeyExW(HKEY_CLASSES_ROOT, ClassKey(CameraPropertySet).c_str(), otherView, 0));
    }

    // The other width gone, the last unregistration takes the shared keys.
    EXPECT_EQ(twoViews ? S_OK : kFileNotFound, DllUnregisterServer());
    ExpectUnregistered();
}
