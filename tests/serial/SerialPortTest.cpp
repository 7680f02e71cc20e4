#include "serial/SerialPort.h"

#include <gtest/gtest.h>

#include "tests/serial/LinkFixture.h"

using Clock = std::chrono::steady_clock;

class SerialPortTest : public LinkFixture {};

TEST_F(SerialPortTest, AllByteValuesPassBothWays) {
    for (const char* pszMode : {"N81", "N81H"}) {
        SCOPED_TRACE(pszMode);
        CSerialPort port;
        ASSERT_EQ(port.Open("COM1:", 115200, pszMode), 1);
        std::vector<uint8_t> all(256);
        for (int i = 0; i < 256; ++i)
            all[i] = static_cast<uint8_t>(i);

        EXPECT_EQ(port.WriteBlock(all.data(), 256), 1);
        EXPECT_EQ(ReceiveAtLeast(256), all);

        ASSERT_TRUE(m_link.Send(all.data(), all.size()));
        std::vector<uint8_t> got;
        const auto start = Clock::now();
        while (got.size() < 256 && ElapsedMs(start) < 5000) {
            port.WaitForByte(100);
            int nByte;
            while ((nByte = port.ReadByte()) >= 0)
                got.push_back(static_cast<uint8_t>(nByte));
        }
        EXPECT_EQ(got, all);
        port.Close();
    }
}
