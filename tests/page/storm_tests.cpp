// A long stream of pseudo-random user actions and stray messages, always the
// same stream: the page must not crash, must send nothing while inactive, and
// the camera must always hold what the dialog shows.
#include "pagetest.h"

#include <stdio.h>

namespace {

// xorshift32, started from a fixed value so that every run is the same.
class Random {
public:
    explicit Random(UINT32 start) : m_x(start) {}
    UINT32 Next()
    {
        m_x ^= m_x << 13;
        m_x ^= m_x >> 17;
        m_x ^= m_x << 5;
        return m_x;
    }
    int Below(int n) { return static_cast<int>(Next() % static_cast<UINT32>(n)); }

private:
    UINT32 m_x;
};

const int kCheckBoxes[] = {IDC_AGAIN_AUTO, IDC_EXPOSURE_AUTO, IDC_EXPOSURE2_ENABLE, IDC_FLIP,
                           IDC_MIRROR,     IDC_LED,           IDC_PRIVACY,          IDC_STROBE_ENABLE,
                           IDC_STROBE_INVERT};
const ULONG kCheckBoxIds[] = {A_AUTOGAIN, AEC,     EXPOSURE2CTRL, FLIP,        MIRROR,
                              LEDCTRL,    PRIVACY, STROBECTRL,    STROBEINVERT};
const int kTrackbars[] = {IDC_AGAIN_TRACKBAR, IDC_DGAIN_TRACKBAR, IDC_EXPOSURE_TRACKBAR};
const ULONG kTrackbarIds[] = {A_GAIN, D_GAIN, EXPOSURE};
const WORD kActedCodes[] = {TB_LINEUP, TB_LINEDOWN, TB_PAGEUP,  TB_PAGEDOWN,
                            TB_THUMBTRACK, TB_TOP, TB_BOTTOM};
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
    // One action of the user or one stray message. Returns a description
    // for failure messages.
    std::string Step(Random &random)
    {
        const int kind = random.Below(100);
        char what[96];
        if (kind < 25) {  // drag or step a trackbar
            const int t = random.Below(3);
            const LONG lo = TrackbarMin(kTrackbars[t]), hi = TrackbarMax(kTrackbars[t]);
            const LONG position = lo - 2 + random.Below(hi - lo + 5);
            const WORD code = kActedCodes[random.Below(7)];
            Scroll(kTrackbars[t], position, code);
            snprintf(what, sizeof(what), "scroll %d to %ld code %u", kTrackbars[t],
                     static_cast<long>(position), code);
        } else if (kind < 32) {  // keyboard on a trackbar
            const int t = random.Below(3);
            const UINT key = kKeys[random.Below(8)];
            SendMessageW(Item(kTrackbars[t]), WM_KEYDOWN, key, 0);
            SendMessageW(Item(kTrackbars[t]), WM_KEYUP, key, 0);
            snprintf(what, sizeof(what), "key %u on %d", key, kTrackbars[t]);
        } else if (kind < 52) {  // check box
            const int c = kCheckBoxes[random.Below(9)];
            Click(c);
            snprintf(what, sizeof(what), "click %d", c);
        } else if (kind < 64) {  // frame-rate button
            const int c = IDC_VGA_60FPS + random.Below(10);
            Click(c);
            snprintf(what, sizeof(what), "click %d", c);
        } else if (kind < 72) {  // shutter list
            const LONG index = random.Below(10);
            SelectShutter(index);
            snprintf(what, sizeof(what), "shutter %ld", static_cast<long>(index));
        } else if (kind < 74) {
            Click(IDC_DEFAULT);
            snprintf(what, sizeof(what), "default");
        } else {
            return Stray(random);
        }
        return what;
    }

