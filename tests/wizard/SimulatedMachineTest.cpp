// The steps against the simulated machine: the real device check and the real transfer over a
// pseudo-terminal, with a small loader and package so that a whole upgrade takes seconds.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>

#include "ufw/PackageCheck.h"
#include "ports/PortMap.h"
#include "resources/StringIds.h"
#include "resources/Strings.h"
#include "sim/BootMode.h"
#include "sim/MachineSim.h"
#include "sim/NormalMode.h"
#include "tests/support/Files.h"
#include "tests/support/Packages.h"
#include "tests/support/ResourceOverride.h"
#include "tests/support/SimPorts.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"
#include "tests/wizard/WizardFixture.h"
#include "wizard/ServiceCommands.h"

namespace {

class SimulatedMachine : public ::testing::Test {
protected:
    SimulatedMachine()
        : m_loader(MakeBytes(40, 7)), m_package(MakeBytes(700, 3)),
          m_steps(m_state, m_op, &m_picture, GetMachineLink()) {
        // COM2 to COM4 lead nowhere and there are none above: no real port of this computer is
        // ever opened.
        for (int n = 2; n <= 4; ++n)
            m_home.MakeAbsent(n);
        SetSystemDeviceRoots("/nonexistent/dev", "/nonexistent/sys");
        m_resources.Replace("BIN", kIdLoader, m_loader).Replace("BIN", kIdPackage, m_package);
        m_state.m_pWindow = &m_window;
        m_state.m_strPackageVersion = "V260";
        m_steps.Enter(EStep::Start);
    }
    ~SimulatedMachine() override { m_sim.Stop(); }

    CBootMode& StartMachine(const std::string& strReply) {
        m_sim.SetNormalMode(std::make_unique<CNormalMode>(strReply));
        CBootMode* pBoot = StartBootMode(m_sim, m_home.GetPortsDir(), 1);
        EXPECT_TRUE(pBoot);
        return *pBoot;
    }

