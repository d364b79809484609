// Profiles as files: the texts that are read (a 1.11 profile, Notepad's,
// partial ones) and the ones refused with their line; writing that leaves
// the old file or the new one, whole, whatever happens, and no temporary
// file after a failure.
#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "profile_internal.h"
#include "vireocamera.h"
#include "wintest.h"

namespace {

const char k111Profile[] = "# vireoctl profile\n"
                           "device=Vireo Simulated Camera\n"
                           "A_GAIN=17\nA_AUTOGAIN=0\nD_GAIN=5\nEXPOSURE=500\nAEC=0\n"
                           "EXPOSURE2CTRL=1\nEXPOSURE2VAL=9\nFLIP=1\nMIRROR=0\nLEDCTRL=1\n"
                           "STROBECTRL=0\nSTROBEINVERT=1\nVGA_FPS=1\nQVGA_FPS=3\nPRIVACY=0\n";
const ULONG kAll = (1u << CAMERA_CONTROL_COUNT) - 1;

std::string Repeated(char c, size_t n)
{
    return std::string(n, c);
}

// A folder of its own in the temporary folder, removed with what it holds.
class Folder {
public:
    Folder()
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        m_path = std::wstring(temp) + L"vireo-profile-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(m_path.c_str(), NULL);
        m_path += L"\\";
    }
    ~Folder()
    {
        for (const std::wstring &name : Names()) {
            SetFileAttributesW((m_path + name).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW((m_path + name).c_str());
        }
        RemoveDirectoryW(m_path.c_str());
    }
    std::wstring Path(const wchar_t *name) const { return m_path + name; }
    std::set<std::wstring> Names() const
    {
        std::set<std::wstring> names;
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW((m_path + L"*").c_str(), &found);
        if (find == INVALID_HANDLE_VALUE)
            return names;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                names.insert(found.cFileName);
        } while (FindNextFileW(find, &found));
        FindClose(find);
        return names;
    }

private:
    std::wstring m_path;
};

VireoProfile Sample(const wchar_t *device, LONG aGain)
{
    VireoProfile p = {};
    wcscpy(p.device, device);
    p.present = 1;
    p.values[0] = aGain;
    return p;
}

// text in UTF-16, little- or big-endian, as its bytes.
std::string Utf16(const std::u16string &text, bool big = false)
{
    std::string bytes;
    for (char16_t unit : text) {
        const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
        bytes += big ? high : low;
        bytes += big ? low : high;
    }
    return bytes;
}

}  // namespace

