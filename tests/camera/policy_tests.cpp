// The organization's policy in the camera library: the model of an id, the
// reader's levels and kinds, what the extension lets through for a camera of
// unknown model, the locked values written onto the simulated camera, the
// recommended starting values, the watch on the keys, and another program
// held to a lock.
#include <functional>
#include <map>

#include "policy_fixture.h"
#include "vireocamera.h"

namespace {

typedef std::map<std::string, LONG> Values;

const wchar_t kModel[] = L"Models\\vid_2e9a&pid_0b01\\";  // the simulated camera's

struct Write {
    std::wstring level;  // under the policy key
    std::wstring name;
    DWORD value;
    const wchar_t *text = NULL;  // non-null: a REG_SZ of this text instead
};

void Apply(const std::vector<Write> &writes)
{
    for (const Write &w : writes)
        ASSERT_TRUE(w.text ? PolicyKeys::SetText(w.level, w.name, w.text)
                           : PolicyKeys::Set(w.level, w.name, w.value));
}

Values Named(ULONG mask, const LONG *values)
{
    Values out;
    for (int i = 0; i < CAMERA_CONTROL_COUNT; ++i)
        if (mask & (1u << i))
            out[CameraControlName(CameraControlIds[i])] = values[i];
    return out;
}

void WINAPI NoPause(DWORD)
{
}

// "EXPOSURE=800 written", "... skipped", "... out of range"
void CALLBACK RecordStep(void *context, const VireoStep *s)
{
    const char *what = s->result == VIREO_S_SKIPPED        ? " skipped"
                       : s->result == VIREO_E_OUT_OF_RANGE ? " out of range"
                                                           : " written";
    static_cast<std::vector<std::string> *>(context)->push_back(
        std::string(CameraControlName(s->controlId)) + "=" + std::to_string(s->value) + what);
}

class PolicyCameraTest : public PolicyCameraFixture {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(PolicyCameraFixture::SetUp());
        ASSERT_EQ(S_OK, VireoCameraOpenIndex(0, &m_camera));
        VireoCameraWatch(m_camera, RecordStep, &m_steps);
        VireoCameraSetPause(m_camera, NoPause);
    }
    void TearDown() override
    {
        VireoCameraClose(m_camera);
        PolicyCameraFixture::TearDown();
    }
    // The SET_DATA requests the driver has seen: "EXPOSURE=800".
    std::vector<std::string> SetRequests()
    {
        VireoSimRequest log[64];
        unsigned read = 0;
        EXPECT_EQ(S_OK, VireoSimReadLog(m_sim, 0, log, ARRAYSIZE(log), &read));
        std::vector<std::string> out;
        for (unsigned i = 0; i < read; ++i)
            if (log[i].kind == SET_DATA)
                out.push_back(std::string(CameraControlName(log[i].controlId)) + "=" +
                              std::to_string(log[i].value));
        return out;
    }

    VireoCamera *m_camera = NULL;
    std::vector<std::string> m_steps;
};

}  // namespace

TEST(PolicyModelTest, ModelOfAnIdOrPath)
{
    const struct {
        const wchar_t *id;
        const wchar_t *model;
    } cases[] = {
        {L"\\\\?\\usb#vid_2e9a&pid_0b01&mi_00#7&2f1c0a1&0&0000", L"vid_2e9a&pid_0b01"},
        {L"\\\\?\\USB#VID_2E9A&PID_0B01&MI_00#7&2F1C0A1&0&0000#{65e8773d-8f56-11d0-a3b9-"
         L"00a0c9223196}\\global",
         L"vid_2e9a&pid_0b01"},
        {L"Vireo Simulated Camera", L""},   // a device known by its name
        {L"usb#vid_2e9a&pid_0b0", L""},     // cut short
        {L"usb#vid_2g9a&pid_0b01#x", L""},  // not hexadecimal
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.id);
        wchar_t model[VIREO_MODEL_CAPACITY] = L"x";
        VireoCameraModel(c.id, model, VIREO_MODEL_CAPACITY);
        EXPECT_STREQ(c.model, model);
    }
    wchar_t small[8] = L"x";  // a model that does not fit is no model
    VireoCameraModel(cases[0].id, small, 8);
    EXPECT_STREQ(L"", small);
}

