// Discovery's ceilings against simulated machines that answer: how long a probe took includes
// how soon the simulator replied, so these run alone on a quiet computer (label realtime).
#include <gtest/gtest.h>

#include <string>

#include "device/DeviceCheck.h"
#include "frontend/WizardState.h"
#include "tests/support/PauseClock.h"
#include "tests/support/ScriptedOperator.h"
#include "tests/support/SimPorts.h"

TEST(DiscoveryTiming, FirstPortWithAKnownModelIsTakenWithoutWaitingOutAProbe) {
    TestPortsDir();
    const struct {
        const char* m_pszName;
        const char* m_pszCom1; // "absent" or a reply
        ENormalFault m_eCom1Fault;
        ENormalFault m_eCom2Fault;
        const char* m_pszPort;
        int64_t m_nMaxMs; // on the test's clock: no probe may wait out its second
    } cases[] = {
        {"absent COM1 skipped at once", "absent", ENormalFault::None, ENormalFault::None,
         "COM2:", 1400},
        {"unknown model on COM1", "V100 XYZ-9;", ENormalFault::None, ENormalFault::None,
         "COM2:", 2600},
        {"garbage on COM1", "", ENormalFault::Garbage, ENormalFault::None, "COM2:", 2600},
        {"reply without a space on COM1", "V250TVK-50;", ENormalFault::None, ENormalFault::None,
         "COM2:", 2600},
        {"split reply on COM1 still found", "V250 TVK-35;", ENormalFault::Split, ENormalFault::None,
         "COM1:", 1600},
        {"no ';' within the bytes: the candidate runs to the end", "V250 NRP-7", ENormalFault::None,
         ENormalFault::None, "COM1:", 1600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        CSimPorts ports;
        CNormalMode* pCom1 = nullptr;
        if (std::string(c.m_pszCom1) != "absent")
            pCom1 = &ports.Machine(1, c.m_pszCom1, c.m_eCom1Fault);
        CNormalMode& com2 = ports.Machine(2, "V250 TVK-50;", c.m_eCom2Fault);
        CScriptedOperator op;
        CWizardState state;
        CStepClock clock(1);
        CClockOverride useClock(clock);
        const int64_t nStart = clock.Now();
        EXPECT_TRUE(DiscoverPort(state, op));
        EXPECT_LT(clock.Now() - nStart, c.m_nMaxMs);
        EXPECT_EQ(state.m_strPort, c.m_pszPort);
        if (pCom1) {
            EXPECT_EQ(pCom1->GetQueryCount(), 1);
        }
        EXPECT_EQ(com2.GetQueryCount(), std::string(c.m_pszPort) == "COM2:" ? 1 : 0);
        EXPECT_TRUE(op.m_dialogPresets.empty());
        EXPECT_TRUE(op.m_messages.empty());
        EXPECT_EQ(op.m_nCursorDepth, 0);
    }
}
