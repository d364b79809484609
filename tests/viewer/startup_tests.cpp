// What capview works out before it builds its graph: the settings path, the
// settings read from real initialisation files, the console bytes and the
// size of the frame buffer.
#include <gtest/gtest.h>

#include <windows.h>

#include <limits.h>

#include <string>
#include <vector>

#include "startup.h"

namespace {

std::string SettingsPathOf(const char *program)
{
    char path[CAPVIEW_PATH_CHARS];
    memset(path, 'x', sizeof(path));
    EXPECT_TRUE(BuildSettingsPath(program, path)) << program;
    return path;
}

TEST(ViewerSettingsPath, LiesBesideTheProgramWithTheIniExtension)
{
    EXPECT_EQ("C:\\Tools\\capview.ini", SettingsPathOf("C:\\Tools\\capview.exe"));
    EXPECT_EQ("D:\\a\\b c\\capview.ini", SettingsPathOf("D:\\a\\b c\\capview.exe"));
    // Only the last extension goes.
    EXPECT_EQ("C:\\v1.2\\cap.view.ini", SettingsPathOf("C:\\v1.2\\cap.view.exe"));
}

TEST(ViewerSettingsPath, InADrivesRootFolder)
{
    EXPECT_EQ("C:\\capview.ini", SettingsPathOf("C:\\capview.exe"));
}

TEST(ViewerSettingsPath, TooLongIsCutAtTheBufferAndReported)
{
    // The longest program path there is (259 characters), without an
    // extension: ".ini" makes it longer than the buffer.
    std::string program = "C:\\" + std::string(248, 'd') + "\\capview";
    ASSERT_EQ(static_cast<size_t>(CAPVIEW_PATH_CHARS - 1), program.size());
    char path[CAPVIEW_PATH_CHARS + 8];
    memset(path, 'x', sizeof(path));
    EXPECT_FALSE(BuildSettingsPath(program.c_str(), path));
    // Terminated inside the bound, nothing written beyond it.
    EXPECT_LT(strlen(path), static_cast<size_t>(CAPVIEW_PATH_CHARS));
    for (size_t i = CAPVIEW_PATH_CHARS; i < sizeof(path); ++i)
        EXPECT_EQ('x', path[i]);
}

TEST(ViewerParseSetting, ReadsLikeAtoi)
{
    EXPECT_EQ(640, ParseSetting("640"));
    EXPECT_EQ(42, ParseSetting("   42"));
    EXPECT_EQ(42, ParseSetting("\t\r\n 42"));
    EXPECT_EQ(-17, ParseSetting("-17"));
    EXPECT_EQ(8, ParseSetting("+8"));
    EXPECT_EQ(12, ParseSetting("12px"));
    EXPECT_EQ(3, ParseSetting("3.9"));
    EXPECT_EQ(0, ParseSetting("0x20"));
    EXPECT_EQ(0, ParseSetting("abc"));
    EXPECT_EQ(0, ParseSetting("w640"));
    EXPECT_EQ(0, ParseSetting("- 5"));
    EXPECT_EQ(0, ParseSetting(""));
    EXPECT_EQ(INT_MAX, ParseSetting("99999999999"));
    EXPECT_EQ(INT_MIN, ParseSetting("-99999999999"));
}

// A temporary folder with a settings file written by the test.
class ViewerSettingsFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char temp[MAX_PATH];
        ASSERT_NE(0u, GetTempPathA(MAX_PATH, temp));
        char folder[MAX_PATH];
        ASSERT_NE(0u, GetTempFileNameA(temp, "cvs", 0, folder));
        DeleteFileA(folder);
        ASSERT_TRUE(CreateDirectoryA(folder, NULL));
        m_folder = folder;
        m_path = m_folder + "\\capview.ini";
    }
    void TearDown() override
    {
        DeleteFileA(m_path.c_str());
        RemoveDirectoryA(m_folder.c_str());
    }
    void Write(const std::string &text)
    {
        HANDLE file = CreateFileA(m_path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        DWORD written = 0;
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, NULL);
        CloseHandle(file);
        ASSERT_EQ(text.size(), written);
    }
    CapviewSettings Read() { return ReadSettings(m_path.c_str()); }

    std::string m_folder;
    std::string m_path;
};

TEST_F(ViewerSettingsFile, MissingFileGivesTheDefaults)
{
    CapviewSettings s = Read();
    EXPECT_EQ(640, s.width);
    EXPECT_EQ(480, s.height);
    EXPECT_EQ(30, s.dispInterval);
}

TEST_F(ViewerSettingsFile, MissingSectionGivesTheDefaults)
{
    Write("[OTHER]\r\nWIDTH=320\r\nHEIGHT=240\r\nDISP_INTERVAL=5\r\n");
    CapviewSettings s = Read();
    EXPECT_EQ(640, s.width);
    EXPECT_EQ(480, s.height);
    EXPECT_EQ(30, s.dispInterval);
}

