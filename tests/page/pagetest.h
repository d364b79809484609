// pagetest.h - a capture filter of the test's own and a fixture that drives
// the real "Camera Setting" dialog.
#ifndef VIREO_TESTS_PAGETEST_H
#define VIREO_TESTS_PAGETEST_H

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <ocidl.h>
#include <strmif.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "base/module.h"
#include "control/handler.h"
#include "page/settingpage.h"
#include "resources/resource.h"
#include "fakes.h"
#include "simcontrol.h"
#include "wintest.h"

// The capture filter of the page tests: the simulated driver behind
// IKsPropertySet and, unless told otherwise, the real interface handler
// aggregated into it (as the kernel-streaming proxy does).
class TestFilter : public FakeFilter {
public:
    explicit TestFilter(bool aggregateHandler = true);
    SimDriver &Driver() { return m_driver; }

private:
    std::unique_ptr<SimDriverState> m_state;
    SimDriver m_driver;
};

// One request as the driver saw it, in a form that reads well in a failure:
// "GE 300" GET_ENABLE, "GD 300" GET_DATA, "SD 300=5" SET_DATA,
// "SE 300=1" SET_ENABLE with its default; anything else "?".
std::string Describe(const SimRequest &r);

// Records the page's pauses: the driver's log count when each came.
struct Pause {
    LONG position;
    DWORD milliseconds;
};
extern std::vector<Pause> g_pauses;

class PageTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Page object life.
    void CreatePage();
    HRESULT Connect();
    HRESULT Activate();
    HRESULT Deactivate();
    void ReleasePage();
    // Connected and shown, the load's requests cleared: where the user's
    // actions start.
    void Show();

    SimDriver &Driver() { return m_filter->Driver(); }
    // Requests received since the last call of ClearLog, described.
    std::vector<std::string> Requests(LONG from = 0);
    const SimRequest &Request(LONG index);
    void ClearLog();
    LONG LogCount() { return Driver().LogCount(); }
    // The request list a load of these fifteen controls sends when every
    // control is present.
    static std::vector<std::string> FullLoad();

    // The user's actions.
    void Scroll(int trackbarId, LONG position, WORD code);
    void Click(int controlId);
    void SelectShutter(LONG index);
    void SendCommand(int controlId, WORD code, HWND control);

    // What the user sees.
    HWND Item(int id) const { return GetDlgItem(m_dlg, id); }
    LONG TrackbarPos(int id) const;
    // "min..max @pos text": a trackbar and its value text.
    std::string Trackbar(int id) const;
    std::string Text(int id) const;
    bool Checked(int id) const { return IsDlgButtonChecked(m_dlg, id) == BST_CHECKED; }
    bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
    // One '1' or '0' per control. Checks: the check boxes in this order
    // (gain auto, exposure auto, exposure2 enable, flip, mirror, LED,
    // privacy, strobe, strobe invert). Enables: the controls that the gain
    // and exposure modes switch (gain trackbar, gain text, exposure auto,
    // exposure trackbar, exposure text, exposure2 enable, shutter list).
    std::string Checks() const;
    std::string Enables() const;
    LONG ShutterSelection() const;
    std::vector<std::string> ShutterEntries() const;
    std::vector<int> CheckedRadios() const;  // checked buttons of both rows
    std::vector<std::string> BoxTexts() const { return m_boxes->Texts(); }

    std::unique_ptr<TestFilter> m_filter;
    FakePageSite m_site;
    bool m_siteSet = false;
    HWND m_host = NULL;
    HWND m_dlg = NULL;
    CUnknown *m_unknown = NULL;
    IPropertyPage *m_page = NULL;
    CameraSettingPage *m_setting = NULL;
    std::unique_ptr<wintest::MessageBoxCatcher> m_boxes;
    LONG m_objectsBefore = 0;
};

#endif  // VIREO_TESTS_PAGETEST_H
