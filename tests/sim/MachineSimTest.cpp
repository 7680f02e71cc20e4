#include "sim/MachineSim.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>

#include "serial/SerialPort.h"
#include "sim/BootMode.h"
#include "sim/NormalMode.h"
#include "tests/support/LinkFixture.h"

using Clock = std::chrono::steady_clock;

namespace {

// A mode that only keeps what it was given, batch by batch.
class CRecordingMode : public IMachineMode {
public:
    explicit CRecordingMode(std::vector<uint8_t>* pBytes, std::mutex* pMutex)
        : m_pBytes(pBytes), m_pMutex(pMutex) {}
    void OnReceive(CPtyLink&, const std::vector<uint8_t>& bytes) override {
        std::lock_guard lock(*m_pMutex);
        m_pBytes->insert(m_pBytes->end(), bytes.begin(), bytes.end());
    }

private:
    std::vector<uint8_t>* m_pBytes;
    std::mutex* m_pMutex;
};

// Answers every byte with its complement, as a stand-in for a real reply.
class CComplementMode : public IMachineMode {
public:
    void OnReceive(CPtyLink& link, const std::vector<uint8_t>& bytes) override {
        for (uint8_t nByte : bytes)
            link.Send(static_cast<uint8_t>(~nByte));
    }
};

} // namespace

TEST(PtyLinkTest, LinksTheProgramSideAndRecordsWhatItSends) {
    CPortsHome home;
    CPtyLink link;
    ASSERT_TRUE(link.Open(home.GetPortsDir() + "/deeper", 3));
    const std::string strLink = home.GetPortsDir() + "/deeper/com3";
    EXPECT_EQ(std::filesystem::read_symlink(strLink).string(), link.GetDevicePath());

    CSerialPort port;
    ASSERT_EQ(port.Open(strLink.c_str(), 38400, "N81H"), 1);
    EXPECT_EQ(link.GetBaud(), 38400u);
    EXPECT_TRUE(link.GetSettings().c_cflag & CRTSCTS);

    port.WriteString("F;");
    port.WriteString("F;");
    std::vector<uint8_t> got;
    const auto start = Clock::now();
    while (got.size() < 4 && ElapsedMs(start) < 3000) {
        const std::vector<uint8_t> more = link.Receive(50);
        got.insert(got.end(), more.begin(), more.end());
    }
    EXPECT_EQ(std::string(got.begin(), got.end()), "F;F;");
    EXPECT_EQ(link.GetRecord(), got);
    link.ClearRecord();
    EXPECT_TRUE(link.GetRecord().empty());

    // The settings outlive the program's Close, so a test can still check them.
    port.Close();
    EXPECT_EQ(link.GetBaud(), 38400u);

    link.Close();
    EXPECT_FALSE(link.IsOpen());
    EXPECT_FALSE(std::filesystem::is_symlink(strLink));
}

TEST(MachineSimTest, NormalModeUntilTheFirstZeroThenBootModeForGood) {
    CPortsHome home;
    std::mutex mutex;
    std::vector<uint8_t> normal, boot;
    CMachineSim sim;
    sim.SetNormalMode(std::make_unique<CRecordingMode>(&normal, &mutex));
    sim.SetBootMode(std::make_unique<CRecordingMode>(&boot, &mutex));
    ASSERT_TRUE(sim.Start(home.GetPortsDir(), 2));

    CSerialPort port;
    ASSERT_EQ(port.Open("COM2:", 115200, "N81"), 1);
    auto received = [&](const std::vector<uint8_t>& bytes, size_t nCount) {
        return WaitUntil([&] {
            std::lock_guard lock(mutex);
            return bytes.size() >= nCount;
        });
    };
    port.WriteString("F;");
    ASSERT_TRUE(received(normal, 2));
    EXPECT_FALSE(sim.IsInBootMode());
    const uint8_t block[] = {'F', 0x00, 0x55, 'F', ';'};
    port.WriteBlock(block, sizeof block);
    ASSERT_TRUE(received(boot, 4));
    port.WriteString("F;");
    ASSERT_TRUE(received(boot, 6));
    port.Close();
    sim.Stop();

    EXPECT_TRUE(sim.IsInBootMode());
    std::lock_guard lock(mutex);
    EXPECT_EQ(normal, (std::vector<uint8_t>{'F', ';', 'F'}));
    EXPECT_EQ(boot, (std::vector<uint8_t>{0x00, 0x55, 'F', ';', 'F', ';'}));
}

