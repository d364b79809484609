// The module's resources as the loader uses them: dialog 100 built from its
// template, the message table, the version of the built module.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <map>
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

INT_PTR CALLBACK NoDialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

// The dialog as the loader builds it from the template (its size is the page
// base tests' measured size): its font and
// every control in template order with id, class, caption, style and place.
TEST_F(ModuleResources, DialogMatchesTheLayout)
{
    ASSERT_TRUE(FindResourceExW(g_hInst, MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(IDD_CAMERA_SETTING),
                                kLangUs) != NULL)
        << "dialog 100 in language 1033";
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    HWND host = wintest::CreateHostWindow();
    HWND dlg =
        CreateDialogParamW(g_hInst, MAKEINTRESOURCEW(IDD_CAMERA_SETTING), host, NoDialogProc, 0);
    ASSERT_TRUE(dlg != NULL);
    // DS_3DLOOK the platform gives every dialog.
    EXPECT_EQ(static_cast<LONG>(WS_CHILD | DS_SETFONT),
              GetWindowLongW(dlg, GWL_STYLE) & ~DS_3DLOOK);
    EXPECT_EQ(0, GetWindowTextLengthW(dlg));
    EXPECT_EQ(NULL, GetMenu(dlg));
    LOGFONTW font = {};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dlg, WM_GETFONT, 0, 0)), sizeof(font), &font);
    HDC screen = GetDC(NULL);
    EXPECT_EQ(-MulDiv(10, GetDeviceCaps(screen, LOGPIXELSY), 72), font.lfHeight);
    ReleaseDC(NULL, screen);
    EXPECT_EQ(400, font.lfWeight);
    EXPECT_EQ(0, font.lfItalic);
    EXPECT_EQ(std::wstring(L"MS Sans Serif"), std::wstring(font.lfFaceName));

    HWND item = GetWindow(dlg, GW_CHILD);
    for (const Control &c : kControls) {
        SCOPED_TRACE("control id " + std::to_string(c.id) + " " + Narrow(c.caption));
        ASSERT_TRUE(item != NULL);
        WCHAR text[64] = {0};
        EXPECT_EQ(c.id, GetDlgCtrlID(item));
        GetClassNameW(item, text, 64);
        EXPECT_EQ(0, lstrcmpiW(c.cls, text)) << Narrow(text);
        GetWindowTextW(item, text, 64);
        EXPECT_EQ(std::wstring(c.caption), std::wstring(text));
        // The platform gives a bordered edit a sunken edge instead of the
        // border, and a combo box's scroll bar to its list.
        DWORD style = static_cast<DWORD>(GetWindowLongW(item, GWL_STYLE));
        DWORD ex = static_cast<DWORD>(GetWindowLongW(item, GWL_EXSTYLE)) & ~WS_EX_NOPARENTNOTIFY;
        if (ex & WS_EX_CLIENTEDGE)
            style |= WS_BORDER;
        EXPECT_EQ(0u, ex & ~WS_EX_CLIENTEDGE);
        EXPECT_EQ(0u, GetWindowContextHelpId(item));
        RECT want = {c.x, c.y, c.cx, c.cy}, got;
        MapDialogRect(dlg, &want);
        GetWindowRect(item, &got);
        COMBOBOXINFO combo = {};
        combo.cbSize = sizeof(combo);
        if (GetComboBoxInfo(item, &combo)) {
            // The list scrolls once it holds more than it shows. Its height
            // as the platform here reports it leaves out the field above, as
            // tall as it was before the dialog's font came (a pixel more).
            for (int i = 0; i < 30; ++i)
                SendMessageW(item, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"item"));
            style |= GetWindowLongW(combo.hwndList, GWL_STYLE) & WS_VSCROLL;
            RECT list;
            SendMessageW(item, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&list));
            got.bottom += list.bottom - list.top;
        }
        EXPECT_EQ(c.style, style) << std::hex << style;
        MapWindowPoints(NULL, dlg, reinterpret_cast<POINT *>(&got), 2);
        EXPECT_EQ(want.left, got.left);
        EXPECT_EQ(want.top, got.top);
        EXPECT_EQ(want.right, got.right - got.left);
        EXPECT_NEAR(want.bottom, got.bottom - got.top, combo.hwndList ? 1 : 0);
        item = GetWindow(item, GW_HWNDNEXT);
    }
    EXPECT_EQ(NULL, item) << "more controls than the layout";
    DestroyWindow(host);
}

