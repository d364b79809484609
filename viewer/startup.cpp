// startup.cpp - settings path, settings, console texts and frame buffer size.
#include "startup.h"

#include <stdio.h>
#include <stdlib.h>
#include <limits.h>
#include <strsafe.h>

bool BuildSettingsPath(const char *programPath, char *settingsPath)
{
    char drive[kPathChars] = {0};
    char dir[kPathChars] = {0};
    char base[kPathChars] = {0};
    settingsPath[0] = '\0';
    if (_splitpath_s(programPath, drive, kPathChars, dir, kPathChars, base, kPathChars, NULL, 0) !=
        0)
        return false;

    size_t dirLength = 0;
    if (FAILED(StringCchLengthA(dir, kPathChars, &dirLength)))
        return false;
    if (dirLength > 0 && dir[dirLength - 1] == '\\')
        dir[dirLength - 1] = '\0';

    bool whole = true;
    const char *parts[] = {drive, dir, "\\", base, ".ini"};
    for (const char *part : parts)
        whole = SUCCEEDED(StringCchCatA(settingsPath, kPathChars, part)) && whole;
    return whole;
}

int ParseSetting(const char *text)
{
    // long is 32 bits on Windows; strtol stops at the first non-digit and
    // saturates where atoi leaves the result open.
    return static_cast<int>(strtol(text, NULL, 10));
}

CapviewSettings ReadSettings(const char *settingsPath)
{
    char section[kSectionChars];
    StringCchPrintfA(section, kSectionChars, "%s", "CAMERA_PARAM");

    char value[kValueChars];
    ZeroMemory(value, sizeof(value));

    CapviewSettings settings;
    GetPrivateProfileStringA(section, "WIDTH", "640", value, kValueChars, settingsPath);
    settings.width = ParseSetting(value);
    GetPrivateProfileStringA(section, "HEIGHT", "480", value, kValueChars, settingsPath);
    settings.height = ParseSetting(value);
    GetPrivateProfileStringA(section, "DISP_INTERVAL", "30", value, kValueChars, settingsPath);
    settings.dispInterval = ParseSetting(value);
    return settings;
}

DWORD PollInterval(int dispInterval)
{
    if (dispInterval < 0)
        return kDefaultPollInterval;
    return static_cast<DWORD>(dispInterval);
}

// 画像入力サンプルプログラム\n\n
const char kBannerTitle[] =
    "\x89\xE6\x91\x9C\x93\xFC\x97\xCD\x83T\x83\x93\x83v\x83\x8B\x83v\x83\x8D\x83O\x83\x89\x83\x80"
    "\n\n";
// 解像度 : %d x %d\n
const char kBannerResolution[] = "\x89\xF0\x91\x9C\x93x : %d x %d\n";
// キーを入力するとキャプチャを開始します。\n
const char kBannerStart[] =
    "\x83L\x81[\x82\xF0\x93\xFC\x97\xCD\x82\xB7\x82\xE9\x82\xC6\x83L\x83\x83\x83v\x83`\x83\x83"
    "\x82\xF0\x8AJ\x8En\x82\xB5\x82\xDC\x82\xB7\x81"
    "B\n";
// 「q」キーを入力すると終了します。\n
const char kBannerQuit[] =
    "\x81uq\x81v\x83L\x81[\x82\xF0\x93\xFC\x97\xCD\x82\xB7\x82\xE9\x82\xC6\x8FI\x97\xB9\x82\xB5"
    "\x82\xDC\x82\xB7\x81"
    "B\n";
// ビデオキャプチャデバイスは存在しません\n
const char kNoDeviceMessage[] = "\x83r\x83"
                                "f\x83I\x83L\x83\x83\x83v\x83`\x83\x83\x83"
                                "f\x83o\x83"
                                "C\x83X\x82\xCD\x91\xB6\x8D\xDD\x82\xB5\x82\xDC\x82\xB9\x82\xF1\n";

bool FrameBufferBytes(const BITMAPINFOHEADER &header, DWORD *bytes)
{
    const ULONGLONG limit = 0x7FFFFFFF;  // the frame copy size is a signed 32-bit count
    if (header.biWidth < 0)
        return false;
    const ULONGLONG width = static_cast<ULONGLONG>(header.biWidth);
    const ULONGLONG rows = header.biHeight < 0
                               ? 0 - static_cast<ULONGLONG>(static_cast<LONGLONG>(header.biHeight))
                               : static_cast<ULONGLONG>(header.biHeight);
    // width < 2^31 and bit count < 2^16: no overflow in 64 bits.
    const ULONGLONG stride = (width * header.biBitCount + 31) / 32 * 4;
    if (rows != 0 && stride > limit / rows)
        return false;
    ULONGLONG needed = stride * rows;
    if (header.biSizeImage > needed)
        needed = header.biSizeImage;
    if (needed > limit)
        return false;
    *bytes = static_cast<DWORD>(needed);
    return true;
}
