// The simulated machine's restart after the package, on the real clock: its loader still takes
// what arrives while it writes its flash, the machine is deaf while off, then it answers "F;".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/SerialPort.h"
#include "sim/BootMode.h"
#include "sim/MachineSim.h"
#include "tests/support/LinkFixture.h"
#include "tests/support/Wait.h"

namespace {

// The next byte the machine sends, or -1 after a second without one.
int NextByte(CSerialPort& port) {
    return port.WaitForByte(1000) == 1 ? port.ReadByte() : -1;
}

TEST(MachineRestartTest, FlashThenOffThenTheAnswerAfterTheRestart) {
    CPortsHome home;
    CBootMode::CBehaviour behaviour;
    behaviour.m_bRestarts = true;
    behaviour.m_nFlashMs = 2000;
    behaviour.m_nOffMs = 2000;
    behaviour.m_afterRestart.m_strReply = "V260 NRP-7;";
    CMachineSim sim;
    auto pBoot = std::make_unique<CBootMode>(behaviour);
    CBootMode& boot = *pBoot;
    sim.SetBootMode(std::move(pBoot));
    ASSERT_TRUE(sim.Start(home.GetPortsDir(), 1));

    // Boot mode with a loader of one byte, then a package of three.
    CSerialPort port;
    ASSERT_EQ(port.Open("COM1:", 9600, "N81"), 1);
    for (const auto& [nSent, nAnswer] :
         std::vector<std::pair<int, int>>{{0x00, 0x00}, {0x55, 0xAA}, {0x00, 0x00}, {0x01, 0x01}}) {
        port.WriteByte(nSent);
        ASSERT_EQ(NextByte(port), nAnswer) << "after " << nSent;
    }
    port.WriteByte(0x5A);
    ASSERT_EQ(NextByte(port), 0x5A);
    ASSERT_EQ(NextByte(port), 0xAA);
    const uint8_t package[] = {1, 2, 3};
    port.WriteBlock(package, sizeof package);
    // Still writing its flash: a question is taken as package bytes, and not answered.
    port.WriteString("F;");
    ASSERT_TRUE(WaitUntil([&] { return boot.GetPackage().size() == 5; }));
    EXPECT_EQ(boot.GetPackage(), (std::vector<uint8_t>{1, 2, 3, 'F', ';'}));

    ASSERT_TRUE(WaitUntil([&] { return boot.GetStage() == CBootMode::EStage::Off; }));
    port.WriteString("F;");
    ASSERT_TRUE(WaitUntil([&] { return boot.GetBytesWhileOff() == 2; }));
    EXPECT_EQ(port.WaitForByte(100), 0) << "the machine answered while it was off";

    ASSERT_TRUE(WaitUntil([&] { return boot.GetStage() == CBootMode::EStage::Restarted; }));
    port.WriteString("F;");
    std::string strReply;
    for (int nByte; strReply.size() < 11 && (nByte = NextByte(port)) >= 0;)
        strReply += static_cast<char>(nByte);
    EXPECT_EQ(strReply, "V260 NRP-7;");
    EXPECT_EQ(boot.GetQueriesAfterRestart(), 1);
    EXPECT_EQ(boot.GetPackage().size(), 5u);
}

} // namespace
