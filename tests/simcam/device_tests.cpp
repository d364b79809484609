// The simulated camera's device table: several cameras, each its own;
// plugging, unplugging and power as a USB camera's, with the messages
// Windows sends; simcamctl driving them from another process.
#include "simcam_test.h"

#include <dbt.h>
#include <stddef.h>

#include <functional>

namespace {

const WCHAR kTwin[] = L"Vireo Twin Camera";

// A hidden top-level window registered for camera interface messages, as an
// application watching for cameras has one; records each that arrives.
class DeviceWindow {
public:
    struct Message {
        WPARAM event;
        DWORD size, type;
        GUID classGuid;
        std::wstring name;
    };

    DeviceWindow()
    {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleW(NULL);
        wc.lpszClassName = L"SimCamDeviceWindow";
        RegisterClassW(&wc);
        m_window = CreateWindowW(wc.lpszClassName, L"", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, NULL,
                                 NULL, wc.hInstance, NULL);
        SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
        filter.dbcc_size = sizeof(filter);
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = SIMCAM_CAMERA_CLASS;
        m_notify = RegisterDeviceNotificationW(m_window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    }
    ~DeviceWindow()
    {
        if (m_notify)
            UnregisterDeviceNotification(m_notify);
        DestroyWindow(m_window);
    }
    bool Ready() const { return m_window && m_notify; }

    // Runs simcamctl with args, this thread taking the messages sent to the
    // window meanwhile; the exit status, output and errors.
    struct Run {
        int status;
        std::string out, err;
    };
    Run Ctl(const std::wstring &args)
    {
        wintest::ProgramRun run;
        if (!run.Start(L"\"" + wintest::BinDir() + L"simcamctl.exe\" " + args))
            return {-1, "", "not started"};
        const ULONGLONG guard = GetTickCount64() + 60000;  // against a hang only
        const HANDLE process = run.Process();
        while (MsgWaitForMultipleObjects(1, &process, FALSE, 1000, QS_ALLINPUT) != WAIT_OBJECT_0 &&
               GetTickCount64() < guard)
            wintest::PumpMessages();
        wintest::PumpMessages();
        return {run.WaitExit(0), run.Output(), run.Errors()};
    }

    std::vector<Message> messages;

private:
    static LRESULT CALLBACK Proc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
    {
        DeviceWindow *self =
            reinterpret_cast<DeviceWindow *>(GetWindowLongPtrW(window, GWLP_USERDATA));
        const DEV_BROADCAST_HDR *header = reinterpret_cast<const DEV_BROADCAST_HDR *>(lParam);
        if (self && msg == WM_DEVICECHANGE && header &&
            header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
            const DEV_BROADCAST_DEVICEINTERFACE_W *record =
                reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W *>(header);
            self->messages.push_back({wParam, record->dbcc_size, record->dbcc_devicetype,
                                      record->dbcc_classguid, record->dbcc_name});
            return TRUE;
        }
        return DefWindowProcW(window, msg, wParam, lParam);
    }
    HWND m_window;
    HDEVNOTIFY m_notify;
};

using SimCamDevices = SimCamTest;

// Two cameras of one model: listed after device 0 under the one name, each
// with its own path, each filter on its own driver.
TEST_F(SimCamDevices, TwoOfOneNameKeepTheirOwnValues)
{
    const SimHandle twins[] = {AddSim(kTwin), AddSim(kTwin)};
    ASSERT_TRUE(twins[0] && twins[1]);
    EXPECT_EQ(2u, VireoSimIndex(twins[1].get()));
    const std::vector<ListedDevice> listed = ListedDevices();
    ASSERT_EQ(3u, listed.size());
    for (ULONG i = 0; i < 3; ++i) {
        EXPECT_EQ(i ? kTwin : SIMCAM_FRIENDLY_NAME, listed[i].name) << i;
        EXPECT_EQ(SimCamDevicePath(i), listed[i].path) << i;
    }
    EXPECT_EQ(L"\\\\?\\usb#vid_2e9a&pid_0b01&mi_00#7&2f1c0a1&0&0002#"
              L"{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global",
              listed[2].path);

    ComPtr<IBaseFilter> filters[3];
    for (ULONG i = 0; i < 3; ++i) {
        filters[i] = BindDevice(i);
        ASSERT_TRUE(filters[i]) << i;
        EXPECT_EQ(S_OK, SetThrough(filters[i].Get(), EXPOSURE, 100 + LONG(i))) << i;
    }
    for (ULONG i = 0; i < 3; ++i) {
        LONG value = 0;
        EXPECT_EQ(S_OK, GetThrough(filters[i].Get(), EXPOSURE, &value)) << i;
        EXPECT_EQ(100 + LONG(i), value) << i;
        const SimHandle sim = OpenSim(i);
        LONG logged = 0;
        EXPECT_EQ(100 + LONG(i), SimValue(sim.get(), EXPOSURE)) << i;
        EXPECT_EQ(S_OK, VireoSimLogCount(sim.get(), &logged)) << i;
        EXPECT_EQ(2, logged) << i << ": its own set and get alone";
    }
}

// simcamctl in its own process plugs and unplugs a camera: a window of this
// one hears of it as of a USB camera; plugging and power give the factory
// values, and power sends nothing.
TEST_F(SimCamDevices, PlugAndPowerFromAnotherProcess)
{
    const SimHandle first = OpenSim(0), second = AddSim(SIMCAM_FRIENDLY_NAME);
    ASSERT_TRUE(first && second);
    DeviceWindow window;
    ASSERT_TRUE(window.Ready());
    const std::wstring name = SimCamDevicePath(1, SIMCAM_CAMERA_CLASS);
    ASSERT_EQ(L"\\\\?\\usb#vid_2e9a&pid_0b01&mi_00#7&2f1c0a1&0&0001#"
              L"{e5323777-f976-4f5b-9b55-b94699c46e44}\\global",
              name);
    struct Step {
        const WCHAR *command;
        WPARAM message;  // 0: none
        size_t listed;   // video input devices afterwards
    } const steps[] = {
        {L"unplug", DBT_DEVICEREMOVECOMPLETE, 1},
        {L"plug", DBT_DEVICEARRIVAL, 2},
        {L"power-cycle", 0, 2},
    };
    for (const Step &step : steps) {
        VireoSimSetValue(second.get(), EXPOSURE, 1000);
        window.messages.clear();
        const DeviceWindow::Run run = window.Ctl(std::wstring(L"-d 1 ") + step.command);
        EXPECT_EQ(0, run.status) << run.err;
        EXPECT_EQ(step.listed, VideoInputDevices().size()) << step.command;
        EXPECT_EQ(CameraControlFactoryDefault(EXPOSURE), SimValue(second.get(), EXPOSURE))
            << step.command;
        EXPECT_EQ(284, SimValue(first.get(), EXPOSURE)) << step.command << ": device 0 untouched";
        ASSERT_EQ(step.message ? 1u : 0u, window.messages.size()) << step.command;
        if (!step.message)
            continue;
        const DeviceWindow::Message &m = window.messages[0];
        EXPECT_EQ(step.message, m.event);
        EXPECT_EQ(static_cast<DWORD>(DBT_DEVTYP_DEVICEINTERFACE), m.type);
        EXPECT_TRUE(IsEqualGUID(SIMCAM_CAMERA_CLASS, m.classGuid));
        EXPECT_EQ(name, m.name);
        EXPECT_EQ(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) +
                      (name.size() + 1) * sizeof(WCHAR),
                  m.size);
    }
}

// A camera still starting refuses every property request for its time,
// which each power-up starts again; other cameras answer meanwhile.
TEST_F(SimCamDevices, NotReadyForItsTimeAfterEachPowerUp)
{
    const SimHandle cam = AddSim(kTwin);
    const ComPtr<IBaseFilter> first = BindDevice(0), second = BindDevice(1);
    ASSERT_TRUE(cam && first && second);
    const std::function<void()> starts[] = {
        [&] { VireoSimSetNotReady(cam.get(), 3000); },
        [&] { VireoSimPowerCycle(cam.get()); },
        [&] {
            VireoSimUnplug(cam.get());
            VireoSimPlug(cam.get());
        },
    };
    for (size_t i = 0; i < ARRAYSIZE(starts); ++i) {
        starts[i]();
        LONG value = 0;
        EXPECT_EQ(VIREO_SIM_E_NOT_READY, GetThrough(second.Get(), EXPOSURE, &value)) << i;
        EXPECT_EQ(VIREO_SIM_E_NOT_READY, SetThrough(second.Get(), EXPOSURE, 5)) << i;
        EXPECT_EQ(S_OK, GetThrough(first.Get(), EXPOSURE, &value)) << i;
        EXPECT_TRUE(wintest::WaitUntil([&] {
            return GetThrough(second.Get(), EXPOSURE, &value) == S_OK;
        })) << i;
        EXPECT_EQ(S_OK, SetThrough(second.Get(), EXPOSURE, 5)) << i;
    }
    VireoSimSetNotReady(cam.get(), 0);
    VireoSimPowerCycle(cam.get());
    LONG value = 0;
    EXPECT_EQ(S_OK, GetThrough(second.Get(), EXPOSURE, &value));
}

// What "simcamctl get" prints with EXPOSURE 500 and FLIP 1.
std::string GetOutput()
{
    std::string values;
    for (ULONG id : CameraControlIds)
        values += std::string(CameraControlName(id)) + "=" +
                  std::to_string(id == FLIP       ? 1
                                 : id == EXPOSURE ? 500
                                                  : CameraControlFactoryDefault(id)) +
                  "\n";
    return values;
}

// A line of "simcamctl list".
std::string ListLine(ULONG i, const char *name, const char *state)
{
    char text[256];
    snprintf(text, sizeof(text),
             "%lu\t%s\t\\\\?\\usb#vid_2e9a&pid_0b01&mi_00#7&2f1c0a1&0&%04lu#"
             "{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global\t%s\n",
             i, name, i, state);
    return text;
}

// simcamctl's output and status, one command after another.
TEST_F(SimCamDevices, SimcamctlCommands)
{
    DeviceWindow window;
    struct Step {
        const WCHAR *args;
        int status;
        std::string out;  // stdout exactly
        const char *err;  // stderr exactly
    } const steps[] = {
        {L"add \"Vireo Twin Camera\"", 0, "1\n", ""},
        {L"-d 1 not-ready 600000", 0, "", ""},
        {L"-d 1 unplug", 0, "", ""},
        {L"list", 0,
         ListLine(0, "Vireo Simulated Camera", "plugged") +
             ListLine(1, "Vireo Twin Camera", "unplugged"),
         ""},
        {L"set EXPOSURE=500 flip=1", 0, "", ""},
        {L"set EXPOSURE=5 FLIP", 2, "",
         "simcamctl: set needs NAME=VALUE with a control's name and a whole number, not 'FLIP'\n"},
        {L"get", 0, GetOutput(), ""},
        {L"-d 1 remove", 0, "", ""},
        {L"-d 1 get", 1, "", "simcamctl: no device 1\n"},
        {L"remove", 1, "", "simcamctl: device 0 cannot be removed\n"},
        {L"busy off", 0, "", ""},
        {L"busy maybe", 2, "", "simcamctl: busy takes on or off\n"},
        {L"refuse lens any 0x80004005", 2, "",
         "simcamctl: refuse needs a control's name or any, not 'lens'\n"},
        {L"refuse any get 0x80004005", 2, "",
         "simcamctl: refuse needs a kind (GET_ENABLE, SET_DATA, GET_DATA, SET_ENABLE or any)\n"},
        {L"refuse any any 5", 2, "", "simcamctl: refuse needs a failure code such as 0x80070005\n"},
        {L"refuse any any 0x80004005 0", 2, "",
         "simcamctl: refuse needs a count above 0, or -1 for every time\n"},
        {L"not-ready soon", 2, "", "simcamctl: not-ready needs milliseconds (a whole number)\n"},
        {L"-d 8 plug", 2, "", "simcamctl: -d needs a device index from 0 to 7\n"},
        {L"shake", 2, "", "simcamctl: unknown command 'shake' (simcamctl -h for help)\n"},
        {L"", 2, "", "simcamctl: no command (simcamctl -h for help)\n"},
    };
    for (const Step &step : steps) {
        if (wcscmp(step.args, L"-d 1 unplug") == 0) {
            const ComPtr<IBaseFilter> twin = BindDevice(1);
            LONG value = 0;
            ASSERT_TRUE(twin);
            EXPECT_EQ(VIREO_SIM_E_NOT_READY, GetThrough(twin.Get(), EXPOSURE, &value));
        }
        const DeviceWindow::Run run = window.Ctl(step.args);
        EXPECT_EQ(step.status, run.status) << step.args;
        EXPECT_EQ(step.out, run.out) << step.args;
        EXPECT_EQ(step.err, run.err) << step.args;
    }
}

// A refusal set and the log read from the command line: the requests of
// this process, as the driver answered them, after a reset.
TEST_F(SimCamDevices, SimcamctlRefusesAndLogs)
{
    DeviceWindow window;
    const ComPtr<IBaseFilter> filter = BindDevice(0);
    ASSERT_TRUE(filter);
    EXPECT_EQ(S_OK, SetThrough(filter.Get(), FLIP, 1));
    for (const WCHAR *args : {L"reset", L"refuse exposure SET_DATA 0x80070005"}) {
        const DeviceWindow::Run run = window.Ctl(args);
        EXPECT_EQ(0, run.status) << run.err;
    }
    LONG value = 0;
    EXPECT_EQ(E_ACCESSDENIED, SetThrough(filter.Get(), EXPOSURE, 500));
    EXPECT_EQ(S_OK, SetThrough(filter.Get(), EXPOSURE, 600));
    EXPECT_EQ(S_OK, GetThrough(filter.Get(), FLIP, &value));
    EXPECT_EQ(0, value);
    const DeviceWindow::Run run = window.Ctl(L"log");
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ("SET_DATA EXPOSURE=500 0x80070005\nSET_DATA EXPOSURE=600 0x00000000\n"
              "GET_DATA FLIP 0x00000000\n",
              run.out);

    ASSERT_TRUE(wintest::RegisterModule(L"simcam.ax", true));
    m_registered = false;
    const DeviceWindow::Run unregistered = window.Ctl(L"get");
    EXPECT_EQ(1, unregistered.status);
    EXPECT_EQ(std::string("simcamctl: ") + VireoSimMessage(VIREO_SIM_E_NOT_REGISTERED) +
                  " (0x80040A21)\n",
              unregistered.err);
}

// The simulated camera registered, and none of its shared state held by
// this process: what one program leaves, the next finds only in what the
// camera keeps while no process holds it.
class SimCamBetweenPrograms : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_registered = wintest::RegisterModule(L"simcam.ax")); }
    void TearDown() override
    {
        if (m_registered) {
            EXPECT_TRUE(wintest::RegisterModule(L"simcam.ax", true));
        }
    }
    bool m_registered = false;
};

