// The simulator's line where time is the behaviour: a paced send takes the wire time, an unpaced
// one does not. On the real clock, one at a time (RUN_SERIAL), with generous bounds.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "serial/SerialPort.h"
#include "sim/PtyLink.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

using Clock = std::chrono::steady_clock;

TEST(PtyLinkTest, PacedSendTakesTheWireTime) {
    CPortsHome home;
    CPtyLink link;
    ASSERT_TRUE(link.Open(home.GetPortsDir(), 1));
    CSerialPort port;
    ASSERT_EQ(port.Open("COM1:", 9600, "N81"), 1);

    const std::vector<uint8_t> reply(96, 'x');
    link.SetPaced(true);
    auto start = Clock::now();
    ASSERT_TRUE(link.Send(reply.data(), reply.size()));
    const int64_t nPacedMs = ElapsedMs(start);
    EXPECT_GE(nPacedMs, 95); // 96 x 10 bits at 9600 = 100 ms
    EXPECT_LT(nPacedMs, 20000);

    // Unpaced, a send does not wait for the wire: 9,600 bytes would take ten seconds on it.
    link.SetPaced(false);
    const std::vector<uint8_t> many(9600, 'y');
    start = Clock::now();
    ASSERT_TRUE(link.Send(many.data(), many.size()));
    EXPECT_LT(ElapsedMs(start), 5000);
}
