// versionup-cli in this process against simulated machines on COM1 to COM4: a loader and a
// package small enough that an upgrade takes a moment, and the protocol's pauses cut to nothing.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "cli/Cli.h"
#include "ports/PortMap.h"
#include "resources/Strings.h"
#include "serial/SerialPort.h"
#include "sim/BootMode.h"
#include "sim/MachineSim.h"
#include "tests/support/Files.h"
#include "tests/support/Packages.h"
#include "tests/support/PauseClock.h"
#include "tests/support/ResourceOverride.h"
#include "tests/support/SimPorts.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace {

constexpr size_t kLoaderSize = 40;
constexpr size_t kPackageSize = 600;

struct CCliResult {
    int m_nExit = -1;
    std::string m_strOut;
    std::string m_strErr;
};

std::string Com(int n) {
    return "COM" + std::to_string(n);
}

class CliTest : public ::testing::Test {
protected:
    CliTest() : m_clockOverride(m_clock) {
        m_loader = MakeBytes(kLoaderSize, 1);
        m_package = MakeBytes(kPackageSize, 2);
        m_resources.Replace("BIN", kIdLoader, m_loader);
        m_resources.Replace("BIN", kIdPackage, m_package);
        // Package files for --package: a sound one, one with a damaged record, one far too big.
        m_chosen = MakeSmallPackage(1000, 7);
        WriteBytes(m_files / "good.ufw", m_chosen);
        std::vector<uint8_t> damaged = m_chosen;
        damaged[damaged.size() / 2] ^= 0x01;
        WriteBytes(m_files / "bad.ufw", damaged);
        WriteBytes(m_files / "huge.ufw", {});
        std::filesystem::resize_file(m_files / "huge.ufw", uintmax_t(17) << 20);
    }
    ~CliTest() override {
        m_held.clear();
        for (int n = 1; n <= 4; ++n) {
            if (m_bootSims[n - 1])
                m_bootSims[n - 1]->Stop();
            // A stopped machine takes its link with it: the port must point nowhere again.
            m_ports.Absent(n);
        }
    }

    // "@/" at the start of an argument stands for the folder of the package files.
    CCliResult Run(std::vector<std::string> args, const std::string& strInput = {}) {
        for (std::string& strArg : args) {
            if (strArg.find("@/") != std::string::npos)
                strArg.replace(strArg.find("@/"), 2, m_files.Path().string() + "/");
        }
        char* pszOut = nullptr;
        char* pszErr = nullptr;
        size_t nOut = 0, nErr = 0;
        FILE* pOut = open_memstream(&pszOut, &nOut);
        FILE* pErr = open_memstream(&pszErr, &nErr);
        std::string strIn = strInput;
        FILE* pIn = fmemopen(strIn.data(), strIn.size() + 1, "r");
        CCliStreams streams{pOut, pErr, pIn, m_bOutIsTerminal, m_bInIsTerminal};
        CCliResult result;
        result.m_nExit = RunCli(args, streams);
        fclose(pOut);
        fclose(pErr);
        fclose(pIn);
        result.m_strOut.assign(pszOut, nOut);
        result.m_strErr.assign(pszErr, nErr);
        free(pszOut);
        free(pszErr);
        return result;
    }

    CBootMode& BootMachine(int nCom, const CBootMode::CBehaviour& behaviour = {}) {
        m_ports.Absent(nCom);
        auto& pSim = m_bootSims[nCom - 1];
        pSim = std::make_unique<CMachineSim>();
        CBootMode* pBoot = StartBootMode(*pSim, TestPortsDir(), nCom, behaviour);
        if (!pBoot)
            std::abort();
        m_boot[nCom - 1] = pBoot;
        return *pBoot;
    }

    // Another user of the port holds it open.
    void HoldPort(int nCom) {
        auto pPort = std::make_unique<CSerialPort>();
        ASSERT_EQ(pPort->Open((Com(nCom) + ":").c_str(), 9600, "N81H"), 1);
        m_held.push_back(std::move(pPort));
    }

    void ExpectPortsFree(const std::vector<int>& coms) {
        for (int n : coms) {
            CSerialPort port;
            EXPECT_EQ(port.Open((Com(n) + ":").c_str(), 9600, "N81"), 1)
                << Com(n) << " not free after the run";
        }
    }

    bool m_bOutIsTerminal = false;
    bool m_bInIsTerminal = false;
    std::vector<uint8_t> m_loader;
    std::vector<uint8_t> m_package;
    std::vector<uint8_t> m_chosen;
    CTempDir m_files;
    CSimPorts m_ports;
    CPauseClock m_clock;
    CClockOverride m_clockOverride;
    CResourceOverride m_resources;
    std::array<std::unique_ptr<CMachineSim>, 4> m_bootSims;
    std::array<CBootMode*, 4> m_boot{};
    std::vector<std::unique_ptr<CSerialPort>> m_held;
};

// ---------------------------------------------------------------------------------------------
// check: the wizard's version query on each port, its verdict as the exit code.

struct CCheckCase {
    const char* m_pszName;
    const char* m_pszReply; // nullptr: no machine (absent); "busy": a machine whose port is held
    ENormalFault m_eFault;
    int m_nExit;
    const char* m_pszText; // in the port's line
};

void PrintTo(const CCheckCase& c, std::ostream* pOut) {
    *pOut << c.m_pszName;
}

class CliCheckTest : public CliTest, public ::testing::WithParamInterface<CCheckCase> {};