// Each program runs after the one before it has ended: a refusal, the busy
// flag and a not-ready time set by simcamctl answer the peer's requests,
// and simcamctl's log shows the peer's requests as the driver answered
// them, until a reset.
TEST_F(SimCamBetweenPrograms, RefusalsBusyAndLogOutliveTheirProgram)
{
    struct Step {
        const WCHAR *program, *args;
        int status;
        std::string out;
    } const steps[] = {
        {L"simcamctl", L"reset", 0, ""},
        {L"simcamctl", L"refuse EXPOSURE GET_DATA 0x80070005 1", 0, ""},
        {L"simcam_peer", L"get", 0, "0x80070005 0\n"},
        {L"simcam_peer", L"get", 0, "0x00000000 284\n"},
        {L"simcamctl", L"log", 0, "GET_DATA EXPOSURE 0x80070005\nGET_DATA EXPOSURE 0x00000000\n"},
        {L"simcamctl", L"busy on", 0, ""},
        {L"simcam_peer", L"capture", 20, ""},
        {L"simcamctl", L"not-ready 600000", 0, ""},
        {L"simcam_peer", L"get", 0, "0x80070015 0\n"},
        {L"simcamctl", L"reset", 0, ""},
        {L"simcam_peer", L"capture", 0, ""},
        {L"simcam_peer", L"get", 0, "0x00000000 284\n"},
        {L"simcamctl", L"log", 0, "GET_DATA EXPOSURE 0x00000000\n"},
    };
    for (const Step &step : steps) {
        wintest::ProgramRun run;
        ASSERT_TRUE(run.Start(L"\"" + wintest::BinDir() + step.program + L".exe\" " + step.args))
            << GetLastError();
        EXPECT_EQ(step.status, run.WaitExit()) << step.program << " " << step.args;
        EXPECT_EQ(step.out, run.Output()) << step.program << " " << step.args;
        EXPECT_EQ("", run.Errors()) << step.program << " " << step.args;
    }
}

