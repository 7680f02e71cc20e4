#include "ports/SerialDevice.h"

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "tests/support/LinkFixture.h"
#include "tests/support/TempDir.h"

class SerialDeviceTest : public LinkFixture {
protected:
    void SetUp() override {
        LinkFixture::SetUp();
        ASSERT_EQ(m_device.Open(m_link.GetDevicePath()), 0);
        CLineSettings applied;
        ASSERT_EQ(m_device.Apply(CLineSettings(), applied), 0);
    }
    CSerialDevice m_device;
};

TEST_F(SerialDeviceTest, LineEventWaitEndsForBytesWakeAndHangUp) {
    // Another thread ends the wait at any moment: here once it has begun, since a Wake before
    // it would end it as well.
    std::atomic<long> nTid{0};
    auto waiting = std::async(std::launch::async, [&] {
        nTid = static_cast<long>(gettid());
        return m_device.WaitEvent();
    });
    ASSERT_TRUE(WaitUntil([&] { return nTid != 0 && IsThreadInPoll(nTid); }));
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

TEST_F(SerialDeviceTest, PseudoTerminalHasItsModemLinesAssertedAndNoSerialFlags) {
    m_device.SetDtr(true);
    EXPECT_EQ(m_device.GetDsr(), ISerialDevice::ELine::On);
    EXPECT_EQ(m_device.OutputQueued(), 0);
    // The serial link asks for low latency on every open; a pseudo-terminal refuses.
    int nFlags = 0;
    EXPECT_NE(m_device.GetSerialFlags(nFlags), 0);
    EXPECT_NE(m_device.SetSerialFlags(0), 0);
}

TEST_F(SerialDeviceTest, PurgingInputLeavesWhatWasWrittenForTheFarEnd) {
    ASSERT_TRUE(m_link.Send("in", 2));
    ASSERT_EQ(m_device.WaitEvent(), CSerialDevice::EEvent::Data);
    ASSERT_EQ(m_device.WriteSome("out", 3, 1000), 3);

    m_device.Purge(ISerialDevice::EQueue::Input);
    uint8_t buffer[16];
    EXPECT_EQ(m_device.ReadAvailable(buffer, sizeof buffer), 0);
    std::vector<uint8_t> received;
    ASSERT_TRUE(WaitUntil([&] {
        const std::vector<uint8_t> bytes = m_link.Receive(10);
        received.insert(received.end(), bytes.begin(), bytes.end());
        return received.size() >= 3;
    }));
    EXPECT_EQ(std::string(received.begin(), received.end()), "out");
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
    CLineSettings applied;
    EXPECT_EQ(m_device.Apply(settings, applied), EINVAL);
    EXPECT_FALSE(CSerialDevice::IsSupportedBaud(0));
    EXPECT_TRUE(CSerialDevice::IsSupportedBaud(38400));
}

TEST(LineSettingsOf, ReadsRateAndFrameBackFromTermios) {
    struct {
        speed_t m_speed;
        tcflag_t m_cflag;
        uint32_t m_nBaud;
        int m_nParity;
        int m_nBitsPerByte;
    } const cases[] = {
        {B9600, CS8, 9600, 0, 10},
        {B38400, CS8 | CRTSCTS, 38400, 0, 10},
        {B4000000, CS8, 4000000, 0, 10},
        {B1200, CS7 | PARENB | PARODD, 1200, 1, 10},
        {B2400, CS7 | PARENB | CSTOPB, 2400, 2, 11},
        {B19200, CS8 | PARENB | PARODD | CMSPAR | CSTOPB, 19200, 3, 12},
        {B0, CS8, 0, 0, 10}, // hung up: no rate to pace by
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_nBaud);
        struct termios tio {};
        cfmakeraw(&tio);
        tio.c_cflag = (tio.c_cflag & ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB)) | c.m_cflag;
        cfsetspeed(&tio, c.m_speed);
        const CLineSettings settings = LineSettingsOf(tio);
        EXPECT_EQ(settings.m_nBaud, c.m_nBaud);
        EXPECT_EQ(settings.m_nParity, c.m_nParity);
        EXPECT_EQ(settings.BitsPerByte(), c.m_nBitsPerByte);
        EXPECT_EQ(settings.m_bCtsFlow, (c.m_cflag & CRTSCTS) != 0);
        if (c.m_nBaud != 0) {
            EXPECT_TRUE(CSerialDevice::IsSupportedBaud(settings.m_nBaud));
        }
    }
}

TEST(SerialDeviceRestore, SettingsBeforeOpenAreBackAfterClose) {
    // A pseudo-terminal as another program left it: cooked, echoing, 1200 baud, 7E1.
    int nMaster = -1, nSlave = -1;
    ASSERT_EQ(openpty(&nMaster, &nSlave, nullptr, nullptr, nullptr), 0);
    struct termios before {};
    ASSERT_EQ(tcgetattr(nSlave, &before), 0);
    before.c_lflag |= ICANON | ECHO | ISIG;
    before.c_cflag = (before.c_cflag & ~CSIZE) | CS7 | PARENB;
    cfsetspeed(&before, B1200);
    ASSERT_EQ(tcsetattr(nSlave, TCSANOW, &before), 0);
    ASSERT_EQ(tcgetattr(nSlave, &before), 0);

    {
        CSerialDevice device;
        ASSERT_EQ(device.Open(ttyname(nSlave)), 0);
        CLineSettings settings;
        settings.m_nBaud = 38400;
        settings.m_bCtsFlow = true;
        CLineSettings applied;
        ASSERT_EQ(device.Apply(settings, applied), 0);
        struct termios during {};
        ASSERT_EQ(tcgetattr(nSlave, &during), 0);
        EXPECT_EQ(during.c_lflag & ICANON, 0u) << "the settings never took";
        device.Close();
    }
    struct termios after {};
    ASSERT_EQ(tcgetattr(nSlave, &after), 0);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    EXPECT_EQ(0, std::memcmp(after.c_cc, before.c_cc, sizeof after.c_cc));
    close(nSlave);
    close(nMaster);
}

TEST(SerialDeviceTrigger, ReceiveTriggerIsTheDevicesRxTrigBytesUnderTheSysRoot) {
    int nMaster = -1, nSlave = -1;
    ASSERT_EQ(openpty(&nMaster, &nSlave, nullptr, nullptr, nullptr), 0);
    const std::string strPath = ttyname(nSlave);
    CTempDir sys("versionup-sys");
    const std::filesystem::path dir =
        sys.Path() / "class/tty" / std::filesystem::path(strPath).filename();
    {
        CSerialDevice device(sys.Path().string());
        ASSERT_EQ(device.Open(strPath), 0);
        int nBytes = 0;
        EXPECT_EQ(device.GetReceiveTrigger(nBytes), ENOENT) << "no FIFO to set";
        EXPECT_EQ(device.SetReceiveTrigger(1), ENOENT);
    }
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "rx_trig_bytes") << "8\n";
    CSerialDevice device(sys.Path().string());
    ASSERT_EQ(device.Open(strPath), 0);
    int nBytes = 0;
    ASSERT_EQ(device.GetReceiveTrigger(nBytes), 0);
    EXPECT_EQ(nBytes, 8);
    ASSERT_EQ(device.SetReceiveTrigger(1), 0);
    ASSERT_EQ(device.GetReceiveTrigger(nBytes), 0);
    EXPECT_EQ(nBytes, 1);
    device.Close();
    close(nSlave);
    close(nMaster);
}