// Every message of the table, built from its form and its setting's token.
std::wstring Message(wchar_t form, const std::wstring &token)
{
    switch (form) {
    case 'S': return L"Failed to set data " + token + L" to %1!d!. Error 0x%2!X!.";
    case 'G': return L"Failed to get data " + token + L". Error 0x%1!X!.";
    case 'T': return L"Failed to get data " + token + L" to %1!d!. Error 0x%2!X!.";
    case 'E': return L"Failed to get enable " + token + L". Error 0x%1!X!.";
    default: return L"Failed to get default " + token + L". Error 0x%1!X!.";
    }
}

std::map<UINT, std::wstring> ExpectedMessages()
{
    std::map<UINT, std::wstring> m;
    m[1] = L"Camera Setting";
    const wchar_t *pairs[] = {L"rate",
                              L"HUE",
                              L"BRIGHTNESS",
                              L"CONTRAST",
                              L"SATURATION",
                              L"SHARPNESS",
                              L"GAMMA",
                              L"WHITE BALANCE (RED)",
                              L"WHITE BALANCE (GREEN)",
                              L"WHITE BALANCE (BLUE)",
                              L"AWB",
                              L"EXPOSURE",
                              L"AEC",
                              L"GAIN",
                              L"AGC",
                              L"POWER LINE",
                              L"SCENE",
                              L"FLIP",
                              L"MIRROR",
                              L"PRIVACY",
                              L"NIGHT MODE"};
    for (UINT i = 0; i < 21; ++i) {
        m[3 + 2 * i] = Message('S', pairs[i]);
        m[4 + 2 * i] = Message('G', pairs[i]);
    }
    for (UINT i = 0; i < 20; ++i) {
        const wchar_t *token = pairs[i < 2 ? i + 2 : i == 2 ? 1 : i + 1];
        m[45 + i] = Message('E', token);
        m[65 + i] = Message('D', token);
    }
    const wchar_t *sets[] = {L"ShutterMode",   L"Preset Shutter", L"Prog Exposure", L"AGC Select",
                             L"ManuGainLevel", L"AGCAutoRef",     L"WndSize",       L"BlackLevel"};
    const wchar_t *gets[] = {L"ShtterMode", L"Preset Shtter"};
    for (UINT i = 0; i < 8; ++i) {
        m[85 + 2 * i] = Message('S', sets[i]);
        m[86 + 2 * i] = Message('G', i < 2 ? gets[i] : sets[i]);
    }
    m[100] = L"Failed to get data BlackLevel.  Error 0x%1!X!.";
    const struct {
        const wchar_t *forms;  // one letter per id; '-' no string
        const wchar_t *token;
    } page[] = {{L"EST", L"A_GAIN"},   {L"EST", L"A_AUTOGAIN"},    {L"ETS", L"D_GAIN"},
                {L"TS-", L"EXPOSURE"}, {L"EST", L"EXPOSURE2CTRL"}, {L"EST", L"EXPOSURE2VAL"},
                {L"EST", L"LEDCTRL"},  {L"EST", L"STROBECTRL"},    {L"EST", L"STROBEINVERT"},
                {L"TS", L"AEC"},       {L"EST", L"VGA_FPS"},       {L"EST", L"QVGA_FPS"},
                {L"S", L"DEFAULT"}};
    UINT id = 101;
    for (const auto &row : page)
        for (const wchar_t *f = row.forms; *f; ++f, ++id)
            if (*f != '-')
                m[id] = Message(*f, row.token);
    return m;
}

TEST_F(ModuleResources, MessageTable)
{
    const std::map<UINT, std::wstring> expected = ExpectedMessages();
    ASSERT_EQ(134u, expected.size());  // 1 to 136 but 2 and 112
    for (UINT id = 1; id <= 137; ++id) {
        SCOPED_TRACE("string " + std::to_string(id));
        const auto it = expected.find(id);
        if (it != expected.end()) {
            EXPECT_EQ(Narrow(it->second), Narrow(LoadText(id)));
        } else {
            EXPECT_EQ(id == 2, !LoadText(id).empty());
        }
        // Strings live in blocks of sixteen; every block is US English.
        if (id <= 136) {
            EXPECT_TRUE(FindResourceExW(g_hInst, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(id / 16 + 1),
                                        kLangUs) != NULL);
        }
    }
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