// A block laid out afresh takes up what the last one left: the log with
// its numbers past the ring's capacity, a refusal with its uses left, the
// busy flag. The test switches are not kept: one off shows the new block.
TEST_F(SimCamBetweenPrograms, ANewBlockTakesUpTheDriversLogAndRefusals)
{
    const LONG total = VIREO_SIM_LOG_CAPACITY + 3;
    {
        SimCamControl cam;
        ASSERT_TRUE(cam.IsOpen());
        cam.Reset();
        cam.ForceZeroImageSize(true);
        cam.SetBusy(true);
        SimCamDriverLock driver = cam.LockDriver();
        for (LONG i = 0; i < total; ++i) {
            ControlRequest rq = {EXPOSURE, SET_DATA, i, 0};
            driver.Driver().Set(CameraPropertySet, VALUE10H, NULL, 0, &rq, sizeof(rq));
        }
        driver.Driver().AddFault(VALUE10H, FLIP, GET_DATA, E_ACCESSDENIED, 2);
    }
    SimCamControl cam;
    ASSERT_FALSE(SimCamLock(cam.Block())->Switch(SIM_SWITCH_ZERO_IMAGE_SIZE));
    EXPECT_EQ(total, cam.LogCount());
    const std::vector<SimRequest> log = cam.Log();
    ASSERT_EQ(size_t(VIREO_SIM_LOG_CAPACITY), log.size());
    for (size_t i = 0; i < log.size(); ++i)
        ASSERT_EQ(total - VIREO_SIM_LOG_CAPACITY + LONG(i), log[i].Value()) << i;
    EXPECT_EQ(total - 1, cam.Value(EXPOSURE));
    EXPECT_TRUE(SimCamLock(cam.Block())->Device(0).BusyFor(0));
    for (HRESULT expected : {E_ACCESSDENIED, E_ACCESSDENIED, S_OK}) {
        ControlRequest rq = {FLIP, GET_DATA, 0, 0};
        ControlReply reply = {};
        EXPECT_EQ(expected, cam.LockDriver().Driver().Get(CameraPropertySet, VALUE10H, &rq,
                                                          sizeof(rq), &reply, sizeof(reply), NULL));
    }
    cam.Reset();
}

}  // namespace