TEST_P(CliCheckTest, EachMachineGivesItsVerdictAndExitCode) {
    const CCheckCase& c = GetParam();
    // A silent machine is judged on a clock that moves with the program's own polls.
    CStepClock clock(50);
    CClockOverride useClock(clock);
    if (c.m_pszReply && std::string(c.m_pszReply) == "busy") {
        m_ports.Machine(2, "V250 TVK-50;");
        HoldPort(2);
    } else if (c.m_pszReply) {
        m_ports.Machine(2, c.m_pszReply, c.m_eFault);
    }

    const CCliResult result = Run({"check", "--port", "com2:"});
    EXPECT_EQ(result.m_nExit, c.m_nExit) << result.m_strOut << result.m_strErr;
    EXPECT_EQ(result.m_strOut.rfind("COM2:", 0), 0u) << result.m_strOut;
    EXPECT_NE(result.m_strOut.find(c.m_pszText), std::string::npos) << result.m_strOut;
    EXPECT_EQ(result.m_strOut.find('\x1b'), std::string::npos);
    // Never asked twice: the check does not retry a machine that gave no usable answer.
    if (c.m_pszReply && std::string(c.m_pszReply) != "busy") {
        EXPECT_EQ(m_ports.Mode(2).GetQueryCount(), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Machines, CliCheckTest,
    ::testing::Values(
        CCheckCase{"Normal", "V250 TVK-50;", ENormalFault::None, 0,
                   "reply \"V250 TVK-50\"  model TVK-50  version V250  package V260  Upgrade "
                   "needed."},
        CCheckCase{"Scanner", "V250 NRP-70;", ENormalFault::None, 0, "model NRP-70"},
        CCheckCase{"NoUpgradeNeeded", "V260 TVK-35;", ENormalFault::None, 1,
                   "Upgrade unnecessary."},
        CCheckCase{"WrongModel", "V250 XYZ-1;", ENormalFault::None, 1, "model XYZ-1"},
        CCheckCase{"WrongModelSays", "V250 tvk-50;", ENormalFault::None, 1, "Wrong Model"},
        CCheckCase{"Unusable", "V250;", ENormalFault::None, 3, "Transmission faild. Try again."},
        // A reply is shown as it came, but never as commands to the terminal.
        CCheckCase{"ControlBytes", "V250 \x1b[2J\x07;", ENormalFault::None, 1,
                   "model \\x1B[2J\\x07  version V250"},
        CCheckCase{"Silent", "", ENormalFault::Silent, 3, "reply \"\"  model -"},
        CCheckCase{"Absent", nullptr, ENormalFault::None, 3, "Wrong port. COM2: is "},
        CCheckCase{"Busy", "busy", ENormalFault::None, 3, "in use by another program"}),
    [](const auto& info) { return std::string(info.param.m_pszName); });

TEST_F(CliTest, CheckOfSeveralPortsExitsWithTheWorstVerdict) {
    m_ports.Machine(1, "V250 TVK-50;");
    m_ports.Machine(3, "V260 NRP-7;");
    const CCliResult both = Run({"check", "--port", "COM1", "--port", "COM3"});
    EXPECT_EQ(both.m_nExit, 1) << both.m_strOut;
    EXPECT_NE(both.m_strOut.find("COM1:  reply \"V250 TVK-50\""), std::string::npos);
    EXPECT_LT(both.m_strOut.find("COM1:"), both.m_strOut.find("COM3:")) << "lines in port order";
    EXPECT_NE(both.m_strOut.find("Upgrade unnecessary."), std::string::npos);

    const CCliResult withAbsent = Run({"check", "--port", "COM1", "--port", "COM4"});
    EXPECT_EQ(withAbsent.m_nExit, 3) << withAbsent.m_strOut;
}

TEST_F(CliTest, CheckWithoutPortFindsTheMachineLikeTheWizard) {
    CStepClock clock(50);
    CClockOverride useClock(clock);
    m_ports.Machine(2, "", ENormalFault::Silent);
    m_ports.Machine(3, "V250 NRP-7;");
    const CCliResult found = Run({"check"});
    EXPECT_EQ(found.m_nExit, 0) << found.m_strOut << found.m_strErr;
    EXPECT_EQ(found.m_strOut.rfind("COM3:  reply \"V250 NRP-7\"", 0), 0u) << found.m_strOut;

    m_ports.Absent(3);
    const CCliResult none = Run({"check"});
    EXPECT_EQ(none.m_nExit, 3);
    EXPECT_NE(none.m_strOut.find("no supported machine answered on COM1 to COM4"),
              std::string::npos)
        << none.m_strOut;
}

// A search that found nothing names what it went over, in the line and in the JSON "port": COM1
// to COM4 alone, or up to the highest port listed above them.
TEST_F(CliTest, FailedDiscoveryNamesTheRangeItSearched) {
    CStepClock clock(50);
    CClockOverride useClock(clock);
    const std::string strNone = ": Wrong port. no supported machine answered on COM1 to COM4 or on "
                                "a port above them\n";
    const CCliResult four = Run({"check"});
    EXPECT_EQ(four.m_nExit, 3);
    EXPECT_EQ(four.m_strOut, "COM1-COM4" + strNone);

    m_ports.Machine(6, "", ENormalFault::Silent);
    m_ports.Machine(9, "V250 XYZ-9;");
    const CCliResult above = Run({"check"});
    EXPECT_EQ(above.m_nExit, 3);
    EXPECT_EQ(above.m_strOut, "COM1-COM9" + strNone);
    const CCliResult json = Run({"check", "--json"});
    EXPECT_EQ(json.m_strOut.rfind(R"({"event":"check","port":"COM1-COM9","result":)", 0), 0u)
        << json.m_strOut;
    m_ports.Absent(6);
    m_ports.Absent(9);
}

// The environment of one case: the ports folder under XDG_CONFIG_HOME and the device roots, put
// back afterwards.
class CPortsEnvironment {
public:
    CPortsEnvironment(const std::string& strConfigHome, const std::string& strDevRoot,
                      const std::string& strSysRoot) {
        if (const char* pszOld = std::getenv("XDG_CONFIG_HOME"))
            m_strOldConfig = pszOld;
        setenv("XDG_CONFIG_HOME", strConfigHome.c_str(), 1);
        SetSystemDeviceRoots(strDevRoot, strSysRoot);
    }
    ~CPortsEnvironment() {
        setenv("XDG_CONFIG_HOME", m_strOldConfig.c_str(), 1);
        SetSystemDeviceRoots("/nonexistent/dev", "/nonexistent/sys");
    }

private:
    std::string m_strOldConfig;
};

// A ports folder that cannot be looked into says so, with the folder and the reason, and no port
// is tried: not the 255 numbers whose entries could not be read.
TEST_F(CliTest, UnreadablePortsFolderIsAnErrorNamingTheFolder) {
    CTempDir home;
    std::filesystem::create_directories(home / "versionup");
    std::ofstream(home / "versionup/ports") << "a file where the folder should be\n";
    const std::string strFolder = (home / "versionup/ports").string();
    CPortsEnvironment environment(home.Path().string(), "/nonexistent/dev", "/nonexistent/sys");
    const CCliResult check = Run({"check"});
    EXPECT_EQ(check.m_nExit, 3);
    EXPECT_EQ(check.m_strOut, "COM1-COM4: Wrong port. The ports folder " + strFolder +
                                  " cannot be read: Not a directory. Give your user read and "
                                  "search permission on it (chmod u+rx " +
                                  strFolder + ").\n");
    const CCliResult ports = Run({"ports"});
    EXPECT_EQ(ports.m_strOut.rfind("The ports folder " + strFolder + " cannot be read", 0), 0u)
        << ports.m_strOut;
    EXPECT_EQ(ports.m_strOut.find("COM5"), std::string::npos) << ports.m_strOut;
}

// The setup of ./run --simulate over a computer with a USB adapter plugged in: the check finds
// the simulated machine, the list has the four ports only, and the adapter is never opened. The
// same folder without its marker gives the adapter COM5, and the watch sees its open.
TEST_F(CliTest, SimulatedSetupOpensNothingButTheSimulatedMachine) {
    CTempDir root;
    std::filesystem::create_directories(root / "dev");
    std::filesystem::create_directories(root / "sys/class/tty/ttyUSB0/device");
    std::ofstream(root / "dev/ttyUSB0").put('\n');
    const std::string strPorts = (root / "config/versionup/ports").string();
    ASSERT_EQ(std::system((std::string(VERSIONUP_SOURCE_DIR) + "/tools/simulated-ports.sh '" +
                           strPorts + "'")
                              .c_str()),
              0);
    CPortsEnvironment environment((root / "config").string(), (root / "dev").string(),
                                  (root / "sys").string());
    CMachineSim sim;
    sim.SetNormalMode(std::make_unique<CNormalMode>("V250 TVK-50;"));
    ASSERT_TRUE(sim.Start(strPorts, 1));
    const int nWatch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(nWatch, 0);
    ASSERT_GE(inotify_add_watch(nWatch, (root / "dev/ttyUSB0").c_str(), IN_OPEN), 0);
    auto opened = [&] {
        char buffer[4096];
        return read(nWatch, buffer, sizeof buffer) > 0;
    };

    const CCliResult check = Run({"check"});
    EXPECT_EQ(check.m_nExit, 0) << check.m_strOut << check.m_strErr;
    EXPECT_EQ(check.m_strOut.rfind("COM1:  reply \"V250 TVK-50\"", 0), 0u) << check.m_strOut;
    const CCliResult ports = Run({"ports"});
    EXPECT_EQ(ports.m_strOut.find("COM5"), std::string::npos) << ports.m_strOut;
    EXPECT_EQ(ports.m_strOut.find("ttyUSB0"), std::string::npos) << ports.m_strOut;
    EXPECT_FALSE(opened()) << "the adapter was opened";

    std::filesystem::remove(std::filesystem::path(strPorts) / "complete");
    const CCliResult unmarked = Run({"ports"});
    EXPECT_NE(unmarked.m_strOut.find("COM5  " + (root / "dev/ttyUSB0").string()), std::string::npos)
        << unmarked.m_strOut;
    EXPECT_TRUE(opened()) << "the watch would not have seen an open";
    close(nWatch);
    sim.Stop();
}

TEST_F(CliTest, CheckJsonGivesOneObjectAPortWithTheUpgradesKeys) {
    CStepClock clock(50);
    CClockOverride useClock(clock);
    m_ports.Machine(1, "V250 TVK-50;");
    m_ports.Machine(2, "V260 \"x\x01;");
    m_ports.Machine(4, "", ENormalFault::Silent);
    const CCliResult result = Run({"check", "--port", "COM1", "--port", "COM2", "--port", "COM3",
                                   "--port", "COM4", "--json"});
    EXPECT_EQ(result.m_nExit, 3) << result.m_strErr;
    const std::string strTail = R"(,"package":"V260",)";
    EXPECT_EQ(result.m_strOut,
              R"({"event":"check","port":"COM1","result":"needed","reply":"V250 TVK-50",)"
              R"("model":"TVK-50","version":"V250")" +
                  strTail + R"("needed":true})" + "\n" +
                  R"({"event":"check","port":"COM2","result":"wrong-model",)"
                  R"("reply":"V260 \"x\u0001","model":"\"x\u0001","version":"V260")" +
                  strTail + R"("needed":false})" + "\n" +
                  R"({"event":"check","port":"COM3","result":"port-failed","reply":null,)"
                  R"("model":null,"version":null)" +
                  strTail +
                  R"("needed":false,"reason":"COM3: is /nonexistent/ttyUSB2. The device is not )"
                  R"(present: check that the cable or USB serial adapter is plugged in."})"
                  "\n" +
                  R"({"event":"check","port":"COM4","result":"no-reply","reply":"",)"
                  R"("model":null,"version":null)" +
                  strTail + R"("needed":false})" + "\n");
}

