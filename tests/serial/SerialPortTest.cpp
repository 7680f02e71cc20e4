#include "serial/SerialPort.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <set>

#include "sim/MachineSim.h"
#include "tests/support/LinkFixture.h"

using Clock = std::chrono::steady_clock;

namespace {

// The one receive thread running, "" when there is none or more than one.
std::string TheReceiveThread() {
    const std::set<std::string> ids = ReceiveThreads();
    return ids.size() == 1 ? *ids.begin() : "";
}

int64_t ProcessCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::vector<uint8_t> Pattern(size_t nCount) {
    std::vector<uint8_t> bytes(nCount);
    for (size_t i = 0; i < nCount; ++i)
        bytes[i] = static_cast<uint8_t>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

// Takes bytes until nCount have come or nothing more arrives for nQuietMs.
std::vector<uint8_t> TakeAll(CSerialPort& port, size_t nCount, int nQuietMs = 3000) {
    std::vector<uint8_t> got;
    while (got.size() < nCount && port.WaitForByte(nQuietMs)) {
        int nByte;
        while ((nByte = port.ReadByte()) >= 0)
            got.push_back(static_cast<uint8_t>(nByte));
    }
    return got;
}

} // namespace

class CSerialPortProbe {
public:
    static int CountStored(const CSerialPort& port) { return port.CountStored(); }
};

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
            EXPECT_EQ(port.m_dcb.Parity, c.m_nParity);
            EXPECT_EQ(port.m_dcb.ByteSize, c.m_nByteSize);
            EXPECT_EQ(port.m_dcb.StopBits, (c.m_cflag & CSTOPB) ? 2 : 0);
            EXPECT_EQ(port.m_dcb.fDtrControl, c.m_nDtrControl);
            EXPECT_EQ(port.m_dcb.fRtsControl, 2u);
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
    ASSERT_TRUE(WaitUntil([&] { return port.WaitForByte(10) == 1; }, 3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
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

    const auto start = Clock::now();
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(port.ReadByte(), -1);
    EXPECT_LT(ElapsedMs(start), 500);

    const uint8_t reply[] = {255, 0, 'V', '2'};
    ASSERT_TRUE(m_link.Send(reply, sizeof reply));
    ASSERT_EQ(port.WaitForByte(3000), 1);
    ASSERT_TRUE(WaitUntil([&] { return port.ReadBytes(nullptr, 0) == 0; }, 10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

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

TEST_F(SerialPortTest, WaitForByteIsBounded) {
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
    start = Clock::now();
    EXPECT_EQ(port.WaitForByte(5000), 1);
    EXPECT_LT(ElapsedMs(start), 2500);
    sender.join();
    EXPECT_EQ(port.ReadByte(), 'F');
}

TEST_F(SerialPortTest, CloseEndsTheThreadPromptly) {
    {
        // The thread sits in its wait for a line event.
        CSerialPort port;
        ASSERT_EQ(port.Open("COM1:", 9600, "N81H"), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const auto start = Clock::now();
        port.Close();
        EXPECT_LT(ElapsedMs(start), 500);
        EXPECT_TRUE(ReceiveThreads().empty());
    }
    {
        // The thread waits for room: the buffer is full and nobody reads.
        CSerialPort port;
        ASSERT_EQ(port.Open("COM1:", 921600, "N81"), 1);
        const std::vector<uint8_t> bytes = Pattern(20000);
        ASSERT_TRUE(m_link.Send(bytes.data(), bytes.size()));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const auto start = Clock::now();
        port.Close();
        EXPECT_LT(ElapsedMs(start), 500);
        EXPECT_TRUE(ReceiveThreads().empty());
        EXPECT_EQ(port.ReadByte(), bytes[0]);
    }
}

TEST_F(SerialPortTest, FullBufferPausesUntilTakenThenRewinds) {
    CSerialPort port;
    ASSERT_EQ(port.Open("COM1:", 921600, "N81"), 1);
    const std::vector<uint8_t> sent = Pattern(64 * 1024);
    std::thread sender([&] { m_link.Send(sent.data(), sent.size()); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    // Nearly the whole buffer is stored, and reception stays paused while any of it is unread.
    const int nStored = CSerialPortProbe::CountStored(port);
    EXPECT_GT(nStored, 16128);
    EXPECT_LE(nStored, 16384);
    std::vector<uint8_t> got(nStored - 1);
    EXPECT_EQ(port.ReadBytes(got.data(), nStored - 1), nStored - 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(CSerialPortProbe::CountStored(port), 1);

    const std::vector<uint8_t> rest = TakeAll(port, sent.size() - got.size());
    got.insert(got.end(), rest.begin(), rest.end());
    sender.join();
    ASSERT_EQ(got.size(), sent.size());
    EXPECT_TRUE(got == sent) << "bytes lost or out of order";
}

TEST_F(SerialPortTest, PeerHangUpKillsThePortWithoutSpinning) {
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
    const int64_t nCpuStart = ProcessCpuMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LT(ProcessCpuMs() - nCpuStart, 100);

    auto start = Clock::now();
    EXPECT_EQ(port.WriteString("F;"), 0);
    EXPECT_EQ(port.WaitForByte(0), 1); // what came before the hang-up is still there
    EXPECT_EQ(port.ReadByte(), 'V');
    EXPECT_EQ(port.ReadByte(), '2');
    EXPECT_EQ(port.WaitForByte(3000), 0);
    EXPECT_LT(ElapsedMs(start), 1000);
    port.Close();
    EXPECT_TRUE(ReceiveThreads().empty());
}

TEST_F(SerialPortTest, WriteWaitsOutAShortHoldAndGivesUpOnAStall) {
    CSerialPort port;
    ASSERT_EQ(port.Open("COM1:", 4000000, "N81H"), 1);
    const std::vector<uint8_t> sent = Pattern(256 * 1024);

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
    EXPECT_LT(ElapsedMs(start), 5000);
    EXPECT_FALSE(port.IsDead());
}

TEST_F(SerialPortTest, WriteReturnsWhenTheBytesAreOnTheLine) {
    CSerialPort port;
    ASSERT_EQ(port.Open("COM1:", 9600, "N81"), 1);
    // 100 bytes of 10 bits at 9600 take 104 ms on a cable, and so they do here.
    const auto start = Clock::now();
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(port.WriteByte(0x55), 1);
    ASSERT_EQ(port.WriteBlock(Pattern(50).data(), 50), 1);
    EXPECT_GE(ElapsedMs(start), 100);
    EXPECT_LT(ElapsedMs(start), 2000);
    EXPECT_EQ(ReceiveAtLeast(100).size(), 100u);

    EXPECT_EQ(port.WriteString(""), 0);
    EXPECT_EQ(port.WriteBlock("x", 0), 0);
    EXPECT_TRUE(m_link.Receive(20).empty());
}

namespace {

// Boot mode as far as the synchronisation goes: 0x00 back after a number of 0x00 bytes. It
// counts what still comes once the answer is out; bytes that were already on their way when it
// answered (same batch) are not the program's doing.
class CSyncAnswer : public IMachineMode {
public:
    explicit CSyncAnswer(int nAfter) : m_nAfter(nAfter) {}
    void OnReceive(CPtyLink& link, const std::vector<uint8_t>& bytes) override {
        if (m_bAnswered) {
            m_nAfterAnswer += static_cast<int>(bytes.size());
            return;
        }
        for (uint8_t nByte : bytes) {
            if (nByte == 0 && ++m_nZeros == m_nAfter) {
                link.Send(uint8_t{0});
                m_bAnswered = true;
            }
        }
    }
    int GetAfterAnswer() const { return m_nAfterAnswer; }

private:
    int m_nAfter;
    int m_nZeros = 0;
    bool m_bAnswered = false;
    int m_nAfterAnswer = 0;
};

} // namespace

TEST(SerialPacingTest, SyncLoopSendsOneByteAPerMillisecondAndStopsAtTheAnswer) {
    CPortsHome home;
    CMachineSim sim;
    constexpr int kAnswerAfter = 200;
    auto pAnswer = std::make_unique<CSyncAnswer>(kAnswerAfter);
    const CSyncAnswer* pSync = pAnswer.get();
    sim.SetBootMode(std::move(pAnswer));
    sim.GetLink().SetPaced(true);
    ASSERT_TRUE(sim.Start(home.GetPortsDir(), 1));

    CSerialPort port;
    ASSERT_EQ(port.Open("COM1:", 9600, "N81"), 1);
    int nSent = 0;
    const auto start = Clock::now();
    while (nSent < 5000 && ElapsedMs(start) < 10000) {
        port.WriteByte(0x00);
        ++nSent;
        if (port.ReadByte() == 0x00)
            break;
    }
    const int64_t nElapsedMs = ElapsedMs(start);
    port.Close();
    sim.Stop();

    EXPECT_GE(nSent, kAnswerAfter);
    EXPECT_LE(pSync->GetAfterAnswer(), 2);
    // 1.04 ms a byte; generous above for a busy machine.
    EXPECT_GE(nElapsedMs, kAnswerAfter);
    EXPECT_LT(nElapsedMs, kAnswerAfter * 4);
    EXPECT_EQ(sim.GetLink().GetRecord().size(), static_cast<size_t>(nSent));
}
