// versionup-cli through a real device server: Debian's ser2net in front of the simulated
// machine, started by each case on 127.0.0.1 and a free port with a configuration of its own.
// The simulator reads back the line settings ser2net applied for the program, so a setting that
// did not cross the network fails here as it would on the machine.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "sim/BootMode.h"
#include "sim/MachineSim.h"
#include "tests/support/Files.h"
#include "tests/support/Packages.h"
#include "tests/support/Ser2net.h"
#include "tests/support/SimPorts.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace {

class CliSer2netTest : public ::testing::Test {
protected:
    CliSer2netTest() { TestPortsDir(); }
    ~CliSer2netTest() override {
        m_server.Stop();
        if (m_pBootSim)
            m_pBootSim->Stop();
        for (int n = 1; n <= 4; ++n)
            m_ports.Absent(n);
    }

    CCommandResult Cli(std::vector<std::string> args) {
        args.insert(args.begin(), VERSIONUP_CLI);
        return RunCommand(m_dir.Path(), args);
    }

    CBootMode& BootMachine(const CBootMode::CBehaviour& behaviour = {}) {
        m_ports.Absent(1);
        m_pBootSim = std::make_unique<CMachineSim>();
        CBootMode* pBoot = StartBootMode(*m_pBootSim, TestPortsDir(), 1, behaviour);
        if (!pBoot)
            std::abort();
        return *pBoot;
    }

    std::string PackageFile(size_t nBytes) {
        const std::filesystem::path file = m_dir / "chosen.ufw";
        m_package = MakeSmallPackage(nBytes, 5);
        WriteBytes(file, m_package);
        return file.string();
    }

    // Every trace the runs wrote into the test's folder, one after the other.
    std::string ReadTraces() const {
        std::string strAll;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path())) {
            if (entry.path().extension() != ".trace")
                continue;
            const std::vector<uint8_t> bytes = ReadBytes(entry.path());
            strAll.append(bytes.begin(), bytes.end());
        }
        return strAll;
    }

    CSimPorts m_ports;
    std::unique_ptr<CMachineSim> m_pBootSim;
    CSer2net m_server;
    CTempDir m_dir;
    std::vector<uint8_t> m_package;
};

std::vector<uint8_t> BuiltinLoader() {
    return ReadBytes(std::filesystem::path(VERSIONUP_SOURCE_DIR) / "resources" / "loader.bin");
}

} // namespace

TEST_F(CliSer2netTest, CheckAnswersThroughTheServerByUrlAndByPortsFolderFile) {
    m_ports.Machine(1, "V250 TVK-50;");
    m_ports.Machine(2, "V260 NRP-7;");
    ASSERT_TRUE(m_server.Start(LinkTarget(CSimPorts::LinkPath(1))));

    // A network port beside a local one, both at once.
    const CCommandResult both = Cli({"check", "--port", m_server.Url(), "--port", "COM2"});
    EXPECT_EQ(both.m_nExit, 1) << both.m_strOut << both.m_strErr;
    EXPECT_NE(both.m_strOut.find(m_server.Url() + ":  reply \"V250 TVK-50\"  model TVK-50"),
              std::string::npos)
        << both.m_strOut;
    EXPECT_NE(both.m_strOut.find("COM2:  reply \"V260 NRP-7\""), std::string::npos)
        << both.m_strOut;

    // COM3 stands for the server's port through a file in the ports folder.
    std::filesystem::remove(CSimPorts::LinkPath(3));
    std::ofstream(CSimPorts::LinkPath(3)) << m_server.Url() << "\n";
    const CCommandResult file = Cli({"check", "--port", "COM3", "--json"});
    EXPECT_EQ(file.m_nExit, 0) << file.m_strOut << file.m_strErr;
    EXPECT_NE(file.m_strOut.find("TVK-50"), std::string::npos) << file.m_strOut;
    EXPECT_EQ(m_ports.Mode(1).GetQueryCount(), 2);

    // ports opens the server's port as it opens a local one, and says what stopped it.
    const CCommandResult ports = Cli({"ports"});
    const size_t nLine = ports.m_strOut.find("COM3  " + m_server.Url());
    ASSERT_NE(nLine, std::string::npos) << ports.m_strOut;
    const std::string strLine =
        ports.m_strOut.substr(nLine, ports.m_strOut.find('\n', nLine) - nLine);
    EXPECT_EQ(strLine.substr(strLine.size() - 7), "present") << strLine;
    m_server.Stop();
    const CCommandResult stopped = Cli({"ports"});
    EXPECT_NE(stopped.m_strOut.find("cannot be opened: connection refused by 127.0.0.1:"),
              std::string::npos)
        << stopped.m_strOut;
}

