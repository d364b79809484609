// The "Camera Setting" page on its real dialog, connected to a filter whose
// IFace is the real interface handler over the simulated driver.
#include "pagetest.h"

#include "vireocamera.h"

#include <vfwmsgs.h>

#include <algorithm>

namespace {

typedef std::vector<std::string> Log;

const HRESULT kFail = E_FAIL;                                  // 0x80004005
const HRESULT kGenFailure = static_cast<HRESULT>(0x8007001F);  // device not functioning
const HRESULT kAccessDenied = static_cast<HRESULT>(0x80070005);

Log Concat(Log a, const Log &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The initial apply of every control at its value, in the order it runs.
Log ApplyAll(SimDriver &driver)
{
    const ULONG order[] = {A_GAIN,        A_AUTOGAIN,   D_GAIN,  EXPOSURE, AEC,
                           EXPOSURE2CTRL, EXPOSURE2VAL, FLIP,    MIRROR,   LEDCTRL,
                           STROBECTRL,    STROBEINVERT, VGA_FPS, QVGA_FPS, PRIVACY};
    Log out;
    for (ULONG id : order)
        out.push_back("SD " + std::to_string(id) + "=" + std::to_string(driver.Value(id)));
    return out;
}

}  // namespace

// --- Creation and references -----------------------------------------------

TEST(PageCreation, OutOfMemoryGivesNoObject)
{
    const LONG before = CBaseObject::ObjectsActive();
    HRESULT hr = S_OK;
    g_failNothrowNew = true;
    CUnknown *page = CameraSettingPage::CreateInstance(NULL, &hr);
    g_failNothrowNew = false;
    EXPECT_EQ(nullptr, page);
    EXPECT_EQ(E_OUTOFMEMORY, hr);
    EXPECT_EQ(before, CBaseObject::ObjectsActive());
}

TEST_F(PageTest, HoldsOneInterfaceReferenceFromConnectToDisconnectOrRelease)
{
    ASSERT_EQ(S_OK, Connect());
    EXPECT_EQ(2, m_filter->refs);
    EXPECT_EQ(S_OK, m_page->SetObjects(0, NULL));
    EXPECT_EQ(1, m_filter->refs);
    EXPECT_EQ(S_OK, m_page->SetObjects(0, NULL));  // nothing left to drop
    EXPECT_EQ(1, m_filter->refs);

    // Connecting a second time without a disconnection keeps one reference
    // (the site stays set; setting it again over itself is refused).
    IUnknown *object = m_filter->Unknown();
    ASSERT_EQ(S_OK, m_page->SetObjects(1, &object));
    ASSERT_EQ(S_OK, m_page->SetObjects(1, &object));
    EXPECT_EQ(2, m_filter->refs);

    // A null object is refused and changes nothing.
    EXPECT_EQ(VFW_E_NEED_OWNER, m_setting->OnConnect(NULL));
    EXPECT_EQ(2, m_filter->refs);
    EXPECT_EQ(0u, static_cast<ULONG>(LogCount()));

    // Shown, hidden and released without SetObjects(0) first.
    ASSERT_EQ(S_OK, Activate());
    ASSERT_EQ(S_OK, Deactivate());
    EXPECT_EQ(2, m_filter->refs);
    ReleasePage();
    EXPECT_EQ(1, m_filter->refs);
    EXPECT_EQ(1, m_site.refs);
}

TEST_F(PageTest, ActivatingTwiceLoadsTwice)
{
    ASSERT_EQ(S_OK, Connect());
    EXPECT_FALSE(m_setting->IsActive());
    Log expected = Concat(FullLoad(), ApplyAll(Driver()));
    ASSERT_EQ(S_OK, Activate());
    ASSERT_NE(nullptr, m_dlg);
    EXPECT_TRUE(m_setting->IsActive());
    EXPECT_EQ(expected, Requests());
    ASSERT_EQ(S_OK, Deactivate());
    EXPECT_FALSE(m_setting->IsActive());

    // The camera changed in between: the second showing reports it.
    Driver().SetValue(A_GAIN, 12);
    Driver().SetValue(VGA_FPS, 1);
    ClearLog();
    expected = Concat(FullLoad(), ApplyAll(Driver()));
    EXPECT_EQ("SD 300=12", expected[30]);
    ASSERT_EQ(S_OK, Activate());
    EXPECT_TRUE(m_setting->IsActive());
    EXPECT_EQ(expected, Requests());
    EXPECT_EQ("1..32 @12 1.6875", Trackbar(IDC_AGAIN_TRACKBAR));
    EXPECT_EQ((std::vector<int>{IDC_VGA_50FPS, IDC_QVGA_25FPS}), CheckedRadios());
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(PageTest, FilterWithoutInterfaceGivesAnInertPage)
{
    m_filter.reset(new TestFilter(false));
    EXPECT_EQ(E_NOINTERFACE, Connect());
    EXPECT_EQ(1, m_filter->refs);
    ASSERT_EQ(S_OK, Activate());
    ASSERT_NE(nullptr, m_dlg);
    EXPECT_FALSE(m_setting->IsActive());
    Click(IDC_FLIP);
    Click(IDC_DEFAULT);
    Click(IDC_VGA_30FPS);
    Scroll(IDC_EXPOSURE_TRACKBAR, 5, TB_THUMBTRACK);
    SelectShutter(2);
    EXPECT_FALSE(m_setting->IsActive());
    EXPECT_EQ(0, LogCount());
    EXPECT_TRUE(BoxTexts().empty());
    EXPECT_TRUE(m_site.status.empty());
}

TEST_F(PageTest, DisconnectWhileShownStopsTheDialog)
{
    ASSERT_NO_FATAL_FAILURE(Show());
    EXPECT_EQ(S_OK, m_page->SetObjects(0, NULL));
    EXPECT_EQ(1, m_filter->refs);
    EXPECT_FALSE(m_setting->IsActive());
    Click(IDC_MIRROR);
    Click(IDC_DEFAULT);
    Scroll(IDC_DGAIN_TRACKBAR, 9, TB_LINEDOWN);
    EXPECT_EQ(0, LogCount());
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(PageTest, ApplyAfterShutterChangeSendsNothing)
{
    ASSERT_NO_FATAL_FAILURE(Show());
    EXPECT_EQ(S_FALSE, m_page->IsPageDirty());
    EXPECT_EQ(S_OK, m_page->Apply());  // unchanged page
    Click(IDC_FLIP);                   // sent at once, not dirty
    EXPECT_EQ(S_FALSE, m_page->IsPageDirty());
    EXPECT_TRUE(m_site.status.empty());

    SelectShutter(3);
    EXPECT_EQ((Log{"SD 16=1", "SD 304=3"}), Requests());
    EXPECT_EQ(S_OK, m_page->IsPageDirty());
    EXPECT_EQ((std::vector<DWORD>{PROPPAGESTATUS_DIRTY}), m_site.status);
    const LONG count = LogCount();
    EXPECT_EQ(S_OK, m_page->Apply());
    EXPECT_EQ(count, LogCount());
    EXPECT_EQ(S_FALSE, m_page->IsPageDirty());

    // No selection (CB_ERR): ignored, not dirty.
    SelectShutter(-1);
    EXPECT_EQ(count, LogCount());
    EXPECT_EQ(S_FALSE, m_page->IsPageDirty());
    EXPECT_EQ(1u, m_site.status.size());
}

// --- Error reporting ----------------------------------------------------------

TEST_F(PageTest, ReportErrorFormatsTheStringTable)
{
    ASSERT_EQ(S_OK, Connect());
    ASSERT_EQ(S_OK, Activate());
    m_boxes->Clear();
    m_setting->ReportError(101, static_cast<HRESULT>(0x80070490));
    m_setting->ReportError(102, static_cast<LONG>(-12), kFail);
    m_setting->ReportError(111, static_cast<LONG>(3330), static_cast<HRESULT>(0x8007000E));
    m_setting->ReportError(112);
    m_setting->ReportError(100, kGenFailure);
    ASSERT_EQ(5u, m_boxes->Boxes().size());
    EXPECT_EQ((Log{"Failed to get enable A_GAIN. Error 0x80070490.",
                   "Failed to set data A_GAIN to -12. Error 0x80004005.",
                   "Failed to set data EXPOSURE to 3330. Error 0x8007000E.", "",
                   "Failed to get data BlackLevel.  Error 0x8007001F."}),
              BoxTexts());
    // Modal to the frame that holds the dialog, OK only, no icon.
    for (const auto &box : m_boxes->Boxes()) {
        EXPECT_EQ("Error", box.caption);
        EXPECT_EQ(GetAncestor(m_dlg, GA_ROOT), box.owner);
        EXPECT_EQ(static_cast<UINT>(MB_OK), box.style);
    }
}

// --- Loading and the initial apply --------------------------------------------

TEST_F(PageTest, LoadsAndAppliesEveryControl)
{
    SimDriver &d = Driver();
    d.SetValue(A_GAIN, 17);
    d.SetValue(A_AUTOGAIN, 0);
    d.SetValue(D_GAIN, 5);
    d.SetRange(EXPOSURE, -5, 3330);
    d.SetValue(EXPOSURE, 1);
    d.SetValue(AEC, 0);
    d.SetValue(EXPOSURE2CTRL, 1);
    d.SetValue(EXPOSURE2VAL, 9);
    d.SetValue(FLIP, 1);
    d.SetValue(LEDCTRL, 1);
    d.SetValue(PRIVACY, 1);
    d.SetValue(STROBECTRL, 1);
    d.SetValue(VGA_FPS, 0);
    d.SetValue(QVGA_FPS, 4);
    ASSERT_EQ(S_OK, Connect());
    ASSERT_EQ(S_OK, Activate());
    ASSERT_NE(nullptr, m_dlg);

    // 30 load requests, then 15 handler calls with one pause after the
    // eighth (FLIP).
    EXPECT_EQ((Log{"SD 300=17", "SD 301=0", "SD 302=5", "SD 12=1", "SD 13=0", "SD 303=1",
                   "SD 304=9", "SD 16=1", "SD 17=0", "SD 29=1", "SD 305=1", "SD 306=0", "SD 307=0",
                   "SD 308=4", "SD 18=1"}),
              Requests(30));
    const Log all = Requests();
    EXPECT_EQ(FullLoad(), Log(all.begin(), all.begin() + 30));
    EXPECT_EQ(45, LogCount());
    ASSERT_EQ(1u, g_pauses.size());
    EXPECT_EQ(38, g_pauses[0].position);
    EXPECT_EQ(10u, g_pauses[0].milliseconds);

    // Every request is a record of its own: only its own fields are set.
    for (LONG i = 0; i < 30; ++i) {
        const SimRequest &r = Request(i);
        EXPECT_EQ(0u, r.isSet);
        EXPECT_EQ(16u, r.instanceLength);
        EXPECT_EQ(16u, r.dataLength);
        EXPECT_EQ(1u, r.sameBuffer);
        EXPECT_EQ(static_cast<ULONG>(i % 2 ? GET_DATA : GET_ENABLE), r.Kind());
        EXPECT_EQ(0, r.Word(2));
        EXPECT_EQ(0, r.Word(3));
    }
    const BYTE aGain17[16] = {0x2C, 0x01, 0, 0, 1, 0, 0, 0, 17, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, memcmp(aGain17, Request(30).block, 16));
    EXPECT_EQ(0u, Request(30).instanceLength);
    EXPECT_EQ(16u, Request(30).dataLength);

    // What the user sees.
    EXPECT_EQ("1..32 @17 2.0000", Trackbar(IDC_AGAIN_TRACKBAR));
    EXPECT_EQ("4..32 @5 1.25", Trackbar(IDC_DGAIN_TRACKBAR));
    EXPECT_EQ("-5..3330 @1 0.1 msec", Trackbar(IDC_EXPOSURE_TRACKBAR));
    for (int id : {IDC_AGAIN_TRACKBAR, IDC_DGAIN_TRACKBAR, IDC_EXPOSURE_TRACKBAR})
        EXPECT_EQ(1, SendMessageW(Item(id), TBM_GETPAGESIZE, 0, 0)) << id;
    EXPECT_EQ("001101110", Checks());
    EXPECT_EQ((Log{"1/10000( 100usec )", "1/5000( 200usec )", "1/2000( 500usec )",
                   "1/1000( 1msec )", "1/500( 2msec )", "1/200( 5msec )", "1/100( 10msec )",
                   "1/50( 20msec )", "1/20( 50msec )", "1/10( 100msec )"}),
              ShutterEntries());
    EXPECT_EQ(9, ShutterSelection());
    EXPECT_EQ((std::vector<int>{IDC_VGA_60FPS, IDC_QVGA_15FPS}), CheckedRadios());

    // Manual gain, manual exposure from the shutter list.
    EXPECT_EQ("1110011", Enables());
    for (int id : {IDC_DGAIN_TRACKBAR, IDC_DGAIN_TEXT, IDC_FLIP, IDC_DEFAULT, IDC_VGA_15FPS})
        EXPECT_TRUE(Enabled(id)) << id;
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(PageTest, AutomaticExposureDisablesTheExposureControls)
{
    // The factory state with the shutter list chosen: AEC on wins.
    Driver().SetValue(EXPOSURE2CTRL, 1);
    ASSERT_EQ(S_OK, Connect());
    ASSERT_EQ(S_OK, Activate());
    EXPECT_EQ("1.0000", Text(IDC_AGAIN_TEXT));
    EXPECT_EQ("1.00", Text(IDC_DGAIN_TEXT));
    EXPECT_EQ("28.4 msec", Text(IDC_EXPOSURE_TEXT));
    EXPECT_EQ(6, ShutterSelection());
    EXPECT_EQ("111000000", Checks());
    EXPECT_EQ("0010000", Enables());

    // Exposure "Auto" off: only AEC is sent, the states follow.
    ClearLog();
    Click(IDC_EXPOSURE_AUTO);
    EXPECT_EQ((Log{"SD 13=0"}), Requests());
    EXPECT_EQ("0010011", Enables());
    Click(IDC_EXPOSURE_AUTO);
    EXPECT_EQ((Log{"SD 13=0", "SD 13=1"}), Requests());
    EXPECT_EQ("0010000", Enables());
}

TEST_F(PageTest, AbsentControlIsNeitherReadNorDrivenButStillWorks)
{
    Driver().SetPresent(D_GAIN, false);
    Driver().SetPresent(FLIP, false);
    Driver().SetPresent(VGA_FPS, false);
    const Log apply = ApplyAll(Driver());
    ASSERT_EQ(S_OK, Connect());
    ASSERT_EQ(S_OK, Activate());

    Log expected;
    for (ULONG id : CameraControlIds) {
        expected.push_back("GE " + std::to_string(id));
        if (id != D_GAIN && id != FLIP && id != VGA_FPS)
            expected.push_back("GD " + std::to_string(id));
    }
    for (const std::string &r : apply)
        if (r.rfind("SD 302=", 0) && r.rfind("SD 16=", 0) && r.rfind("SD 307=", 0))
            expected.push_back(r);
    EXPECT_EQ(expected, Requests());
    // Twelve handler calls: the eighth is LEDCTRL's.
    ASSERT_EQ(1u, g_pauses.size());
    EXPECT_EQ(27 + 8, g_pauses[0].position);
    EXPECT_EQ("SD 29=0", Describe(Request(g_pauses[0].position - 1)));

    // The template's state, the range from the camera's reply.
    EXPECT_EQ("4..32 @4 0", Trackbar(IDC_DGAIN_TRACKBAR));  // 0 lies below the range
    EXPECT_FALSE(Checked(IDC_FLIP));
    EXPECT_EQ((std::vector<int>{IDC_QVGA_25FPS}), CheckedRadios());

    // The user can still operate them.
    ClearLog();
    Scroll(IDC_DGAIN_TRACKBAR, 9, TB_THUMBTRACK);
    Click(IDC_FLIP);
    Click(IDC_VGA_50FPS);
    EXPECT_EQ((Log{"SD 302=9", "SD 16=1", "SD 307=1"}), Requests());
    EXPECT_EQ("2.25", Text(IDC_DGAIN_TEXT));
    EXPECT_EQ((std::vector<int>{IDC_VGA_50FPS, IDC_QVGA_25FPS}), CheckedRadios());
}

TEST_F(PageTest, LoadFailuresAreReportedAndLoadingGoesOn)
{
    Driver().AddFault(VALUE10H, A_GAIN, GET_ENABLE, kFail);
    Driver().AddFault(VALUE10H, EXPOSURE, GET_DATA, kGenFailure);
    Driver().AddFault(VALUE10H, FLIP, GET_DATA, kFail);
    Driver().AddFault(VALUE10H, VGA_FPS, GET_DATA, kAccessDenied);
    Driver().SetValue(FLIP, 1);
    Log apply = ApplyAll(Driver());
    ASSERT_EQ(S_OK, Connect());
    ASSERT_EQ(S_OK, Activate());

    EXPECT_EQ((Log{"Failed to get enable A_GAIN. Error 0x80004005.",
                   "Failed to get data EXPOSURE to 0. Error 0x8007001F.",
                   "Failed to get data FLIP. Error 0x80004005.",
                   "Failed to get data VGA_FPS to 0. Error 0x80070005."}),
              BoxTexts());

    // A_GAIN: no value read, not driven. EXPOSURE, FLIP and VGA_FPS: driven
    // with what their slots held (nothing read yet: 0).
    Log load = FullLoad();
    load.erase(load.begin() + 1);  // GD 300
    apply.erase(apply.begin());    // SD 300
    apply[2] = "SD 12=0";
    apply[6] = "SD 16=0";
    apply[11] = "SD 307=0";
    EXPECT_EQ(Concat(load, apply), Requests());
    EXPECT_TRUE(m_setting->IsActive());
    EXPECT_EQ("0..0 @0 0", Trackbar(IDC_AGAIN_TRACKBAR));
    EXPECT_EQ("0.0 msec", Text(IDC_EXPOSURE_TEXT));
    EXPECT_FALSE(Checked(IDC_FLIP));

    // Next showings: the value message names what the slot held before, and
    // a setting usable last time whose GET_ENABLE now fails is not driven.
    ASSERT_EQ(S_OK, Deactivate());
    Driver().ClearFaults();
    Driver().SetValue(EXPOSURE, 284);
    ASSERT_EQ(S_OK, Activate());
    ASSERT_EQ(S_OK, Deactivate());
    Driver().SetValue(EXPOSURE, 500);
    Driver().AddFault(VALUE10H, EXPOSURE, GET_DATA, kGenFailure);
    Driver().AddFault(VALUE10H, FLIP, GET_ENABLE, kFail);
    ClearLog();
    ASSERT_EQ(S_OK, Activate());
    EXPECT_EQ((Log{"Failed to get data EXPOSURE to 284. Error 0x8007001F.",
                   "Failed to get enable FLIP. Error 0x80004005."}),
              BoxTexts());
    const Log third = Requests();
    EXPECT_EQ("SD 12=284", third[29 + 3]);
    EXPECT_EQ("28.4 msec", Text(IDC_EXPOSURE_TEXT));
    EXPECT_EQ(0, std::count_if(third.begin(), third.end(), [](const std::string &r) {
                  return r == "GD 16" || r.rfind("SD 16=", 0) == 0;
              }));
}

TEST_F(PageTest, SetFailuresDuringTheInitialApplyGoOn)
{
    Driver().SetRange(A_GAIN, -8, 32);
    Driver().SetValue(A_GAIN, -3);
    Driver().AddFault(VALUE10H, A_GAIN, SET_DATA, kFail);
    Driver().AddFault(VALUE10H, QVGA_FPS, SET_DATA, kAccessDenied);
    ASSERT_EQ(S_OK, Connect());
    ASSERT_EQ(S_OK, Activate());
    EXPECT_EQ((Log{"Failed to set data A_GAIN to -3. Error 0x80004005.",
                   "Failed to set data QVGA_FPS to 3. Error 0x80070005."}),
              BoxTexts());
    EXPECT_EQ(45, LogCount());
    EXPECT_EQ("-8..32 @-3 0.7500", Trackbar(IDC_AGAIN_TRACKBAR));
    EXPECT_TRUE(m_setting->IsActive());
}

TEST_F(PageTest, ValuesOutsideTheListsShowNothingAndAreSent)
{
    Driver().SetValue(EXPOSURE2VAL, 12);
    Driver().SetValue(VGA_FPS, 7);
    Driver().SetValue(QVGA_FPS, -1);
    ASSERT_EQ(S_OK, Connect());
    ASSERT_EQ(S_OK, Activate());
    EXPECT_EQ(CB_ERR, ShutterSelection());
    EXPECT_TRUE(CheckedRadios().empty());
    const Log r = Requests();
    EXPECT_NE(r.end(), std::find(r.begin(), r.end(), "SD 304=12"));
    EXPECT_NE(r.end(), std::find(r.begin(), r.end(), "SD 307=7"));
    EXPECT_NE(r.end(), std::find(r.begin(), r.end(), "SD 308=-1"));
    ASSERT_EQ(S_OK, Deactivate());

    Driver().SetValue(EXPOSURE2VAL, -2);
    Driver().SetValue(VGA_FPS, 5);
    ASSERT_EQ(S_OK, Activate());
    EXPECT_EQ(CB_ERR, ShutterSelection());
    EXPECT_EQ(10u, ShutterEntries().size());
    EXPECT_TRUE(CheckedRadios().empty());
}

// --- The Default button -------------------------------------------------------

TEST_F(PageTest, DefaultWritesTheFactoryDefaults)
{
    SimDriver &d = Driver();
    d.SetValue(A_GAIN, 20);
    d.SetValue(A_AUTOGAIN, 0);
    d.SetValue(D_GAIN, 10);
    d.SetValue(EXPOSURE, 100);
    d.SetValue(AEC, 0);
    d.SetValue(EXPOSURE2CTRL, 1);
    d.SetValue(EXPOSURE2VAL, 2);
    d.SetValue(MIRROR, 1);
    d.SetPresent(MIRROR, false);
    d.SetValue(LEDCTRL, 1);
    d.SetValue(PRIVACY, 1);
    d.SetValue(STROBECTRL, 1);
    d.SetValue(STROBEINVERT, 1);
    d.SetValue(VGA_FPS, 0);
    d.SetValue(QVGA_FPS, 1);
    ASSERT_NO_FATAL_FAILURE(Show());

    Click(IDC_DEFAULT);
    // The camera library's Default sequence is the reference: every
    // SET_ENABLE with the factory default, then every SET_DATA of it, with
    // a pause after the marked controls.
    Log expected;
    std::vector<LONG> pausesAt;
    for (const VireoDefaultStep &s : VireoDefaultSequence)
        expected.push_back("SE " + std::to_string(s.controlId) + "=" +
                           std::to_string(CameraControlFactoryDefault(s.controlId)));
    for (const VireoDefaultStep &s : VireoDefaultSequence) {
        expected.push_back("SD " + std::to_string(s.controlId) + "=" +
                           std::to_string(CameraControlFactoryDefault(s.controlId)));
        if (s.pauseAfter)
            pausesAt.push_back(static_cast<LONG>(expected.size()));
    }
    EXPECT_EQ(expected, Requests());
    ASSERT_EQ(3u, g_pauses.size());  // after A_GAIN, D_GAIN and AEC
    for (size_t i = 0; i < g_pauses.size(); ++i) {
        EXPECT_EQ(pausesAt[i], g_pauses[i].position);
        EXPECT_EQ(static_cast<DWORD>(VIREO_DEFAULT_PAUSE_MS), g_pauses[i].milliseconds);
    }

    const SimRequest &first = Request(0);
    EXPECT_EQ(1u, first.isSet);
    EXPECT_EQ(static_cast<ULONG>(VALUE20H), first.property);
    EXPECT_EQ(32u, first.dataLength);
    EXPECT_EQ(0u, first.instanceLength);
    const BYTE firstBlock[32] = {0x2C, 0x01, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(0, memcmp(firstBlock, first.block, 32));
    EXPECT_EQ(1, d.Control(MIRROR)->enable);  // the absent control got its SET_ENABLE

    EXPECT_EQ("1..32 @1 1.0000", Trackbar(IDC_AGAIN_TRACKBAR));
    EXPECT_EQ("4..32 @4 1.00", Trackbar(IDC_DGAIN_TRACKBAR));
    EXPECT_EQ("1..3330 @284 28.4 msec", Trackbar(IDC_EXPOSURE_TRACKBAR));
    EXPECT_EQ("110000000", Checks());
    EXPECT_EQ(6, ShutterSelection());
    EXPECT_EQ((std::vector<int>{IDC_VGA_25FPS, IDC_QVGA_25FPS}), CheckedRadios());
    EXPECT_EQ("0010000", Enables());
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(PageTest, DefaultWritesValuesEvenWhenEverySetEnableFails)
{
    ASSERT_EQ(S_OK, Connect());
    ASSERT_EQ(S_OK, Activate());
    Driver().SetValue(A_GAIN, 30);
    Driver().AddFault(VALUE20H, VIREO_SIM_ANY, VIREO_SIM_ANY, kAccessDenied);
    ClearLog();
    Click(IDC_DEFAULT);
    const char *names[] = {"A_GAIN",        "A_AUTOGAIN",   "D_GAIN",       "EXPOSURE", "AEC",
                           "EXPOSURE2CTRL", "EXPOSURE2VAL", "FLIP",         "MIRROR",   "LEDCTRL",
                           "PRIVACY",       "STROBECTRL",   "STROBEINVERT", "VGA_FPS",  "QVGA_FPS"};
    Log expected;
    for (const char *name : names)
        expected.push_back(std::string("Failed to get enable ") + name + ". Error 0x80070005.");
    EXPECT_EQ(expected, BoxTexts());
    EXPECT_EQ(30, LogCount());
    for (LONG i = 0; i < 15; ++i)
        EXPECT_EQ(kAccessDenied, Request(i).result);
    EXPECT_EQ((Log{"SD 300=1", "SD 301=1", "SD 302=4", "SD 12=284", "SD 13=1", "SD 303=0",
                   "SD 304=6", "SD 16=0", "SD 17=0", "SD 29=0", "SD 18=0", "SD 305=0", "SD 306=0",
                   "SD 307=3", "SD 308=3"}),
              Requests(15));
    EXPECT_EQ(1, Driver().Value(A_GAIN));
    EXPECT_EQ("1.0000", Text(IDC_AGAIN_TEXT));
}

// --- The user's actions ---------------------------------------------------------

TEST_F(PageTest, ScrollCodesActedOnAndIgnored)
{
    Driver().SetValue(AEC, 0);
    ASSERT_NO_FATAL_FAILURE(Show());

    const WORD acted[] = {TB_LINEUP,     TB_LINEDOWN, TB_PAGEUP, TB_PAGEDOWN,
                          TB_THUMBTRACK, TB_TOP,      TB_BOTTOM};
    Log expected;
    for (WORD code : acted) {
        const LONG position = 100 + code;
        Scroll(IDC_EXPOSURE_TRACKBAR, position, code);
        expected.push_back("SD 12=" + std::to_string(position));
        EXPECT_EQ(expected, Requests()) << "code " << code;
    }
    EXPECT_EQ("10.7 msec", Text(IDC_EXPOSURE_TEXT));

    // The end of a drag, and codes the trackbar never sends: nothing.
    for (WORD code : {static_cast<WORD>(TB_THUMBPOSITION), static_cast<WORD>(TB_ENDTRACK),
                      static_cast<WORD>(9), static_cast<WORD>(0xFFFF)}) {
        Scroll(IDC_EXPOSURE_TRACKBAR, 999, code);
        EXPECT_EQ(expected, Requests()) << "code " << code;
        EXPECT_EQ("10.7 msec", Text(IDC_EXPOSURE_TEXT));
    }
    // A scroll from something that is none of the three trackbars.
    SendMessageW(m_dlg, WM_HSCROLL, TB_THUMBTRACK,
                 reinterpret_cast<LPARAM>(Item(IDC_SHUTTER_LIST)));
    SendMessageW(m_dlg, WM_HSCROLL, TB_THUMBTRACK, 0);
    EXPECT_EQ(expected, Requests());

    // The other two trackbars and their value texts.
    ClearLog();
    Scroll(IDC_AGAIN_TRACKBAR, 16, TB_THUMBTRACK);
    EXPECT_EQ("1.9375", Text(IDC_AGAIN_TEXT));
    Scroll(IDC_AGAIN_TRACKBAR, 17, TB_LINEDOWN);
    EXPECT_EQ("2.0000", Text(IDC_AGAIN_TEXT));
    Scroll(IDC_AGAIN_TRACKBAR, 32, TB_BOTTOM);
    EXPECT_EQ("3.8750", Text(IDC_AGAIN_TEXT));
    Scroll(IDC_DGAIN_TRACKBAR, 5, TB_PAGEDOWN);
    EXPECT_EQ("1.25", Text(IDC_DGAIN_TEXT));
    Scroll(IDC_EXPOSURE_TRACKBAR, 1, TB_TOP);
    EXPECT_EQ("0.1 msec", Text(IDC_EXPOSURE_TEXT));
    EXPECT_EQ((Log{"SD 300=16", "SD 300=17", "SD 300=32", "SD 302=5", "SD 12=1"}), Requests());
}

TEST_F(PageTest, KeyboardOnATrackbarSendsEachStep)
{
    Driver().SetValue(A_AUTOGAIN, 0);
    Driver().SetValue(A_GAIN, 10);
    ASSERT_NO_FATAL_FAILURE(Show());
    HWND trackbar = Item(IDC_AGAIN_TRACKBAR);
    SendMessageW(trackbar, WM_KEYDOWN, VK_RIGHT, 0);
    SendMessageW(trackbar, WM_KEYUP, VK_RIGHT, 0);  // TB_ENDTRACK: nothing more
    SendMessageW(trackbar, WM_KEYDOWN, VK_END, 0);
    SendMessageW(trackbar, WM_KEYUP, VK_END, 0);
    EXPECT_EQ((Log{"SD 300=11", "SD 300=32"}), Requests());
    EXPECT_EQ("3.8750", Text(IDC_AGAIN_TEXT));
}

TEST_F(PageTest, SetFailureOfAHandlerKeepsTheNewValue)
{
    Driver().SetValue(AEC, 0);
    ASSERT_NO_FATAL_FAILURE(Show());
    Driver().AddFault(VALUE10H, EXPOSURE, SET_DATA, kGenFailure, 1);
    Scroll(IDC_EXPOSURE_TRACKBAR, 77, TB_THUMBTRACK);
    EXPECT_EQ((Log{"Failed to set data EXPOSURE to 77. Error 0x8007001F."}), BoxTexts());
    EXPECT_EQ("7.7 msec", Text(IDC_EXPOSURE_TEXT));
    EXPECT_EQ(284, Driver().Value(EXPOSURE));
    // Unchecking "Exposure2 enable" sends the exposure the page holds.
    Click(IDC_EXPOSURE2_ENABLE);
    Click(IDC_EXPOSURE2_ENABLE);
    EXPECT_EQ((Log{"SD 12=77", "SD 303=1", "SD 304=6", "SD 303=0", "SD 12=77"}), Requests());
    EXPECT_EQ(77, Driver().Value(EXPOSURE));

    Driver().AddFault(VALUE10H, FLIP, SET_DATA, kFail, 1);
    Click(IDC_FLIP);
    EXPECT_TRUE(Checked(IDC_FLIP));
    EXPECT_EQ("Failed to set data FLIP to 1. Error 0x80004005.", BoxTexts().back());
}

TEST_F(PageTest, AutoGainSwitchesTheTrackbar)
{
    Driver().SetValue(A_GAIN, 9);
    ASSERT_EQ(S_OK, Connect());
    ASSERT_EQ(S_OK, Activate());
    EXPECT_TRUE(Checked(IDC_AGAIN_AUTO));
    EXPECT_EQ("0010000", Enables());
    EXPECT_EQ(9, TrackbarPos(IDC_AGAIN_TRACKBAR));
    SendMessageW(Item(IDC_AGAIN_TRACKBAR), TBM_SETPOS, TRUE, 3);  // thumb moved, nothing sent
    ClearLog();

    // Off: A_AUTOGAIN 0, then the stored gain, shown on the trackbar again.
    Click(IDC_AGAIN_AUTO);
    EXPECT_EQ((Log{"SD 301=0", "SD 300=9"}), Requests());
    EXPECT_FALSE(Checked(IDC_AGAIN_AUTO));
    EXPECT_EQ("1110000", Enables());
    EXPECT_EQ("1..32 @9 1.5000", Trackbar(IDC_AGAIN_TRACKBAR));

    // On: only A_AUTOGAIN 1.
    ClearLog();
    Click(IDC_AGAIN_AUTO);
    EXPECT_EQ((Log{"SD 301=1"}), Requests());
    EXPECT_EQ("0010000", Enables());

    // A failed A_AUTOGAIN still sends the gain.
    ClearLog();
    Driver().AddFault(VALUE10H, A_AUTOGAIN, SET_DATA, kFail, 1);
    Click(IDC_AGAIN_AUTO);
    EXPECT_EQ((Log{"Failed to set data A_AUTOGAIN to 0. Error 0x80004005."}), BoxTexts());
    EXPECT_EQ((Log{"SD 301=0", "SD 300=9"}), Requests());
    EXPECT_TRUE(Enabled(IDC_AGAIN_TRACKBAR));
}

TEST_F(PageTest, Exposure2EnableChoosesTheExposureSource)
{
    Driver().SetValue(AEC, 0);
    Driver().SetValue(EXPOSURE, 150);
    Driver().SetValue(EXPOSURE2VAL, 4);
    ASSERT_EQ(S_OK, Connect());
    ASSERT_EQ(S_OK, Activate());
    EXPECT_EQ("0011110", Enables());
    ClearLog();

    Click(IDC_EXPOSURE2_ENABLE);
    EXPECT_EQ((Log{"SD 303=1", "SD 304=4"}), Requests());
    EXPECT_EQ("0010011", Enables());

    ClearLog();
    Click(IDC_EXPOSURE2_ENABLE);
    EXPECT_EQ((Log{"SD 303=0", "SD 12=150"}), Requests());
    EXPECT_EQ("0011110", Enables());

    // With AEC on only EXPOSURE2CTRL goes out, and every exposure control
    // is disabled whatever it holds.
    ClearLog();
    Click(IDC_EXPOSURE_AUTO);
    CheckDlgButton(m_dlg, IDC_EXPOSURE2_ENABLE, BST_CHECKED);
    SendCommand(IDC_EXPOSURE2_ENABLE, BN_CLICKED, Item(IDC_EXPOSURE2_ENABLE));
    EXPECT_EQ((Log{"SD 13=1", "SD 303=1"}), Requests());
    EXPECT_EQ("0010000", Enables());
}

TEST_F(PageTest, CheckBoxesRadioButtonsAndShutterListSendWhatTheyShow)
{
    Driver().SetValue(AEC, 0);
    Driver().SetValue(EXPOSURE2CTRL, 1);
    ASSERT_NO_FATAL_FAILURE(Show());
    Log expected;
    const struct {
        int control;
        ULONG id;
    } boxes[] = {{IDC_FLIP, FLIP},
                 {IDC_MIRROR, MIRROR},
                 {IDC_LED, LEDCTRL},
                 {IDC_PRIVACY, PRIVACY},
                 {IDC_STROBE_ENABLE, STROBECTRL},
                 {IDC_STROBE_INVERT, STROBEINVERT}};
    for (const auto &b : boxes) {
        Click(b.control);
        EXPECT_TRUE(Checked(b.control));
        EXPECT_EQ(1, Driver().Value(b.id));
        Click(b.control);
        EXPECT_FALSE(Checked(b.control));
        expected.push_back("SD " + std::to_string(b.id) + "=1");
        expected.push_back("SD " + std::to_string(b.id) + "=0");
    }
    // Each row of radio buttons sends the index clicked, also when it was
    // already checked.
    for (int i : {0, 1, 2, 3, 4, 4}) {
        Click(IDC_VGA_60FPS + i);
        Click(IDC_QVGA_60FPS + 4 - i);
        expected.push_back("SD 307=" + std::to_string(i));
        expected.push_back("SD 308=" + std::to_string(4 - i));
        EXPECT_EQ((std::vector<int>{IDC_VGA_60FPS + i, IDC_QVGA_60FPS + 4 - i}), CheckedRadios());
    }
    SelectShutter(0);
    SelectShutter(9);
    expected.push_back("SD 304=0");
    expected.push_back("SD 304=9");
    // Nothing for ids without a row of the click table, other notifications
    // and a selection change that is not the shutter list's.
    for (int id : {236, 250, 252, 270, 273, 284, 1, 2})
        SendCommand(id, BN_CLICKED, NULL);
    SendCommand(IDC_FLIP, BN_SETFOCUS, Item(IDC_FLIP));
    SendCommand(IDC_SHUTTER_LIST, CBN_SELCHANGE, Item(IDC_FLIP));
    SendCommand(IDC_SHUTTER_LIST, CBN_DROPDOWN, Item(IDC_SHUTTER_LIST));
    SendCommand(IDC_FLIP, CBN_SELCHANGE, Item(IDC_FLIP));
    EXPECT_EQ(expected, Requests());
}