// ---------------------------------------------------------------------------------------------
// upgrade: the transfer on one port, each fault of the boot mode named with its step.

struct CUpgradeCase {
    const char* m_pszName;
    std::function<void(CBootMode::CBehaviour&)> m_fnMachine; // nullptr: no machine
    int m_nExit;
    const char* m_pszText;
};

void PrintTo(const CUpgradeCase& c, std::ostream* pOut) {
    *pOut << c.m_pszName;
}

class CliUpgradeTest : public CliTest, public ::testing::WithParamInterface<CUpgradeCase> {};

TEST_P(CliUpgradeTest, OneMachineEndsWithItsResultAndReason) {
    const CUpgradeCase& c = GetParam();
    CBootMode* pBoot = nullptr;
    if (c.m_fnMachine) {
        CBootMode::CBehaviour behaviour;
        c.m_fnMachine(behaviour);
        pBoot = &BootMachine(3, behaviour);
    }

    const CCliResult result = Run({"upgrade", "--port", "COM3", "--yes", "--timeout", "0.3"});
    EXPECT_EQ(result.m_nExit, c.m_nExit) << result.m_strOut << result.m_strErr;
    EXPECT_NE(result.m_strOut.find(c.m_pszText), std::string::npos) << result.m_strOut;
    EXPECT_NE(result.m_strOut.find(c.m_nExit == 0 ? "1 of 1 machines upgraded."
                                                  : "0 of 1 machines upgraded."),
              std::string::npos)
        << result.m_strOut;
    // A failure says how to make the machine ready for the next run.
    EXPECT_EQ(result.m_strOut.find("Before you run it again: Disconnect the AC Adapter. DON'T "
                                   "TURN OFF THE POWER SWITCH!! Connect the AC Adapter.") !=
                  std::string::npos,
              c.m_nExit != 0)
        << result.m_strOut;
    if (c.m_nExit == 0) {
        EXPECT_EQ(pBoot->GetLoader(), m_loader);
        WaitUntil([&] { return pBoot->GetPackage().size() >= m_package.size(); });
        EXPECT_EQ(pBoot->GetPackage(), m_package);
    }
    if (pBoot && pBoot->GetStage() != CBootMode::EStage::HungUp)
        ExpectPortsFree({3});
}

CUpgradeCase Fault(const char* pszName, std::function<void(CBootMode::CBehaviour&)> fn,
                   const char* pszText) {
    return {pszName, std::move(fn), 1, pszText};
}

INSTANTIATE_TEST_SUITE_P(
    BootMode, CliUpgradeTest,
    ::testing::Values(
        CUpgradeCase{"Sound", [](auto&) {}, 0,
                     "COM3: Transit completed. Make sure LED blinks slowly."},
        Fault(
            "WrongSyncAnswer", [](auto& b) { b.m_nSyncAnswer = 0x11; },
            "COM3: Transmission faild. Try again. the machine answered 0x11 where 0x00 was due "
            "(synchronisation)"),
        Fault(
            "SyncAnsweredTwice", [](auto& b) { b.m_nSyncAnswers = 2; },
            "answered 0x00 where 0xAA was due (0x55/0xAA exchange)"),
        Fault(
            "WrongLengthEcho", [](auto& b) { b.m_nWrongLengthEcho = 1; },
            "answered 0xD7 where 0x28 was due (loader length)"),
        Fault(
            "WrongLoaderEcho", [](auto& b) { b.m_nWrongEchoAt = 17; }, "(loader byte 18)"),
        Fault(
            "NoFinalAnswer", [](auto& b) { b.m_nFinalAnswer = -1; },
            "no reply within 0.3 s (loader start)"),
        Fault(
            "Silent", [](auto& b) { b.m_bSilent = true; },
            "no reply within 0.3 s (synchronisation)"),
        Fault(
            "SilentAfterLength",
            [](auto& b) {
                b.m_bSilent = true;
                b.m_eSilentFrom = CBootMode::EStage::Loader;
            },
            "no reply within 0.3 s (loader byte 1)"),
        Fault(
            "HangsUpInTheLoader", [](auto& b) { b.m_nHangUpAtLoaderByte = 5; },
            "the line went dead (loader byte 6)"),
        Fault(
            "HangsUpInThePackage", [](auto& b) { b.m_nHangUpAtPackageByte = 300; },
            "the line went dead (package)"),
        CUpgradeCase{"Absent", nullptr, 1, "COM3: is /nonexistent/ttyUSB2."}),
    [](const auto& info) { return std::string(info.param.m_pszName); });

TEST_F(CliTest, ATimeoutBelowAMillisecondStillLimitsTheWait) {
    CBootMode::CBehaviour behaviour;
    behaviour.m_bSilent = true;
    BootMachine(3, behaviour);
    const CCliResult result = Run({"upgrade", "--port", "COM3", "--yes", "--timeout", "0.0001"});
    EXPECT_EQ(result.m_nExit, 1) << result.m_strOut << result.m_strErr;
    EXPECT_NE(result.m_strOut.find("no reply within 0.0001 s (synchronisation)"), std::string::npos)
        << result.m_strOut;
}

