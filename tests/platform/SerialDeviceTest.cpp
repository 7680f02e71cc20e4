#include "platform/SerialDevice.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "tests/support/LinkFixture.h"

class SerialDeviceTest : public LinkFixture {
protected:
    void SetUp() override {
        LinkFixture::SetUp();
        ASSERT_EQ(m_device.Open(m_link.GetDevicePath()), 0);
        ASSERT_EQ(m_device.Apply(CLineSettings()), 0);
    }
    CSerialDevice m_device;
};

TEST_F(SerialDeviceTest, LineEventWaitEndsForBytesWakeAndHangUp) {
    // Another thread ends the wait at any moment.
    auto waiting = std::async(std::launch::async, [&] { return m_device.WaitEvent(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    m_device.Wake();
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(waiting.get(), CSerialDevice::EEvent::Woken);
    m_device.ClearWake();

    ASSERT_TRUE(m_link.Send("ab", 2));
    EXPECT_EQ(m_device.WaitEvent(), CSerialDevice::EEvent::Data);
    uint8_t buffer[256];
    EXPECT_EQ(m_device.ReadAvailable(buffer, sizeof buffer), 2);
    EXPECT_EQ(m_device.ReadAvailable(buffer, sizeof buffer), 0) << "empty is not gone";

    // A hang-up ends the wait; the read that follows tells it apart from bytes.
    m_link.Close();
    EXPECT_NE(m_device.WaitEvent(), CSerialDevice::EEvent::Woken);
    EXPECT_EQ(m_device.ReadAvailable(buffer, sizeof buffer), -1);
    EXPECT_EQ(m_device.WriteSome("x", 1, 100), -1);
}

TEST_F(SerialDeviceTest, PseudoTerminalHasItsModemLinesAsserted) {
    m_device.SetDtr(true);
    EXPECT_TRUE(m_device.IsDsrOn());
    EXPECT_EQ(m_device.OutputQueued(), 0);
}

TEST_F(SerialDeviceTest, HeldExclusivelyUntilClosed) {
    CSerialDevice second;
    EXPECT_EQ(second.Open(m_link.GetDevicePath()), EBUSY);
    m_device.Close();
    EXPECT_EQ(second.Open(m_link.GetDevicePath()), 0);
}

TEST_F(SerialDeviceTest, UnknownBaudRateIsRefused) {
    CLineSettings settings;
    settings.m_nBaud = 12345;
    EXPECT_EQ(m_device.Apply(settings), EINVAL);
    EXPECT_FALSE(CSerialDevice::IsSupportedBaud(0));
    EXPECT_TRUE(CSerialDevice::IsSupportedBaud(38400));
}