TEST_F(ViewerSettingsFile, EachMissingKeyGivesItsDefault)
{
    Write("[CAMERA_PARAM]\r\nWIDTH=320\r\n");
    CapviewSettings s = Read();
    EXPECT_EQ(320, s.width);
    EXPECT_EQ(480, s.height);
    EXPECT_EQ(30, s.dispInterval);

    Write("[CAMERA_PARAM]\r\nHEIGHT=240\r\nDISP_INTERVAL=0\r\n");
    s = Read();
    EXPECT_EQ(640, s.width);
    EXPECT_EQ(240, s.height);
    EXPECT_EQ(0, s.dispInterval);
}

TEST_F(ViewerSettingsFile, ReadsAllThreeAndParsesEachLikeAtoi)
{
    Write("; viewer\r\n[CAMERA_PARAM]\r\nWIDTH = 1280\r\nHEIGHT=  -720\r\nDISP_INTERVAL=15ms\r\n");
    CapviewSettings s = Read();
    EXPECT_EQ(1280, s.width);
    EXPECT_EQ(-720, s.height);
    EXPECT_EQ(15, s.dispInterval);

    Write("[CAMERA_PARAM]\r\nWIDTH=wide\r\nHEIGHT=\r\nDISP_INTERVAL=-5\r\n");
    s = Read();
    EXPECT_EQ(0, s.width);
    EXPECT_EQ(0, s.height);  // an empty value is present: it is not the default
    EXPECT_EQ(-5, s.dispInterval);
}

TEST(ViewerPollInterval, ZeroMeansNoPauseAndNegativeFallsBackToTheDefault)
{
    EXPECT_EQ(30u, PollInterval(30));
    EXPECT_EQ(0u, PollInterval(0));
    EXPECT_EQ(1000u, PollInterval(1000));
    EXPECT_EQ(30u, PollInterval(-1));
    EXPECT_EQ(30u, PollInterval(INT_MIN));
}

// The console texts as code page 932 bytes (from iconv -t CP932).
std::vector<unsigned char> Bytes(const char *text)
{
    return std::vector<unsigned char>(text, text + strlen(text));
}

TEST(ViewerConsoleText, IsCodePage932)
{
    // 画像入力サンプルプログラム\n\n
    const std::vector<unsigned char> title = {
        0x89, 0xE6, 0x91, 0x9C, 0x93, 0xFC, 0x97, 0xCD, 0x83, 0x54, 0x83, 0x93, 0x83, 0x76,
        0x83, 0x8B, 0x83, 0x76, 0x83, 0x8D, 0x83, 0x4F, 0x83, 0x89, 0x83, 0x80, 0x0A, 0x0A};
    // 解像度 : %d x %d\n
    const std::vector<unsigned char> resolution = {0x89, 0xF0, 0x91, 0x9C, 0x93, 0x78,
                                                   0x20, 0x3A, 0x20, 0x25, 0x64, 0x20,
                                                   0x78, 0x20, 0x25, 0x64, 0x0A};
    // キーを入力するとキャプチャを開始します。\n
    const std::vector<unsigned char> start = {
        0x83, 0x4C, 0x81, 0x5B, 0x82, 0xF0, 0x93, 0xFC, 0x97, 0xCD, 0x82, 0xB7, 0x82, 0xE9,
        0x82, 0xC6, 0x83, 0x4C, 0x83, 0x83, 0x83, 0x76, 0x83, 0x60, 0x83, 0x83, 0x82, 0xF0,
        0x8A, 0x4A, 0x8E, 0x6E, 0x82, 0xB5, 0x82, 0xDC, 0x82, 0xB7, 0x81, 0x42, 0x0A};
    // 「q」キーを入力すると終了します。\n
    const std::vector<unsigned char> quit = {
        0x81, 0x75, 0x71, 0x81, 0x76, 0x83, 0x4C, 0x81, 0x5B, 0x82, 0xF0, 0x93, 0xFC, 0x97,
        0xCD, 0x82, 0xB7, 0x82, 0xE9, 0x82, 0xC6, 0x8F, 0x49, 0x97, 0xB9, 0x82, 0xB5, 0x82,
        0xDC, 0x82, 0xB7, 0x81, 0x42, 0x0A};
    // ビデオキャプチャデバイスは存在しません\n
    const std::vector<unsigned char> noDevice = {
        0x83, 0x72, 0x83, 0x66, 0x83, 0x49, 0x83, 0x4C, 0x83, 0x83, 0x83, 0x76, 0x83,
        0x60, 0x83, 0x83, 0x83, 0x66, 0x83, 0x6F, 0x83, 0x43, 0x83, 0x58, 0x82, 0xCD,
        0x91, 0xB6, 0x8D, 0xDD, 0x82, 0xB5, 0x82, 0xDC, 0x82, 0xB9, 0x82, 0xF1, 0x0A};
    EXPECT_EQ(title, Bytes(BANNER_TITLE));
    EXPECT_EQ(resolution, Bytes(BANNER_RESOLUTION));
    EXPECT_EQ(start, Bytes(BANNER_START));
    EXPECT_EQ(quit, Bytes(BANNER_QUIT));
    EXPECT_EQ(noDevice, Bytes(NO_DEVICE_MESSAGE));

    // Each text is what code page 932 makes of its Japanese line.
    const struct {
        const char *bytes;
        const wchar_t *text;
    } lines[] = {
        {BANNER_TITLE, L"\x753B\x50CF\x5165\x529B\x30B5\x30F3\x30D7\x30EB\x30D7\x30ED\x30B0"
                       L"\x30E9\x30E0\n\n"},
        {BANNER_RESOLUTION, L"\x89E3\x50CF\x5EA6 : %d x %d\n"},
        {NO_DEVICE_MESSAGE, L"\x30D3\x30C7\x30AA\x30AD\x30E3\x30D7\x30C1\x30E3\x30C7\x30D0"
                            L"\x30A4\x30B9\x306F\x5B58\x5728\x3057\x307E\x305B\x3093\n"},
    };
    for (const auto &line : lines) {
        wchar_t decoded[128] = {0};
        ASSERT_LT(0, MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, line.bytes, -1, decoded, 128));
        EXPECT_STREQ(line.text, decoded);
    }
}

