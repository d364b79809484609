// A long stream of pseudo-random user actions and stray messages, always the
// same stream: the page must not crash, stray messages and an inactive page
// send nothing, and the camera always holds what the dialog shows.
#include "pagetest.h"

#include <stdio.h>

namespace {

const int kCheckBoxes[] = {IDC_AGAIN_AUTO, IDC_EXPOSURE_AUTO, IDC_EXPOSURE2_ENABLE, IDC_FLIP,
                           IDC_MIRROR,     IDC_LED,           IDC_PRIVACY,          IDC_STROBE_ENABLE,
                           IDC_STROBE_INVERT};
const ULONG kCheckBoxIds[] = {A_AUTOGAIN, AEC,     EXPOSURE2CTRL, FLIP,        MIRROR,
                              LEDCTRL,    PRIVACY, STROBECTRL,    STROBEINVERT};
const int kTrackbars[] = {IDC_AGAIN_TRACKBAR, IDC_DGAIN_TRACKBAR, IDC_EXPOSURE_TRACKBAR};
const ULONG kTrackbarIds[] = {A_GAIN, D_GAIN, EXPOSURE};
const WORD kActedCodes[] = {TB_LINEUP, TB_LINEDOWN, TB_PAGEUP, TB_PAGEDOWN, TB_THUMBTRACK, TB_TOP,
                            TB_BOTTOM};
const UINT kKeys[] = {VK_LEFT, VK_RIGHT, VK_UP, VK_DOWN, VK_PRIOR, VK_NEXT, VK_HOME, VK_END};

std::string Format(const char *format, double value)
{
    char text[64];
    snprintf(text, sizeof(text), format, value);
    return text;
}

}  // namespace

class PageStormTest : public PageTest {
protected:
    // xorshift32 from a fixed start: every run is the same.
    int Below(int n)
    {
        m_x ^= m_x << 13;
        m_x ^= m_x >> 17;
        m_x ^= m_x << 5;
        return static_cast<int>(m_x % static_cast<UINT32>(n));
    }

    // One action of the user; false for a stray message, which must send
    // nothing.
    bool Step()
    {
        const int kind = Below(100);
        const int t = Below(3);
        if (kind < 25) {
            const LONG lo = TrackbarMin(kTrackbars[t]), hi = TrackbarMax(kTrackbars[t]);
            Scroll(kTrackbars[t], lo - 2 + Below(hi - lo + 5), kActedCodes[Below(7)]);
        } else if (kind < 32) {
            const UINT key = kKeys[Below(8)];
            SendMessageW(Item(kTrackbars[t]), WM_KEYDOWN, key, 0);
            SendMessageW(Item(kTrackbars[t]), WM_KEYUP, key, 0);
        } else if (kind < 52) {
            Click(kCheckBoxes[Below(9)]);
        } else if (kind < 64) {
            Click(IDC_VGA_60FPS + Below(10));
        } else if (kind < 72) {
            SelectShutter(Below(10));
        } else if (kind < 74) {
            Click(IDC_DEFAULT);
        } else {
            Stray(t);
            return false;
        }
        return true;
    }

    // Scroll ends, scrolls from other windows, other notifications, clicks
    // of ids without an action, selection changes not from the shutter
    // list, ordinary traffic.
    void Stray(int t)
    {
        const HWND others[] = {NULL, m_dlg, Item(IDC_SHUTTER_LIST), Item(IDC_FLIP),
                               Item(IDC_AGAIN_TEXT), m_host};
        const WORD notices[] = {BN_SETFOCUS, BN_KILLFOCUS, EN_CHANGE, EN_SETFOCUS,
                                CBN_DROPDOWN, CBN_CLOSEUP, BN_DOUBLECLICKED};
        const int idle[] = {1, 2, 236, 240, 252, 253, 254, 256, 261, 264, 270, 273, 284, 999};
        const UINT traffic[] = {WM_MOUSEMOVE, WM_TIMER, WM_SETCURSOR, WM_NCHITTEST, WM_VSCROLL};
        const int id = 232 + Below(52);
        switch (Below(6)) {
        case 0:
            SendMessageW(m_dlg, WM_HSCROLL, MAKEWPARAM(Below(2) ? TB_THUMBPOSITION : TB_ENDTRACK, 0),
                         reinterpret_cast<LPARAM>(Item(kTrackbars[t])));
            break;
        case 1:
            SendMessageW(m_dlg, WM_HSCROLL, static_cast<WPARAM>(Below(12)),
                         reinterpret_cast<LPARAM>(others[Below(6)]));
            break;
        case 2:
            SendCommand(id, notices[Below(7)], Item(id));
            break;
        case 3:
            SendCommand(idle[Below(14)], BN_CLICKED, NULL);
            break;
        case 4:
            SendCommand(Below(2) ? IDC_SHUTTER_LIST : id, CBN_SELCHANGE, others[Below(2) ? 0 : 3]);
            break;
        default:
            SendMessageW(m_dlg, traffic[Below(5)], static_cast<WPARAM>(Below(8)),
                         static_cast<LPARAM>(m_x & 0x00FF00FF));
        }
    }