    // Messages that must not reach the camera: scroll ends, scrolls from
    // other windows, other notifications, unknown ids.
    std::string Stray(Random &random)
    {
        char what[96];
        const HWND others[] = {NULL, m_dlg, Item(IDC_SHUTTER_LIST), Item(IDC_FLIP),
                               Item(IDC_AGAIN_TEXT), m_host};
        switch (random.Below(6)) {
        case 0: {
            const int t = random.Below(3);
            const WORD code = random.Below(2) ? TB_THUMBPOSITION : TB_ENDTRACK;
            SendMessageW(m_dlg, WM_HSCROLL, MAKEWPARAM(code, random.Below(50)),
                         reinterpret_cast<LPARAM>(Item(kTrackbars[t])));
            snprintf(what, sizeof(what), "scroll end %u on %d", code, kTrackbars[t]);
            break;
        }
        case 1: {
            const HWND other = others[random.Below(6)];
            const WORD code = static_cast<WORD>(random.Below(12));
            SendMessageW(m_dlg, WM_HSCROLL, MAKEWPARAM(code, 0), reinterpret_cast<LPARAM>(other));
            snprintf(what, sizeof(what), "scroll code %u from %p", code, static_cast<void *>(other));
            break;
        }
        case 2: {  // notifications other than clicks and selection changes
            const WORD codes[] = {BN_SETFOCUS, BN_KILLFOCUS, EN_CHANGE, EN_SETFOCUS,
                                  CBN_DROPDOWN, CBN_CLOSEUP, BN_DOUBLECLICKED};
            const WORD code = codes[random.Below(7)];
            const int id = 232 + random.Below(52);
            SendCommand(id, code, Item(id));
            snprintf(what, sizeof(what), "command %d code %u", id, code);
            break;
        }
        case 3: {  // clicks of ids without a row
            const int ids[] = {1, 2, 236, 240, 252, 253, 254, 256, 261, 264, 270, 273, 284, 999};
            const int id = ids[random.Below(14)];
            SendCommand(id, BN_CLICKED, Item(id));
            snprintf(what, sizeof(what), "click without row %d", id);
            break;
        }
        case 4: {  // a selection change that is not the shutter list's
            const HWND other = others[random.Below(6)];
            const int id = random.Below(2) ? IDC_SHUTTER_LIST : 232 + random.Below(52);
            if (id == IDC_SHUTTER_LIST && other == Item(IDC_SHUTTER_LIST))
                return "nothing";
            SendCommand(id, CBN_SELCHANGE, other);
            snprintf(what, sizeof(what), "selchange %d from %p", id, static_cast<void *>(other));
            break;
        }
        default: {  // ordinary traffic
            const UINT messages[] = {WM_MOUSEMOVE, WM_TIMER, WM_SETCURSOR, WM_NCHITTEST, WM_VSCROLL,
                                     WM_ERASEBKGND, WM_CTLCOLORSTATIC};
            const UINT message = messages[random.Below(7)];
            if (message == WM_ERASEBKGND || message == WM_CTLCOLORSTATIC) {
                HDC dc = GetDC(m_dlg);
                SendMessageW(m_dlg, message, reinterpret_cast<WPARAM>(dc),
                             reinterpret_cast<LPARAM>(Item(IDC_AGAIN_CAPTION)));
                ReleaseDC(m_dlg, dc);
            } else {
                const LPARAM lParam =
                    message == WM_TIMER ? 0 : static_cast<LPARAM>(random.Next() & 0x00FF00FF);
                SendMessageW(m_dlg, message, static_cast<WPARAM>(random.Below(8)), lParam);
            }
            snprintf(what, sizeof(what), "message 0x%X", message);
            break;
        }
        }
        return what;
    }

