#include "serial/SerialPort.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <set>

#include "sim/MachineSim.h"
#include "tests/serial/SerialPortProbe.h"
#include "tests/support/Files.h"
#include "tests/support/LinkFixture.h"

class SerialPortTest : public LinkFixture {};

TEST_F(SerialPortTest, AllByteValuesPassBothWays) {
    // Raw means raw: no CR/LF mapping, no XON/XOFF taken out, no echo.
    const std::vector<uint8_t> all = [] {
        std::vector<uint8_t> bytes(256);
        for (int i = 0; i < 256; ++i)
            bytes[i] = static_cast<uint8_t>(i);
        return bytes;
    }();
    for (const char* pszMode : {"N81", "N81H"}) {
        SCOPED_TRACE(pszMode);
        CSerialPort port;
        ASSERT_EQ(port.Open("COM1:", 115200, pszMode), 1);
        EXPECT_EQ(port.WriteBlock(all.data(), 256), 1);
        EXPECT_EQ(ReceiveAtLeast(256), all);
        ASSERT_TRUE(m_link.Send(all.data(), all.size()));
        EXPECT_EQ(TakeAll(port, 256), all);
        EXPECT_TRUE(m_link.Receive(50).empty()) << "echo";
        port.Close();
    }
}

// Recent kernels keep a pseudo-terminal at 8 bits without parity whatever it is told; the bits it
// does keep are checked on the line, the rest in the settings image.
tcflag_t FramingBitsKept(int nMasterFd) {
    termios tio{};
    tcgetattr(nMasterFd, &tio);
    const termios saved = tio;
    tio.c_cflag = (tio.c_cflag & ~CSIZE) | CS7 | PARENB | PARODD | CMSPAR;
    tcsetattr(nMasterFd, TCSANOW, &tio);
    tcgetattr(nMasterFd, &tio);
    tcsetattr(nMasterFd, TCSANOW, &saved);
    return (tio.c_cflag & (PARENB | PARODD | CMSPAR)) | ((tio.c_cflag & CSIZE) == CS7 ? CSIZE : 0);
}

TEST_F(SerialPortTest, ModeStringsSetTheLine) {
    struct CCase {
        const char* m_pszMode;
        tcflag_t m_cflag; // of CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS
        bool m_bXonXoff;
        unsigned m_nDtrControl;
        int m_nParity;
        int m_nByteSize;
    };
    const CCase cases[] = {
        {"N81", CS8, false, 1, 0, 8},
        {"N81H", CS8 | CRTSCTS, false, 2, 0, 8},
        {"N81HZ", CS8 | CRTSCTS, false, 2, 0, 8}, // letters after the fourth are not looked at
        {"E72", CS7 | PARENB | CSTOPB, false, 1, 2, 7},
        {"O82X", CS8 | PARENB | PARODD | CSTOPB, true, 1, 1, 8},
        {"M71", CS7 | PARENB | PARODD | CMSPAR, false, 1, 3, 7},
    };
    const tcflag_t mask = FramingBitsKept(m_link.GetMasterFd()) | CSTOPB | CRTSCTS;
    for (const CCase& c : cases) {
        for (uint32_t nBaud : {9600u, 38400u, 115200u}) {
            SCOPED_TRACE(std::string(c.m_pszMode) + " at " + std::to_string(nBaud));
            CSerialPort port;
            ASSERT_EQ(port.Open("COM1:", nBaud, c.m_pszMode), 1);
            const termios tio = m_link.GetSettings();
            EXPECT_EQ(tio.c_cflag & mask, c.m_cflag & mask);
            EXPECT_TRUE(tio.c_cflag & CLOCAL);
            EXPECT_TRUE(tio.c_cflag & CREAD);
            EXPECT_EQ((tio.c_iflag & (IXON | IXOFF)) != 0, c.m_bXonXoff);
            EXPECT_EQ(tio.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP), 0u);
            EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
            EXPECT_EQ(tio.c_oflag & OPOST, 0u);
            EXPECT_EQ(m_link.GetBaud(), nBaud);
            EXPECT_EQ(port.m_settings.Parity, c.m_nParity);
            EXPECT_EQ(port.m_settings.ByteSize, c.m_nByteSize);
            EXPECT_EQ(port.m_settings.StopBits, (c.m_cflag & CSTOPB) ? 2 : 0);
            EXPECT_EQ(port.m_settings.fDtrControl, c.m_nDtrControl);
            EXPECT_EQ(port.m_settings.fRtsControl, 2u);
            EXPECT_EQ(port.m_timeouts.WriteTotalTimeoutConstant, 1000u);
            EXPECT_EQ(port.m_timeouts.WriteTotalTimeoutMultiplier, 19200 / nBaud);
            EXPECT_EQ(port.m_timeouts.ReadIntervalTimeout, 0xFFFFFFFFu);
            port.Close();
        }
    }
}