    // The camera holds what the dialog shows, and the enabled states follow.
    void ExpectConsistent(int step)
    {
        SimDriver &d = Driver();
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(d.Value(kTrackbarIds[i]), TrackbarPos(kTrackbars[i])) << step;
        ASSERT_EQ(Format("%.4lf", AnalogGainFactor(d.Value(A_GAIN))), Text(IDC_AGAIN_TEXT)) << step;
        ASSERT_EQ(Format("%.2lf", d.Value(D_GAIN) * 0.25), Text(IDC_DGAIN_TEXT)) << step;
        ASSERT_EQ(Format("%.1lf msec", d.Value(EXPOSURE) * 0.1), Text(IDC_EXPOSURE_TEXT)) << step;
        for (int i = 0; i < 9; ++i)
            ASSERT_EQ(d.Value(kCheckBoxIds[i]) != 0, Checked(kCheckBoxes[i])) << step;
        ASSERT_EQ(d.Value(EXPOSURE2VAL), ShutterSelection()) << step;
        ASSERT_EQ((std::vector<int>{IDC_VGA_60FPS + d.Value(VGA_FPS),
                                    IDC_QVGA_60FPS + d.Value(QVGA_FPS)}),
                  CheckedRadios())
            << step;
        const bool manualGain = d.Value(A_AUTOGAIN) == 0, manual = d.Value(AEC) == 0;
        const bool shutter = d.Value(EXPOSURE2CTRL) != 0;
        ASSERT_EQ(manualGain, Enabled(IDC_AGAIN_TRACKBAR)) << step;
        ASSERT_EQ(manualGain, Enabled(IDC_AGAIN_TEXT)) << step;
        ASSERT_TRUE(Enabled(IDC_EXPOSURE_AUTO)) << step;
        ASSERT_EQ(manual, Enabled(IDC_EXPOSURE2_ENABLE)) << step;
        ASSERT_EQ(manual && !shutter, Enabled(IDC_EXPOSURE_TRACKBAR)) << step;
        ASSERT_EQ(manual && !shutter, Enabled(IDC_EXPOSURE_TEXT)) << step;
        ASSERT_EQ(manual && shutter, Enabled(IDC_SHUTTER_LIST)) << step;
    }

    UINT32 m_x = 0x2545F491u;
};

TEST_F(PageStormTest, ActiveAndInactivePageUnderAStreamOfInput)
{
    Driver().SetValue(AEC, 0);
    ASSERT_EQ(S_OK, Connect());
    ASSERT_EQ(S_OK, Activate());
    ClearLog();
    for (int i = 0; i < 1500; ++i) {
        const LONG before = LogCount();
        if (!Step()) {
            ASSERT_EQ(before, LogCount()) << "stray message sent something, step " << i;
        }
        for (LONG r = before; r < LogCount(); ++r)
            ASSERT_EQ(S_OK, Request(r).result) << i;
        ASSERT_NO_FATAL_FAILURE(ExpectConsistent(i));
    }
    EXPECT_GT(LogCount(), 500);  // the stream did reach the camera
    EXPECT_TRUE(BoxTexts().empty());

    // The same stream to the dialog of a page that is no longer active.
    ASSERT_EQ(S_OK, m_setting->OnDeactivate());
    const LONG count = LogCount();
    for (int i = 0; i < 600; ++i)
        Step();
    EXPECT_EQ(count, LogCount());
    EXPECT_TRUE(BoxTexts().empty());
}
