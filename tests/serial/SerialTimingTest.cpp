// The serial port where time itself is the behaviour: waits that end, a close that does not
// hang, reception paused while the buffer is full, writes that take their wire time or give up
// on a stall (the synchronisation loop's pace is the transfer's, tests/transfer). They run on the
// real clock, one at a time (RUN_SERIAL), with bounds far above what a busy computer needs.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "serial/SerialPort.h"
#include "tests/serial/SerialPortProbe.h"
#include "tests/support/LinkFixture.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

using Clock = std::chrono::steady_clock;

namespace {

// What "at once" means for a close here: a close that waits for a byte or a time-out takes
// seconds.
constexpr int64_t kPromptMs = 2000;

} // namespace

class SerialTiming : public LinkFixture {};

TEST_F(SerialTiming, WaitForByteIsBounded) {
    CSerialPort port;
    EXPECT_EQ(port.WaitForByte(2000), 0) << "not open: at once";
    ASSERT_EQ(port.Open("COM1:", 9600, "N81H"), 1);

    auto start = Clock::now();
    EXPECT_EQ(port.WaitForByte(100), 0);
    EXPECT_GE(ElapsedMs(start), 90);

    std::thread sender([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        m_link.Send("F", 1);
    });
    // A byte ends the wait long before its limit.
    start = Clock::now();
    EXPECT_EQ(port.WaitForByte(60000), 1);
    EXPECT_LT(ElapsedMs(start), 30000);
    sender.join();
    EXPECT_EQ(port.ReadByte(), 'F');
}

TEST_F(SerialTiming, CloseEndsTheThreadPromptly) {
    {
        // The thread sits in its wait for a line event.
        CSerialPort port;
        ASSERT_EQ(port.Open("COM1:", 9600, "N81H"), 1);
        // The close must end a wait that has begun, not one the thread is yet to start.
        ASSERT_TRUE(WaitUntil([] {
            const std::string strThread = TheReceiveThread();
            return !strThread.empty() && IsThreadInPoll(std::stol(strThread));
        }));
        const auto start = Clock::now();
        port.Close();
        EXPECT_LT(ElapsedMs(start), kPromptMs);
        EXPECT_TRUE(ReceiveThreads().empty());
    }
    {
        // The thread waits for room: the buffer is full and nobody reads.
        CSerialPort port;
        ASSERT_EQ(port.Open("COM1:", 921600, "N81"), 1);
        const std::vector<uint8_t> bytes = MakeBytes(20000, 1);
        ASSERT_TRUE(m_link.Send(bytes.data(), bytes.size()));
        ASSERT_TRUE(WaitUntil([&] { return CSerialPortProbe::CountStored(port) >= 16000; }));
        const auto start = Clock::now();
        port.Close();
        EXPECT_LT(ElapsedMs(start), kPromptMs);
        EXPECT_TRUE(ReceiveThreads().empty());
        EXPECT_EQ(port.ReadByte(), bytes[0]);
    }
}

TEST_F(SerialTiming, FullBufferPausesUntilTakenThenRewinds) {
    CSerialPort port;
    ASSERT_EQ(port.Open("COM1:", 921600, "N81"), 1);
    const std::vector<uint8_t> sent = MakeBytes(64 * 1024, 1);
    std::thread sender([&] { m_link.Send(sent.data(), sent.size()); });

    // Nearly the whole buffer is stored, and reception stays paused while any of it is unread.
    ASSERT_TRUE(WaitUntil([&] { return CSerialPortProbe::CountStored(port) > 16128; }));
    const int nStored = CSerialPortProbe::CountStored(port);
    EXPECT_GT(nStored, 16128);
    EXPECT_LE(nStored, 16384);
    std::vector<uint8_t> got(nStored - 1);
    EXPECT_EQ(port.ReadBytes(got.data(), nStored - 1), nStored - 1);
    // Nothing to wait for: reception must stay paused, so it is given time to go wrong.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(CSerialPortProbe::CountStored(port), 1);

    const std::vector<uint8_t> rest = TakeAll(port, sent.size() - got.size());
    got.insert(got.end(), rest.begin(), rest.end());
    sender.join();
    ASSERT_EQ(got.size(), sent.size());
    EXPECT_TRUE(got == sent) << "bytes lost or out of order";
}

