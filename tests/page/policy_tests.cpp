// The page under the organization's policy: a locked control is given its
// value at once, shown at it and disabled; no action on it (a scroll, a
// click, a selection, a program's notification) sends anything or moves it,
// the Default button leaves it, and the other controls work as ever.
#include "pagetest.h"

#include <functional>
#include <set>

#include "policy_keys.h"

TEST_F(PageTest, LockedControlsHoldTheirValueAgainstEveryAction)
{
    PolicyKeys keys;
    for (const auto &lock : {std::make_pair(L"EXPOSURE", 800), std::make_pair(L"FLIP", 1),
                             std::make_pair(L"VGA_FPS", 2), std::make_pair(L"EXPOSURE2VAL", 3)})
        ASSERT_TRUE(PolicyKeys::Set(L"Mandatory", lock.first, lock.second));
    Driver().SetValue(AEC, 0);  // the exposure trackbar usable but for the lock
    Driver().SetValue(EXPOSURE2CTRL, 1);
    Driver().SetValue(EXPOSURE, 500);
    ASSERT_EQ(S_OK, Connect());
    ASSERT_EQ(S_OK, Activate());
    EXPECT_EQ(800, Driver().Value(EXPOSURE));  // the initial apply gave the locked values
    EXPECT_EQ(1, Driver().Value(FLIP));
    EXPECT_EQ(2, Driver().Value(VGA_FPS));
    EXPECT_TRUE(BoxTexts().empty());
    ASSERT_TRUE(Item(IDC_POLICY_NOTE) != NULL);

    const struct {
        const char *name;
        std::function<void()> act;
    } actions[] = {
        {"trackbar dragged", [&] { Scroll(IDC_EXPOSURE_TRACKBAR, 100, TB_THUMBTRACK); }},
        {"trackbar paged", [&] { Scroll(IDC_EXPOSURE_TRACKBAR, 900, TB_PAGEDOWN); }},
        {"check box clicked", [&] { Click(IDC_FLIP); }},
        {"a program's click notification",
         [&] {
             CheckDlgButton(m_dlg, IDC_FLIP, BST_UNCHECKED);
             SendCommand(IDC_FLIP, BN_CLICKED, Item(IDC_FLIP));
         }},
        {"a rate of the row",
         [&] {
             SetRadioGroup(m_dlg, 0, kVgaFpsButtons);
             SendCommand(IDC_VGA_60FPS, BN_CLICKED, Item(IDC_VGA_60FPS));
         }},
        {"a shutter selected", [&] { SelectShutter(7); }},
    };
    for (const auto &a : actions) {
        SCOPED_TRACE(a.name);
        ClearLog();
        a.act();
        EXPECT_EQ(std::vector<std::string>{}, Requests());
        EXPECT_EQ(800, TrackbarPos(IDC_EXPOSURE_TRACKBAR));
        EXPECT_TRUE(Checked(IDC_FLIP));
        EXPECT_EQ(std::vector<int>({IDC_VGA_30FPS, IDC_QVGA_25FPS}), CheckedRadios());
        EXPECT_EQ(3, ShutterSelection());
        for (int id : {IDC_EXPOSURE_TRACKBAR, IDC_EXPOSURE_TEXT, IDC_FLIP, IDC_VGA_60FPS,
                       IDC_VGA_15FPS, IDC_SHUTTER_LIST})
            EXPECT_FALSE(Enabled(id)) << id;
    }

    // Unlocked controls as ever; Default leaves the locked ones.
    ClearLog();
    Click(IDC_MIRROR);
    EXPECT_EQ(std::vector<std::string>{"SD 17=1"}, Requests());
    ClearLog();
    Click(IDC_DEFAULT);
    std::set<std::string> touched;  // "SD 17=0": "17"
    for (const std::string &r : Requests())
        touched.insert(
            r.substr(3, r.find('=') == std::string::npos ? std::string::npos : r.find('=') - 3));
    EXPECT_EQ(1u, touched.count("17"));
    for (const char *locked : {"12", "16", "307", "304"})
        EXPECT_EQ(0u, touched.count(locked)) << locked;
    EXPECT_EQ(0, Driver().Value(MIRROR));
    EXPECT_EQ(800, Driver().Value(EXPOSURE));
    EXPECT_EQ(1, Driver().Value(FLIP));
    EXPECT_FALSE(Enabled(IDC_FLIP));
    EXPECT_TRUE(Enabled(IDC_MIRROR));
    EXPECT_TRUE(BoxTexts().empty());
}
