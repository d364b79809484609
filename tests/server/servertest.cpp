#include "servertest.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include "handles.h"
#include "control/handler.h"
#include "page/settingpage.h"

namespace servertest {

const wchar_t kMediaSets[] = L"System\\CurrentControlSet\\Control\\MediaSets";
const wchar_t kMediaInterfaces[] = L"System\\CurrentControlSet\\Control\\MediaInterfaces";

std::wstring GuidString(REFGUID guid)
{
    WCHAR text[39] = {};
    StringFromGUID2(guid, text, 39);
    return text;
}

std::wstring ClassKey(REFGUID clsid)
{
    return L"CLSID\\" + GuidString(clsid);
}
const std::wstring kSetKey = std::wstring(kMediaSets) + L"\\" + GuidString(CameraPropertySet);
const std::wstring kPropertyPagesKey = kSetKey + L"\\PropertyPages";
const std::wstring kPageKey = kPropertyPagesKey + L"\\" + GuidString(CLSID_CameraSettingPage);
const std::wstring kHandlerKey =
    std::wstring(kMediaInterfaces) + L"\\" + GuidString(CameraPropertySet);

bool KeyExists(HKEY root, const std::wstring &path)
{
    RegKey key;
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

std::wstring RegValue::Text() const
{
    std::wstring text(reinterpret_cast<const wchar_t *>(bytes.data()),
                      bytes.size() / sizeof(wchar_t));
    while (!text.empty() && text.back() == 0)
        text.pop_back();
    return text;
}

RegValue ReadValue(HKEY root, const std::wstring &path, const wchar_t *name)
{
    RegValue v;
    RegKey key;
    v.status = RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.Put());
    if (v.status != ERROR_SUCCESS)
        return v;
    DWORD size = 0;
    v.status = RegQueryValueExW(key.Get(), name, NULL, &v.type, NULL, &size);
    if (v.status == ERROR_SUCCESS) {
        v.bytes.resize(size);
        v.status = RegQueryValueExW(key.Get(), name, NULL, &v.type, v.bytes.data(), &size);
        v.bytes.resize(size);
    }
    return v;
}

KeyCounts CountKey(HKEY root, const std::wstring &path)
{
    KeyCounts n(0xFFFFFFFF, 0xFFFFFFFF);
    RegKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS)
        RegQueryInfoKeyW(key.Get(), NULL, NULL, NULL, &n.first, NULL, NULL, &n.second, NULL, NULL,
                         NULL, NULL);
    return n;
}

void RemoveModuleEntries()
{
    RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKey(CLSID_CameraSettingPage).c_str());
    RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKey(CameraPropertySet).c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kPageKey.c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kPropertyPagesKey.c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSetKey.c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kHandlerKey.c_str());
}

static void ExpectText(HKEY root, const std::wstring &path, const wchar_t *name,
                       const std::wstring &text, bool ignoreCase = false)
{
    RegValue v = ReadValue(root, path, name);
    ASSERT_EQ(ERROR_SUCCESS, v.status)
        << "no value " << (name ? name : L"(default)") << " in " << path;
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), v.type);
    EXPECT_EQ((text.size() + 1) * sizeof(wchar_t), v.bytes.size());
    if (ignoreCase)
        EXPECT_EQ(0, lstrcmpiW(text.c_str(), v.Text().c_str())) << v.Text() << " vs " << text;
    else
        EXPECT_EQ(text, v.Text());
}

void ExpectRegistered(const std::wstring &modulePath)
{
    const struct {
        const GUID *clsid;
        const wchar_t *name;
    } classes[] = {{&CLSID_CameraSettingPage, L"Zr58_K KSProxy Extension Property Page"},
                   {&CameraPropertySet, L"Zr58_K KSProxy Extension Interface Handler"}};
    for (const auto &c : classes) {
        std::wstring key = ClassKey(*c.clsid);
        ExpectText(HKEY_CLASSES_ROOT, key, NULL, c.name);
        ExpectText(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", NULL, modulePath, true);
        ExpectText(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", L"ThreadingModel", L"Both");
    }

    // 78 and 86 bytes with the terminating zero.
    ExpectText(HKEY_LOCAL_MACHINE, kPageKey, NULL, L"Zr58_K KSProxy Extension Property Page");
    ExpectText(HKEY_LOCAL_MACHINE, kHandlerKey, NULL,
               L"Zr58_K KSProxy Extension Interface Handler");
    RegValue iid = ReadValue(HKEY_LOCAL_MACHINE, kHandlerKey, L"IID");
    ASSERT_EQ(ERROR_SUCCESS, iid.status);
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), iid.type);
    const BYTE expected[16] = {0x2A, 0xA4, 0xF2, 0x04, 0x9F, 0x47, 0x11, 0x45,
                               0x8F, 0x03, 0x1C, 0xE3, 0x18, 0x76, 0xDB, 0xCC};
    EXPECT_EQ(std::vector<BYTE>(expected, expected + 16), iid.bytes);
}

void ExpectUnregistered()
{
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey(CLSID_CameraSettingPage)));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey(CameraPropertySet)));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kSetKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kHandlerKey));
}

}  // namespace servertest