// Ctrl-C during a check ends the probe under way, and no further port is tried.
TEST_F(CliTest, InterruptedCheckEndsTheProbeUnderWay) {
    CStepClock clock(10, 5);
    CClockOverride useClock(clock);
    CNormalMode& silent = m_ports.Machine(1, "", ENormalFault::Silent);
    CNormalMode& machine = m_ports.Machine(2, "V250 TVK-50;");
    CCliResult result;
    std::thread run([&] { result = Run({"check"}); });
    const bool bAsked = WaitUntil([&] { return silent.GetQueryCount() == 1; });
    ::kill(::getpid(), SIGINT);
    run.join();
    ASSERT_TRUE(bAsked);
    EXPECT_EQ(result.m_nExit, 130) << result.m_strOut << result.m_strErr;
    EXPECT_EQ(machine.GetQueryCount(), 0) << "discovery went on after Ctrl-C";
    EXPECT_EQ(result.m_strOut, "COM1-COM4: cancelled\n");
    EXPECT_NE(result.m_strErr.find("Interrupted"), std::string::npos) << result.m_strErr;
}

TEST_F(CliTest, UpgradeOfABusyPortFailsAtOnceAndLeavesTheHolderAlone) {
    BootMachine(1);
    HoldPort(1);
    const CCliResult result = Run({"upgrade", "--port", "COM1", "--yes"});
    EXPECT_EQ(result.m_nExit, 1);
    EXPECT_NE(result.m_strOut.find("in use by another program"), std::string::npos)
        << result.m_strOut;
    EXPECT_TRUE(m_bootSims[0]->GetLink().GetRecord().empty()) << "bytes reached a held port";
}

// ---------------------------------------------------------------------------------------------
// Four machines at once.

TEST_F(CliTest, FourMachinesAtOnceEachGetTheWholeLoaderAndPackage) {
    for (int n = 1; n <= 4; ++n)
        BootMachine(n);
    const CCliResult result = Run({"upgrade", "--port", "COM1", "--port", "COM2", "--port", "COM3",
                                   "--port", "COM4", "--yes"});
    EXPECT_EQ(result.m_nExit, 0) << result.m_strOut << result.m_strErr;
    EXPECT_NE(result.m_strOut.find("4 of 4 machines upgraded."), std::string::npos);
    for (int n = 1; n <= 4; ++n) {
        SCOPED_TRACE(Com(n));
        CBootMode& boot = *m_boot[n - 1];
        EXPECT_EQ(boot.GetLoader(), m_loader);
        WaitUntil([&] { return boot.GetPackage().size() >= m_package.size(); });
        EXPECT_EQ(boot.GetPackage(), m_package);
        EXPECT_EQ(boot.GetSettingsFaults(), std::vector<std::string>{});
        EXPECT_NE(result.m_strOut.find(Com(n) + ": Transit completed."), std::string::npos);
    }
    ExpectPortsFree({1, 2, 3, 4});
}

TEST_F(CliTest, OneOfFourHangingUpFailsAloneAndTheOthersFinish) {
    // Long enough that the hang-up falls while the other three are still sending.
    m_package = MakeBytes(6000, 4);
    m_resources.Replace("BIN", kIdPackage, m_package);
    for (int n = 1; n <= 4; ++n) {
        CBootMode::CBehaviour behaviour;
        if (n == 2)
            behaviour.m_nHangUpAtPackageByte = 1000;
        BootMachine(n, behaviour);
    }
    const CCliResult result = Run({"upgrade", "--port", "COM1", "--port", "COM2", "--port", "COM3",
                                   "--port", "COM4", "--yes"});
    EXPECT_EQ(result.m_nExit, 1) << result.m_strOut << result.m_strErr;
    EXPECT_NE(result.m_strOut.find("COM2: Transmission faild. Try again. the line went dead "
                                   "(package)"),
              std::string::npos)
        << result.m_strOut;
    EXPECT_NE(result.m_strOut.find("3 of 4 machines upgraded."), std::string::npos);
    EXPECT_EQ(m_boot[1]->GetPackage().size(), 1000u);
    for (int n : {1, 3, 4}) {
        SCOPED_TRACE(Com(n));
        CBootMode& boot = *m_boot[n - 1];
        WaitUntil([&] { return boot.GetPackage().size() >= m_package.size(); });
        EXPECT_EQ(boot.GetPackage(), m_package);
        EXPECT_NE(result.m_strOut.find(Com(n) + ": Transit completed."), std::string::npos);
    }
    ExpectPortsFree({1, 3, 4});
}

// ---------------------------------------------------------------------------------------------
// upgrade --confirm: each machine's own answer after its restart. The protocol's pauses are cut
// here, so the machine restarts at once after the last package byte (or after nOffMs of real
// time, while a question goes unanswered); the pacing itself is RestartCheckTest's.

CBootMode::CBehaviour Restarting(const std::vector<uint8_t>& package, const char* pszReply,
                                 int nOffMs = 0) {
    CBootMode::CBehaviour behaviour;
    behaviour.m_bRestarts = true;
    behaviour.m_nPackageSize = package.size();
    behaviour.m_nOffMs = nOffMs;
    behaviour.m_bComesBack = pszReply != nullptr;
    if (pszReply)
        behaviour.m_afterRestart.m_strReply = pszReply;
    return behaviour;
}

struct CConfirmCase {
    const char* m_pszName;
    const char* m_pszReply; // nullptr: never answers again
    std::vector<std::string> m_extra;
    int m_nExit;
    const char* m_pszLine; // empty: no confirmation at all
};

void PrintTo(const CConfirmCase& c, std::ostream* pOut) {
    *pOut << c.m_pszName;
}

class CliConfirmTest : public CliTest, public ::testing::WithParamInterface<CConfirmCase> {};

TEST_P(CliConfirmTest, TheMachinesOwnAnswerDecidesTheExitStatus) {
    const CConfirmCase& c = GetParam();
    CBootMode& boot = BootMachine(3, Restarting(m_package, c.m_pszReply));
    std::vector<std::string> args = {"upgrade", "--port", "COM3", "--yes"};
    args.insert(args.end(), c.m_extra.begin(), c.m_extra.end());
    const CCliResult result = Run(args);
    EXPECT_EQ(result.m_nExit, c.m_nExit) << result.m_strOut << result.m_strErr;
    // Nothing reached the machine before its restart: the package is exactly what was sent.
    EXPECT_EQ(boot.GetPackage(), m_package);
    EXPECT_NE(result.m_strOut.find("COM3: Transit completed."), std::string::npos);
    const std::string strLine = c.m_pszLine;
    if (strLine.empty()) {
        EXPECT_EQ(boot.GetQueriesAfterRestart(), 0);
        EXPECT_EQ(result.m_strOut.find("restart"), std::string::npos) << result.m_strOut;
        return;
    }
    EXPECT_NE(result.m_strOut.find("COM3: Restart it for its own answer: Disconnect the AC "
                                   "Adapter. DON'T TURN OFF THE POWER SWITCH!! Pull out the "
                                   "Jumper Blocks on J1&J2 Put the Jumper Blocks on J9&J10. "
                                   "Connect the AC Adapter.\n"),
              std::string::npos)
        << result.m_strOut;
    EXPECT_NE(result.m_strOut.find(strLine), std::string::npos) << result.m_strOut;
    EXPECT_NE(
        result.m_strOut.find(c.m_nExit == 0 ? ", 1 of them confirmed" : ", 0 of them confirmed"),
        std::string::npos)
        << result.m_strOut;
    ExpectPortsFree({3});
}