TEST(PolicyReadTest, EachLevelAndKind)
{
    const struct {
        const char *name;
        std::vector<Write> writes;
        const wchar_t *model;
        Values locked, recommended;
    } cases[] = {
        {"no policy", {}, L"vid_2e9a&pid_0b01", {}, {}},
        {"general, and no model's without a model",
         {{L"Mandatory", L"EXPOSURE", 800},
          {L"Mandatory", L"PRIVACY", 1},
          {L"Recommended", L"A_GAIN", 17},
          {std::wstring(kModel) + L"Mandatory", L"LEDCTRL", 1}},
         NULL,
         {{"EXPOSURE", 800}, {"PRIVACY", 1}},
         {{"A_GAIN", 17}}},
        {"the model's value wins",
         {{L"Mandatory", L"EXPOSURE", 800},
          {std::wstring(kModel) + L"Mandatory", L"EXPOSURE", 500},
          {std::wstring(kModel) + L"Recommended", L"FLIP", 1}},
         L"vid_2e9a&pid_0b01",
         {{"EXPOSURE", 500}},
         {{"FLIP", 1}}},
        {"another model's values do not apply",
         {{L"Mandatory", L"EXPOSURE", 800}, {std::wstring(kModel) + L"Mandatory", L"LEDCTRL", 1}},
         L"vid_1111&pid_2222",
         {{"EXPOSURE", 800}},
         {}},
        {"names as the catalogue has them, in any case; a value of another type is not read",
         {{L"Mandatory", L"exposure", 300},
          {L"Mandatory", L"FOO", 1},
          {L"Mandatory", L"PRIVACY", 0, L"1"}},
         NULL,
         {{"EXPOSURE", 300}},
         {}},
        {"a DWORD is read as a signed value",
         {{L"Recommended", L"D_GAIN", 0xFFFFFFFF}},
         NULL,
         {},
         {{"D_GAIN", -1}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PolicyKeys keys;
        Apply(c.writes);
        VireoPolicy policy;
        ASSERT_EQ(S_OK, VireoPolicyRead(c.model, &policy));
        EXPECT_EQ(c.locked, Named(policy.locked, policy.lockedValues));
        EXPECT_EQ(c.recommended, Named(policy.recommended, policy.recommendedValues));
    }
    EXPECT_EQ(E_POINTER, VireoPolicyRead(NULL, NULL));
}

TEST(PolicyReadTest, WhatTheExtensionLetsThroughForAnUnknownModel)
{
    PolicyKeys keys;
    Apply({{L"Mandatory", L"EXPOSURE", 800},
           {std::wstring(kModel) + L"Mandatory", L"EXPOSURE", 500},
           {L"Models\\vid_1111&pid_2222\\Mandatory", L"PRIVACY", 1}});
    const struct {
        ULONG id;
        LONG value;
        int allowed;
    } cases[] = {
        {EXPOSURE, 800, 1},  // the general lock
        {EXPOSURE, 500, 1},  // a model's lock
        {EXPOSURE, 300, 0},  // neither
        {PRIVACY, 0, 1},     // only a model locks it: the keeper holds that model to it
        {FLIP, 1, 1},        // not locked
        {9999, 1, 1},        // not a control: the driver answers it
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.id << "=" << c.value);
        EXPECT_EQ(c.allowed, VireoPolicyAllows(c.id, c.value));
    }
    PolicyKeys::Clear();
    EXPECT_EQ(1, VireoPolicyAllows(EXPOSURE, 300));
}

TEST_F(PolicyCameraTest, LockedValuesWrittenOnlyWhereTheyDiffer)
{
    const struct {
        const char *name;
        std::vector<Write> writes;
        LONG exposure;  // what the camera holds first
        std::vector<std::string> sent, steps;
    } cases[] = {
        {"nothing locked", {}, 284, {}, {}},
        {"written in the Default order, only where the camera holds another value",
         {{L"Mandatory", L"PRIVACY", 1},
          {L"Mandatory", L"EXPOSURE", 800},
          {L"Mandatory", L"FLIP", 0}},
         500,
         {"EXPOSURE=800", "PRIVACY=1"},
         {"EXPOSURE=800 written", "PRIVACY=1 written"}},
        {"outside the camera's range, or of a control it lacks: skipped for the caller to log",
         {{L"Mandatory", L"EXPOSURE", 5000},
          {L"Mandatory", L"STROBECTRL", 1},
          {L"Mandatory", L"LEDCTRL", 1}},
         284,
         {"LEDCTRL=1"},
         {"EXPOSURE=5000 out of range", "LEDCTRL=1 written", "STROBECTRL=1 skipped"}},
        {"the model's value",
         {{L"Mandatory", L"EXPOSURE", 800},
          {std::wstring(kModel) + L"Mandatory", L"EXPOSURE", 600}},
         284,
         {"EXPOSURE=600"},
         {"EXPOSURE=600 written"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PolicyKeys keys;
        Apply(c.writes);
        ASSERT_EQ(S_OK, VireoSimReset(m_sim));
        VireoSimSetValue(m_sim, EXPOSURE, c.exposure);
        VireoSimSetPresent(m_sim, STROBECTRL, 0);
        VireoSimClearLog(m_sim);
        m_steps.clear();
        VireoPolicy policy;
        ASSERT_EQ(S_OK, VireoCameraPolicy(m_camera, &policy));
        unsigned written = 99;
        EXPECT_EQ(S_OK, VireoCameraApplyLocked(m_camera, &policy, &written));
        EXPECT_EQ(c.sent, SetRequests());
        EXPECT_EQ(c.steps, m_steps);
        EXPECT_EQ(c.sent.size(), written);
    }
}

TEST_F(PolicyCameraTest, RecommendedStartingValuesWithinTheCamerasRanges)
{
    Apply({{L"Recommended", L"EXPOSURE", 500},
           {L"Recommended", L"A_GAIN", 99},
           {std::wstring(kModel) + L"Recommended", L"FLIP", 1},
           {L"Mandatory", L"PRIVACY", 1}});
    VireoPolicy policy;
    ASSERT_EQ(S_OK, VireoCameraPolicy(m_camera, &policy));
    VireoProfile start;
    ASSERT_EQ(S_OK, VireoCameraRecommended(m_camera, &policy, &start));
    EXPECT_EQ((Values{{"EXPOSURE", 500}, {"FLIP", 1}}), Named(start.present, start.values));
    EXPECT_EQ(std::vector<std::string>{"A_GAIN=99 out of range"}, m_steps);
    EXPECT_STREQ(VireoCameraId(m_camera), start.id);
    // The starting values load as a profile of this camera.
    EXPECT_EQ(S_OK, VireoCameraLoadProfile(m_camera, &start, 0, NULL));
    LONG exposure = 0;
    EXPECT_EQ(S_OK, VireoSimGetValue(m_sim, EXPOSURE, &exposure));
    EXPECT_EQ(500, exposure);
}

// Another program (the kit's C sample, on the camera library) writing
// EXPOSURE: held to the lock through the extension, free once it goes.
TEST_F(PolicyCameraTest, AnotherProgramIsHeldToTheLock)
{
    const std::wstring sample = L"\"" + wintest::BinDir() + L"exposure_c.exe\" ";
    PolicyKeys::Set(L"Mandatory", L"EXPOSURE", 800);
    PolicyKeys::Set(L"Mandatory", L"PRIVACY", 1);
    const struct {
        LONG value;
        bool lockRemoved;
        int exit;
        LONG held;
    } cases[] = {{300, false, 1, 284}, {800, false, 0, 800}, {300, true, 0, 300}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.value << (c.lockRemoved ? " unlocked" : ""));
        if (c.lockRemoved)
            PolicyKeys::Remove(L"Mandatory", L"EXPOSURE");
        EXPECT_EQ(c.exit, wintest::RunProcess(sample + std::to_wstring(c.value)));
        LONG exposure = 0;
        EXPECT_EQ(S_OK, VireoSimGetValue(m_sim, EXPOSURE, &exposure));
        EXPECT_EQ(c.held, exposure);
    }
}

TEST(PolicyWatchTest, EachChangeOfTheKeysSetsTheEvent)
{
    PolicyKeys keys;  // no policy key yet: the watch is on a key above it
    VireoPolicyWatch *watch = NULL;
    ASSERT_EQ(S_OK, VireoPolicyWatchOpen(&watch));
    const HANDLE event = VireoPolicyWatchEvent(watch);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event, 0));
    const struct {
        const char *name;
        std::function<void()> change;
    } steps[] = {
        {"the keys made, a value written", [] { PolicyKeys::Set(L"Mandatory", L"EXPOSURE", 800); }},
        {"a value changed", [] { PolicyKeys::Set(L"Mandatory", L"EXPOSURE", 700); }},
        {"a model's value added",
         [] { PolicyKeys::Set(std::wstring(kModel) + L"Recommended", L"FLIP", 1); }},
        {"a value removed", [] { PolicyKeys::Remove(L"Mandatory", L"EXPOSURE"); }},
        {"the policy removed", [] { PolicyKeys::Clear(); }},
    };
    for (const auto &s : steps) {
        SCOPED_TRACE(s.name);
        s.change();
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 5000));
        ASSERT_EQ(S_OK, VireoPolicyWatchRearm(watch));
        EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event, 0));
    }
    VireoPolicyWatchClose(watch);
    EXPECT_EQ(E_POINTER, VireoPolicyWatchOpen(NULL));
}