TEST_F(SerialTiming, PeerHangUpKillsThePortWithoutSpinning) {
    CSerialPort port;
    ASSERT_EQ(port.Open("COM1:", 9600, "N81H"), 1);
    const std::string strThread = TheReceiveThread();
    ASSERT_FALSE(strThread.empty());
    EXPECT_FALSE(port.IsDead());

    ASSERT_TRUE(m_link.Send("V2", 2));
    ASSERT_EQ(port.WaitForByte(3000), 1);
    m_link.Close();

    EXPECT_TRUE(WaitUntil([&] { return ReceiveThreads().empty(); }, 3000))
        << "the receive thread goes on after the hang-up";
    EXPECT_TRUE(port.IsDead());
    // A dead port that spins burns the whole second; one that rests, next to nothing.
    const int64_t nCpuStart = ProcessCpuMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_LT(ProcessCpuMs() - nCpuStart, 500);

    auto start = Clock::now();
    EXPECT_EQ(port.WriteString("F;"), 0);
    EXPECT_EQ(port.WaitForByte(0), 1); // what came before the hang-up is still there
    EXPECT_EQ(port.ReadByte(), 'V');
    EXPECT_EQ(port.ReadByte(), '2');
    EXPECT_EQ(port.WaitForByte(60000), 0);
    EXPECT_LT(ElapsedMs(start), 30000) << "a dead port answers the wait at once";
    port.Close();
    EXPECT_TRUE(ReceiveThreads().empty());
}

TEST_F(SerialTiming, WriteWaitsOutAShortHoldAndGivesUpOnAStall) {
    CSerialPort port;
    ASSERT_EQ(port.Open("COM1:", 4000000, "N81H"), 1);
    const std::vector<uint8_t> sent = MakeBytes(256 * 1024, 1);

    // The machine takes nothing for 1.5 s; the write waits and every byte arrives in order.
    std::vector<uint8_t> received;
    std::thread machine([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        received = ReceiveAtLeast(sent.size(), 10000);
    });
    auto start = Clock::now();
    EXPECT_EQ(port.WriteBlock(sent.data(), static_cast<uint32_t>(sent.size())), 1);
    EXPECT_GE(ElapsedMs(start), 1400);
    machine.join();
    EXPECT_TRUE(received == sent);

    // A machine that never reads again: the write gives up after its stall limit.
    port.SetStallLimit(400);
    start = Clock::now();
    EXPECT_EQ(port.WriteBlock(sent.data(), static_cast<uint32_t>(sent.size())), 0);
    EXPECT_GE(ElapsedMs(start), 350);
    EXPECT_LT(ElapsedMs(start), 30000);
    EXPECT_FALSE(port.IsDead());
}

TEST_F(SerialTiming, WriteReturnsWhenTheBytesAreOnTheLine) {
    CSerialPort port;
    ASSERT_EQ(port.Open("COM1:", 9600, "N81"), 1);
    // 100 bytes of 10 bits at 9600 take 104 ms on a cable, and so they do here.
    const auto start = Clock::now();
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(port.WriteByte(0x55), 1);
    ASSERT_EQ(port.WriteBlock(MakeBytes(50, 1).data(), 50), 1);
    EXPECT_GE(ElapsedMs(start), 100);
    EXPECT_LT(ElapsedMs(start), 20000);
    EXPECT_EQ(ReceiveAtLeast(100).size(), 100u);

    EXPECT_EQ(port.WriteString(""), 0);
    EXPECT_EQ(port.WriteBlock("x", 0), 0);
    EXPECT_TRUE(m_link.Receive(20).empty());
}
