// The organization's policy in the camera library: the model of an id, the
// reader's levels and kinds, what the extension lets through for a camera of
// unknown model, the locked values written onto the simulated camera, the
// recommended starting values, the watch on the keys, and every program held
// to a lock through IFace.
#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include <wrl/client.h>

#include "policy_fixture.h"
#include "vireocamera.h"
#include "vireosim.h"
#include "wintest.h"

using Microsoft::WRL::ComPtr;

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

std::string Step(const VireoStep &s)
{
    const char *what = s.result == VIREO_S_SKIPPED        ? "skipped"
                       : s.result == VIREO_E_OUT_OF_RANGE ? "out of range"
                       : FAILED(s.result)                 ? "refused"
                                                          : "written";
    return std::string(CameraControlName(s.controlId)) + "=" + std::to_string(s.value) + " " + what;
}

ULONG IdOf(const std::string &name)
{
    for (ULONG id : CameraControlIds)
        if (name == CameraControlName(id))
            return id;
    return 0;
}

void WINAPI NoPause(DWORD)
{
}

void CALLBACK RecordStep(void *context, const VireoStep *step)
{
    static_cast<std::vector<std::string> *>(context)->push_back(Step(*step));
}

// A SET_DATA through IFace of the first video input device's filter, as any
// program makes it.
HRESULT SetThroughIFace(ULONG id, LONG value)
{
    ComPtr<ICreateDevEnum> devices;
    ComPtr<IEnumMoniker> monikers;
    ComPtr<IMoniker> moniker;
    ComPtr<IBaseFilter> filter;
    ComPtr<IFace> face;
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(&devices));
    if (SUCCEEDED(hr))
        hr = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    if (hr == S_OK)
        hr = monikers->Next(1, &moniker, NULL);
    if (hr == S_OK)
        hr = moniker->BindToObject(NULL, NULL, IID_PPV_ARGS(&filter));
    if (SUCCEEDED(hr))
        hr = filter->QueryInterface(CameraPropertySet,
                                    reinterpret_cast<void **>(face.GetAddressOf()));
    if (FAILED(hr) || hr == S_FALSE)
        return E_UNEXPECTED;  // no camera: not what the cases ask about
    ControlRequest request = {id, SET_DATA, value, 0};
    return face->SetValue10h(&request);
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
        {L"USB\\VID_046D&PID_0825\\5&1A2B", L"vid_046d&pid_0825"},
        {L"Vireo Simulated Camera", L""},   // a device known by its name
        {L"usb#vid_2e9a&pid_0b0", L""},     // cut short
        {L"usb#vid_2g9a&pid_0b01#x", L""},  // not hexadecimal
        {L"usb#vid_2e9a&pie_0b01#x", L""},  // no product
        {L"", L""},
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
        {"general",
         {{L"Mandatory", L"EXPOSURE", 800},
          {L"Mandatory", L"PRIVACY", 1},
          {L"Recommended", L"A_GAIN", 17}},
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
        {"the general values only without a model",
         {{std::wstring(kModel) + L"Mandatory", L"LEDCTRL", 1}},
         NULL,
         {},
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
        Values held;  // what the camera holds first
        std::vector<std::string> sent, steps;
        unsigned written;
    } cases[] = {
        {"nothing locked", {}, {}, {}, {}, 0},
        {"written in the Default order",
         {{L"Mandatory", L"PRIVACY", 1}, {L"Mandatory", L"EXPOSURE", 800}},
         {{"EXPOSURE", 500}},
         {"EXPOSURE=800", "PRIVACY=1"},
         {"EXPOSURE=800 written", "PRIVACY=1 written"},
         2},
        {"a value already held is not sent",
         {{L"Mandatory", L"EXPOSURE", 800}, {L"Mandatory", L"FLIP", 1}},
         {{"EXPOSURE", 800}},
         {"FLIP=1"},
         {"FLIP=1 written"},
         1},
        {"outside the camera's range: skipped for the caller to log",
         {{L"Mandatory", L"EXPOSURE", 5000}, {L"Mandatory", L"LEDCTRL", 1}},
         {},
         {"LEDCTRL=1"},
         {"EXPOSURE=5000 out of range", "LEDCTRL=1 written"},
         1},
        {"the model's value",
         {{L"Mandatory", L"EXPOSURE", 800},
          {std::wstring(kModel) + L"Mandatory", L"EXPOSURE", 600}},
         {},
         {"EXPOSURE=600"},
         {"EXPOSURE=600 written"},
         1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PolicyKeys keys;
        Apply(c.writes);
        ASSERT_EQ(S_OK, VireoSimReset(m_sim));
        for (const auto &h : c.held)
            ASSERT_EQ(S_OK, VireoSimSetValue(m_sim, IdOf(h.first), h.second));
        VireoSimClearLog(m_sim);
        m_steps.clear();
        VireoPolicy policy;
        ASSERT_EQ(S_OK, VireoCameraPolicy(m_camera, &policy));
        unsigned written = 99;
        EXPECT_EQ(S_OK, VireoCameraApplyLocked(m_camera, &policy, &written));
        EXPECT_EQ(c.sent, SetRequests());
        EXPECT_EQ(c.steps, m_steps);
        EXPECT_EQ(c.written, written);
    }
}

TEST_F(PolicyCameraTest, LockedControlTheCameraReportsDisabledIsSkipped)
{
    PolicyKeys::Set(L"Mandatory", L"STROBECTRL", 1);
    ASSERT_EQ(S_OK, VireoSimSetPresent(m_sim, STROBECTRL, 0));
    VireoSimClearLog(m_sim);
    VireoPolicy policy;
    VireoCameraPolicy(m_camera, &policy);
    EXPECT_EQ(S_OK, VireoCameraApplyLocked(m_camera, &policy, NULL));
    EXPECT_EQ(std::vector<std::string>{}, SetRequests());
    EXPECT_EQ(std::vector<std::string>{"STROBECTRL=1 skipped"}, m_steps);
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

TEST_F(PolicyCameraTest, EveryProgramIsHeldToTheLock)
{
    const std::wstring sample = L"\"" + wintest::BinDir() + L"exposure_c.exe\" ";
    const struct {
        const char *name;
        std::vector<Write> writes;
        ULONG id;
        LONG value;
        HRESULT result;  // of a SET_DATA through IFace
        int sampleExit;  // of the sample program writing EXPOSURE = value
    } cases[] = {
        {"locked at another value",
         {{L"Mandatory", L"EXPOSURE", 800}},
         EXPOSURE,
         300,
         E_ACCESSDENIED,
         1},
        {"locked at this value", {{L"Mandatory", L"EXPOSURE", 800}}, EXPOSURE, 800, S_OK, 0},
        {"another control stays free", {{L"Mandatory", L"PRIVACY", 1}}, EXPOSURE, 300, S_OK, 0},
        {"a recommended value locks nothing",
         {{L"Recommended", L"EXPOSURE", 800}},
         EXPOSURE,
         300,
         S_OK,
         0},
        {"no policy", {}, EXPOSURE, 300, S_OK, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PolicyKeys keys;
        Apply(c.writes);
        EXPECT_EQ(c.result, SetThroughIFace(c.id, c.value));
        EXPECT_EQ(c.sampleExit, wintest::RunProcess(sample + std::to_wstring(c.value)));
    }
    // Removing the policy frees the control at once.
    PolicyKeys::Set(L"Mandatory", L"EXPOSURE", 800);
    ASSERT_EQ(E_ACCESSDENIED, SetThroughIFace(EXPOSURE, 300));
    PolicyKeys::Remove(L"Mandatory", L"EXPOSURE");
    EXPECT_EQ(S_OK, SetThroughIFace(EXPOSURE, 300));
    LONG exposure = 0;
    EXPECT_EQ(S_OK, VireoSimGetValue(m_sim, EXPOSURE, &exposure));
    EXPECT_EQ(300, exposure);
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
