// servertest.h - registry readers shared by the module server tests.
#ifndef VIREO_TESTS_SERVERTEST_H
#define VIREO_TESTS_SERVERTEST_H

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "vireoctl.h"

namespace servertest {

std::wstring GuidString(REFGUID guid);

// Registry paths of the module's entries.
std::wstring ClassKey(REFGUID clsid);         // "CLSID\{...}" under HKCR
extern const std::wstring kSetKey;            // "...\MediaSets\{set}" under HKLM
extern const std::wstring kPropertyPagesKey;  // kSetKey + "\PropertyPages"
extern const std::wstring kPageKey;           // kPropertyPagesKey + "\{page}"
extern const std::wstring kHandlerKey;        // "...\MediaInterfaces\{set}" under HKLM
extern const wchar_t kMediaSets[];
extern const wchar_t kMediaInterfaces[];

bool KeyExists(HKEY root, const std::wstring &path);

struct RegValue {
    LONG status = ERROR_FILE_NOT_FOUND;
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
    std::wstring Text() const;  // REG_SZ data without its terminating zero
};
RegValue ReadValue(HKEY root, const std::wstring &path, const wchar_t *name);

// A key's subkeys and values; all bits set when it cannot be opened.
typedef std::pair<DWORD, DWORD> KeyCounts;
KeyCounts CountKey(HKEY root, const std::wstring &path);

// Removes every entry the module may have written (test clean-up).
void RemoveModuleEntries();

// Checks every entry of a completed registration; modulePath is the
// expected InprocServer32 path of both classes.
void ExpectRegistered(const std::wstring &modulePath);
// No COM class entry and no extension key of the module is left.
void ExpectUnregistered();

}  // namespace servertest

#endif  // VIREO_TESTS_SERVERTEST_H