INSTANTIATE_TEST_SUITE_P(
    Restarts, CliConfirmTest,
    ::testing::Values(CConfirmCase{"BackWithThePackagesVersion",
                                   "V260 TVK-50;",
                                   {"--confirm"},
                                   0,
                                   "COM3: confirmed: TVK-50 runs V260 ("},
                      CConfirmCase{"BackWithTheOldVersion",
                                   "V250 TVK-50;",
                                   {"--confirm"},
                                   1,
                                   "COM3: not confirmed: TVK-50 still answers V250, not V260 ("},
                      CConfirmCase{"BackAsAnotherModel",
                                   "V260 XYZ-1;",
                                   {"--confirm"},
                                   1,
                                   "COM3: not confirmed: Wrong Model (\"V260 XYZ-1\", "},
                      CConfirmCase{"NeverBack",
                                   nullptr,
                                   {"--confirm", "--confirm-timeout", "1"},
                                   1,
                                   "COM3: not confirmed: no answer after the restart ("},
                      CConfirmCase{"NotAsked", "V260 TVK-50;", {}, 0, ""}),
    [](const auto& info) { return std::string(info.param.m_pszName); });

// A chosen package names its version in its header text ("... V261"): that is the answer due.
TEST_F(CliTest, AChosenPackageIsConfirmedByItsOwnVersion) {
    for (const char* pszReply : {"V260 TVK-50;", "V261 TVK-50;"}) {
        SCOPED_TRACE(pszReply);
        CBootMode& boot = BootMachine(1, Restarting(m_chosen, pszReply));
        const CCliResult result =
            Run({"upgrade", "--port", "COM1", "--package", "@/good.ufw", "--yes", "--confirm"});
        const bool bNew = std::string(pszReply) == "V261 TVK-50;";
        EXPECT_EQ(result.m_nExit, bNew ? 0 : 1) << result.m_strOut << result.m_strErr;
        EXPECT_NE(result.m_strOut.find(bNew ? "COM1: confirmed: TVK-50 runs V261"
                                            : "COM1: not confirmed: TVK-50 still answers V260, "
                                              "not V261"),
                  std::string::npos)
            << result.m_strOut;
        EXPECT_EQ(boot.GetPackage(), m_chosen);
    }
}

TEST_F(CliTest, OnATerminalTheRestartStandsWholeAboveTheLiveLines) {
    BootMachine(1, Restarting(m_package, "V260 TVK-50;"));
    BootMachine(2, Restarting(m_package, "V250 TVK-50;"));
    m_bOutIsTerminal = true;
    const CCliResult result =
        Run({"upgrade", "--port", "COM1", "--port", "COM2", "--yes", "--confirm"});
    EXPECT_EQ(result.m_nExit, 1) << result.m_strOut;
    // Longer than a terminal's line, and never cut: each is printed once, above the live lines.
    for (const std::string strPort : {"COM1", "COM2"}) {
        const std::string strNote = "\r\033[K" + strPort +
                                    ": Restart it for its own answer: Disconnect the AC Adapter. "
                                    "DON'T TURN OFF THE POWER SWITCH!! Pull out the Jumper Blocks "
                                    "on J1&J2 Put the Jumper Blocks on J9&J10. Connect the AC "
                                    "Adapter.\n";
        const size_t nAt = result.m_strOut.find(strNote);
        EXPECT_NE(nAt, std::string::npos) << result.m_strOut;
        EXPECT_EQ(result.m_strOut.find(strNote, nAt + 1), std::string::npos) << "printed twice";
        EXPECT_NE(result.m_strOut.find("\r\033[K" + strPort + ": Transit completed."),
                  std::string::npos);
    }
    const size_t nLast = result.m_strOut.rfind("\033[2A");
    ASSERT_NE(nLast, std::string::npos);
    EXPECT_NE(result.m_strOut.find("COM1: confirmed: TVK-50 runs V260", nLast), std::string::npos)
        << result.m_strOut;
    EXPECT_NE(result.m_strOut.find("COM2: not confirmed: TVK-50 still answers V250", nLast),
              std::string::npos)
        << result.m_strOut;
}

TEST_F(CliTest, FourMachinesAtOnceAreEachConfirmedOnTheirOwn) {
    const char* const replies[] = {"V260 TVK-50;", "V260 NRP-7;", "V260 TVK-35;", "V260 NRP-70;"};
    for (int n = 1; n <= 4; ++n) {
        // COM2 is still off for its first question; the others answer it.
        BootMachine(n, Restarting(m_package, replies[n - 1], n == 2 ? 500 : 0));
    }
    const CCliResult result = Run({"upgrade", "--port", "COM1", "--port", "COM2", "--port", "COM3",
                                   "--port", "COM4", "--yes", "--confirm"});
    EXPECT_EQ(result.m_nExit, 0) << result.m_strOut << result.m_strErr;
    EXPECT_NE(result.m_strOut.find("4 of 4 machines upgraded, 4 of them confirmed"),
              std::string::npos)
        << result.m_strOut;
    const char* const models[] = {"TVK-50", "NRP-7", "TVK-35", "NRP-70"};
    for (int n = 1; n <= 4; ++n) {
        SCOPED_TRACE(Com(n));
        CBootMode& boot = *m_boot[n - 1];
        EXPECT_EQ(boot.GetPackage(), m_package);
        EXPECT_EQ(boot.GetQueriesAfterRestart(), 1);
        EXPECT_NE(result.m_strOut.find(Com(n) + ": confirmed: " + models[n - 1] + " runs V260"),
                  std::string::npos);
    }
    EXPECT_GT(m_boot[1]->GetBytesWhileOff(), 0) << "COM2 was never asked while it was off";
}

TEST_F(CliTest, ConfirmJsonAndTraceMakeTheRecordOfEachMachine) {
    BootMachine(1, Restarting(m_package, "V260 TVK-50;"));
    BootMachine(2, Restarting(m_package, "V250 NRP-7;"));
    const std::string strTraces = (m_files / "traces").string();
    const CCliResult result = Run({"upgrade", "--port", "COM1", "--port", "COM2", "--yes",
                                   "--confirm", "--json", "--trace", strTraces});
    EXPECT_EQ(result.m_nExit, 1) << result.m_strOut << result.m_strErr;
    std::vector<std::string> traces;
    for (const auto& entry : std::filesystem::directory_iterator(strTraces))
        traces.push_back(entry.path().string());
    ASSERT_EQ(traces.size(), 2u);
    std::sort(traces.begin(), traces.end());
    const std::regex confirmed(
        R"(\{"event":"confirm","port":"COM1","result":"confirmed","reply":"V260 TVK-50",)"
        R"("model":"TVK-50","version":"V260","package":"V260","seconds":\d+\.\d{3},)"
        R"("questions":1,"trace":")" +
        traces[0] + R"("\}\n)");
    const std::regex other(
        R"(\{"event":"confirm","port":"COM2","result":"other-version","reply":"V250 NRP-7",)"
        R"("model":"NRP-7","version":"V250","package":"V260","seconds":\d+\.\d{3},)"
        R"("questions":1,"reason":"COM2: not confirmed: NRP-7 still answers V250, not V260 )"
        R"re(\([^"]*\)","trace":")re" +
        traces[1] + R"("\}\n)");
    std::smatch match;
    EXPECT_TRUE(std::regex_search(result.m_strOut, match, confirmed)) << result.m_strOut;
    EXPECT_TRUE(std::regex_search(result.m_strOut, match, other)) << result.m_strOut;
    EXPECT_NE(result.m_strOut.find(R"({"event":"restart","port":"COM1","text":"COM1: Restart it)"),
              std::string::npos);
    // The trace holds the question after the restart and the answer, after the package.
    const std::string strTrace = ReadAll(traces[0]);
    const size_t nCheck = strTrace.find("step restart check");
    ASSERT_NE(nCheck, std::string::npos) << strTrace;
    EXPECT_NE(strTrace.find("> 46 3b", nCheck), std::string::npos) << strTrace;
    EXPECT_NE(strTrace.find("outcome: confirmed: V260 TVK-50", nCheck), std::string::npos);
}

