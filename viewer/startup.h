// startup.h - what capview works out before it touches the capture graph:
// where its settings file lies, the settings themselves, the console texts
// and the size of the frame buffer. Nothing here keeps state.
#ifndef CAPVIEW_STARTUP_H
#define CAPVIEW_STARTUP_H

#include <windows.h>

enum {
    kPathChars = MAX_PATH,  // program path, its parts, the settings path
    kSectionChars = 20,     // the section name buffer
    kValueChars = 255       // the buffer that receives one setting's text
};

// The default pause between two frame polls, in milliseconds.
enum { kDefaultPollInterval = 30 };

struct CapviewSettings {
    int width;         // requested frame width
    int height;        // requested frame height
    int dispInterval;  // pause between two frame polls, milliseconds
};

// The settings path of a program: the program's own folder and base name
// with ".ini" (C:\Tools\capview.exe reads C:\Tools\capview.ini, and
// C:\capview.exe reads C:\capview.ini). settingsPath receives
// kPathChars characters at most; each part is appended with that
// bound. Returns false when the path had to be cut short.
bool BuildSettingsPath(const char *programPath, char *settingsPath);

// A setting's text as a number, the way atoi reads it: leading white space,
// an optional sign, then decimal digits up to the first other character.
// Text without a leading number gives 0; a number beyond the range of int
// gives INT_MAX or INT_MIN.
int ParseSetting(const char *text);

// Reads "WIDTH", "HEIGHT" and "DISP_INTERVAL" of section "CAMERA_PARAM" from
// the settings file; a missing file, section or key gives 640, 480 and 30.
CapviewSettings ReadSettings(const char *settingsPath);

// The pause of the poll loop for a DISP_INTERVAL setting: 0 polls without a
// pause, a negative setting falls back to the default.
DWORD PollInterval(int dispInterval);

// The console texts, code page 932 bytes.
extern const char kBannerTitle[];       // "画像入力サンプルプログラム\n\n"
extern const char kBannerResolution[];  // "解像度 : %d x %d\n"
extern const char kBannerStart[];  // "キーを入力するとキャプチャを開始します。\n"
extern const char kBannerQuit[];       // "「q」キーを入力すると終了します。\n"
extern const char kNoDeviceMessage[];  // "ビデオキャプチャデバイスは存在しません\n"

// Bytes the frame buffer needs for frames described by header: enough for
// every row that painting reads (width x bit count rounded up to whole
// 32-bit words, times the height), or the header's image size when that is
// larger. False when the header describes no frame this program can hold
// (a negative width, or more than 2^31 - 1 bytes).
bool FrameBufferBytes(const BITMAPINFOHEADER &header, DWORD *bytes);

#endif  // CAPVIEW_STARTUP_H