    CPortsHome m_home;
    std::vector<uint8_t> m_loader;
    std::vector<uint8_t> m_package;
    CResourceOverride m_resources;
    CMachineSim m_sim;
    CWizardState m_state;
    CRecordingWindow m_window{m_state};
    CRecordingPicture m_picture;
    CScriptedOperator m_op;
    CStepMachine m_steps;
    CServiceCommands m_commands{m_state, m_op, m_steps};
    CTempDir m_files{"versionup-chosen"};
};

// The package built into the program, whatever the test put in its place.
std::vector<uint8_t> RealBuiltin(const char* pszType, int nId) {
    const CResource res = GetBuiltinResources().Find(pszType, nId);
    return res ? std::vector<uint8_t>(res.m_pData, res.m_pData + res.m_nSize)
               : std::vector<uint8_t>();
}

TEST_F(SimulatedMachine, WholeUpgradeFromStartToTransferDone) {
    CBootMode& boot = StartMachine("V250 NRP-70;");
    m_steps.NextPressed();
    m_steps.NextPressed();
    EXPECT_EQ(m_state.m_strStep, LoadString(115));
    EXPECT_EQ(m_state.m_strPort, "COM1:");
    EXPECT_EQ(m_state.m_strStatus, "V250 NRP-70");
    EXPECT_EQ(m_picture.m_nLoaded, 138);
    for (int n = 0; n < 4; ++n)
        m_steps.NextPressed();

    EXPECT_EQ(m_state.m_strStep, LoadString(117));
    EXPECT_EQ(m_state.m_strStatus, "V260");
    EXPECT_EQ(m_state.m_eBack, EStep::Retry);
    EXPECT_TRUE(m_op.m_messages.empty());
    EXPECT_EQ(boot.GetLoader(), std::vector<uint8_t>(m_loader.begin(), m_loader.end()));
    EXPECT_EQ(boot.GetPackage(), std::vector<uint8_t>(m_package.begin(), m_package.end()));
    EXPECT_TRUE(boot.GetSettingsFaults().empty());
    EXPECT_EQ(m_op.m_nCursorDepth, 0);
}

TEST_F(SimulatedMachine, UpToDateMachineEndsOnStartWithItsPortKept) {
    StartMachine("V260 TVK-50;");
    m_steps.NextPressed();
    m_steps.NextPressed();
    ASSERT_EQ(m_op.m_messages.size(), 1u);
    EXPECT_EQ(m_op.m_messages[0].m_strText, LoadString(105));
    EXPECT_EQ(m_state.m_strStep, LoadString(111));
    EXPECT_EQ(m_state.m_strStatus, "");
    EXPECT_EQ(m_state.m_strPort, "COM1:");
    EXPECT_FALSE(m_window.m_bBackEnabled);
    EXPECT_FALSE(m_sim.IsInBootMode());
}

TEST_F(SimulatedMachine, AChosenPackageGoesOutByteForByte) {
    CBootMode& boot = StartMachine("V250 TVK-50;");
    const std::vector<uint8_t> package = MakeSmallPackage(1000, 11);
    m_op.m_strFileAnswer = m_files / "v261.ufw";
    WriteBytes(m_op.m_strFileAnswer, package);
    m_commands.Run(kIdOpenPackage);
    EXPECT_EQ(m_state.m_strPackage, "TVK35/50 NRP7/70  V261");
    m_state.m_strPort = "COM1:";

    m_steps.Enter(EStep::PlugAdapter);
    m_steps.NextPressed();

    EXPECT_EQ(m_state.m_strStep, LoadString(117));
    EXPECT_TRUE(m_op.m_messages.empty());
    EXPECT_EQ(boot.GetLoader(), m_loader);
    EXPECT_TRUE(WaitUntil([&] { return boot.GetPackage().size() >= package.size(); }));
    EXPECT_EQ(boot.GetPackage(), package);
}

// Files that are no firmware package, chosen with Open... and sent from the Upgrade step or with
// Send Firmware: refused with the first fault named, before the port is opened.
struct CNotAPackage {
    const char* m_pszName;
    std::function<void(const std::string&)> m_fnWrite;
    const char* m_pszDetail; // part of the box's detail
};

void PrintTo(const CNotAPackage& c, std::ostream* pOut) {
    *pOut << c.m_pszName;
}

void WriteCopy(const std::string& strPath, const std::function<void(std::vector<uint8_t>&)>& fn) {
    std::vector<uint8_t> bytes = RealBuiltin("BIN", kIdPackage);
    fn(bytes);
    WriteBytes(strPath, bytes);
}

const CNotAPackage kNotPackages[] = {
    {"Picture", [](const std::string& p) { WriteBytes(p, RealBuiltin("BITMAP", kIdbScanUnit)); },
     "First fault at offset 0: expected tag beginning with \"PUF\""},
    {"TruncatedPackage",
     [](const std::string& p) { WriteCopy(p, [](auto& b) { b.resize(b.size() / 2); }); },
     "found end of file"},
    {"WrongRecordChecksum",
     // The checksum of the first record, 0xD6.
     [](const std::string& p) { WriteCopy(p, [](auto& b) { b[64] ^= 0x80; }); },
     "First fault at offset 64: expected checksum 0xD6"},
    {"OverSixteenMiB",
     [](const std::string& p) {
         WriteCopy(p, [](auto&) {});
         ASSERT_EQ(::truncate(p.c_str(), kMaxPackageFileSize + 1), 0);
     },
     "larger than 16 MiB"},
};

class SimulatedMachineRefuses : public SimulatedMachine,
                                public ::testing::WithParamInterface<CNotAPackage> {
protected:
    // A package chosen with Open... goes bad before it is sent (Open... itself refuses a bad
    // one, so the check before sending is the second guard). Sends it the way the test names, and
    // checks that the machine's line was never touched: no byte came, and the line settings are
    // still the simulator's own.
    void SendAndExpectRefusal(const std::function<void()>& fnSend) {
        StartMachine("V250 TVK-50;");
        m_state.m_strPort = "COM1:";
        m_op.m_strFileAnswer = m_files / "chosen.ufw";
        WriteCopy(m_op.m_strFileAnswer, [](auto&) {});
        m_commands.Run(kIdOpenPackage);
        ASSERT_TRUE(m_op.m_messages.empty());
        ASSERT_EQ(m_state.m_strPackagePath, m_op.m_strFileAnswer);
        GetParam().m_fnWrite(m_op.m_strFileAnswer);
        const struct termios before = m_sim.GetLink().GetSettings();

        fnSend();

        ASSERT_EQ(m_op.m_messages.size(), 1u);
        const CShownMessage& box = m_op.m_messages[0];
        EXPECT_EQ(box.m_nId, kIdsNotAPackage);
        EXPECT_EQ(box.m_strText,
                  m_op.m_strFileAnswer + " is not a valid firmware package. It was not sent.");
        EXPECT_NE(box.m_strDetail.find(GetParam().m_pszDetail), std::string::npos)
            << box.m_strDetail;
        EXPECT_TRUE(m_sim.GetLink().GetRecord().empty());
        EXPECT_FALSE(m_sim.IsInBootMode());
        const struct termios after = m_sim.GetLink().GetSettings();
        EXPECT_EQ(after.c_cflag, before.c_cflag) << "the port was opened and set";
        EXPECT_EQ(after.c_iflag, before.c_iflag);
        EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    }
};

TEST_P(SimulatedMachineRefuses, TheUpgradeStep) {
    SendAndExpectRefusal([this] {
        m_steps.Enter(EStep::PlugAdapter);
        m_steps.NextPressed();
    });
    EXPECT_EQ(m_state.m_strStep, LoadString(116));
    EXPECT_NE(m_state.m_strStatus, "V260") << "reported as transferred";
}

TEST_P(SimulatedMachineRefuses, SendFirmware) {
    SendAndExpectRefusal([this] { m_commands.Run(kIdSendFirmware); });
}

INSTANTIATE_TEST_SUITE_P(NotAPackage, SimulatedMachineRefuses, ::testing::ValuesIn(kNotPackages),
                         [](const auto& info) { return std::string(info.param.m_pszName); });

} // namespace