TEST_F(SerialPortTest, RejectedModeLeavesThePortUntouched) {
    termios preset = m_link.GetSettings();
    cfsetspeed(&preset, B1200);
    preset.c_cflag |= CSTOPB;
    preset.c_iflag |= IXON;
    ASSERT_EQ(tcsetattr(m_link.GetMasterFd(), TCSANOW, &preset), 0);

    for (const char* pszMode : {"n81", "S81", "N91", "N83", "N81Q", "N8", ""}) {
        SCOPED_TRACE(pszMode);
        CSerialPort port;
        EXPECT_EQ(port.Open("COM1:", 9600, pszMode), 0);
        EXPECT_EQ(port.GetOpenError().m_nErrno, 0);
        EXPECT_EQ(m_link.GetBaud(), 1200u);
        EXPECT_TRUE(m_link.GetSettings().c_cflag & CSTOPB);
        EXPECT_TRUE(m_link.GetSettings().c_iflag & IXON);
        EXPECT_EQ(port.WriteByte('x'), 0);
        EXPECT_TRUE(m_link.Receive(10).empty());
    }
    // Nothing was left holding the device.
    CSerialPort port;
    EXPECT_EQ(port.Open("COM1:", 9600, "N81"), 1);
}

TEST_F(SerialPortTest, OpenErrorsTellAbsentBusyAndDeniedApart) {
    CSerialPort first;
    ASSERT_EQ(first.Open("COM1:", 9600, "N81H"), 1);

    {
        // The lock holds against root too, where the exclusive-use flag does not.
        CSerialPort second;
        EXPECT_EQ(second.Open("COM1:", 9600, "N81H"), 0);
        EXPECT_EQ(second.GetOpenError().m_nErrno, EBUSY);
        EXPECT_EQ(second.GetOpenError().m_strDevice, m_link.GetDevicePath());
    }
    {
        const std::string strLink = m_home.GetPortsDir() + "/com3";
        ASSERT_EQ(symlink("/dev/versionup-no-such-device", strLink.c_str()), 0);
        CSerialPort absent;
        EXPECT_EQ(absent.Open("COM3:", 9600, "N81H"), 0);
        EXPECT_EQ(absent.GetOpenError().m_nErrno, ENOENT);
        EXPECT_EQ(absent.GetOpenError().m_strDevice, "/dev/versionup-no-such-device");
    }
    {
        CSerialPort nowhere;
        EXPECT_EQ(nowhere.Open("PRN", 9600, "N81H"), 0);
        EXPECT_NE(nowhere.GetOpenError().m_nErrno, 0);
        EXPECT_EQ(nowhere.GetOpenError().m_strDevice, "");
    }
    first.Close();

    // Permission denied, as an operator outside the dialout group sees it.
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (getuid() == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0)
                _exit(2);
        } else if (chmod(m_link.GetDevicePath().c_str(), 0) != 0) {
            _exit(2);
        }
        CSerialPort port;
        const int nOpened = port.Open(m_link.GetDevicePath().c_str(), 9600, "N81");
        _exit(nOpened == 0 && port.GetOpenError().m_nErrno == EACCES ? 0 : 1);
    }
    int nStatus = 0;
    waitpid(pid, &nStatus, 0);
    EXPECT_TRUE(WIFEXITED(nStatus));
    EXPECT_EQ(WEXITSTATUS(nStatus), 0);
}