TEST_F(CliTest, CtrlCEndsTheWaitForAnAnswer) {
    CBootMode& boot = BootMachine(1, Restarting(m_package, nullptr));
    CCliResult result;
    std::thread run([&] { result = Run({"upgrade", "--port", "COM1", "--yes", "--confirm"}); });
    const bool bAsked = WaitUntil([&] { return boot.GetBytesWhileOff() > 0; });
    ::kill(::getpid(), SIGINT);
    run.join();
    ASSERT_TRUE(bAsked);
    EXPECT_EQ(result.m_nExit, 130) << result.m_strOut << result.m_strErr;
    EXPECT_NE(result.m_strOut.find("COM1: cancelled"), std::string::npos) << result.m_strOut;
    ExpectPortsFree({1});
}

TEST_F(CliTest, ConfirmationSpeaksTheDesktopLanguage) {
    BootMachine(1, Restarting(m_package, "V260 TVK-50;"));
    setenv("LANG", "ja_JP.UTF-8", 1);
    const CCliResult result = Run({"upgrade", "--port", "COM1", "--yes", "--confirm"});
    setenv("LANG", "C", 1);
    EXPECT_EQ(result.m_nExit, 0) << result.m_strOut << result.m_strErr;
    for (unsigned nId : {115u, 118u, 119u, 123u}) {
        std::string strText = LoadString(nId, ELanguage::Japanese);
        strText = strText.substr(0, strText.find('\r'));
        EXPECT_NE(result.m_strOut.find(strText), std::string::npos) << nId << result.m_strOut;
    }
    EXPECT_NE(result.m_strOut.find("COM1: 確認しました: TVK-50 は V260 で動作しています"),
              std::string::npos)
        << result.m_strOut;
}

// ---------------------------------------------------------------------------------------------
// Ctrl-C and SIGTERM.

class CliSignalTest : public CliTest, public ::testing::WithParamInterface<int> {};

TEST_P(CliSignalTest, SignalDuringThePackageCancelsEveryPortAndFreesIt) {
    // Some seconds of package at 38400 baud: the signal comes while every port is sending.
    m_package = MakeBytes(20000, 5);
    m_resources.Replace("BIN", kIdPackage, m_package);
    for (int n = 1; n <= 4; ++n)
        BootMachine(n);
    CCliResult result;
    std::thread run([&] {
        result = Run({"upgrade", "--port", "COM1", "--port", "COM2", "--port", "COM3", "--port",
                      "COM4", "--yes", "--json"});
    });
    const bool bSending = WaitUntil([&] {
        for (CBootMode* pBoot : m_boot)
            if (pBoot->GetPackage().size() < 1024)
                return false;
        return true;
    });
    ::kill(::getpid(), GetParam());
    run.join();
    ASSERT_TRUE(bSending) << result.m_strOut;

    EXPECT_EQ(result.m_nExit, 130) << result.m_strOut << result.m_strErr;
    EXPECT_NE(result.m_strErr.find("Interrupted"), std::string::npos) << result.m_strErr;
    // Every port was closed by the time the program ended: each opens at once.
    ExpectPortsFree({1, 2, 3, 4});
    for (int n = 1; n <= 4; ++n) {
        SCOPED_TRACE(Com(n));
        EXPECT_LT(m_boot[n - 1]->GetPackage().size(), m_package.size());
        EXPECT_NE(result.m_strOut.find("\"event\":\"done\",\"port\":\"" + Com(n) +
                                       "\",\"phase\":\"package\""),
                  std::string::npos)
            << result.m_strOut;
    }
    EXPECT_EQ(result.m_strOut.find("\"result\":\"ok\""), std::string::npos);
    EXPECT_NE(result.m_strOut.find("\"result\":\"cancelled\""), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Signals, CliSignalTest, ::testing::Values(SIGINT, SIGTERM),
                         [](const auto& info) { return info.param == SIGINT ? "Int" : "Term"; });

// ---------------------------------------------------------------------------------------------
// What the person or the script sees.

TEST_F(CliTest, JsonGivesOneObjectALineThroughEveryPhase) {
    BootMachine(1);
    const CCliResult result = Run({"upgrade", "--port", "COM1", "--yes", "--json"});
    ASSERT_EQ(result.m_nExit, 0) << result.m_strErr;
    const std::regex object(
        R"re(\{"event":"(start|phase|progress|done)","port":"COM1","phase":"(\w+)","bytes":(\d+),)re"
        R"re("total":(\d+),"result":(null|"ok"),"seconds":\d+\.\d{3}\})re");
    std::vector<std::string> sequence;
    size_t nStart = 0;
    for (size_t nEnd; (nEnd = result.m_strOut.find('\n', nStart)) != std::string::npos;
         nStart = nEnd + 1) {
        const std::string strLine = result.m_strOut.substr(nStart, nEnd - nStart);
        std::smatch match;
        ASSERT_TRUE(std::regex_match(strLine, match, object)) << strLine;
        if (match[1] != "progress")
            sequence.push_back(match[1].str() + " " + match[2].str());
        if (match[2] == "loader" && match[1] == "done")
            ADD_FAILURE() << strLine;
        if (match[1] == "done") {
            EXPECT_EQ(match[3], std::to_string(kPackageSize));
            EXPECT_EQ(match[4], std::to_string(kPackageSize));
        }
    }
    EXPECT_EQ(nStart, result.m_strOut.size()) << "no half line at the end";
    EXPECT_EQ(sequence, (std::vector<std::string>{"start open", "phase handshake", "phase loader",
                                                  "phase package", "phase finish", "done finish"}));
}

TEST_F(CliTest, PlainOutputHasALineForEachPhaseAndOnATerminalOneLiveLineAPort) {
    BootMachine(1);
    BootMachine(2);
    const CCliResult plain = Run({"upgrade", "--port", "COM1", "--port", "/dev/null", "--yes"});
    EXPECT_EQ(plain.m_nExit, 1);
    for (const char* pszLine :
         {"COM1: opening\n", "COM1: boot mode handshake\n", "COM1: boot loader  40 bytes\n",
          "COM1: package  600 bytes\n", "COM1: finishing\n",
          "/dev/null: Transmission faild. Try again. /dev/null is /dev/null. This device is not "
          "a serial port. Before you run it again: "})
        EXPECT_NE(plain.m_strOut.find(pszLine), std::string::npos) << pszLine << plain.m_strOut;
    EXPECT_EQ(plain.m_strOut.find("\033["), std::string::npos);

    BootMachine(1);
    m_bOutIsTerminal = true;
    const CCliResult live = Run({"upgrade", "--port", "COM1", "--port", "COM2", "--yes"});
    EXPECT_EQ(live.m_nExit, 0);
    // Redrawn in place: the cursor goes back up over both lines, and the last drawing shows both
    // results.
    EXPECT_NE(live.m_strOut.find("\033[2A"), std::string::npos) << live.m_strOut;
    const size_t nLast = live.m_strOut.rfind("\033[2A");
    EXPECT_NE(live.m_strOut.find("COM1: Transit completed.", nLast), std::string::npos);
    EXPECT_NE(live.m_strOut.find("COM2: Transit completed.", nLast), std::string::npos);
}

TEST_F(CliTest, LiveLinesNeverWrapWhileRedrawnAndTheLastDrawingIsWhole) {
    // COM2 fails at once with a reason longer than a line while COM1 still sends for a while.
    m_package = MakeBytes(4000, 6);
    m_resources.Replace("BIN", kIdPackage, m_package);
    BootMachine(1);
    m_bOutIsTerminal = true;
    const CCliResult result = Run({"upgrade", "--port", "COM1", "--port", "COM2", "--yes"});
    EXPECT_EQ(result.m_nExit, 1);
    const std::string strReason = "COM2: Transmission faild. Try again. COM2: is "
                                  "/nonexistent/ttyUSB1. The device is not present: check that "
                                  "the cable or USB serial adapter is plugged in.";
    const size_t nLast = result.m_strOut.rfind("\033[2A");
    ASSERT_NE(nLast, std::string::npos);
    EXPECT_NE(result.m_strOut.find(strReason, nLast), std::string::npos) << result.m_strOut;
    int nLive = 0;
    for (size_t nAt = result.m_strOut.find("\r\033[K"); nAt < nLast;
         nAt = result.m_strOut.find("\r\033[K", nAt + 1)) {
        const size_t nEnd = result.m_strOut.find('\n', nAt);
        EXPECT_LT(nEnd - nAt - 4, 80u) << result.m_strOut.substr(nAt + 4, nEnd - nAt - 4);
        ++nLive;
    }
    EXPECT_GT(nLive, 2) << "no drawing before the last";
}

TEST_F(CliTest, JsonStaysValidWhateverThePortIsCalled) {
    const CCliResult result =
        Run({"upgrade", "--port", "/nonexistent/a\"b\\c\x01\xff", "--yes", "--json"});
    EXPECT_EQ(result.m_nExit, 1);
    const std::string strPort = R"("port":"/nonexistent/a\"b\\c\u0001\u00ff")";
    EXPECT_NE(result.m_strOut.find(R"({"event":"start",)" + strPort), std::string::npos)
        << result.m_strOut;
    EXPECT_NE(result.m_strOut.find(R"({"event":"done",)" + strPort), std::string::npos);
    EXPECT_NE(result.m_strOut.find(R"("result":"failed","seconds":)"), std::string::npos);
    EXPECT_NE(result.m_strOut.find(R"(,"reason":"/nonexistent/a\"b)"), std::string::npos);
}

