// The steps against the simulated machine: the real device check and the real transfer over a
// pseudo-terminal, with a small loader and package so that a whole upgrade takes seconds.
#include <gtest/gtest.h>

#include "resources/Strings.h"
#include "sim/BootMode.h"
#include "sim/MachineSim.h"
#include "sim/NormalMode.h"
#include "tests/support/Files.h"
#include "tests/support/ResourceOverride.h"
#include "tests/support/SimPorts.h"
#include "tests/support/TempDir.h"
#include "tests/wizard/WizardFixture.h"

namespace {

class SimulatedMachine : public ::testing::Test {
protected:
    SimulatedMachine()
        : m_loader(MakeBytes(40, 7)), m_package(MakeBytes(700, 3)),
          m_steps(m_state, m_op, &m_picture, GetMachineLink()) {
        // COM2 to COM4 lead nowhere: no real port of this computer is ever opened.
        for (int n = 2; n <= 4; ++n)
            m_home.MakeAbsent(n);
        m_resources.Replace("BIN", kIdLoader, m_loader).Replace("BIN", kIdPackage, m_package);
        m_state.m_pWindow = &m_window;
        m_state.m_strPackageVersion = "V260";
        m_steps.Enter(EStep::Start);
    }
    ~SimulatedMachine() override { m_sim.Stop(); }

    CBootMode& StartMachine(const std::string& strReply) {
        m_sim.SetNormalMode(std::make_unique<CNormalMode>(strReply));
        CBootMode* pBoot = StartBootMode(m_sim, m_home.GetPortsDir(), 1);
        EXPECT_TRUE(pBoot);
        return *pBoot;
    }

    CPortsHome m_home;
    std::vector<uint8_t> m_loader;
    std::vector<uint8_t> m_package;
    CResourceOverride m_resources;
    CMachineSim m_sim;
    CWizardState m_state;
    CRecordingWindow m_window{m_state};
    CRecordingPicture m_picture;
    CScriptedOperator m_op;
    CStepMachine m_steps;
};

TEST_F(SimulatedMachine, WholeUpgradeFromStartToTransferDone) {
    CBootMode& boot = StartMachine("V250 NRP-70;");
    m_steps.NextPressed();
    m_steps.NextPressed();
    EXPECT_EQ(m_state.m_strStep, LoadString(115));
    EXPECT_EQ(m_state.m_strPort, "COM1:");
    EXPECT_EQ(m_state.m_strStatus, "V250 NRP-70");
    EXPECT_EQ(m_picture.m_nLoaded, 138);
    for (int n = 0; n < 4; ++n)
        m_steps.NextPressed();

    EXPECT_EQ(m_state.m_strStep, LoadString(117));
    EXPECT_EQ(m_state.m_strStatus, "V260");
    EXPECT_EQ(m_state.m_eBack, EStep::Retry);
    EXPECT_TRUE(m_op.m_messages.empty());
    EXPECT_EQ(boot.GetLoader(), std::vector<uint8_t>(m_loader.begin(), m_loader.end()));
    EXPECT_EQ(boot.GetPackage(), std::vector<uint8_t>(m_package.begin(), m_package.end()));
    EXPECT_TRUE(boot.GetSettingsFaults().empty());
    EXPECT_EQ(m_op.m_nCursorDepth, 0);
}

TEST_F(SimulatedMachine, UpToDateMachineEndsOnStartWithItsPortKept) {
    StartMachine("V260 TVK-50;");
    m_steps.NextPressed();
    m_steps.NextPressed();
    ASSERT_EQ(m_op.m_messages.size(), 1u);
    EXPECT_EQ(m_op.m_messages[0].m_strText, LoadString(105));
    EXPECT_EQ(m_state.m_strStep, LoadString(111));
    EXPECT_EQ(m_state.m_strStatus, "");
    EXPECT_EQ(m_state.m_strPort, "COM1:");
    EXPECT_FALSE(m_window.m_bBackEnabled);
    EXPECT_FALSE(m_sim.IsInBootMode());
}

} // namespace
