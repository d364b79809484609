// The simulated driver answers the vendor property set as the camera does;
// the page and viewer tests lean on its log and its fault rules.
#include <gtest/gtest.h>

#include <memory>

#include "simdriver.h"

namespace {

class SimDriverTest : public ::testing::Test {
protected:
    SimDriverTest() : state(new SimDriverState()), driver(state.get()) {}
    // A 16-byte request of the given kind; the reply is left in rq.
    HRESULT Get(ULONG id, ULONG kind, DWORD *returned = NULL)
    {
        rq = {id, kind, 0, 0};
        DWORD ignored = 0;
        return driver.Get(CameraPropertySet, VALUE10H, &rq, 16, &rq, 16,
                          returned ? returned : &ignored);
    }
    HRESULT Set(ULONG property, ULONG id, ULONG kind, LONG value, LONG second = 0)
    {
        ControlRequest32 set = {id, kind, static_cast<ULONG>(value), second, {0, 0, 0, 0}};
        return driver.Set(CameraPropertySet, property, NULL, 0, &set,
                          property == VALUE20H ? sizeof(set) : 16);
    }
    std::unique_ptr<SimDriverState> state;
    SimDriver driver;
    union {
        ControlRequest rq;
        ControlReply reply;
    };
};

}  // namespace

TEST_F(SimDriverTest, AnswersAsTheCameraAndRefusesWhatItDoesNot)
{
    DWORD returned = 0;
    ASSERT_EQ(S_OK, Get(EXPOSURE, GET_ENABLE, &returned));
    EXPECT_EQ(1, reply.enableOrValue);
    EXPECT_EQ(284, reply.defaultValue);
    EXPECT_EQ(1, reply.minValue);
    EXPECT_EQ(3330, reply.maxValue);
    EXPECT_EQ(16u, returned);
    for (ULONG id : CameraControlIds) {
        ASSERT_EQ(S_OK, Get(id, GET_DATA)) << id;
        EXPECT_EQ(CameraControlFactoryDefault(id), reply.enableOrValue) << id;
    }
    EXPECT_EQ(S_OK, Set(VALUE10H, A_GAIN, SET_DATA, -7));  // no clamping
    EXPECT_EQ(-7, driver.Value(A_GAIN));
    driver.SetPresent(FLIP, false);
    ASSERT_EQ(S_OK, Set(VALUE20H, FLIP, SET_ENABLE, 1, 5));
    EXPECT_EQ(1, driver.Control(FLIP)->enable);
    EXPECT_EQ(5, driver.Control(FLIP)->defaultValue);

    EXPECT_EQ(SIM_E_PROP_ID_UNSUPPORTED, Get(999, GET_DATA));
    EXPECT_EQ(E_INVALIDARG, Set(VALUE10H, FLIP, GET_DATA, 0));  // a get kind in a set
    ControlRequest shortBlock = {FLIP, SET_ENABLE, 1, 0};
    EXPECT_EQ(SIM_E_BUFFER_TOO_SMALL,
              driver.Set(CameraPropertySet, VALUE20H, NULL, 0, &shortBlock, 16));
    GUID other = CameraPropertySet;
    other.Data1 ^= 1;
    EXPECT_EQ(SIM_E_PROP_SET_UNSUPPORTED, driver.Set(other, VALUE10H, NULL, 0, &shortBlock, 16));

    // The opaque properties keep the last block set.
    BYTE block[80], back[80] = {0};
    for (int i = 0; i < 80; ++i)
        block[i] = static_cast<BYTE>(i * 3);
    ASSERT_EQ(S_OK, driver.Set(CameraPropertySet, VALUE50H, NULL, 0, block, 80));
    ASSERT_EQ(S_OK, driver.Get(CameraPropertySet, VALUE50H, back, 80, back, 80, &returned));
    EXPECT_EQ(0, memcmp(block, back, 80));
    EXPECT_EQ(80u, returned);
    EXPECT_EQ(SIM_E_PROP_ID_UNSUPPORTED,
              driver.Get(CameraPropertySet, 5, back, 80, back, 80, &returned));
}

TEST_F(SimDriverTest, FaultsMatchRunOutAndLeaveTheReplyAlone)
{
    driver.AddFault(VALUE10H, EXPOSURE, GET_DATA, E_FAIL, 2);
    driver.AddFault(VIREO_SIM_ANY, VIREO_SIM_ANY, SET_ENABLE, static_cast<HRESULT>(0x8007001F));
    EXPECT_EQ(S_OK, Get(EXPOSURE, GET_ENABLE));
    DWORD returned = 55;
    EXPECT_EQ(E_FAIL, Get(EXPOSURE, GET_DATA, &returned));
    // A failed get writes neither the block nor the count.
    EXPECT_EQ(static_cast<ULONG>(EXPOSURE), rq.controlId);
    EXPECT_EQ(static_cast<ULONG>(GET_DATA), rq.kind);
    EXPECT_EQ(55u, returned);
    EXPECT_EQ(E_FAIL, Get(EXPOSURE, GET_DATA));
    EXPECT_EQ(S_OK, Get(EXPOSURE, GET_DATA));  // used up
    EXPECT_EQ(S_OK, Get(AEC, GET_DATA));
    for (ULONG id : CameraControlIds)
        EXPECT_EQ(static_cast<HRESULT>(0x8007001F), Set(VALUE20H, id, SET_ENABLE, 1)) << id;
    driver.ClearFaults();
    EXPECT_EQ(S_OK, Set(VALUE20H, AEC, SET_ENABLE, 1));

    // The log: requests as received, the request rather than the reply.
    driver.ClearLog();
    Get(A_GAIN, GET_ENABLE);
    Set(VALUE10H, EXPOSURE, SET_DATA, 100);
    ASSERT_EQ(2, driver.LogCount());
    const SimRequest *get = driver.LogEntry(0), *set = driver.LogEntry(1);
    ASSERT_TRUE(get && set);
    EXPECT_EQ(0u, get->isSet);
    EXPECT_EQ(1u, get->sameBuffer);
    EXPECT_EQ(16u, get->instanceLength);
    EXPECT_EQ(static_cast<ULONG>(A_GAIN), get->ControlId());
    EXPECT_EQ(static_cast<ULONG>(GET_ENABLE), get->Kind());
    EXPECT_EQ(1u, set->isSet);
    EXPECT_EQ(0u, set->instanceLength);
    EXPECT_EQ(100, set->Value());
    EXPECT_EQ(nullptr, driver.LogEntry(2));
}