TEST_F(CliTest, PortsTellsWhatEachNameStandsForAndItsState) {
    m_ports.Machine(1, "V250 TVK-50;");
    m_ports.Machine(3, "V250 TVK-50;");
    HoldPort(3);
    m_ports.LinkTo(4, "/dev/null");
    const CCliResult result = Run({"ports"});
    EXPECT_EQ(result.m_nExit, 0);
    const std::string strDevice1 = m_ports.Sim(1).GetLink().GetDevicePath();
    const std::regex lines("COM1  " + strDevice1 + " +present\n" +
                           "COM2  /nonexistent/ttyUSB1 +absent\n" +
                           "COM3  /dev/pts/\\d+ +busy: in use by another program\n" +
                           "COM4  /dev/null +not a serial port\n");
    EXPECT_TRUE(std::regex_match(result.m_strOut, lines)) << result.m_strOut;

    // The same states as words a script matches, one object a line.
    const CCliResult json = Run({"ports", "--json"});
    EXPECT_EQ(json.m_nExit, 0);
    const std::regex objects(
        R"(\{"event":"port","port":"COM1","device":")" + strDevice1 +
        R"(","state":"present"\}\n)"
        R"(\{"event":"port","port":"COM2","device":"/nonexistent/ttyUSB1","state":"absent","reason":"absent[^"]*"\}\n)"
        R"(\{"event":"port","port":"COM3","device":"/dev/pts/\d+","state":"busy","reason":"busy: [^"]*"\}\n)"
        R"(\{"event":"port","port":"COM4","device":"/dev/null","state":"not-serial","reason":"not a serial port[^"]*"\}\n)");
    EXPECT_TRUE(std::regex_match(json.m_strOut, objects)) << json.m_strOut;
    EXPECT_EQ(m_ports.Mode(1).GetQueryCount(), 0) << "ports must not talk to the machines";
}

// An adapter that got COM7 is listed after COM1 to COM4, checked without --port, and named.
TEST_F(CliTest, PortsAndCheckReachAMachineAboveCom4) {
    m_ports.Machine(7, "V250 TVK-50;");
    const std::string strDevice7 = m_ports.Sim(7).GetLink().GetDevicePath();
    const CCliResult ports = Run({"ports"});
    EXPECT_EQ(ports.m_nExit, 0);
    const std::regex lines("(COM[1-4]  /nonexistent/ttyUSB[0-3] +absent[^\n]*\n){4}"
                           "COM7  " +
                           strDevice7 + " +present\n");
    EXPECT_TRUE(std::regex_match(ports.m_strOut, lines)) << ports.m_strOut;
    const CCliResult json = Run({"ports", "--json"});
    EXPECT_NE(json.m_strOut.find(R"({"event":"port","port":"COM7","device":")" + strDevice7 +
                                 R"(","state":"present"})"),
              std::string::npos)
        << json.m_strOut;

    CStepClock clock(50);
    CClockOverride useClock(clock);
    const CCliResult found = Run({"check"});
    EXPECT_EQ(found.m_nExit, 0) << found.m_strOut << found.m_strErr;
    EXPECT_EQ(found.m_strOut.rfind("COM7:  reply \"V250 TVK-50\"", 0), 0u) << found.m_strOut;
    const CCliResult named = Run({"check", "--port", "com7"});
    EXPECT_EQ(named.m_nExit, 0) << named.m_strOut << named.m_strErr;
}

TEST_F(CliTest, MessagesFollowTheDesktopLanguage) {
    m_ports.Machine(1, "V260 TVK-50;");
    setenv("LANG", "ja_JP.UTF-8", 1);
    const CCliResult check = Run({"check", "--port", "COM1"});
    const CCliResult wrong = Run({"upgrade"});
    const CCliResult failed = Run({"upgrade", "--port", "COM3", "--yes"});
    setenv("LANG", "C", 1);
    EXPECT_NE(
        failed.m_strOut.find("もう一度実行する前に: 電源SWを切らずに AC ｱﾀﾞﾌﾟﾀを取り外します。 "
                             "AC ｱﾀﾞﾌﾟﾀを取り付けます。"),
        std::string::npos)
        << failed.m_strOut;
    EXPECT_EQ(check.m_nExit, 1);
    EXPECT_NE(check.m_strOut.find(LoadString(105, ELanguage::Japanese)), std::string::npos)
        << check.m_strOut;
    EXPECT_NE(check.m_strOut.find("機種 TVK-50"), std::string::npos) << check.m_strOut;
    EXPECT_NE(wrong.m_strErr.find("--port が 1 つ以上必要です"), std::string::npos)
        << wrong.m_strErr;
}

// ---------------------------------------------------------------------------------------------
// Nothing goes to a machine without a confirmation or with a wrong command line.

struct CRefusalCase {
    const char* m_pszName;
    std::vector<std::string> m_args;
    bool m_bInTerminal;
    const char* m_pszAnswer;
    const char* m_pszErr;
};

void PrintTo(const CRefusalCase& c, std::ostream* pOut) {
    *pOut << c.m_pszName;
}

class CliRefusalTest : public CliTest, public ::testing::WithParamInterface<CRefusalCase> {};

