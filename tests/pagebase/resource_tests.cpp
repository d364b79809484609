// The module's resources read back as the loader sees them: dialog 100 byte
// by byte, the message table, the version of the built module.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "base/module.h"
#include "resources/resource.h"
#include "wintest.h"

namespace {

const WORD kLangUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
const DWORD kBase = WS_CHILD | WS_VISIBLE;

struct Control {
    int id;
    const wchar_t *cls;
    const wchar_t *caption;
    short x, y, cx, cy;
    DWORD style;
};

const DWORD kCaption = kBase | WS_GROUP | SS_LEFT;
const DWORD kTrackbar = kBase | WS_TABSTOP | TBS_HORZ | TBS_BOTH | TBS_NOTICKS;
const DWORD kValue = kBase | WS_BORDER | WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL;
const DWORD kCheck = kBase | WS_TABSTOP | BS_AUTOCHECKBOX;
const DWORD kFirstRadio = kBase | WS_GROUP | WS_TABSTOP | BS_AUTORADIOBUTTON;
const DWORD kRadio = kBase | BS_AUTORADIOBUTTON;

const Control kControls[] = {
    {254, L"Static", L"Analog Gain", 7, 24, 39, 8, kCaption},
    {255, L"msctls_trackbar32", L"", 52, 21, 119, 15, kTrackbar},
    {259, L"Edit", L"", 180, 23, 31, 12, kValue},
    {260, L"Button", L"", 219, 25, 13, 8, kCheck},
    {-1, L"Static", L"Auto", 215, 7, 16, 8, kCaption},
    {261, L"Static", L"Digital Gain", 7, 41, 37, 8, kCaption},
    {262, L"msctls_trackbar32", L"", 52, 38, 119, 15, kTrackbar},
    {263, L"Edit", L"", 180, 39, 31, 12, kValue},
    {264, L"Static", L"Exposure", 7, 58, 30, 8, kCaption},
    {265, L"msctls_trackbar32", L"", 52, 55, 119, 15, kTrackbar},
    {266, L"Edit", L"", 172, 55, 39, 12, kValue},
    {267, L"Button", L"", 219, 58, 13, 8, kCheck},
    {268, L"Button", L"Exposure2 enable", 7, 79, 72, 10, kCheck},
    {269, L"ComboBox", L"", 82, 78, 72, 160, kBase | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST},
    {232, L"Button", L"FLIP", 7, 102, 30, 10, kCheck},
    {233, L"Button", L"MIRROR", 43, 102, 42, 10, kCheck},
    {251, L"Button", L"LED", 7, 118, 29, 10, kCheck},
    {234, L"Button", L"Privacy", 7, 134, 39, 10, kCheck},
    {-1, L"Button", L"Strobe Control", 103, 98, 65, 50, kBase | BS_GROUPBOX},
    {271, L"Button", L"Enable", 115, 114, 37, 10, kCheck},
    {272, L"Button", L"invert", 116, 127, 35, 10, kCheck},
    {235, L"Button", L"Default", 182, 122, 43, 26, kBase | WS_TABSTOP | BS_PUSHBUTTON},
    {-1, L"Button", L"FrameRate Control", 7, 152, 225, 51, kBase | BS_GROUPBOX},
    {-1, L"Static", L"VGA", 14, 170, 15, 8, kCaption},
    {274, L"Button", L"60fps", 39, 170, 33, 10, kFirstRadio},
    {275, L"Button", L"50fps", 77, 170, 33, 10, kRadio},
    {276, L"Button", L"30fps", 115, 170, 33, 10, kRadio},
    {277, L"Button", L"25fps", 153, 170, 33, 10, kRadio},
    {278, L"Button", L"15fps", 191, 170, 33, 10, kRadio},
    {-1, L"Static", L"QVGA", 14, 188, 20, 8, kCaption},
    {279, L"Button", L"60fps", 39, 188, 33, 10, kFirstRadio},
    {280, L"Button", L"50fps", 77, 188, 33, 10, kRadio},
    {281, L"Button", L"30fps", 115, 188, 33, 10, kRadio},
    {282, L"Button", L"25fps", 153, 188, 33, 10, kRadio},
    {283, L"Button", L"15fps", 191, 188, 33, 10, kRadio},
};

// Reads the little-endian fields of a resource, keeping track of the end.
class Reader {
public:
    Reader(const BYTE *data, DWORD size) : m_data(data), m_size(size), m_pos(0) {}
    WORD Word() { return static_cast<WORD>(Byte() | (Byte() << 8)); }
    DWORD Dword()
    {
        DWORD low = Word();
        return low | (static_cast<DWORD>(Word()) << 16);
    }
    short Short() { return static_cast<short>(Word()); }
    BYTE Byte()
    {
        if (m_pos >= m_size) {
            m_overrun = true;
            return 0;
        }
        return m_data[m_pos++];
    }
    std::wstring String()
    {
        std::wstring s;
        for (WORD c = Word(); c && !m_overrun; c = Word())
            s += static_cast<wchar_t>(c);
        return s;
    }
    // A name or an ordinal; ordinals of the predefined classes come back as
    // those classes' names.
    std::wstring NameOrOrdinal(bool isClass)
    {
        WORD first = Word();
        if (first == 0xFFFF) {
            WORD ord = Word();
            static const wchar_t *names[] = {L"Button", L"Edit", L"Static", L"ListBox",
                                             L"ScrollBar", L"ComboBox"};
            if (isClass && ord >= 0x80 && ord <= 0x85)
                return names[ord - 0x80];
            return L"#" + std::to_wstring(ord);
        }
        std::wstring s;
        for (WORD c = first; c && !m_overrun; c = Word())
            s += static_cast<wchar_t>(c);
        return s;
    }
    void Skip(DWORD n) { m_pos += n; }
    void AlignDword() { m_pos = (m_pos + 3) & ~static_cast<DWORD>(3); }
    bool Overrun() const { return m_overrun || m_pos > m_size; }

private:
    const BYTE *m_data;
    DWORD m_size;
    DWORD m_pos;
    bool m_overrun = false;
};

std::string Narrow(const std::wstring &w)
{
    std::string s;
    for (wchar_t c : w)
        s += c < 0x80 ? static_cast<char>(c) : '?';
    return s;
}

std::wstring LoadText(UINT id)
{
    const WCHAR *text = NULL;
    int n = LoadStringW(g_hInst, id, reinterpret_cast<LPWSTR>(&text), 0);
    return n > 0 && text ? std::wstring(text, n) : std::wstring();
}

class ModuleResources : public ::testing::Test {
protected:
    void SetUp() override { g_hInst = GetModuleHandleA(NULL); }
};

TEST_F(ModuleResources, DialogTemplateMatchesTheLayout)
{
    HRSRC res = FindResourceExW(g_hInst, MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(IDD_CAMERA_SETTING),
                                kLangUs);
    ASSERT_TRUE(res != NULL) << "dialog 100 in language 1033";
    const BYTE *data = static_cast<const BYTE *>(LockResource(LoadResource(g_hInst, res)));
    ASSERT_TRUE(data != NULL);
    Reader r(data, SizeofResource(g_hInst, res));

    EXPECT_EQ(1, r.Word());       // dlgVer
    EXPECT_EQ(0xFFFF, r.Word());  // extended template
    EXPECT_EQ(0u, r.Dword());     // help id
    EXPECT_EQ(0u, r.Dword());     // extended style
    EXPECT_EQ(static_cast<DWORD>(WS_CHILD | DS_SETFONT), r.Dword());
    WORD count = r.Word();
    EXPECT_EQ(0, r.Short());
    EXPECT_EQ(0, r.Short());
    EXPECT_EQ(239, r.Short());
    EXPECT_EQ(210, r.Short());
    EXPECT_EQ(L"", r.NameOrOrdinal(false));  // menu
    EXPECT_EQ(L"", r.NameOrOrdinal(false));  // window class
    EXPECT_EQ(L"", r.String());              // caption
    EXPECT_EQ(10, r.Word());                 // points
    EXPECT_EQ(400, r.Word());                // weight
    EXPECT_EQ(0, r.Byte());                  // italic
    EXPECT_EQ(0, r.Byte());                  // character set
    EXPECT_EQ(L"MS Sans Serif", r.String());

    const size_t expected = sizeof(kControls) / sizeof(kControls[0]);
    ASSERT_EQ(expected, count);
    for (size_t i = 0; i < expected; ++i) {
        const Control &c = kControls[i];
        SCOPED_TRACE("control #" + std::to_string(i + 1) + " id " + std::to_string(c.id));
        r.AlignDword();
        EXPECT_EQ(0u, r.Dword());  // help id
        EXPECT_EQ(0u, r.Dword());  // extended style
        DWORD style = r.Dword();
        EXPECT_EQ(c.style, style) << std::hex << style;
        EXPECT_EQ(c.x, r.Short());
        EXPECT_EQ(c.y, r.Short());
        EXPECT_EQ(c.cx, r.Short());
        EXPECT_EQ(c.cy, r.Short());
        EXPECT_EQ(c.id, static_cast<int>(r.Dword()));
        std::wstring cls = r.NameOrOrdinal(true);
        EXPECT_EQ(0, lstrcmpiW(c.cls, cls.c_str())) << Narrow(cls);
        EXPECT_EQ(std::wstring(c.caption), r.NameOrOrdinal(false));
        r.Skip(r.Word());  // creation data
        ASSERT_FALSE(r.Overrun());
    }
}

TEST_F(ModuleResources, DialogCreatesEveryControl)
{
    // The live dialog, with the classes the controls really get.
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    HWND host = wintest::CreateHostWindow();
    HWND dlg = CreateDialogParamA(g_hInst, MAKEINTRESOURCEA(IDD_CAMERA_SETTING), host, NULL, 0);
    ASSERT_TRUE(dlg != NULL);
    HWND child = GetWindow(dlg, GW_CHILD);
    for (const Control &c : kControls) {
        SCOPED_TRACE("id " + std::to_string(c.id) + " " + Narrow(c.caption));
        ASSERT_TRUE(child != NULL);
        EXPECT_EQ(c.id, static_cast<int>(GetWindowLongPtrA(child, GWLP_ID)));
        WCHAR cls[64] = {0};
        GetClassNameW(child, cls, 64);
        EXPECT_EQ(0, lstrcmpiW(c.cls, cls)) << Narrow(cls);
        EXPECT_TRUE(IsWindowEnabled(child));
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(NULL, child);
    DestroyWindow(dlg);
    DestroyWindow(host);
}

TEST_F(ModuleResources, MessageTableIdsAndLanguage)
{
    for (UINT id = 1; id <= 136; ++id) {
        SCOPED_TRACE("string " + std::to_string(id));
        if (id == 112) {
            EXPECT_EQ(L"", LoadText(id));
            continue;
        }
        EXPECT_FALSE(LoadText(id).empty());
        // Strings live in blocks of sixteen; every block is US English.
        EXPECT_TRUE(FindResourceExW(g_hInst, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(id / 16 + 1),
                                    kLangUs) != NULL);
    }
    EXPECT_EQ(L"", LoadText(137));
    EXPECT_EQ(L"Camera Setting", LoadText(1));

    // The forms of the generic rows: set and get pairs, enable, default.
    const std::wstring setTail = L" to %1!d!. Error 0x%2!X!.", getTail = L". Error 0x%1!X!.";
    auto startsEnds = [](const std::wstring &s, const std::wstring &head, const std::wstring &tail) {
        return s.size() > head.size() + tail.size() && s.compare(0, head.size(), head) == 0 &&
               s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
    };
    for (UINT id = 3; id <= 99; ++id) {
        std::wstring s = LoadText(id);
        SCOPED_TRACE("string " + std::to_string(id) + ": " + Narrow(s));
        if (id <= 44 || id >= 85) {
            if (id % 2)
                EXPECT_TRUE(startsEnds(s, L"Failed to set data ", setTail));
            else
                EXPECT_TRUE(startsEnds(s, L"Failed to get data ", getTail));
        } else if (id <= 64) {
            EXPECT_TRUE(startsEnds(s, L"Failed to get enable ", getTail));
        } else {
            EXPECT_TRUE(startsEnds(s, L"Failed to get default ", getTail));
        }
    }
}

TEST_F(ModuleResources, MessageTableTexts)
{
    struct Row {
        UINT id;
        const wchar_t *text;
    };
    static const Row rows[] = {
        {3, L"Failed to set data rate to %1!d!. Error 0x%2!X!."},
        {5, L"Failed to set data HUE to %1!d!. Error 0x%2!X!."},
        {6, L"Failed to get data HUE. Error 0x%1!X!."},
        {18, L"Failed to get data WHITE BALANCE (RED). Error 0x%1!X!."},
        {25, L"Failed to set data EXPOSURE to %1!d!. Error 0x%2!X!."},
        {27, L"Failed to set data AEC to %1!d!. Error 0x%2!X!."},
        {37, L"Failed to set data FLIP to %1!d!. Error 0x%2!X!."},
        {38, L"Failed to get data FLIP. Error 0x%1!X!."},
        {39, L"Failed to set data MIRROR to %1!d!. Error 0x%2!X!."},
        {40, L"Failed to get data MIRROR. Error 0x%1!X!."},
        {41, L"Failed to set data PRIVACY to %1!d!. Error 0x%2!X!."},
        {42, L"Failed to get data PRIVACY. Error 0x%1!X!."},
        {44, L"Failed to get data NIGHT MODE. Error 0x%1!X!."},
        {45, L"Failed to get enable BRIGHTNESS. Error 0x%1!X!."},
        {48, L"Failed to get enable SATURATION. Error 0x%1!X!."},
        {55, L"Failed to get enable EXPOSURE. Error 0x%1!X!."},
        {56, L"Failed to get enable AEC. Error 0x%1!X!."},
        {61, L"Failed to get enable FLIP. Error 0x%1!X!."},
        {62, L"Failed to get enable MIRROR. Error 0x%1!X!."},
        {63, L"Failed to get enable PRIVACY. Error 0x%1!X!."},
        {64, L"Failed to get enable NIGHT MODE. Error 0x%1!X!."},
        {65, L"Failed to get default BRIGHTNESS. Error 0x%1!X!."},
        {84, L"Failed to get default NIGHT MODE. Error 0x%1!X!."},
        {85, L"Failed to set data ShutterMode to %1!d!. Error 0x%2!X!."},
        {86, L"Failed to get data ShtterMode. Error 0x%1!X!."},
        {87, L"Failed to set data Preset Shutter to %1!d!. Error 0x%2!X!."},
        {88, L"Failed to get data Preset Shtter. Error 0x%1!X!."},
        {89, L"Failed to set data Prog Exposure to %1!d!. Error 0x%2!X!."},
        {90, L"Failed to get data Prog Exposure. Error 0x%1!X!."},
        {91, L"Failed to set data AGC Select to %1!d!. Error 0x%2!X!."},
        {92, L"Failed to get data AGC Select. Error 0x%1!X!."},
        {93, L"Failed to set data ManuGainLevel to %1!d!. Error 0x%2!X!."},
        {94, L"Failed to get data ManuGainLevel. Error 0x%1!X!."},
        {95, L"Failed to set data AGCAutoRef to %1!d!. Error 0x%2!X!."},
        {96, L"Failed to get data AGCAutoRef. Error 0x%1!X!."},
        {97, L"Failed to set data WndSize to %1!d!. Error 0x%2!X!."},
        {98, L"Failed to get data WndSize. Error 0x%1!X!."},
        {99, L"Failed to set data BlackLevel to %1!d!. Error 0x%2!X!."},
        {100, L"Failed to get data BlackLevel.  Error 0x%1!X!."},
        {101, L"Failed to get enable A_GAIN. Error 0x%1!X!."},
        {102, L"Failed to set data A_GAIN to %1!d!. Error 0x%2!X!."},
        {103, L"Failed to get data A_GAIN to %1!d!. Error 0x%2!X!."},
        {104, L"Failed to get enable A_AUTOGAIN. Error 0x%1!X!."},
        {105, L"Failed to set data A_AUTOGAIN to %1!d!. Error 0x%2!X!."},
        {106, L"Failed to get data A_AUTOGAIN to %1!d!. Error 0x%2!X!."},
        {107, L"Failed to get enable D_GAIN. Error 0x%1!X!."},
        {108, L"Failed to get data D_GAIN to %1!d!. Error 0x%2!X!."},
        {109, L"Failed to set data D_GAIN to %1!d!. Error 0x%2!X!."},
        {110, L"Failed to get data EXPOSURE to %1!d!. Error 0x%2!X!."},
        {111, L"Failed to set data EXPOSURE to %1!d!. Error 0x%2!X!."},
        {113, L"Failed to get enable EXPOSURE2CTRL. Error 0x%1!X!."},
        {114, L"Failed to set data EXPOSURE2CTRL to %1!d!. Error 0x%2!X!."},
        {115, L"Failed to get data EXPOSURE2CTRL to %1!d!. Error 0x%2!X!."},
        {116, L"Failed to get enable EXPOSURE2VAL. Error 0x%1!X!."},
        {117, L"Failed to set data EXPOSURE2VAL to %1!d!. Error 0x%2!X!."},
        {118, L"Failed to get data EXPOSURE2VAL to %1!d!. Error 0x%2!X!."},
        {119, L"Failed to get enable LEDCTRL. Error 0x%1!X!."},
        {120, L"Failed to set data LEDCTRL to %1!d!. Error 0x%2!X!."},
        {121, L"Failed to get data LEDCTRL to %1!d!. Error 0x%2!X!."},
        {122, L"Failed to get enable STROBECTRL. Error 0x%1!X!."},
        {123, L"Failed to set data STROBECTRL to %1!d!. Error 0x%2!X!."},
        {124, L"Failed to get data STROBECTRL to %1!d!. Error 0x%2!X!."},
        {125, L"Failed to get enable STROBEINVERT. Error 0x%1!X!."},
        {126, L"Failed to set data STROBEINVERT to %1!d!. Error 0x%2!X!."},
        {127, L"Failed to get data STROBEINVERT to %1!d!. Error 0x%2!X!."},
        {128, L"Failed to get data AEC to %1!d!. Error 0x%2!X!."},
        {129, L"Failed to set data AEC to %1!d!. Error 0x%2!X!."},
        {130, L"Failed to get enable VGA_FPS. Error 0x%1!X!."},
        {131, L"Failed to set data VGA_FPS to %1!d!. Error 0x%2!X!."},
        {132, L"Failed to get data VGA_FPS to %1!d!. Error 0x%2!X!."},
        {133, L"Failed to get enable QVGA_FPS. Error 0x%1!X!."},
        {134, L"Failed to set data QVGA_FPS to %1!d!. Error 0x%2!X!."},
        {135, L"Failed to get data QVGA_FPS to %1!d!. Error 0x%2!X!."},
        {136, L"Failed to set data DEFAULT to %1!d!. Error 0x%2!X!."},
    };
    for (const Row &row : rows)
        EXPECT_EQ(std::wstring(row.text), LoadText(row.id)) << "string " << row.id;

    // The page reads its messages with the narrow call into 512 bytes.
    char narrow[512] = {0};
    ASSERT_GT(LoadStringA(g_hInst, 100, narrow, sizeof(narrow)), 0);
    EXPECT_STREQ("Failed to get data BlackLevel.  Error 0x%1!X!.", narrow);
}

TEST_F(ModuleResources, ModuleVersion)
{
    std::wstring path = wintest::BinDir() + L"vireoprop.ax";
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u) << "no version resource in vireoprop.ax";
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO *fixed = NULL;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void **>(&fixed), &len));
    ASSERT_GE(len, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
    EXPECT_EQ(static_cast<DWORD>(MAKELONG(11, 1)), fixed->dwFileVersionMS);
    EXPECT_EQ(0u, fixed->dwFileVersionLS);
    EXPECT_EQ(static_cast<DWORD>(MAKELONG(11, 1)), fixed->dwProductVersionMS);
    EXPECT_EQ(0u, fixed->dwProductVersionLS);
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);

    const wchar_t *keys[] = {L"\\StringFileInfo\\040904b0\\FileVersion",
                             L"\\StringFileInfo\\040904b0\\ProductVersion"};
    for (const wchar_t *key : keys) {
        WCHAR *text = NULL;
        ASSERT_TRUE(VerQueryValueW(block.data(), key, reinterpret_cast<void **>(&text), &len))
            << Narrow(key);
        EXPECT_EQ(std::wstring(L"1.11.0.0"), std::wstring(text));
    }
}

}  // namespace
