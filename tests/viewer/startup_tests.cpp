// What capview works out before it builds its graph: the settings path, the
// settings read from real initialisation files and the size of the frame
// buffer. (The console texts are checked on the running program.)
#include <gtest/gtest.h>

#include <windows.h>

#include <limits.h>

#include <string>

#include "startup.h"
#include "wintest.h"

namespace {

TEST(ViewerSettingsPath, LiesBesideTheProgramWithTheIniExtension)
{
    const struct {
        const char *program, *settings;
    } cases[] = {{"C:\\Tools\\capview.exe", "C:\\Tools\\capview.ini"},
                 {"D:\\a\\b c\\capview.exe", "D:\\a\\b c\\capview.ini"},
                 {"C:\\v1.2\\cap.view.exe", "C:\\v1.2\\cap.view.ini"},  // only the last extension
                 {"C:\\capview.exe", "C:\\capview.ini"}};               // a drive's root folder
    for (const auto &c : cases) {
        char path[kPathChars];
        EXPECT_TRUE(BuildSettingsPath(c.program, path)) << c.program;
        EXPECT_STREQ(c.settings, path);
    }
}

TEST(ViewerSettingsPath, TooLongIsCutAtTheBufferAndReported)
{
    // The longest program path (259 characters), without an extension:
    // ".ini" makes it longer than the buffer.
    const std::string program = "C:\\" + std::string(248, 'd') + "\\capview";
    char path[kPathChars + 8];
    memset(path, 'x', sizeof(path));
    EXPECT_FALSE(BuildSettingsPath(program.c_str(), path));
    EXPECT_LT(strlen(path), static_cast<size_t>(kPathChars));
    EXPECT_EQ(std::string(8, 'x'), std::string(path + kPathChars, 8));
}

TEST(ViewerParseSetting, ReadsLikeAtoi)
{
    const struct {
        const char *text;
        int value;
    } cases[] = {{"640", 640},
                 {"   42", 42},
                 {"\t\r\n 42", 42},
                 {"-17", -17},
                 {"+8", 8},
                 {"12px", 12},
                 {"3.9", 3},
                 {"0x20", 0},
                 {"abc", 0},
                 {"w640", 0},
                 {"- 5", 0},
                 {"", 0},
                 {"99999999999", INT_MAX},
                 {"-99999999999", INT_MIN}};
    for (const auto &c : cases)
        EXPECT_EQ(c.value, ParseSetting(c.text)) << '"' << c.text << '"';
}

TEST(ViewerSettingsFile, MissingFileSectionOrKeyGivesTheDefaults)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    char path[MAX_PATH];
    ASSERT_NE(0u, GetTempFileNameA(temp, "cvs", 0, path));
    const struct {
        const char *text;  // null: no file
        int width, height, interval;
    } cases[] = {
        {NULL, 640, 480, 30},
        {"[OTHER]\r\nWIDTH=320\r\nHEIGHT=240\r\nDISP_INTERVAL=5\r\n", 640, 480, 30},
        {"[CAMERA_PARAM]\r\nWIDTH=320\r\n", 320, 480, 30},
        {"[CAMERA_PARAM]\r\nHEIGHT=240\r\nDISP_INTERVAL=0\r\n", 640, 240, 0},
        {"; viewer\r\n[CAMERA_PARAM]\r\nWIDTH = 1280\r\nHEIGHT=  -720\r\nDISP_INTERVAL=15ms\r\n",
         1280, -720, 15},
        // An empty value is present: it is not the default.
        {"[CAMERA_PARAM]\r\nWIDTH=wide\r\nHEIGHT=\r\nDISP_INTERVAL=-5\r\n", 0, 0, -5},
    };
    for (const auto &c : cases) {
        DeleteFileA(path);
        if (c.text) {
            HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
            DWORD written = 0;
            WriteFile(file, c.text, static_cast<DWORD>(strlen(c.text)), &written, NULL);
            CloseHandle(file);
        }
        const CapviewSettings s = ReadSettings(path);
        EXPECT_EQ(c.width, s.width) << (c.text ? c.text : "no file");
        EXPECT_EQ(c.height, s.height) << (c.text ? c.text : "no file");
        EXPECT_EQ(c.interval, s.dispInterval) << (c.text ? c.text : "no file");
    }
    DeleteFileA(path);
}

TEST(ViewerPollInterval, ZeroMeansNoPauseAndNegativeFallsBackToTheDefault)
{
    EXPECT_EQ(30u, PollInterval(30));
    EXPECT_EQ(0u, PollInterval(0));
    EXPECT_EQ(1000u, PollInterval(1000));
    EXPECT_EQ(30u, PollInterval(-1));
    EXPECT_EQ(30u, PollInterval(INT_MIN));
}

BITMAPINFOHEADER Header(LONG width, LONG height, WORD bits, DWORD imageSize)
{
    BITMAPINFOHEADER h = {sizeof(h), width, height, 1, bits, BI_RGB, imageSize, 0, 0, 0, 0};
    return h;
}

TEST(ViewerFrameBuffer, HoldsEveryRowThatPaintingReads)
{
    const struct {
        BITMAPINFOHEADER header;
        DWORD bytes;
    } cases[] = {
        {Header(640, 480, 24, 921600), 921600},
        // An image size of 0, or one too small, does not shrink the buffer.
        {Header(640, 480, 24, 0), 921600},
        {Header(640, 480, 24, 640 * 480), 921600},
        // Rows are padded to whole 32-bit words: 161 x 3 = 483 bytes take 484.
        {Header(161, 120, 24, 0), 484 * 120},
        {Header(161, 120, 24, 161 * 3 * 120), 484 * 120},
        {Header(33, 3, 1, 0), 8 * 3},
        {Header(640, -480, 24, 0), 921600},        // top-down frames read the same rows
        {Header(640, 480, 24, 1000000), 1000000},  // a larger image size is kept
        {Header(0, 480, 24, 0), 0},
        {Header(640, 0, 24, 0), 0},
        {Header(0x1FFFFFFF, 1, 32, 0), 0x7FFFFFFC},  // the largest that fits
    };
    for (const auto &c : cases) {
        DWORD bytes = 0xDEADBEEF;
        EXPECT_TRUE(FrameBufferBytes(c.header, &bytes)) << c.header.biWidth;
        EXPECT_EQ(c.bytes, bytes) << c.header.biWidth << " x " << c.header.biHeight;
    }
    // What cannot be held is refused, and nothing is stored.
    for (const BITMAPINFOHEADER &h :
         {Header(100000, 100000, 24, 0), Header(LONG_MAX, LONG_MAX, 32, 0),
          Header(LONG_MAX, LONG_MIN, 24, 0), Header(LONG_MAX, 1, 24, 0),
          Header(640, 480, 24, 0xFFFFFFFFu), Header(-640, 480, 24, 0)}) {
        DWORD bytes = 123;
        EXPECT_FALSE(FrameBufferBytes(h, &bytes)) << h.biWidth << " x " << h.biHeight;
        EXPECT_EQ(123u, bytes);
    }
}

}  // namespace
