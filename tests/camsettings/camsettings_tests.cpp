// camsettings.exe, the kit's "Camera Settings" launcher, as a user meets it: started on the simulated camera, its
// property frame found among the process's windows, a check box of the
// "Camera Setting" page clicked, the frame closed with its OK button. The
// test watches the camera through its control path and through a capture
// graph of its own.
#include "simcam_test.h"

#include <commctrl.h>

#include <algorithm>

#include "policy_keys.h"
#include "resource.h"

namespace {

const DWORD kGuardMs = 30000;  // against a hang, not a timing check

// camsettings.exe started with its arguments.
bool StartLauncher(wintest::ProgramRun &run, const std::wstring &arguments)
{
    return run.Start(L"\"" + wintest::BinDir() + L"camsettings.exe\" " + arguments);
}

// Runs the launcher with the arguments to its end; the exit status (-2 when it
// did not end by itself: it waits for a user).
int RunToEnd(const std::wstring &arguments, std::string *out, std::string *err)
{
    wintest::ProgramRun run;
    if (!StartLauncher(run, arguments))
        return -1;
    const int status = run.WaitExit(kGuardMs);
    *out = run.Output();
    *err = run.Errors();
    return status;
}

std::wstring WindowText(HWND window)
{
    WCHAR text[256] = {0};
    GetWindowTextW(window, text, 256);
    return text;
}

// Display row y (0 at the top) of a bottom-up 24-bit frame is the camera's
// grey ramp: grey pixels rising from black on the left to light on the right.
bool IsGreyRamp(const std::vector<BYTE> &frame, LONG width, LONG height, LONG y)
{
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
    const BYTE *row = frame.data() + static_cast<size_t>(height - 1 - y) * stride;
    for (LONG x = 0; x < width; ++x) {
        const BYTE *p = row + 3 * x;
        if (p[0] != p[1] || p[1] != p[2])
            return false;
        if (x > 0 && p[0] < p[-3])
            return false;
    }
    return row[0] < 16 && row[3 * (width - 1)] > row[0] + 64;
}

// The camera streaming into a sample grabber of this process, the way a
// viewer runs it (the grabber keeps the newest frame).
class PictureGraph : public ViewerGraph {
public:
    static const LONG kWidth = 320, kHeight = 240;
    ~PictureGraph()
    {
        if (control)
            control->Stop();
        Teardown();
    }
    void Run()
    {
        ASSERT_NO_FATAL_FAILURE(Build(kWidth, kHeight));
        ASSERT_TRUE(SUCCEEDED(rendered)) << std::hex << rendered;
        ASSERT_EQ(S_OK, grabber->SetBufferSamples(TRUE));
        ASSERT_TRUE(SUCCEEDED(control->Run()));
    }
    // Waits for a frame whose orientation is the one asked for: upright, the
    // grey ramp is the bottom row; flipped, it is the top row.
    bool WaitForOrientation(bool flipped)
    {
        return wintest::WaitUntil([&] {
            std::vector<BYTE> f(kWidth * 3 * kHeight);
            long size = static_cast<long>(f.size());
            return grabber->GetCurrentBuffer(&size, reinterpret_cast<long *>(f.data())) == S_OK &&
                   size == static_cast<long>(f.size()) &&
                   IsGreyRamp(f, kWidth, kHeight, 0) == flipped &&
                   IsGreyRamp(f, kWidth, kHeight, kHeight - 1) == !flipped;
        });
    }
};

// The simulated camera (registered by the base) and the extension
// registered for one test; each is unregistered again unless the test did it.
class Camsettings : public SimCamExtensionTest {};

TEST_F(Camsettings, FlipOnThePageTurnsThePictureAndOkEndsTheProgram)
{
    PictureGraph graph;
    ASSERT_NO_FATAL_FAILURE(graph.Run());
    ASSERT_TRUE(graph.WaitForOrientation(false));

    wintest::ProgramRun run;
    ASSERT_TRUE(StartLauncher(run, L"\"" SIMCAM_FRIENDLY_NAME L"\""));
    wintest::WindowWithControl found = {NULL, NULL};
    ASSERT_TRUE(wintest::WaitUntil([&] {
        found = wintest::FindWindowWithControl(run.ProcessId(), IDC_FLIP);
        return found.topLevel != NULL || !run.Running();
    }));
    ASSERT_TRUE(found.topLevel != NULL) << run.Errors();
    EXPECT_NE(std::wstring::npos, WindowText(found.topLevel).find(SIMCAM_FRIENDLY_NAME));
    EXPECT_EQ(std::wstring(L"FLIP"), WindowText(found.control));
    EXPECT_EQ(BST_UNCHECKED, SendMessageW(found.control, BM_GETCHECK, 0, 0));
    ASSERT_EQ(0, m_cam.Value(FLIP));

    // A click on FLIP goes to the camera at once.
    const LONG before = m_cam.LogCount();
    DWORD_PTR ignored = 0;
    ASSERT_TRUE(
        SendMessageTimeoutW(found.control, BM_CLICK, 0, 0, SMTO_NORMAL, kGuardMs, &ignored));
    EXPECT_EQ(BST_CHECKED, SendMessageW(found.control, BM_GETCHECK, 0, 0));
    EXPECT_EQ(1, m_cam.Value(FLIP));
    std::vector<SimRequest> log = m_cam.Log();
    const LONG after = m_cam.LogCount();
    ASSERT_EQ(after, static_cast<LONG>(log.size()));  // the ring has not wrapped
    int flipSets = 0;
    for (LONG i = before; i < after; ++i) {
        const SimRequest &rq = log[static_cast<size_t>(i)];
        if (rq.isSet && rq.property == VALUE10H && rq.ControlId() == FLIP &&
            rq.Kind() == SET_DATA) {
            ++flipSets;
            EXPECT_EQ(1, rq.Value());
            EXPECT_EQ(16u, rq.dataLength);
            EXPECT_EQ(S_OK, rq.result);
        }
    }
    EXPECT_EQ(1, flipSets);

    // The camera's picture, seen in this process's graph, turns upside down.
    EXPECT_TRUE(graph.WaitForOrientation(true));

    // OK closes the frame; the program releases the camera and ends with 0.
    HWND ok = GetDlgItem(found.topLevel, IDOK);
    ASSERT_TRUE(ok != NULL);
    ASSERT_TRUE(PostMessageW(ok, BM_CLICK, 0, 0));
    EXPECT_EQ(0, run.WaitExit(kGuardMs));
    EXPECT_EQ("", run.Errors());
    EXPECT_EQ(1, m_cam.Value(FLIP));  // the page rolls nothing back
    int released = 0;
    for (const SimEvent &e : m_cam.Events())
        released += e.kind == SIM_EVENT_RELEASE && e.processId == run.ProcessId();
    EXPECT_EQ(1, released);
    EXPECT_EQ(1, m_cam.FiltersAlive());  // the graph's
}

// Each refusal ends the program at once with its status and one line on the
// error stream; none opens a window that would wait for a user.
TEST_F(Camsettings, RefusalsEndAtOnceWithAStatusAndAMessage)
{
    std::string out, err;
    EXPECT_EQ(0, RunToEnd(L"--help", &out, &err));
    EXPECT_EQ(0u, out.find("usage: camsettings [device-name | device-id]"));
    EXPECT_EQ(1, RunToEnd(L"one two", &out, &err));
    EXPECT_EQ(0u, err.find("usage: camsettings"));

    EXPECT_EQ(3, RunToEnd(L"\"No Such Camera\"", &out, &err));
    EXPECT_EQ("camsettings: no video input device named \"No Such Camera\"\r\n", err);
    EXPECT_EQ("", out);
    // A name matches whole, not as a prefix.
    EXPECT_EQ(3, RunToEnd(L"\"Vireo Simulated\"", &out, &err));

    // The camera without the extension lists no page.
    ASSERT_TRUE(wintest::RegisterModule(L"vireoprop.ax", true));
    m_extension = false;
    EXPECT_EQ(5, RunToEnd(L"", &out, &err));
    EXPECT_EQ(
        "camsettings: the device \"Vireo Simulated Camera\" offers no \"Camera Setting\" page "
        "(is the camera kit installed?)\r\n",
        err);
    EXPECT_EQ(0, m_cam.FiltersAlive());  // the filter it bound was released

    ASSERT_TRUE(wintest::RegisterModule(L"simcam.ax", true));
    m_registered = false;
    EXPECT_EQ(2, RunToEnd(L"", &out, &err));
    EXPECT_EQ("camsettings: no camera found: no video input device is connected\r\n", err);
}

// Two cameras of one model: a message names the one meant as a person is
// shown it, the later by id as "Vireo Simulated Camera (2)".
TEST_F(Camsettings, ATwinIsNamedAsItIsShown)
{
    ASSERT_EQ(1, m_cam.AddDevice(SIMCAM_FRIENDLY_NAME));
    ASSERT_TRUE(wintest::RegisterModule(L"vireoprop.ax", true));
    m_extension = false;
    std::vector<std::wstring> keys;  // the ids' keys, in the order of the ids
    for (const ListedDevice &d : ListedDevices()) {
        wchar_t key[VIREO_ID_CAPACITY];
        VireoCameraIdKey(d.path.c_str(), key, VIREO_ID_CAPACITY);
        keys.push_back(key);
    }
    ASSERT_EQ(2u, keys.size());
    std::sort(keys.begin(), keys.end());
    const struct {
        std::wstring id;
        std::string shown;
    } cases[] = {{keys[0], "Vireo Simulated Camera"}, {keys[1], "Vireo Simulated Camera (2)"}};
    for (const auto &c : cases) {
        std::string out, err;
        EXPECT_EQ(5, RunToEnd(L"\"" + c.id + L"\"", &out, &err));
        EXPECT_EQ("camsettings: the device \"" + c.shown +
                      "\" offers no \"Camera Setting\" page (is the camera kit installed?)\r\n",
                  err);
    }
}

struct BoxSearch {
    DWORD processId;
    HWND box;
};

// A visible message box of the process.
BOOL CALLBACK FindBox(HWND window, LPARAM param)
{
    BoxSearch *search = reinterpret_cast<BoxSearch *>(param);
    DWORD pid = 0;
    WCHAR cls[16] = {0};
    GetWindowThreadProcessId(window, &pid);
    GetClassNameW(window, cls, 16);
    if (pid == search->processId && IsWindowVisible(window) && lstrcmpW(cls, L"#32770") == 0) {
        search->box = window;
        return FALSE;
    }
    return TRUE;
}

// Started from the Start menu the launcher has no standard streams: the
// refusal is a message box titled "Camera Settings", and closing it ends the
// program with the same status.
TEST_F(Camsettings, WithoutStreamsTheRefusalIsAMessageBox)
{
    ASSERT_TRUE(wintest::RegisterModule(L"simcam.ax", true));
    m_registered = false;

    std::wstring command = L"\"" + wintest::BinDir() + L"camsettings.exe\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(NULL, &command[0], NULL, NULL, FALSE, DETACHED_PROCESS, NULL, NULL,
                               &si, &pi));
    BoxSearch search = {pi.dwProcessId, NULL};
    const bool shown = wintest::WaitUntil([&] {
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
        return search.box != NULL || WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0;
    });
    std::wstring title, text;
    if (search.box) {
        WCHAR buffer[256] = {0};
        GetWindowTextW(search.box, buffer, 256);
        title = buffer;
        GetDlgItemTextW(search.box, 0xFFFF, buffer, 256);
        text = buffer;
        PostMessageW(search.box, WM_COMMAND, IDOK, 0);
    }
    DWORD status = 99;
    if (WaitForSingleObject(pi.hProcess, kGuardMs) != WAIT_OBJECT_0)
        TerminateProcess(pi.hProcess, 99);
    GetExitCodeProcess(pi.hProcess, &status);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    EXPECT_TRUE(shown && search.box != NULL);
    EXPECT_EQ(L"Camera Settings", title);
    EXPECT_EQ(L"camsettings: no camera found: no video input device is connected", text);
    EXPECT_EQ(2u, status);
}

