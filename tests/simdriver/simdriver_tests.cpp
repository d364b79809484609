// The simulated driver answers the vendor property set as the camera does;
// the page and viewer tests lean on its log and its fault rules.
#include <gtest/gtest.h>

#include <memory>

#include "simdriver.h"

namespace {

class SimDriverTest : public ::testing::Test {
protected:
    SimDriverTest() : state(new SimDriverState()), driver(state.get()) {}
    HRESULT GetRequest(ULONG id, ULONG kind, ControlReply *reply, DWORD *returned)
    {
        ControlRequest rq = {id, kind, 0, 0};
        HRESULT hr = driver.Get(CameraPropertySet, VALUE10H, &rq, sizeof(rq), &rq, sizeof(rq), returned);
        memcpy(reply, &rq, sizeof(rq));
        return hr;
    }
    HRESULT SetData(ULONG id, LONG value)
    {
        ControlRequest rq = {id, SET_DATA, value, 0};
        return driver.Set(CameraPropertySet, VALUE10H, NULL, 0, &rq, sizeof(rq));
    }
    std::unique_ptr<SimDriverState> state;
    SimDriver driver;
};

}  // namespace

TEST_F(SimDriverTest, FactoryStateAnswersEnableAndData)
{
    ControlReply reply;
    DWORD returned = 0;
    ASSERT_EQ(S_OK, GetRequest(EXPOSURE, GET_ENABLE, &reply, &returned));
    EXPECT_EQ(1, reply.enableOrValue);
    EXPECT_EQ(284, reply.defaultValue);
    EXPECT_EQ(1, reply.minValue);
    EXPECT_EQ(3330, reply.maxValue);
    EXPECT_EQ(16u, returned);
    for (ULONG id : CameraControlIds) {
        SCOPED_TRACE(id);
        ASSERT_EQ(S_OK, GetRequest(id, GET_DATA, &reply, &returned));
        EXPECT_EQ(CameraControlFactoryDefault(id), reply.enableOrValue);
    }
    EXPECT_EQ(SIM_E_PROP_ID_UNSUPPORTED, GetRequest(999, GET_DATA, &reply, &returned));
}

TEST_F(SimDriverTest, SetsApplyAsSentAndSetEnableStoresFlagAndDefault)
{
    EXPECT_EQ(S_OK, SetData(A_GAIN, -7));  // no clamping
    EXPECT_EQ(-7, driver.Value(A_GAIN));
    ControlRequest32 rq = {FLIP, SET_ENABLE, 1, 5, {0, 0, 0, 0}};
    driver.SetPresent(FLIP, false);
    ASSERT_EQ(S_OK, driver.Set(CameraPropertySet, VALUE20H, NULL, 0, &rq, sizeof(rq)));
    EXPECT_EQ(1, driver.Control(FLIP)->enable);
    EXPECT_EQ(5, driver.Control(FLIP)->defaultValue);
    // Wrong kinds and short blocks are refused.
    ControlRequest bad = {FLIP, GET_DATA, 0, 0};
    EXPECT_EQ(E_INVALIDARG, driver.Set(CameraPropertySet, VALUE10H, NULL, 0, &bad, sizeof(bad)));
    EXPECT_EQ(SIM_E_BUFFER_TOO_SMALL, driver.Set(CameraPropertySet, VALUE20H, NULL, 0, &bad, sizeof(bad)));
    GUID other = CameraPropertySet;
    other.Data1 ^= 1;
    EXPECT_EQ(SIM_E_PROP_SET_UNSUPPORTED, driver.Set(other, VALUE10H, NULL, 0, &bad, sizeof(bad)));
}

TEST_F(SimDriverTest, OpaquePropertiesKeepTheLastBlock)
{
    BYTE block[80];
    for (int i = 0; i < 80; ++i)
        block[i] = static_cast<BYTE>(i * 3);
    ASSERT_EQ(S_OK, driver.Set(CameraPropertySet, VALUE50H, NULL, 0, block, 80));
    BYTE back[80] = {0};
    DWORD returned = 0;
    ASSERT_EQ(S_OK, driver.Get(CameraPropertySet, VALUE50H, back, 80, back, 80, &returned));
    EXPECT_EQ(0, memcmp(block, back, 80));
    EXPECT_EQ(80u, returned);
    EXPECT_EQ(SIM_E_PROP_ID_UNSUPPORTED, driver.Get(CameraPropertySet, 5, back, 80, back, 80, &returned));
}

