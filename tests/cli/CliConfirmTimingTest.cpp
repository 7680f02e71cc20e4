// upgrade --confirm on the real clock, once: the machine's loader still takes whatever arrives
// for eight seconds after the package, then the machine is off for four, then it answers. A
// question before the tenth second would land in its package; one at the tenth is lost, and the
// next one, after the check's silence and the pause, is answered.
#include <stdio.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/Cli.h"
#include "sim/BootMode.h"
#include "sim/MachineSim.h"
#include "tests/support/Files.h"
#include "tests/support/ResourceOverride.h"
#include "tests/support/SimPorts.h"

namespace {

TEST(CliConfirmTimingTest, TheMachineIsAskedOnlyOnceItCanHaveRestarted) {
    CSimPorts ports;
    CResourceOverride resources;
    const std::vector<uint8_t> loader = MakeBytes(40, 1);
    const std::vector<uint8_t> package = MakeBytes(600, 2);
    resources.Replace("BIN", kIdLoader, loader);
    resources.Replace("BIN", kIdPackage, package);
    CBootMode::CBehaviour behaviour;
    behaviour.m_bRestarts = true;
    behaviour.m_nFlashMs = 8000;
    behaviour.m_nOffMs = 4000;
    behaviour.m_afterRestart.m_strReply = "V260 NRP-70;";
    ports.Absent(1);
    CMachineSim sim;
    CBootMode* pBoot = StartBootMode(sim, TestPortsDir(), 1, behaviour);
    ASSERT_NE(pBoot, nullptr);

    char* pszOut = nullptr;
    size_t nOut = 0;
    FILE* pOut = open_memstream(&pszOut, &nOut);
    FILE* pErr = fopen("/dev/null", "w");
    const int nExit =
        RunCli({"upgrade", "--port", "COM1", "--yes", "--confirm"}, {pOut, pErr, stdin});
    fclose(pOut);
    fclose(pErr);
    const std::string strOut(pszOut, nOut);
    free(pszOut);
    sim.Stop();
    ports.Absent(1);

    EXPECT_EQ(nExit, 0) << strOut;
    EXPECT_NE(strOut.find("COM1: confirmed: NRP-70 runs V260"), std::string::npos) << strOut;
    EXPECT_EQ(pBoot->GetPackage(), package) << "a question reached the loader";
    EXPECT_GT(pBoot->GetBytesWhileOff(), 0) << "the machine was not asked while it was off";
    EXPECT_EQ(pBoot->GetQueriesAfterRestart(), 1);
}

} // namespace