    // The camera holds what the dialog shows, and the enabled states follow.
    void ExpectConsistent(const std::string &after)
    {
        SimDriver &d = Driver();
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(d.Value(kTrackbarIds[i]), TrackbarPos(kTrackbars[i]))
                << "trackbar " << kTrackbars[i] << " after " << after;
        ASSERT_EQ(Format("%.4lf", AnalogGainFactor(d.Value(A_GAIN))), Text(IDC_AGAIN_TEXT)) << after;
        ASSERT_EQ(Format("%.2lf", d.Value(D_GAIN) * 0.25), Text(IDC_DGAIN_TEXT)) << after;
        ASSERT_EQ(Format("%.1lf msec", d.Value(EXPOSURE) * 0.1), Text(IDC_EXPOSURE_TEXT)) << after;
        for (int i = 0; i < 9; ++i)
            ASSERT_EQ(d.Value(kCheckBoxIds[i]) != 0, Checked(kCheckBoxes[i]))
                << "check box " << kCheckBoxes[i] << " after " << after;
        ASSERT_EQ(d.Value(EXPOSURE2VAL), ShutterSelection()) << after;
        ASSERT_EQ((std::vector<int>{IDC_VGA_60FPS + d.Value(VGA_FPS),
                                    IDC_QVGA_60FPS + d.Value(QVGA_FPS)}),
                  CheckedRadios())
            << after;
        const bool manualGain = d.Value(A_AUTOGAIN) == 0;
        const bool manualExposure = d.Value(AEC) == 0;
        const bool shutter = d.Value(EXPOSURE2CTRL) != 0;
        ASSERT_EQ(manualGain, Enabled(IDC_AGAIN_TRACKBAR)) << after;
        ASSERT_EQ(manualGain, Enabled(IDC_AGAIN_TEXT)) << after;
        ASSERT_TRUE(Enabled(IDC_EXPOSURE_AUTO)) << after;
        ASSERT_EQ(manualExposure, Enabled(IDC_EXPOSURE2_ENABLE)) << after;
        ASSERT_EQ(manualExposure && !shutter, Enabled(IDC_EXPOSURE_TRACKBAR)) << after;
        ASSERT_EQ(manualExposure && !shutter, Enabled(IDC_EXPOSURE_TEXT)) << after;
        ASSERT_EQ(manualExposure && shutter, Enabled(IDC_SHUTTER_LIST)) << after;
    }

    // Every request of a step is a SET_DATA or, for the Default button, a
    // SET_ENABLE; a step sends at most the Default button's thirty.
    void ExpectPlausible(LONG from, const std::string &after)
    {
        const LONG count = LogCount() - from;
        ASSERT_LE(count, 30) << after;
        for (LONG i = from; i < LogCount(); ++i) {
            const SimRequest &r = Request(i);
            ASSERT_EQ(1u, r.isSet) << after;
            ASSERT_EQ(S_OK, r.result) << after;
            const ULONG kind = after == "default" && i - from < 15 ? SET_ENABLE : SET_DATA;
            ASSERT_EQ(kind, r.Kind()) << after;
        }
        if (after.rfind("scroll end", 0) == 0 || after.rfind("scroll code", 0) == 0 ||
            after.rfind("command", 0) == 0 ||
            after.rfind("selchange", 0) == 0 || after.rfind("message", 0) == 0 ||
            after.rfind("click without row", 0) == 0) {
            ASSERT_EQ(0, count) << after;
        }
        if (after.rfind("scroll ", 0) == 0 && after.rfind("scroll end", 0) != 0 &&
            after.rfind("scroll code", 0) != 0) {
            ASSERT_EQ(1, count) << after;
        }
    }
};

TEST_F(PageStormTest, ActiveAndInactivePageUnderAStreamOfInput)
{
    Driver().SetValue(AEC, 0);
    ASSERT_EQ(S_OK, Connect());
    ASSERT_EQ(S_OK, Activate());
    ASSERT_NE(nullptr, m_dlg);
    ClearLog();
    ExpectConsistent("click activation");

    Random random(0x2545F491u);
    int sent = 0;
    for (int i = 0; i < 1500; ++i) {
        const LONG before = LogCount();
        const std::string what = Step(random);
        ASSERT_NO_FATAL_FAILURE(ExpectPlausible(before, what)) << "step " << i;
        ASSERT_NO_FATAL_FAILURE(ExpectConsistent(what)) << "step " << i;
        sent += LogCount() - before;
    }
    EXPECT_GT(sent, 500);  // the stream did reach the camera
    EXPECT_TRUE(BoxTexts().empty());
    EXPECT_TRUE(m_setting->IsActive());

    // The same stream to the dialog of a page that is no longer active.
    ASSERT_EQ(S_OK, m_setting->OnDeactivate());
    const LONG count = LogCount();
    for (int i = 0; i < 600; ++i)
        Step(random);
    EXPECT_EQ(count, LogCount());
    EXPECT_FALSE(m_setting->IsActive());
    EXPECT_TRUE(BoxTexts().empty());
}