TEST(MachineSimTest, AnswersThroughTheLinkAndStallsOnRequest) {
    CPortsHome home;
    CMachineSim sim; // null boot mode: records only
    sim.SetNormalMode(std::make_unique<CComplementMode>());
    ASSERT_TRUE(sim.Start(home.GetPortsDir(), 1));
    CSerialPort port;
    ASSERT_EQ(port.Open("COM1:", 9600, "N81H"), 1);

    port.WriteByte(0x0F);
    ASSERT_EQ(port.WaitForByte(3000), 1);
    EXPECT_EQ(port.ReadByte(), 0xF0);

    sim.Stall(400);
    port.WriteByte(0x01);
    EXPECT_EQ(port.WaitForByte(200), 0) << "a stalled machine answers nothing";
    ASSERT_EQ(port.WaitForByte(3000), 1);
    EXPECT_EQ(port.ReadByte(), 0xFE);

    port.WriteByte(0x00); // boot mode is null: recorded, unanswered
    EXPECT_EQ(port.WaitForByte(200), 0);
    EXPECT_EQ(sim.GetLink().GetRecord(), (std::vector<uint8_t>{0x0F, 0x01, 0x00}));
}

TEST(MachineSimTest, NormalModeNamesEveryQueryAskedOnAnotherLine) {
    const struct {
        uint32_t m_nBaud;
        const char* m_pszMode;
        const char* m_pszFault; // "" when the line is the query's
    } cases[] = {
        {9600, "N81H", ""},
        {9600, "N81", "query 1: no RTS/CTS handshake"},
        {4800, "N82H", "query 1: baud is not 9600, 2 stop bits"},
        {9600, "N81X", "query 1: no RTS/CTS handshake, XON/XOFF on"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.m_nBaud) + " " + c.m_pszMode);
        CPortsHome home;
        CMachineSim sim;
        auto pMode = std::make_unique<CNormalMode>();
        const CNormalMode& mode = *pMode;
        sim.SetNormalMode(std::move(pMode));
        ASSERT_TRUE(sim.Start(home.GetPortsDir(), 1));
        CSerialPort port;
        ASSERT_EQ(port.Open("COM1:", c.m_nBaud, c.m_pszMode), 1);
        port.WriteString("F;");
        ASSERT_EQ(port.WaitForByte(5000), 1);
        port.Close();
        ASSERT_EQ(mode.GetQuerySettings().size(), 1u);
        const std::vector<std::string> faults = mode.GetSettingsFaults();
        EXPECT_EQ(faults.empty() ? "" : faults[0], c.m_pszFault);
    }
}