TEST_F(SerialPortTest, ReopenStartsAFreshThreadAndDropsUnreadBytes) {
    CSerialPort port;
    ASSERT_EQ(port.Open("COM1:", 9600, "N81H"), 1);
    const std::string strFirst = TheReceiveThread();
    EXPECT_FALSE(strFirst.empty());

    ASSERT_TRUE(m_link.Send("abc", 3));
    ASSERT_TRUE(WaitUntil([&] { return CSerialPortProbe::CountStored(port) == 3; }));
    port.Close();
    EXPECT_TRUE(ReceiveThreads().empty());
    // Bytes that came before Close can still be taken.
    EXPECT_EQ(port.ReadByte(), 'a');

    ASSERT_EQ(port.Open("COM1:", 9600, "N81H"), 1);
    const std::string strSecond = TheReceiveThread();
    EXPECT_FALSE(strSecond.empty());
    EXPECT_NE(strSecond, strFirst);
    EXPECT_EQ(port.ReadByte(), -1);

    ASSERT_TRUE(m_link.Send("d", 1));
    EXPECT_EQ(TakeAll(port, 1), std::vector<uint8_t>{'d'});
    port.Close();
    EXPECT_TRUE(ReceiveThreads().empty());
}

TEST_F(SerialPortTest, ReadByteAndReadBytes) {
    CSerialPort port;
    EXPECT_EQ(port.ReadByte(), -1); // before any Open
    ASSERT_EQ(port.Open("COM1:", 9600, "N81"), 1);

    // Nothing there: no waiting for it.
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(port.ReadByte(), -1);

    const uint8_t reply[] = {255, 0, 'V', '2'};
    ASSERT_TRUE(m_link.Send(reply, sizeof reply));
    ASSERT_EQ(port.WaitForByte(3000), 1);
    EXPECT_EQ(port.ReadBytes(nullptr, 0), 0);
    ASSERT_TRUE(WaitUntil([&] { return CSerialPortProbe::CountStored(port) == 4; }));

    EXPECT_EQ(port.ReadByte(), 255);
    uint8_t dest[32] = {};
    EXPECT_EQ(port.ReadBytes(dest, 0), 0);
    EXPECT_EQ(port.ReadBytes(dest, 32), 3);
    EXPECT_EQ(dest[0], 0);
    EXPECT_EQ(dest[1], 'V');
    EXPECT_EQ(dest[2], '2');
    EXPECT_EQ(dest[3], 0) << "no terminator is written";
    EXPECT_EQ(port.ReadBytes(dest, 32), 0);
}

TEST_F(SerialPortTest, SecondWriterWaitsForTheFirstAndNeverCutsIn) {
    CSerialPort port;
    ASSERT_EQ(port.Open("COM1:", 4000000, "N81"), 1);
    // More than the pseudo-terminal holds: the first write stays in progress until it is read.
    const std::vector<uint8_t> sent = MakeBytes(256 * 1024, 1);
    int nFirst = -1;
    std::thread first(
        [&] { nFirst = port.WriteBlock(sent.data(), static_cast<uint32_t>(sent.size())); });
    struct pollfd pfd = {m_link.GetMasterFd(), POLLIN, 0};
    ASSERT_EQ(poll(&pfd, 1, 10000), 1) << "the first write never began";

    // The second writer gives up on the held line rather than slip its byte in between.
    EXPECT_EQ(port.WriteByte('X'), 0);
    EXPECT_TRUE(ReceiveAtLeast(sent.size(), 20000) == sent);
    first.join();
    EXPECT_EQ(nFirst, 1);

    // Done or refused, a write leaves the port free for the next.
    EXPECT_EQ(port.WriteBlock("x", 0), 0);
    EXPECT_EQ(port.WriteByte('Y'), 1);
    EXPECT_EQ(ReceiveAtLeast(1), std::vector<uint8_t>{'Y'});
}