BITMAPINFOHEADER Header(LONG width, LONG height, WORD bits, DWORD imageSize)
{
    BITMAPINFOHEADER h;
    ZeroMemory(&h, sizeof(h));
    h.biSize = sizeof(h);
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = bits;
    h.biCompression = BI_RGB;
    h.biSizeImage = imageSize;
    return h;
}

DWORD BufferBytes(const BITMAPINFOHEADER &h)
{
    DWORD bytes = 0xDEADBEEF;
    EXPECT_TRUE(FrameBufferBytes(h, &bytes));
    return bytes;
}

TEST(ViewerFrameBuffer, HoldsEveryRowThatPaintingReads)
{
    EXPECT_EQ(921600u, BufferBytes(Header(640, 480, 24, 921600)));
    // An image size of 0, or one too small, does not shrink the buffer.
    EXPECT_EQ(921600u, BufferBytes(Header(640, 480, 24, 0)));
    EXPECT_EQ(921600u, BufferBytes(Header(640, 480, 24, 640 * 480)));
    // Rows are padded to whole 32-bit words: 161 x 3 = 483 bytes take 484.
    EXPECT_EQ(484u * 120, BufferBytes(Header(161, 120, 24, 0)));
    EXPECT_EQ(484u * 120, BufferBytes(Header(161, 120, 24, 161 * 3 * 120)));
    EXPECT_EQ(8u * 3, BufferBytes(Header(33, 3, 1, 0)));
    // Top-down frames read the same rows.
    EXPECT_EQ(921600u, BufferBytes(Header(640, -480, 24, 0)));
    // A larger image size is kept.
    EXPECT_EQ(1000000u, BufferBytes(Header(640, 480, 24, 1000000)));
    EXPECT_EQ(0u, BufferBytes(Header(0, 480, 24, 0)));
    EXPECT_EQ(0u, BufferBytes(Header(640, 0, 24, 0)));
}

TEST(ViewerFrameBuffer, RefusesWhatCannotBeHeld)
{
    DWORD bytes = 123;
    EXPECT_FALSE(FrameBufferBytes(Header(100000, 100000, 24, 0), &bytes));
    EXPECT_FALSE(FrameBufferBytes(Header(LONG_MAX, LONG_MAX, 32, 0), &bytes));
    EXPECT_FALSE(FrameBufferBytes(Header(LONG_MAX, LONG_MIN, 24, 0), &bytes));
    EXPECT_FALSE(FrameBufferBytes(Header(LONG_MAX, 1, 24, 0), &bytes));
    EXPECT_FALSE(FrameBufferBytes(Header(640, 480, 24, 0xFFFFFFFFu), &bytes));
    EXPECT_FALSE(FrameBufferBytes(Header(-640, 480, 24, 0), &bytes));
    EXPECT_EQ(123u, bytes);
    // The largest that fits: 2^31 - 4 bytes.
    EXPECT_TRUE(FrameBufferBytes(Header(0x1FFFFFFF, 1, 32, 0), &bytes));
    EXPECT_EQ(0x7FFFFFFCu, bytes);
}

}  // namespace