TEST_F(SimDriverTest, FaultsMatchByPropertyIdAndKindAndRunOut)
{
    driver.AddFault(VALUE10H, EXPOSURE, GET_DATA, E_FAIL, 2);
    driver.AddFault(SIM_ANY, SIM_ANY, SET_ENABLE, static_cast<HRESULT>(0x8007001F));
    ControlReply reply;
    DWORD returned = 77;
    EXPECT_EQ(S_OK, GetRequest(EXPOSURE, GET_ENABLE, &reply, &returned));
    EXPECT_EQ(E_FAIL, GetRequest(EXPOSURE, GET_DATA, &reply, &returned));
    EXPECT_EQ(E_FAIL, GetRequest(EXPOSURE, GET_DATA, &reply, &returned));
    EXPECT_EQ(S_OK, GetRequest(EXPOSURE, GET_DATA, &reply, &returned));  // used up
    EXPECT_EQ(S_OK, GetRequest(AEC, GET_DATA, &reply, &returned));
    for (ULONG id : CameraControlIds) {
        ControlRequest32 rq = {id, SET_ENABLE, 1, 0, {0, 0, 0, 0}};
        EXPECT_EQ(static_cast<HRESULT>(0x8007001F),
                  driver.Set(CameraPropertySet, VALUE20H, NULL, 0, &rq, sizeof(rq)));
    }
    driver.ClearFaults();
    ControlRequest32 rq = {AEC, SET_ENABLE, 1, 0, {0, 0, 0, 0}};
    EXPECT_EQ(S_OK, driver.Set(CameraPropertySet, VALUE20H, NULL, 0, &rq, sizeof(rq)));
}

TEST_F(SimDriverTest, FailedGetLeavesTheBlockAndCountAlone)
{
    driver.AddFault(VALUE10H, D_GAIN, GET_ENABLE, E_FAIL);
    ControlRequest rq = {D_GAIN, GET_ENABLE, 0, 0};
    DWORD returned = 55;
    EXPECT_EQ(E_FAIL, driver.Get(CameraPropertySet, VALUE10H, &rq, 16, &rq, 16, &returned));
    EXPECT_EQ(static_cast<ULONG>(D_GAIN), rq.controlId);
    EXPECT_EQ(0u, rq.kind);
    EXPECT_EQ(55u, returned);
}

TEST_F(SimDriverTest, LogRecordsRequestsAsReceivedInARing)
{
    ControlReply reply;
    DWORD returned;
    GetRequest(A_GAIN, GET_ENABLE, &reply, &returned);
    SetData(EXPOSURE, 100);
    ASSERT_EQ(2, driver.LogCount());
    const SimRequest *first = driver.LogEntry(0);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(0u, first->isSet);
    EXPECT_EQ(1u, first->sameBuffer);
    EXPECT_EQ(16u, first->instanceLength);
    EXPECT_EQ(static_cast<ULONG>(A_GAIN), first->ControlId());  // the request, not the reply
    EXPECT_EQ(static_cast<ULONG>(GET_ENABLE), first->Kind());
    const SimRequest *second = driver.LogEntry(1);
    EXPECT_EQ(1u, second->isSet);
    EXPECT_EQ(0u, second->instanceLength);
    EXPECT_EQ(100, second->Value());
    EXPECT_EQ(nullptr, driver.LogEntry(2));

    for (int i = 0; i < SIM_LOG_CAPACITY + 10; ++i)
        SetData(FLIP, i);
    EXPECT_EQ(SIM_LOG_CAPACITY + 12, driver.LogCount());
    EXPECT_EQ(nullptr, driver.LogEntry(0));  // overwritten
    const SimRequest *last = driver.LogEntry(driver.LogCount() - 1);
    ASSERT_NE(nullptr, last);
    EXPECT_EQ(SIM_LOG_CAPACITY + 9, last->Value());
    driver.ClearLog();
    EXPECT_EQ(0, driver.LogCount());
}

TEST_F(SimDriverTest, SharedRecordIsReusedNotReset)
{
    SetData(MIRROR, 1);
    SimDriver second(state.get());  // a second opener of the same record
    EXPECT_EQ(1, second.Value(MIRROR));
    second.Reset();
    EXPECT_EQ(0, driver.Value(MIRROR));
}