// The boot mode fed by hand on the test's thread, so the test decides when the machine reads.
class BootModeByHandTest : public LinkFixture {
protected:
    // The program's side, set as the program sets it: raw, CLOCAL, at nSpeed.
    void SetLine(speed_t nSpeed, bool bRtsCts) {
        struct termios tio = m_saved;
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cflag &= ~CRTSCTS;
        if (bRtsCts)
            tio.c_cflag |= CRTSCTS;
        cfsetispeed(&tio, nSpeed);
        cfsetospeed(&tio, nSpeed);
        ASSERT_EQ(tcsetattr(m_nFd, TCSANOW, &tio), 0);
    }
    // Writes the bytes, then lets the machine read them, with the line as it is by then.
    void Deliver(const std::vector<uint8_t>& bytes) {
        ASSERT_EQ(write(m_nFd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    void Read(size_t nCount) { m_pBoot->OnReceive(m_link, ReceiveAtLeast(nCount)); }
    // Through the synchronisation and a loader of two bytes to the package.
    void ReachPackage() {
        m_nFd = open(m_link.GetDevicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(m_nFd, 0);
        ASSERT_EQ(tcgetattr(m_nFd, &m_saved), 0);
        SetLine(B9600, false);
        for (const std::vector<uint8_t>& step :
             {std::vector<uint8_t>{0x00}, {0x55}, {0x00}, {0x02}, {0x12, 0x34}}) {
            Deliver(step);
            Read(step.size());
        }
        ASSERT_EQ(m_pBoot->GetStage(), CBootMode::EStage::Package);
    }
    void CloseAsTheProgramDoes() {
        tcsetattr(m_nFd, TCSANOW, &m_saved);
        close(m_nFd);
        m_nFd = -1;
    }
    void TearDown() override {
        if (m_nFd >= 0)
            close(m_nFd);
    }

    std::unique_ptr<CBootMode> m_pBoot;
    int m_nFd = -1;
    struct termios m_saved {};
};

// The package gets no answer, so a program may write its end, close the port and so put back
// the settings it found, all before the machine reads that end. The machine judges the settings
// of the bytes it reads while the program still holds the line, and only those.
TEST_F(BootModeByHandTest, JudgesThePackageBytesReadWhileTheProgramHoldsTheLine) {
    const struct {
        const char* m_pszName;
        bool m_bRtsCts;
        bool m_bClosedBeforeRead;
        std::vector<std::string> m_faults;
        int m_nPackageChecks;
    } cases[] = {
        {"right settings, read at once", true, false, {}, 1},
        {"right settings, read after the close", true, true, {}, 0},
        {"no handshake, read at once", false, false, {"package: no RTS/CTS handshake"}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        m_pBoot = std::make_unique<CBootMode>();
        ReachPackage();
        ASSERT_EQ(m_pBoot->GetSettingsFaults(), std::vector<std::string>{});
        SetLine(B38400, c.m_bRtsCts);
        Deliver({1, 2, 3, 4});
        if (c.m_bClosedBeforeRead) {
            CloseAsTheProgramDoes();
            EXPECT_TRUE(m_link.IsAtRest());
        }
        Read(4);
        EXPECT_EQ(m_pBoot->GetPackage(), (std::vector<uint8_t>{1, 2, 3, 4}));
        EXPECT_EQ(m_pBoot->GetSettingsFaults(), c.m_faults);
        EXPECT_EQ(m_pBoot->GetPackageChecks(), c.m_nPackageChecks);
        if (m_nFd >= 0)
            CloseAsTheProgramDoes();
    }
}

// A machine told to stop does not first sit out its hold of the line: a test's Stop after a
// Cancel would otherwise wait as long as the hold.
TEST_F(BootModeByHandTest, InterruptEndsAHoldOfTheLine) {
    CBootMode::CBehaviour behaviour;
    behaviour.m_nStallAtPackageByte = 0; // from the end of the loader
    behaviour.m_nStallMs = 3'600'000;
    m_pBoot = std::make_unique<CBootMode>(behaviour);
    std::thread machine([this] { ReachPackage(); });
    const bool bHeld = WaitUntil([this] { return m_pBoot->HasHeldLine(); });
    m_link.Interrupt();
    machine.join();
    ASSERT_TRUE(bHeld);
    EXPECT_EQ(m_pBoot->GetStage(), CBootMode::EStage::Package);
}

TEST(MachineSimCommandTest, RunsUntilToldToStopAndCountsTheBytes) {
    CPortsHome home;
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const std::string strPorts = home.GetPortsDir();
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(pipeFds[1], 1);
        close(pipeFds[0]);
        execl(MACHINE_SIM_PATH, MACHINE_SIM_PATH, "--ports", strPorts.c_str(), "--com", "4",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    // However the test leaves, the simulator goes with it: left running it would keep the
    // output CTest reads open, and the failure would wait for the time-out.
    struct CChild {
        pid_t m_pid;
        ~CChild() {
            if (m_pid > 0) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, nullptr, 0);
            }
        }
    } child{pid};
    FILE* pOut = fdopen(pipeFds[0], "r");
    char szLine[512] = {};
    ASSERT_NE(fgets(szLine, sizeof szLine, pOut), nullptr); // linked and running

    {
        CSerialPort port;
        ASSERT_EQ(port.Open("COM4:", 9600, "N81H"), 1);
        EXPECT_EQ(port.WriteString("F;F;F;"), 1);
        // Three answers mean the simulator has read all six bytes; closing earlier would
        // discard what it had not read yet.
        int nAnswers = 0;
        EXPECT_TRUE(WaitUntil([&] {
            port.WaitForByte(50);
            for (int nByte; (nByte = port.ReadByte()) >= 0;)
                nAnswers += nByte == ';';
            return nAnswers == 3;
        }));
    }
    kill(pid, SIGTERM);
    std::string strOutput;
    while (fgets(szLine, sizeof szLine, pOut))
        strOutput += szLine;
    fclose(pOut);
    int nStatus = 0;
    waitpid(pid, &nStatus, 0);
    child.m_pid = 0;
    EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0);
    EXPECT_NE(strOutput.find("received 6 bytes"), std::string::npos) << strOutput;
    EXPECT_FALSE(std::filesystem::is_symlink(strPorts + "/com4"));
}
