// versionup-cli as its own program: what a second process sees of a port this one holds, the
// version, and inspect next to ufw-inspect.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "serial/SerialPort.h"
#include "tests/support/Files.h"
#include "tests/support/SimPorts.h"
#include "tests/support/TempDir.h"

namespace {

const std::filesystem::path kStandinPackage =
    std::filesystem::path(VERSIONUP_SOURCE_DIR) / "resources" / "package.ufw";

class CliProgramTest : public ::testing::Test {
protected:
    CCommandResult Cli(std::vector<std::string> args) {
        args.insert(args.begin(), VERSIONUP_CLI);
        return RunCommand(m_dir.Path(), args);
    }

    CSimPorts m_ports;
    CTempDir m_dir;
};

TEST_F(CliProgramTest, AnotherProcessFindsAHeldPortBusyAtOnce) {
    m_ports.Machine(1, "V250 TVK-50;");
    const CCommandResult free = Cli({"check", "--port", "COM1"});
    EXPECT_EQ(free.m_nExit, 0) << free.m_strOut << free.m_strErr;
    EXPECT_NE(free.m_strOut.find("Upgrade needed."), std::string::npos) << free.m_strOut;

    CSerialPort holder;
    ASSERT_EQ(holder.Open("COM1:", 9600, "N81H"), 1);
    const CCommandResult check = Cli({"check", "--port", "COM1"});
    EXPECT_EQ(check.m_nExit, 3);
    EXPECT_NE(check.m_strOut.find("in use by another program"), std::string::npos)
        << check.m_strOut;
    const CCommandResult upgrade = Cli({"upgrade", "--port", "COM1", "--yes"});
    EXPECT_EQ(upgrade.m_nExit, 1);
    EXPECT_NE(upgrade.m_strOut.find("in use by another program"), std::string::npos)
        << upgrade.m_strOut;
    const CCommandResult ports = Cli({"ports"});
    EXPECT_EQ(ports.m_nExit, 0);
    EXPECT_NE(ports.m_strOut.find("busy"), std::string::npos) << ports.m_strOut;
    EXPECT_EQ(m_ports.Mode(1).GetQueryCount(), 1) << "a query reached the held port";
}

TEST_F(CliProgramTest, VersionAndHelp) {
    const CCommandResult version = Cli({"--version"});
    EXPECT_EQ(version.m_nExit, 0);
    EXPECT_EQ(version.m_strOut, "versionup-cli 2.6.0.0\n");
    const CCommandResult help = Cli({"--help"});
    EXPECT_EQ(help.m_nExit, 0);
    EXPECT_EQ(help.m_strOut.rfind("usage: versionup-cli COMMAND", 0), 0u) << help.m_strOut;
}

TEST_F(CliProgramTest, InspectPrintsWhatUfwInspectPrints) {
    std::vector<uint8_t> damaged = ReadBytes(kStandinPackage);
    damaged[200] ^= 0x40;
    WriteBytes(m_dir / "damaged.ufw", damaged);
    const std::string strDamaged = (m_dir / "damaged.ufw").string();
    // Both read no more than a chosen package may be: one limit for every reader.
    const std::string strHuge = (m_dir / "huge.ufw").string();
    WriteBytes(strHuge, {});
    ASSERT_EQ(::truncate(strHuge.c_str(), (int64_t(16) << 20) + 1), 0);
    struct CCase {
        std::string m_strFile;
        int m_nExit;
    };
    for (const CCase& c : {CCase{kStandinPackage.string(), 0}, CCase{strDamaged, 1},
                           CCase{(m_dir / "missing.ufw").string(), 2}, CCase{strHuge, 2}}) {
        SCOPED_TRACE(c.m_strFile);
        const CCommandResult cli = Cli({"inspect", c.m_strFile});
        const CCommandResult tool = RunCommand(m_dir.Path(), {UFW_INSPECT, c.m_strFile});
        EXPECT_EQ(cli.m_nExit, c.m_nExit) << cli.m_strErr;
        EXPECT_EQ(tool.m_nExit, c.m_nExit);
        EXPECT_EQ(cli.m_strOut, tool.m_strOut);
        if (c.m_nExit == 1) {
            EXPECT_EQ(cli.m_strErr.substr(cli.m_strErr.find(':')),
                      tool.m_strErr.substr(tool.m_strErr.find(':')));
        }
    }
}

} // namespace
