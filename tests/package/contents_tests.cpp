// The test package is whole: every program and module the tests start, load
// or register lies beside the tests, each built for the width of the tests
// themselves. A package (or build folder) that lacks one fails here by name
// instead of as some test's puzzling failure to start a process.
//
// VIREO_TESTS_EXPECT_ALSO names further files (separated by ';') that must be
// there too: a check of the package runner uses it to make this one case
// fail and see the runner name it.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "wintest.h"

namespace {

// The machine field of a PE file's header, or 0 when the file is missing or
// not a PE image.
WORD PeMachine(const std::wstring &path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    WORD machine = 0;
    IMAGE_DOS_HEADER dos = {};
    DWORD read = 0;
    if (ReadFile(file, &dos, sizeof dos, &read, NULL) && read == sizeof dos &&
        dos.e_magic == IMAGE_DOS_SIGNATURE &&
        SetFilePointer(file, dos.e_lfanew, NULL, FILE_BEGIN) != INVALID_SET_FILE_POINTER) {
        DWORD signature = 0;
        IMAGE_FILE_HEADER header = {};
        if (ReadFile(file, &signature, sizeof signature, &read, NULL) && read == sizeof signature &&
            signature == IMAGE_NT_SIGNATURE &&
            ReadFile(file, &header, sizeof header, &read, NULL) && read == sizeof header)
            machine = header.Machine;
    }
    CloseHandle(file);
    return machine;
}

std::vector<std::string> Split(const std::string &list, char separator)
{
    std::vector<std::string> names;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(separator, start);
        if (end == std::string::npos)
            end = list.size();
        if (end > start)
            names.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

}  // namespace

TEST(PackageContents, EveryProgramAndModuleOfTheTestsIsBesideThemInTheirWidth)
{
    std::vector<std::string> names = Split(VIREO_PACKAGE_FILES, '|');
    char extra[1024] = "";
    if (GetEnvironmentVariableA("VIREO_TESTS_EXPECT_ALSO", extra, sizeof extra) < sizeof extra)
        for (const std::string &name : Split(extra, ';'))
            names.push_back(name);
    ASSERT_GT(names.size(), 3u) << VIREO_PACKAGE_FILES;

    WCHAR self[MAX_PATH] = {0};
    GetModuleFileNameW(NULL, self, MAX_PATH);
    const WORD width = PeMachine(self);
    ASSERT_NE(width, 0) << "the test program's own header is unreadable";
    for (const std::string &name : names) {
        const std::wstring path = wintest::BinDir() + std::wstring(name.begin(), name.end());
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            ADD_FAILURE() << name << " is not beside the tests";
            continue;
        }
        EXPECT_EQ(PeMachine(path), width) << name << " is not a program of the tests' width";
    }
}