// ser2net reads every byte (it answers the close's timing mark) but tells nothing of its line,
// and throws away what it still holds when the connection ends: the run says what it knows.
TEST_F(CliSer2netTest, UpgradeIsByteExactWithTheServerSettingTheLineForEachPhase) {
    CBootMode& boot = BootMachine();
    ASSERT_TRUE(m_server.Start(LinkTarget(CSimPorts::LinkPath(1))));
    const std::string strPackage = PackageFile(20000);
    const CCommandResult run = Cli({"upgrade", "--yes", "--port", m_server.Url(), "--package",
                                    strPackage, "--trace", m_dir.Path()});
    EXPECT_EQ(run.m_nExit, 1) << run.m_strOut << run.m_strErr << m_server.Output();
    EXPECT_EQ(run.m_strOut.find("Transit completed."), std::string::npos) << run.m_strOut;
    EXPECT_NE(run.m_strOut.find("handed every byte to the device server"), std::string::npos)
        << run.m_strOut;
    // Not a failure to retry: sending it all again would end the same way.
    EXPECT_EQ(run.m_strOut.find("Try again"), std::string::npos) << run.m_strOut;
    EXPECT_NE(ReadTraces().find("delivery: handed to the server, delivery unknown: it read every "
                                "byte (timing mark answered)"),
              std::string::npos);
    // The stand-in loader holds fifty 0xFF bytes: each went out doubled and its echo came back
    // doubled, and both arrived single.
    const std::vector<uint8_t> loader = BuiltinLoader();
    ASSERT_GT(std::count(loader.begin(), loader.end(), 0xFF), 0);
    EXPECT_EQ(boot.GetLoader(), loader);
    EXPECT_EQ(boot.GetPackage(), m_package);
    // ser2net set 9600 8N1 without handshake for the loader and 38400 with RTS/CTS for the
    // package: the simulator read both back from its side of the line.
    EXPECT_GT(boot.GetLoaderChecks(), 0);
    EXPECT_GT(boot.GetPackageChecks(), 0);
    EXPECT_TRUE(boot.GetSettingsFaults().empty())
        << ::testing::PrintToString(boot.GetSettingsFaults());
}

// The machine stops reading near the end: the server still holds the last bytes when the
// program is done sending. Whatever the timing, the run never says the transit completed.
TEST_F(CliSer2netTest, MachineStallingNearTheEndIsNeverASuccessWithBytesMissing) {
    CBootMode::CBehaviour behaviour;
    const size_t nPackage = 30000;
    behaviour.m_nStallAtPackageByte = int(nPackage) - 6000;
    behaviour.m_nStallMs = 3000;
    CBootMode& boot = BootMachine(behaviour);
    ASSERT_TRUE(m_server.Start(LinkTarget(CSimPorts::LinkPath(1))));
    const std::string strPackage = PackageFile(nPackage);
    const CCommandResult run = Cli({"upgrade", "--yes", "--port", m_server.Url(), "--package",
                                    strPackage, "--trace", m_dir.Path()});
    EXPECT_TRUE(boot.HasHeldLine());
    EXPECT_EQ(run.m_nExit, 1) << run.m_strOut;
    EXPECT_EQ(run.m_strOut.find("Transit completed."), std::string::npos) << run.m_strOut;
    // The trace says how delivery was judged.
    EXPECT_NE(ReadTraces().find("delivery: "), std::string::npos);
    // Nothing was purged on the server after the last write: what it passed on is all there.
    WaitUntil([&] { return boot.GetPackage().size() == m_package.size(); }, 10000);
    const std::vector<uint8_t> copy = boot.GetPackage();
    ASSERT_LE(copy.size(), m_package.size());
    EXPECT_TRUE(std::equal(copy.begin(), copy.end(), m_package.begin()));
}

