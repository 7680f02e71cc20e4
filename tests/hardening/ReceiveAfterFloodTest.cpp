// A port object opened again after a device filled its receive buffer and nobody read it: what
// discovery does when COM1 babbles and the machine is on COM3, and what the version check does
// on Retry. The new opening must receive from its first byte on.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "serial/SerialPort.h"
#include "sim/PtyLink.h"
#include "tests/serial/SerialPortProbe.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace {

TEST(ReceiveAfterFlood, ReopenedPortReceivesAfterAFloodFilledTheBuffer) {
    CTempDir dir;
    CPtyLink cable;
    ASSERT_TRUE(cable.Open(dir.Path().string(), 1));
    const std::string strDevice = cable.GetDevicePath();
    const std::vector<uint8_t> flood(17000, 'z'); // more than the 16384-byte buffer holds
    CSerialPort port;
    // The receive thread of the new opening may start before Open empties the buffer; the
    // race is lost often enough that a few rounds show it.
    constexpr int kRounds = 100;
    int nDeaf = 0;
    for (int i = 0; i < kRounds; ++i) {
        ASSERT_EQ(port.Open(strDevice.c_str(), 9600, "N81H"), 1);
        ASSERT_TRUE(cable.Send(flood.data(), flood.size()));
        // Reception pauses once less than a piece of the buffer is left.
        ASSERT_TRUE(WaitUntil([&] { return CSerialPortProbe::CountStored(port) > 16384 - 256; }));
        port.Close();

        ASSERT_EQ(port.Open(strDevice.c_str(), 9600, "N81H"), 1);
        ASSERT_TRUE(cable.Send('m'));
        int nByte = -1;
        WaitUntil([&] {
            port.WaitForByte(50);
            return (nByte = port.ReadByte()) >= 0;
        });
        if (nByte != 'm')
            ++nDeaf;
        port.Close();
    }
    EXPECT_EQ(nDeaf, 0) << "openings that received nothing, of " << kRounds;
}

} // namespace
