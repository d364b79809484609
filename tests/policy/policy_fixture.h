// policy_fixture.h - the fixture of the tests that set the organization's
// policy on the simulated camera (the programs that take it link
// vireo::simcam).
#ifndef VIREO_TESTS_POLICY_FIXTURE_H
#define VIREO_TESTS_POLICY_FIXTURE_H

#include <gtest/gtest.h>

#include "policy_keys.h"
#include "vireosim.h"
#include "wintest.h"

// The simulated camera and the extension registered for one test, device
// 0 at its factory state, COM for the thread, and no policy before or after.
class PolicyCameraFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
        for (const wchar_t *module : {L"simcam.ax", L"vireoprop.ax"})
            ASSERT_TRUE(wintest::RegisterModule(module)) << module;
        ASSERT_EQ(S_OK, VireoSimOpen(0, &m_sim));
        ASSERT_EQ(S_OK, VireoSimReset(m_sim));
    }
    void TearDown() override
    {
        for (const wchar_t *module : {L"vireoprop.ax", L"simcam.ax"})
            wintest::RegisterModule(module, true);
        VireoSimClose(m_sim);
        CoUninitialize();
    }
    PolicyKeys m_keys;
    VireoSim *m_sim = NULL;
};

#endif  // VIREO_TESTS_POLICY_FIXTURE_H
