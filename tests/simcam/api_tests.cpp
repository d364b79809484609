// The simulated camera's public library (vireosim.h) as an application's
// test uses it: what each call makes the camera answer through its filter,
// the log as the driver saw the requests, the device table's limits.
#include "simcam_test.h"

namespace {

using SimApi = SimCamTest;

// A request sent, and what the driver answers: value is a set's value, a
// GET_DATA's reply.
struct Request {
    ULONG id, kind;
    LONG value;
    HRESULT expected;
};

bool IsSet(ULONG kind)
{
    return kind == SET_DATA || kind == SET_ENABLE;
}

// Sends each request through the filter, as IFace does: each answered as
// expected, a GET_DATA with its value.
void SendAll(IBaseFilter *filter, const std::vector<Request> &requests)
{
    for (const Request &r : requests) {
        ControlReply reply = {};
        EXPECT_EQ(r.expected,
                  SendThrough(filter, r.id, r.kind, IsSet(r.kind) ? r.value : 0, &reply))
            << CameraControlName(r.id) << " " << r.kind;
        if (r.kind == GET_DATA && r.expected == S_OK) {
            EXPECT_EQ(r.value, reply.enableOrValue) << CameraControlName(r.id);
        }
    }
}

// The log holds exactly the requests sent, with the driver's answers.
void ExpectLogged(VireoSim *sim, const std::vector<Request> &requests)
{
    VireoSimRequest log[8];
    unsigned read = 0;
    ASSERT_EQ(S_OK, VireoSimReadLog(sim, 0, log, ARRAYSIZE(log), &read));
    ASSERT_EQ(requests.size(), read);
    for (unsigned i = 0; i < read; ++i) {
        const Request &r = requests[i];
        EXPECT_EQ(IsSet(r.kind) ? 1 : 0, log[i].isSet) << i;
        EXPECT_EQ(r.kind == SET_ENABLE ? VALUE20H : VALUE10H, log[i].property) << i;
        EXPECT_EQ(r.id, log[i].controlId) << i;
        EXPECT_EQ(r.kind, log[i].kind) << i;
        EXPECT_EQ(IsSet(r.kind) ? r.value : 0, log[i].value) << i;
        EXPECT_EQ(r.expected, log[i].result) << i;
    }
}

// Each rule makes the requests after it answer as given, and the log shows
// them all as sent, with the driver's answers.
TEST_F(SimApi, RefusalsAnswerAsSetAndAreLogged)
{
    const ComPtr<IBaseFilter> filter = BindDevice(0);
    const SimHandle sim = OpenSim(0);
    ASSERT_TRUE(filter && sim);
    struct Case {
        ULONG id, kind;
        HRESULT result;
        LONG count;
        std::vector<Request> requests;
    } const cases[] = {
        {EXPOSURE,
         SET_DATA,
         E_ACCESSDENIED,
         1,
         {{EXPOSURE, SET_DATA, 500, E_ACCESSDENIED},
          {EXPOSURE, GET_DATA, 284, S_OK},
          {EXPOSURE, SET_DATA, 600, S_OK}}},
        {VIREO_SIM_ANY,
         GET_DATA,
         VIREO_SIM_E_NOT_READY,
         2,
         {{FLIP, GET_DATA, 0, VIREO_SIM_E_NOT_READY},
          {A_GAIN, GET_DATA, 0, VIREO_SIM_E_NOT_READY},
          {FLIP, SET_DATA, 1, S_OK},
          {FLIP, GET_DATA, 1, S_OK}}},
        {A_GAIN,
         VIREO_SIM_ANY,
         E_FAIL,
         -1,
         {{A_GAIN, GET_ENABLE, 0, E_FAIL},
          {A_GAIN, SET_ENABLE, 1, E_FAIL},
          {A_GAIN, SET_DATA, 5, E_FAIL},
          {A_GAIN, GET_DATA, 0, E_FAIL},
          {D_GAIN, GET_DATA, 4, S_OK}}},
        {D_GAIN,
         SET_ENABLE,
         E_FAIL,
         1,
         {{D_GAIN, SET_DATA, 8, S_OK},
          {D_GAIN, SET_ENABLE, 4, E_FAIL},
          {D_GAIN, SET_ENABLE, 4, S_OK}}},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(S_OK, VireoSimReset(sim.get()));
        ASSERT_EQ(S_OK, VireoSimRefuse(sim.get(), c.id, c.kind, c.result, c.count));
        SendAll(filter.Get(), c.requests);
        ExpectLogged(sim.get(), c.requests);
    }
    // The rule of every time holds until cleared.
    EXPECT_EQ(S_OK, VireoSimClearRefusals(sim.get()));
    LONG value = 0;
    EXPECT_EQ(S_OK, GetThrough(filter.Get(), A_GAIN, &value));
}

TEST_F(SimApi, RefusalsOutsideWhatTheDriverTakesAreRefused)
{
    const SimHandle sim = OpenSim(0);
    ASSERT_TRUE(sim);
    struct Case {
        ULONG id, kind;
        HRESULT result;
        LONG count, expected;
    } const cases[] = {
        {999, SET_DATA, E_FAIL, 1, VIREO_SIM_E_UNKNOWN_CONTROL},
        {EXPOSURE, 4, E_FAIL, 1, E_INVALIDARG},
        {EXPOSURE, SET_DATA, S_FALSE, 1, E_INVALIDARG},
        {EXPOSURE, SET_DATA, E_FAIL, 0, E_INVALIDARG},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.expected, VireoSimRefuse(sim.get(), c.id, c.kind, c.result, c.count)) << c.id;
    EXPECT_EQ(E_POINTER, VireoSimRefuse(NULL, EXPOSURE, SET_DATA, E_FAIL, 1));
    const ComPtr<IBaseFilter> filter = BindDevice(0);
    ASSERT_TRUE(filter);
    EXPECT_EQ(S_OK, SetThrough(filter.Get(), EXPOSURE, 500));  // none of them was kept
}

// The log is read from a mark on, in pieces, and keeps its numbers once the
// ring has gone round.
TEST_F(SimApi, LogReadsFromAMarkOnAcrossTheRing)
{
    const ComPtr<IBaseFilter> filter = BindDevice(0);
    const SimHandle sim = OpenSim(0);
    ASSERT_TRUE(filter && sim);
    const LONG total = VIREO_SIM_LOG_CAPACITY + 4;
    for (LONG i = 0; i < total; ++i)
        ASSERT_EQ(S_OK, SetThrough(filter.Get(), EXPOSURE, i));
    LONG count = 0;
    ASSERT_EQ(S_OK, VireoSimLogCount(sim.get(), &count));
    EXPECT_EQ(total, count);
    struct Case {
        LONG first;
        unsigned capacity;
        std::vector<LONG> values;  // the SET_DATA values read, in order
    } const cases[] = {
        {0, 2, {4, 5}},  // the oldest kept
        {total - 2, 8, {total - 2, total - 1}},
        {total, 8, {}},
    };
    for (const Case &c : cases) {
        VireoSimRequest log[8];
        unsigned read = 99;
        ASSERT_EQ(S_OK, VireoSimReadLog(sim.get(), c.first, log, c.capacity, &read));
        std::vector<LONG> values;
        for (unsigned i = 0; i < read; ++i)
            values.push_back(log[i].value);
        EXPECT_EQ(c.values, values) << c.first;
    }
    unsigned read = 0;
    EXPECT_EQ(E_INVALIDARG, VireoSimReadLog(sim.get(), -1, NULL, 0, &read));
    EXPECT_EQ(S_OK, VireoSimClearLog(sim.get()));
    EXPECT_EQ(S_OK, VireoSimLogCount(sim.get(), &count));
    EXPECT_EQ(0, count);
}

// Values, ranges and presence are what the filter reports from then on.
TEST_F(SimApi, ControlsAsTheFilterReportsThem)
{
    const ComPtr<IBaseFilter> filter = BindDevice(0);
    const SimHandle sim = OpenSim(0);
    ASSERT_TRUE(filter && sim);
    ASSERT_EQ(S_OK, VireoSimSetValue(sim.get(), EXPOSURE, 777));
    ASSERT_EQ(S_OK, VireoSimSetRange(sim.get(), A_GAIN, 2, 40));
    ASSERT_EQ(S_OK, VireoSimSetPresent(sim.get(), LEDCTRL, 0));
    struct Case {
        ULONG id, kind;
        ControlReply reply;
        VireoSimControl held;
    } const cases[] = {
        {EXPOSURE, GET_DATA, {777, 0, 0, 0}, {1, 284, 1, 3330, 777}},
        {A_GAIN, GET_ENABLE, {1, 1, 2, 40}, {1, 1, 2, 40, 1}},
        {LEDCTRL, GET_ENABLE, {0, 0, 0, 1}, {0, 0, 0, 1, 0}},
    };
    for (const Case &c : cases) {
        ControlReply reply = {};
        EXPECT_EQ(S_OK, SendThrough(filter.Get(), c.id, c.kind, 0, &reply));
        // A GET_DATA reply is its first word; the rest is the request's.
        EXPECT_EQ(0, memcmp(&c.reply, &reply, c.kind == GET_DATA ? sizeof(LONG) : sizeof(reply)))
            << CameraControlName(c.id);
        VireoSimControl held = {};
        EXPECT_EQ(S_OK, VireoSimGetControl(sim.get(), c.id, &held));
        EXPECT_EQ(0, memcmp(&c.held, &held, sizeof(held))) << CameraControlName(c.id);
    }
    EXPECT_EQ(E_INVALIDARG, VireoSimSetRange(sim.get(), A_GAIN, 5, 4));
    EXPECT_EQ(VIREO_SIM_E_UNKNOWN_CONTROL, VireoSimSetValue(sim.get(), 999, 1));
    LONG value = 0;
    EXPECT_EQ(VIREO_SIM_E_UNKNOWN_CONTROL, VireoSimGetValue(sim.get(), 999, &value));
}

// Whatever a test did to the camera, a reset gives the factory device back:
// not busy, plugged and listed, answering at once, factory values, no
// refusal, an empty log.
TEST_F(SimApi, ResetGivesTheFactoryDeviceBack)
{
    const SimHandle sim = OpenSim(0);
    ASSERT_TRUE(sim);
    {
        ViewerGraph g;
        ASSERT_NO_FATAL_FAILURE(g.Build(0, 0, true));
        ASSERT_EQ(S_OK, g.control->Pause());
        const ComPtr<IMediaFilter> source = Query<IMediaFilter>(g.source, IID_IMediaFilter);
        ASSERT_EQ(S_OK, VireoSimSetBusy(sim.get(), 1));
        EXPECT_EQ(VIREO_SIM_E_DEVICE_BUSY, source->Run(0));
        ASSERT_EQ(S_OK, VireoSimReset(sim.get()));
        EXPECT_EQ(S_OK, source->Run(0));
        EXPECT_EQ(S_OK, g.control->Stop());
    }
    ASSERT_EQ(S_OK, VireoSimSetValue(sim.get(), EXPOSURE, 5));
    ASSERT_EQ(S_OK, VireoSimSetRange(sim.get(), A_GAIN, 2, 3));
    ASSERT_EQ(S_OK, VireoSimRefuse(sim.get(), VIREO_SIM_ANY, VIREO_SIM_ANY, E_FAIL, -1));
    ASSERT_EQ(S_OK, VireoSimSetNotReady(sim.get(), 600000));
    ASSERT_EQ(S_OK, VireoSimUnplug(sim.get()));
    ASSERT_TRUE(VideoInputDevices().empty());

    ASSERT_EQ(S_OK, VireoSimReset(sim.get()));
    VireoSimDeviceInfo info;
    ASSERT_EQ(S_OK, VireoSimDescribe(0, &info));
    EXPECT_EQ(1, info.plugged);
    EXPECT_EQ(1u, VideoInputDevices().size());
    LONG count = -1;
    EXPECT_EQ(S_OK, VireoSimLogCount(sim.get(), &count));
    EXPECT_EQ(0, count);
    const ComPtr<IBaseFilter> filter = BindDevice(0);
    ASSERT_TRUE(filter);
    ControlReply reply = {};
    EXPECT_EQ(S_OK, SendThrough(filter.Get(), A_GAIN, GET_ENABLE, 0, &reply));
    EXPECT_EQ(32, reply.maxValue);
    EXPECT_EQ(S_OK, SendThrough(filter.Get(), EXPOSURE, GET_DATA, 0, &reply));
    EXPECT_EQ(284, reply.enableOrValue);
}

// The table holds eight devices; device 0 stays; a removed device's handle
// answers that it is gone, and its place is the next one taken.
TEST_F(SimApi, TheDeviceTableAndItsLimits)
{
    std::vector<SimHandle> added;
    for (int i = 1; i < VIREO_SIM_MAX_DEVICES; ++i) {
        added.push_back(AddSim(L"Vireo Twin Camera"));
        ASSERT_TRUE(added.back()) << i;
        EXPECT_EQ(static_cast<unsigned>(i), VireoSimIndex(added.back().get()));
    }
    VireoSim *sim = NULL;
    EXPECT_EQ(VIREO_SIM_E_TABLE_FULL, VireoSimAdd(L"Ninth", &sim));
    EXPECT_EQ(nullptr, sim);
    VireoSimDeviceInfo info;
    ASSERT_EQ(S_OK, VireoSimDescribe(7, &info));
    EXPECT_STREQ(L"Vireo Twin Camera", info.name);
    EXPECT_EQ(SimCamDevicePath(7), info.path);
    EXPECT_EQ(8u, VideoInputDevices().size());

    ASSERT_EQ(S_OK, VireoSimRemove(added[2].get()));
    EXPECT_EQ(VIREO_SIM_E_NO_SUCH_DEVICE, VireoSimDescribe(3, &info));
    EXPECT_EQ(VIREO_SIM_E_NO_SUCH_DEVICE, VireoSimUnplug(added[2].get()));
    EXPECT_EQ(VIREO_SIM_E_NO_SUCH_DEVICE, VireoSimOpen(3, &sim));
    EXPECT_EQ(VIREO_SIM_E_NO_SUCH_DEVICE, VireoSimOpen(8, &sim));
    const SimHandle again = AddSim(L"Again");
    ASSERT_TRUE(again);
    EXPECT_EQ(3u, VireoSimIndex(again.get()));

    const SimHandle first = OpenSim(0);
    EXPECT_EQ(E_INVALIDARG, VireoSimRemove(first.get()));
    const std::wstring tooLong(VIREO_SIM_NAME_CAPACITY, L'x');
    for (const wchar_t *name : {L"", tooLong.c_str()})
        EXPECT_EQ(E_INVALIDARG, VireoSimAdd(name, &sim));
    EXPECT_EQ(E_POINTER, VireoSimAdd(NULL, &sim));
    EXPECT_EQ(E_POINTER, VireoSimOpen(0, NULL));
}

// Without simcam.ax registered for this width, nothing opens: the
// application would find no camera to test with.
TEST_F(SimApi, NothingOpensWhileTheCameraIsNotRegistered)
{
    ASSERT_TRUE(wintest::RegisterModule(L"simcam.ax", true));
    m_registered = false;
    VireoSim *sim = NULL;
    EXPECT_EQ(VIREO_SIM_E_NOT_REGISTERED, VireoSimOpen(0, &sim));
    EXPECT_EQ(VIREO_SIM_E_NOT_REGISTERED, VireoSimAdd(L"Twin", &sim));
    EXPECT_EQ(nullptr, sim);
}

}  // namespace