// What the server cannot tell, the machine's own answer after its restart proves: with
// --confirm a run through a server ends in success once the machine answers the package's version.
TEST_F(CliSer2netTest, ConfirmTurnsBytesHandedToTheServerIntoAProvenUpgrade) {
    const std::string strPackage = PackageFile(4000);
    CBootMode::CBehaviour behaviour;
    behaviour.m_bRestarts = true;
    behaviour.m_nPackageSize = m_package.size();
    behaviour.m_afterRestart.m_strReply = "V261 TVK-50;";
    CBootMode& boot = BootMachine(behaviour);
    ASSERT_TRUE(m_server.Start(LinkTarget(CSimPorts::LinkPath(1))));
    const CCommandResult run = Cli({"upgrade", "--yes", "--confirm", "--confirm-timeout", "60",
                                    "--port", m_server.Url(), "--package", strPackage});
    EXPECT_EQ(run.m_nExit, 0) << run.m_strOut << run.m_strErr << m_server.Output();
    EXPECT_NE(run.m_strOut.find("handed every byte to the device server"), std::string::npos)
        << run.m_strOut;
    EXPECT_NE(run.m_strOut.find(": confirmed: TVK-50 runs V261"), std::string::npos)
        << run.m_strOut;
    EXPECT_EQ(boot.GetPackage(), m_package);
}

TEST_F(CliSer2netTest, ServerKilledMidPackageFailsWithinFiveSecondsNamingIt) {
    CBootMode& boot = BootMachine();
    ASSERT_TRUE(m_server.Start(LinkTarget(CSimPorts::LinkPath(1))));
    const std::string strPackage = PackageFile(200000);
    CCommandResult run;
    std::thread upgrade([&] {
        run = Cli({"upgrade", "--yes", "--port", m_server.Url(), "--package", strPackage});
    });
    const bool bMidPackage = WaitUntil([&] { return boot.GetPackage().size() > 4096; }, 60000);
    const auto killed = std::chrono::steady_clock::now();
    m_server.Kill(SIGKILL);
    upgrade.join();
    const int64_t nAfterMs = ElapsedMs(killed);
    ASSERT_TRUE(bMidPackage) << run.m_strOut << m_server.Output();
    EXPECT_EQ(run.m_nExit, 1) << run.m_strOut;
    EXPECT_NE(run.m_strOut.find("the line went dead (package): the server "), std::string::npos)
        << run.m_strOut;
    EXPECT_EQ(run.m_strOut.find("Transit completed."), std::string::npos) << run.m_strOut;
    // Not the write's stall limit of a minute: the closed connection ends the run.
    EXPECT_LT(nAfterMs, 5000) << run.m_strOut;
}

TEST_F(CliSer2netTest, ServersThatSpeakNoRfc2217AreNamedAsSuch) {
    m_ports.Machine(1, "V250 TVK-50;");
    // Nobody listens: the port of a server that was stopped.
    ASSERT_TRUE(m_server.Start(LinkTarget(CSimPorts::LinkPath(1))));
    const std::string strStopped = m_server.Url();
    m_server.Stop();
    const CCommandResult refused = Cli({"check", "--port", strStopped});
    EXPECT_EQ(refused.m_nExit, 3);
    EXPECT_NE(refused.m_strOut.find("connection refused by 127.0.0.1:"), std::string::npos)
        << refused.m_strOut;

    // A raw TCP port: the program's negotiation goes unanswered.
    CSer2net raw;
    ASSERT_TRUE(raw.Start(LinkTarget(CSimPorts::LinkPath(1)), CSer2net::EAccepter::RawTcp));
    const CCommandResult silent = Cli({"check", "--port", raw.Url()});
    EXPECT_EQ(silent.m_nExit, 3);
    EXPECT_NE(silent.m_strOut.find("no RFC 2217 negotiation from 127.0.0.1:"), std::string::npos)
        << silent.m_strOut;
}