TEST(ProfileText, AcceptedTexts)
{
    struct Case {
        const char *what;
        std::string text;
        const wchar_t *device, *id;
        ULONG present;
        std::vector<LONG> values;  // of the controls present, in their order
    } cases[] = {
        {"a profile of 1.11",
         k111Profile,
         L"Vireo Simulated Camera",
         L"",
         kAll,
         {17, 0, 5, 500, 0, 1, 9, 1, 0, 1, 0, 1, 1, 3, 0}},
        {"Notepad's: byte-order mark, CRLF, spaces, any case",
         "\xEF\xBB\xBF# vireoctl profile\r\n  device = Vireo Simulated Camera \r\n"
         "id=\\\\?\\usb#vid_2e9a&pid_0b01#7&0&0000\r\n\r\n\tExposure\t=\t+500\r\nflip=1",
         L"Vireo Simulated Camera",
         L"\\\\?\\usb#vid_2e9a&pid_0b01#7&0&0000",
         1u << 3 | 1u << 7,
         {500, 1}},
        {"the id alone, extreme values",
         "id=cam\nA_GAIN=-2147483648\nPRIVACY=2147483647\n",
         L"",
         L"cam",
         1u << 0 | 1u << 14,
         {-2147483647 - 1, 2147483647}},
        {"comments, blank lines, UTF-8, a control character in the name",
         "\n# c\n   # indented\ndevice=Cam\xC3\xA9ra \xE6\x97\xA5\x01\xF0\x9F\x93\xB7\n\n"
         "MIRROR=0001\n",
         L"Cam\u00E9ra \u65E5 \U0001F4F7",
         L"",
         1u << 8,
         {1}},
        {"Notepad's \"Unicode\": UTF-16 LE behind its mark, CRLF",
         Utf16(u"\uFEFF# vireoctl profile\r\ndevice=Cam\u00E9ra\r\nEXPOSURE=500\r\n"),
         L"Cam\u00E9ra",
         L"",
         1u << 3,
         {500}},
        {"UTF-16 BE behind its mark, a character beyond U+FFFF, no last line end",
         Utf16(u"\uFEFFid=cam \U0001F4F7\nFLIP=1", true),
         L"",
         L"cam \U0001F4F7",
         1u << 7,
         {1}},
        {"a line of 1 KiB", "device=" + Repeated('x', 1017) + "\r\n", nullptr, L"", 0, {}},
        {"a file of 64 KiB", "device=d\n" + Repeated('\n', 64 * 1024 - 9), L"d", L"", 0, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        VireoProfile p;
        VireoProfileProblem problem;
        ASSERT_EQ(S_OK, VireoProfileParse(c.text.data(), c.text.size(), &p, &problem))
            << problem.line << ": " << problem.message;
        if (c.device)
            EXPECT_STREQ(c.device, p.device);
        else
            EXPECT_EQ(std::wstring(1017, L'x'), p.device);
        EXPECT_STREQ(c.id, p.id);
        EXPECT_EQ(c.present, p.present);
        std::vector<LONG> values;
        for (size_t i = 0; i < CAMERA_CONTROL_COUNT; ++i)
            if (p.present & (1u << i))
                values.push_back(p.values[i]);
        EXPECT_EQ(c.values, values);
    }
}

TEST(ProfileText, RefusedTextsWithTheirLine)
{
    const std::string head = "# vireoctl profile\ndevice=Vireo Simulated Camera\n";  // 2 lines
    struct Case {
        std::string text;
        unsigned line;
        ULONG control;
        const char *message;
    } cases[] = {
        {head + "FLIP=1\nSHUTTER=1\n", 4, 0, "unknown control SHUTTER"},
        {head + "FLIP=1\r\nflip=0\r\n", 4, FLIP, "FLIP a second time"},
        {head + "device=Other\n", 3, 0, "a second device line"},
        {"# x\ndevice=\t \n", 2, 0, "an empty device name"},
        {"id=a\nid=a\n", 2, 0, "a second id line"},
        {"id=\n", 1, 0, "an empty id"},
        {head + "EXPOSURE 284\n", 3, 0, "not NAME=VALUE"},
        {head + "EXPOSURE=28x\n", 3, EXPOSURE, "not a 32-bit decimal value: 28x"},
        {head + "EXPOSURE=2147483648\n", 3, EXPOSURE, "not a 32-bit decimal value: 2147483648"},
        {head + "EXPOSURE=-2147483649\n", 3, EXPOSURE, "not a 32-bit decimal value: -2147483649"},
        {head + "EXPOSURE=0x10\n", 3, EXPOSURE, "not a 32-bit decimal value: 0x10"},
        {head + "EXPOSURE=-\n", 3, EXPOSURE, "not a 32-bit decimal value: -"},
        {head + "EXPOSURE=\n", 3, EXPOSURE, "not a 32-bit decimal value: "},
        {head + "EXPOSURE=2 84\n", 3, EXPOSURE, "not a 32-bit decimal value: 2 84"},
        {"device=\xC0\xAF\n", 1, 0, "not UTF-8 text"},          // overlong
        {"device=\xE0\x80\xAF\n", 1, 0, "not UTF-8 text"},      // overlong
        {head + "# \xED\xA0\x80\n", 3, 0, "not UTF-8 text"},    // a surrogate
        {"device=\xF4\x90\x80\x80\n", 1, 0, "not UTF-8 text"},  // beyond U+10FFFF
        {"device=\xE6\x97\nFLIP=1\n", 1, 0, "not UTF-8 text"},  // cut by the line's end
        {head + "# \xE6\x97", 3, 0, "not UTF-8 text"},          // cut by the file's end
        {std::string("device=a\0b\n", 11), 1, 0, "a NUL byte"},
        {Utf16(u"device=a\n"), 1, 0, "a NUL byte"},  // UTF-16 without its mark
        {Utf16(u"\uFEFFdevice=a\nFLIP=\xD800\n"), 2, 0, "not UTF-16 text (a lone surrogate)"},
        {Utf16(u"\uFEFFdevice=a\nFLIP=1\n", true) + "x", 3, 0,
         "not UTF-16 text (an odd number of bytes)"},
        {Utf16(std::u16string(u"\uFEFFdevice=a\0\n", 11)), 1, 0, "a NUL character"},
        {Utf16(u"\uFEFF# ") + Utf16(std::u16string(1022, u'x')) + Utf16(u"\u00E9\n"), 1, 0,
         "the line is over 1 KiB"},
        {head + "# " + Repeated('x', 1023) + "\n", 3, 0, "the line is over 1 KiB"},
        {"device=d\n" + Repeated('\n', 64 * 1024 - 8), 0, 0, "the file is over 64 KiB"},
        {"# vireoctl profile\nFLIP=1\n", 0, 0,
         "the profile names no camera (no device= or id= line)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        VireoProfile p;
        VireoProfileProblem problem;
        EXPECT_EQ(VIREO_E_BAD_PROFILE,
                  VireoProfileParse(c.text.data(), c.text.size(), &p, &problem));
        EXPECT_EQ(c.line, problem.line);
        EXPECT_EQ(c.control, problem.controlId);
        EXPECT_STREQ(c.message, problem.message);
    }
}

TEST(ProfileFile, WrittenAsReadWithNamesKeptWritable)
{
    Folder folder;
    const std::wstring path = folder.Path(L"p.txt");
    VireoProfile p = {};
    // Control characters become spaces, the name is trimmed and cut to a
    // line, at a character's end (U+00E9 is two bytes in UTF-8).
    const std::wstring longName = L"  \u00E9" + std::wstring(1100, L'y');
    wcscpy(p.device, longName.c_str());
    wcscpy(p.id, L"a\tb\r\nc ");
    p.present = kAll & ~(1u << 2);
    for (size_t i = 0; i < CAMERA_CONTROL_COUNT; ++i)
        p.values[i] = static_cast<LONG>(i * 1000) - 7000;
    VireoProfileProblem problem;
    ASSERT_EQ(S_OK, VireoProfileWrite(path.c_str(), &p, &problem)) << problem.message;
    VireoProfile read;
    ASSERT_EQ(S_OK, VireoProfileRead(path.c_str(), &read, &problem))
        << problem.line << ": " << problem.message;
    EXPECT_EQ(L"\u00E9" + std::wstring(1015, L'y'), read.device);
    EXPECT_STREQ(L"a b  c", read.id);
    EXPECT_EQ(p.present, read.present);
    for (size_t i = 0; i < CAMERA_CONTROL_COUNT; ++i) {
        if (p.present & (1u << i)) {
            EXPECT_EQ(p.values[i], read.values[i]);
        }
    }
    EXPECT_EQ(std::set<std::wstring>{L"p.txt"}, folder.Names());

    // A profile naming no camera could not be read back: not written.
    const VireoProfile unnamed = Sample(L" \t ", 1);
    EXPECT_EQ(VIREO_E_BAD_PROFILE,
              VireoProfileWrite(folder.Path(L"q.txt").c_str(), &unnamed, &problem));
    EXPECT_EQ(std::set<std::wstring>{L"p.txt"}, folder.Names());
}

TEST(ProfileFile, AWriteEndedBeforeItsMoveLeavesTheOldProfileWhole)
{
    Folder folder;
    const std::wstring path = folder.Path(L"profile.txt");
    const VireoProfile old = Sample(L"Old Camera", 3);
    ASSERT_EQ(S_OK, VireoProfileWrite(path.c_str(), &old, NULL));

    wintest::ProgramRun writer;
    ASSERT_TRUE(
        writer.Start(L"\"" + wintest::BinDir() + L"profile_writer.exe\" \"" + path + L"\""));
    EXPECT_EQ(7, writer.WaitExit());  // ended by itself in the hook

    VireoProfile read;
    ASSERT_EQ(S_OK, VireoProfileRead(path.c_str(), &read, NULL));
    EXPECT_STREQ(L"Old Camera", read.device);
    EXPECT_EQ(3, read.values[0]);
    // The temporary file is the only other one, and holds the new profile whole.
    const std::wstring temporary =
        L"profile.txt." + std::to_wstring(writer.ProcessId()) + L".1.tmp";
    EXPECT_EQ((std::set<std::wstring>{L"profile.txt", temporary}), folder.Names());
    ASSERT_EQ(S_OK, VireoProfileRead(folder.Path(temporary.c_str()).c_str(), &read, NULL));
    EXPECT_STREQ(L"New Camera", read.device);
    EXPECT_EQ(9, read.values[0]);
}

TEST(ProfileFile, AFailedWriteSaysWhyAndLeavesNoTemporaryFile)
{
    Folder folder;
    const std::wstring readOnly = folder.Path(L"read-only.txt");
    const VireoProfile old = Sample(L"Old Camera", 3), next = Sample(L"New Camera", 9);
    ASSERT_EQ(S_OK, VireoProfileWrite(readOnly.c_str(), &old, NULL));
    ASSERT_TRUE(SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    struct Case {
        const char *what;
        std::wstring path;
        HRESULT expected;
        const char *message;
    } cases[] = {
        {"into a folder that does not exist", folder.Path(L"missing\\p.txt"),
         HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), "cannot create a temporary file beside it: "},
        {"onto a read-only file", readOnly, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED),
         "cannot put the new file in place: "},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        VireoProfileProblem problem;
        EXPECT_EQ(c.expected, VireoProfileWrite(c.path.c_str(), &next, &problem));
        EXPECT_EQ(0, strncmp(c.message, problem.message, strlen(c.message))) << problem.message;
        EXPECT_GT(strlen(problem.message), strlen(c.message));  // the system's words
        EXPECT_EQ(std::set<std::wstring>{L"read-only.txt"}, folder.Names());
    }
    VireoProfile read;
    ASSERT_EQ(S_OK, VireoProfileRead(readOnly.c_str(), &read, NULL));
    EXPECT_STREQ(L"Old Camera", read.device);
}
