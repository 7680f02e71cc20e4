// The Win32 serial device on COM1 of the wine prefix, a pseudo-terminal whose other side the
// Linux machine-sim holds (device-under-wine.sh starts it): the wait's pending read against
// Wake and Close, a purge against the bytes that came before it, and a write held by a peer
// that reads nothing against Cancel. Each case names the machine it needs in its suite:
//   WinSerialSilent  machine-sim --fault silent
//   WinSerialMachine machine-sim (answers "F;" with "V250 TVK-50;")
//   WinSerialHeld    machine-sim stopped (SIGSTOP), so the pseudo-terminal fills up
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "ports/SerialDeviceWin32.h"
#include "serial/SerialPort.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kCom1 = "\\\\.\\COM1";
// Only a hang runs into it: every wait here ends on an event the test causes.
constexpr auto kHang = 30s;

void OpenAt9600(CWinSerialDevice& device) {
    ASSERT_EQ(device.Open(kCom1), 0);
    CLineSettings settings;
    CLineSettings applied;
    ASSERT_EQ(device.Apply(settings, applied), 0);
}

// The wait started on a thread of its own, as the receive thread runs it.
std::future<ISerialDevice::EEvent> StartWait(CWinSerialDevice& device) {
    return std::async(std::launch::async, [&device] { return device.WaitEvent(); });
}

// Waits until the wait's one-byte read is pending.
bool WaitForPendingRead(const CWinSerialDevice& device) {
    const auto until = std::chrono::steady_clock::now() + kHang;
    while (!device.HasPendingWait()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Bytes up to and with the first ';', taken the way the receive thread takes them.
std::string ReadReply(CWinSerialDevice& device) {
    std::string strReply;
    const auto until = std::chrono::steady_clock::now() + kHang;
    while (strReply.find(';') == std::string::npos && std::chrono::steady_clock::now() < until) {
        if (device.WaitEvent() != ISerialDevice::EEvent::Data)
            break;
        char buffer[256];
        const ssize_t nRead = device.ReadAvailable(buffer, sizeof buffer);
        if (nRead < 0)
            break;
        strReply.append(buffer, static_cast<size_t>(nRead));
    }
    return strReply;
}

} // namespace

// Wake ends a wait whose read is pending; the read outlives it, and Close ends that read too.
TEST(WinSerialSilent, WakeAndCloseEndAWaitWithAReadPending) {
    CWinSerialDevice device;
    OpenAt9600(device);
    auto wait = StartWait(device);
    ASSERT_TRUE(WaitForPendingRead(device)) << "the wait issued no read";
    device.Wake();
    ASSERT_EQ(wait.wait_for(kHang), std::future_status::ready) << "Wake did not end the wait";
    EXPECT_EQ(wait.get(), ISerialDevice::EEvent::Woken);

    // The next wait takes the pending read up again; a Wake ends it as well. The read may end
    // empty at its time-out just then (a second) and the wait issue the next: until one is left
    // pending behind a Wake, again.
    for (int nTry = 0; nTry == 0 || (nTry < 20 && !device.HasPendingWait()); ++nTry) {
        device.ClearWake();
        wait = StartWait(device);
        ASSERT_TRUE(WaitForPendingRead(device));
        device.Wake();
        ASSERT_EQ(wait.wait_for(kHang), std::future_status::ready);
        EXPECT_EQ(wait.get(), ISerialDevice::EEvent::Woken);
    }
    ASSERT_TRUE(device.HasPendingWait()) << "the case needs a read left pending";
    auto close = std::async(std::launch::async, [&device] { device.Close(); });
    ASSERT_EQ(close.wait_for(kHang), std::future_status::ready) << "Close hangs on the read";
    EXPECT_FALSE(device.IsOpen());
    EXPECT_FALSE(device.HasPendingWait());
    // The port is free again for the next opening.
    OpenAt9600(device);
}

// A reply that came before the purge, its first byte already taken by the wait's read, is gone
// after it: the next query's reply is all that is read.
TEST(WinSerialMachine, PurgeDropsWhatCameBeforeItTheWaitsByteToo) {
    CWinSerialDevice device;
    OpenAt9600(device);
    auto wait = StartWait(device);
    ASSERT_TRUE(WaitForPendingRead(device));
    device.Wake();
    ASSERT_EQ(wait.wait_for(kHang), std::future_status::ready);
    device.ClearWake();

    ASSERT_EQ(device.WriteSome("F;", 2, 1000), 2);
    // The machine writes its reply at once; the wait ends when the pending read has its byte.
    ASSERT_EQ(device.WaitEvent(), ISerialDevice::EEvent::Data);
    device.Purge(ISerialDevice::EQueue::Input);
    char buffer[64];
    EXPECT_EQ(device.ReadAvailable(buffer, sizeof buffer), 0) << "bytes survived the purge";

    ASSERT_EQ(device.WriteSome("F;", 2, 1000), 2);
    EXPECT_EQ(ReadReply(device), "V250 TVK-50;");
    device.Close();
}

// A peer that reads nothing holds the write for good; the operator's Cancel ends it, long
// before the stall limit would.
TEST(WinSerialHeld, AHeldWriteEndsOnCancel) {
    CSerialPort port;
    std::atomic<int> nAsked{0};
    port.SetCancelCheck([&nAsked] {
        ++nAsked;
        return true;
    });
    port.SetStallLimit(10 * 60 * 1000);
    ASSERT_EQ(port.Open("COM1:", 115200, "N81"), 1);
    const std::vector<uint8_t> block(4096, 0x5A);
    // The pseudo-terminal takes some tens of kilobytes before it holds the writer.
    int nWrites = 0;
    while (nWrites < 1000 && port.WriteBlock(block.data(), 4096) == 1)
        ++nWrites;
    EXPECT_LT(nWrites, 1000) << "no write was ever held";
    EXPECT_EQ(port.GetWriteEnd(), EWriteEnd::Cancelled);
    EXPECT_GT(nAsked.load(), 0);
    port.Close();
}