TEST_P(CliRefusalTest, ExitsWithTwoBeforeAnyPortIsOpened) {
    const CRefusalCase& c = GetParam();
    BootMachine(1);
    m_bInIsTerminal = c.m_bInTerminal;
    const CCliResult result = Run(c.m_args, c.m_pszAnswer);
    EXPECT_EQ(result.m_nExit, 2) << result.m_strOut << result.m_strErr;
    EXPECT_NE(result.m_strErr.find(c.m_pszErr), std::string::npos) << result.m_strErr;
    EXPECT_EQ(result.m_strOut, "");
    EXPECT_TRUE(m_bootSims[0]->GetLink().GetRecord().empty());
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, CliRefusalTest,
    ::testing::Values(
        CRefusalCase{"NoTerminalToAsk", {"upgrade", "--port", "COM1"}, false, "y\n", "--yes"},
        CRefusalCase{"AnsweredNo", {"upgrade", "--port", "COM1"}, true, "n\n", "not confirmed"},
        CRefusalCase{"AnsweredNothing", {"upgrade", "--port", "COM1"}, true, "", "not confirmed"},
        CRefusalCase{"AnsweredYesInWords",
                     {"upgrade", "--port", "COM1"},
                     true,
                     "yes please\n",
                     "not confirmed"},
        CRefusalCase{"NoCommand", {}, false, "", "--help"},
        CRefusalCase{"UnknownCommand", {"flash", "--port", "COM1"}, false, "", "flash"},
        CRefusalCase{"UpgradeWithoutPort", {"upgrade", "--yes"}, false, "", "--port"},
        CRefusalCase{"PortBeyondTheHighestNumber",
                     {"upgrade", "--port", "COM257", "--yes"},
                     false,
                     "",
                     "not a port name: COM257"},
        CRefusalCase{"ServerPortWithoutPortNumber",
                     {"upgrade", "--port", "rfc2217://box", "--yes"},
                     false,
                     "",
                     "not a port name: rfc2217://box"},
        CRefusalCase{"SameServerPortTwice",
                     {"check", "--port", "rfc2217://box:4001", "--port", "rfc2217://box:4001"},
                     false,
                     "",
                     "rfc2217://box:4001 and rfc2217://box:4001 are the same port"},
        // Another case and a trailing "/" name the same server port: both runs would talk to it.
        CRefusalCase{
            "SameServerPortSpeltTwoWays",
            {"upgrade", "--port", "rfc2217://box:4001", "--port", "RFC2217://BOX:4001/", "--yes"},
            false,
            "",
            "rfc2217://box:4001 and RFC2217://BOX:4001/ are the same port"},
        CRefusalCase{
            "PortWithoutName", {"upgrade", "--yes", "--port"}, false, "", "--port needs a value"},
        CRefusalCase{"SamePortTwice",
                     {"upgrade", "--port", "COM1", "--port", "com1:", "--yes"},
                     false,
                     "",
                     "COM1 and COM1 are the same port"},
        CRefusalCase{"TimeoutNotANumber",
                     {"upgrade", "--port", "COM1", "--yes", "--timeout", "10s"},
                     false,
                     "",
                     "not a number of seconds: 10s"},
        CRefusalCase{"NegativeTimeout",
                     {"upgrade", "--port", "COM1", "--yes", "--timeout=-1"},
                     false,
                     "",
                     "-1"},
        CRefusalCase{"MalformedPackage",
                     {"upgrade", "--port", "COM1", "--package", "@/bad.ufw"},
                     true,
                     "y\n",
                     "bad.ufw: not a valid package: malformed at offset"},
        CRefusalCase{"MissingPackage",
                     {"upgrade", "--port", "COM1", "--package", "@/none.ufw", "--yes"},
                     false,
                     "",
                     "none.ufw: cannot be read: No such file or directory"},
        CRefusalCase{"PackageFolder",
                     {"upgrade", "--port", "COM1", "--package=@/", "--yes"},
                     false,
                     "",
                     "cannot be read: Is a directory"},
        CRefusalCase{"HugePackage",
                     {"upgrade", "--port", "COM1", "--package", "@/huge.ufw", "--yes"},
                     false,
                     "",
                     "huge.ufw: too large for a package"},
        CRefusalCase{
            "OptionOfAnotherCommand", {"check", "--port", "COM1", "--yes"}, false, "", "--yes"},
        CRefusalCase{"ConfirmOnACheck",
                     {"check", "--port", "COM1", "--confirm"},
                     false,
                     "",
                     "unknown command or option: --confirm"},
        CRefusalCase{"ConfirmTimeoutWithoutConfirm",
                     {"upgrade", "--port", "COM1", "--yes", "--confirm-timeout", "60"},
                     false,
                     "",
                     "--confirm-timeout needs --confirm"},
        CRefusalCase{"ConfirmTimeoutNotANumber",
                     {"upgrade", "--port", "COM1", "--yes", "--confirm", "--confirm-timeout=ten"},
                     false,
                     "",
                     "not a number of seconds: ten"}),
    [](const auto& info) { return std::string(info.param.m_pszName); });

TEST_F(CliTest, TwoNamesOfOneDeviceAreRefusedBeforeAnythingIsSent) {
    BootMachine(1);
    const std::string strDevice = m_bootSims[0]->GetLink().GetDevicePath();
    // The device's own path, and a link of the operator's own making (as under by-id).
    const std::filesystem::path link = m_files.Path() / "by-id-adapter";
    std::filesystem::create_symlink(strDevice, link);
    for (const std::string& strOther : {strDevice, link.string()}) {
        SCOPED_TRACE(strOther);
        const CCliResult result = Run({"upgrade", "--port", "COM1", "--port", strOther, "--yes"});
        EXPECT_EQ(result.m_nExit, 2) << result.m_strOut << result.m_strErr;
        EXPECT_NE(result.m_strErr.find("COM1 and " + strOther + " are the same port"),
                  std::string::npos)
            << result.m_strErr;
        EXPECT_TRUE(m_bootSims[0]->GetLink().GetRecord().empty());
    }
}

TEST_F(CliTest, AChosenPackageGoesToEveryPortExactlyAsChecked) {
    BootMachine(1);
    BootMachine(4);
    const CCliResult result =
        Run({"upgrade", "--port", "COM1", "--port", "COM4", "--package", "@/good.ufw", "--yes"});
    EXPECT_EQ(result.m_nExit, 0) << result.m_strOut << result.m_strErr;
    EXPECT_NE(result.m_strOut.find("COM4: package  " + std::to_string(m_chosen.size()) + " bytes"),
              std::string::npos)
        << result.m_strOut;
    for (int n : {1, 4}) {
        SCOPED_TRACE(Com(n));
        CBootMode& boot = *m_boot[n - 1];
        EXPECT_EQ(boot.GetLoader(), m_loader);
        WaitUntil([&] { return boot.GetPackage().size() >= m_chosen.size(); });
        EXPECT_EQ(boot.GetPackage(), m_chosen);
    }
}

TEST_F(CliTest, ConfirmedOnTheTerminalTheUpgradeGoesAhead) {
    BootMachine(1);
    m_bInIsTerminal = true;
    const CCliResult result = Run({"upgrade", "--port", "COM1"}, "y\n");
    EXPECT_EQ(result.m_nExit, 0) << result.m_strErr;
    EXPECT_NE(result.m_strErr.find("Upgrade the firmware on COM1 now?"), std::string::npos);
    EXPECT_EQ(m_boot[0]->GetLoader(), m_loader);
}

} // namespace