// The page of a camera the organization's policy partly locks, opened through
// the launcher: each locked control at its value and disabled under the
// policy's line, the others as usable as ever.
TEST_F(Camsettings, LockedControlsShowTheirValueDisabled)
{
    PolicyKeys keys;
    ASSERT_TRUE(PolicyKeys::Set(L"Mandatory", L"D_GAIN", 8));
    ASSERT_TRUE(PolicyKeys::Set(L"Mandatory", L"PRIVACY", 1));
    m_cam.SetValue(A_AUTOGAIN, 0);  // every trackbar usable unless locked
    m_cam.SetValue(AEC, 0);
    m_cam.SetValue(FLIP, 1);
    m_cam.SetValue(D_GAIN, 4);
    wintest::ProgramRun run;
    ASSERT_TRUE(StartLauncher(run, L""));
    wintest::WindowWithControl found = {NULL, NULL};
    ASSERT_TRUE(wintest::WaitUntil([&] {
        found = wintest::FindWindowWithControl(run.ProcessId(), IDC_FLIP);
        return found.topLevel != NULL || !run.Running();
    }));
    ASSERT_TRUE(found.topLevel != NULL) << run.Errors();
    const HWND page = GetParent(found.control);

    const struct {
        int control;
        bool enabled;
        LRESULT shown;  // trackbar position or check state; -1: not looked at
    } controls[] = {
        {IDC_DGAIN_TRACKBAR, false, 8}, {IDC_PRIVACY, false, BST_CHECKED},
        {IDC_AGAIN_TRACKBAR, true, 1},  {IDC_EXPOSURE_TRACKBAR, true, 284},
        {IDC_FLIP, true, BST_CHECKED},  {IDC_LED, true, BST_UNCHECKED},
        {IDC_VGA_60FPS, true, -1},      {IDC_DEFAULT, true, -1},
    };
    for (const auto &c : controls) {
        SCOPED_TRACE(c.control);
        const HWND control = GetDlgItem(page, c.control);
        EXPECT_EQ(c.enabled, IsWindowEnabled(control) != FALSE);
        const UINT ask = c.control == IDC_PRIVACY || c.control == IDC_FLIP || c.control == IDC_LED
                             ? BM_GETCHECK
                             : TBM_GETPOS;
        if (c.shown >= 0) {
            EXPECT_EQ(c.shown, SendMessageW(control, ask, 0, 0));
        }
    }
    const HWND note = GetDlgItem(page, IDC_POLICY_NOTE);
    EXPECT_TRUE(note && IsWindowVisible(note));
    EXPECT_EQ(L"Some of these settings are managed by your organization.", WindowText(note));
    EXPECT_EQ(8, m_cam.Value(D_GAIN));  // the page gave the camera the locked value
    EXPECT_EQ(1, m_cam.Value(PRIVACY));

    ASSERT_TRUE(PostMessageW(GetDlgItem(found.topLevel, IDOK), BM_CLICK, 0, 0));
    EXPECT_EQ(0, run.WaitExit(kGuardMs));
}

}  // namespace
