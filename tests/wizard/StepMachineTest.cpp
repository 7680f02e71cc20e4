// The steps walked with Back and Next against a scripted machine, no window.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "resources/StringIds.h"
#include "resources/Strings.h"
#include "tests/support/Files.h"
#include "tests/support/ResourceOverride.h"
#include "tests/wizard/WizardFixture.h"

namespace {

using StepMachine = CWizardFixture;

struct CShown {
    EStep m_eStep;
    unsigned m_nText;
    int m_nPicture;
};

TEST_F(StepMachine, StartsWithBackDisabledAndEmptyStatus) {
    EXPECT_EQ(CurrentStep(), EStep::Start);
    EXPECT_EQ(m_state.m_strStep, LoadString(111));
    EXPECT_EQ(Picture(), 130);
    EXPECT_FALSE(m_window.m_bBackEnabled);
    EXPECT_TRUE(m_window.m_bNextEnabled);
    EXPECT_EQ(m_state.m_strStatus, "");
}

// Next all the way round: the check and the transfer pass, the Version-check and Upgrade steps
// move on by themselves, Finished leads back to Start.
TEST_F(StepMachine, MainLineRunsFromStartToFinishedAndBackToStart) {
    m_machine.m_checks.push_back({"V250 TVK-50", true});
    const CShown expected[] = {
        {EStep::Connect, 112, 132},     {EStep::UnplugAdapter, 115, 133},
        {EStep::UnplugJ9J10, 121, 134}, {EStep::PlugJ1J2, 122, 135},
        {EStep::PlugAdapter, 123, 132}, {EStep::TransferDone, 117, 132},
        {EStep::UnplugJ1J2, 118, 135},  {EStep::PlugJ9J10, 119, 134},
        {EStep::Finished, 120, 132},    {EStep::Start, 111, 130},
    };
    for (const CShown& shown : expected) {
        m_steps.NextPressed();
        SCOPED_TRACE(StepName(shown.m_eStep));
        EXPECT_EQ(CurrentStep(), shown.m_eStep);
        EXPECT_EQ(m_state.m_strStep, LoadString(shown.m_nText));
        EXPECT_EQ(Picture(), shown.m_nPicture);
        EXPECT_EQ(m_window.m_bBackEnabled, shown.m_eStep != EStep::Start);
        EXPECT_TRUE(m_window.m_bNextEnabled);
        if (shown.m_eStep == EStep::UnplugAdapter) {
            EXPECT_EQ(m_state.m_strStatus, "V250 TVK-50");
        }
        if (shown.m_eStep == EStep::TransferDone) {
            EXPECT_EQ(m_state.m_strStatus, "V260");
        }
    }
    EXPECT_EQ(m_state.m_strStatus, "");
    EXPECT_EQ(m_machine.m_checkVersions, std::vector<std::string>{"V260"});
    ASSERT_EQ(m_machine.m_transferCalls.size(), 1u);
    EXPECT_EQ(m_machine.m_transferCalls[0].m_strPort, "COM2:");
    EXPECT_FALSE(m_machine.m_transferCalls[0].m_bFile);
    EXPECT_TRUE(m_op.m_messages.empty());
}

// Every Back and Next of every step, with the check and the transfer passing.
TEST_F(StepMachine, BackAndNextLeadWhereTheTableSays) {
    struct CMove {
        EStep m_eFrom;
        bool m_bNext;
        EStep m_eTo;
    };
    const CMove moves[] = {
        {EStep::Start, true, EStep::Connect},
        {EStep::Connect, false, EStep::Start},
        {EStep::Connect, true, EStep::UnplugAdapter},
        {EStep::UnplugAdapter, false, EStep::Connect},
        {EStep::UnplugAdapter, true, EStep::UnplugJ9J10},
        {EStep::UnplugJ9J10, false, EStep::UnplugAdapter},
        {EStep::UnplugJ9J10, true, EStep::PlugJ1J2},
        {EStep::PlugJ1J2, false, EStep::UnplugJ9J10},
        {EStep::PlugJ1J2, true, EStep::PlugAdapter},
        {EStep::PlugAdapter, false, EStep::PlugJ1J2},
        {EStep::PlugAdapter, true, EStep::TransferDone},
        {EStep::TransferDone, false, EStep::Retry},
        {EStep::TransferDone, true, EStep::UnplugJ1J2},
        {EStep::Retry, false, EStep::PlugJ1J2},
        {EStep::Retry, true, EStep::PlugAdapter},
        {EStep::UnplugJ1J2, false, EStep::Retry},
        {EStep::UnplugJ1J2, true, EStep::PlugJ9J10},
        {EStep::PlugJ9J10, false, EStep::UnplugJ1J2},
        {EStep::PlugJ9J10, true, EStep::Finished},
        {EStep::Finished, false, EStep::PlugJ9J10},
        {EStep::Finished, true, EStep::Start},
    };
    for (const CMove& move : moves) {
        SCOPED_TRACE(std::string(StepName(move.m_eFrom)) + (move.m_bNext ? " Next" : " Back"));
        m_machine.m_checks.push_back({"V250 TVK-50", true});
        m_steps.Enter(move.m_eFrom);
        move.m_bNext ? m_steps.NextPressed() : m_steps.BackPressed();
        EXPECT_EQ(CurrentStep(), move.m_eTo);
        EXPECT_EQ(m_window.m_bBackEnabled, move.m_eTo != EStep::Start);
        EXPECT_TRUE(m_window.m_bNextEnabled);
        m_machine.m_checks.clear();
    }
}

TEST_F(StepMachine, FailedCheckEndsOnStartWithEmptyStatusAfterShowingTheReply) {
    m_machine.m_checks.push_back({"V260 TVK-50", false});
    m_steps.NextPressed();
    m_window.m_refreshes.clear();
    m_steps.NextPressed();

    EXPECT_EQ(CurrentStep(), EStep::Start);
    EXPECT_EQ(m_state.m_strStatus, "");
    EXPECT_FALSE(m_window.m_bBackEnabled);
    EXPECT_TRUE(m_window.m_bNextEnabled);
    EXPECT_EQ(Picture(), 130);
    const std::vector<std::string> shown = m_window.ShownStatus();
    ASSERT_FALSE(shown.empty());
    EXPECT_NE(std::find(shown.begin(), shown.end(), "V260 TVK-50"), shown.end());
    EXPECT_EQ(shown.back(), "");
    EXPECT_TRUE(m_machine.m_transferCalls.empty());
}

TEST_F(StepMachine, PicturesFollowTheFamilyOfTheLastCheck) {
    m_machine.m_checks.push_back({"V250 NRP-70", true});
    m_steps.NextPressed();
    m_steps.NextPressed();
    EXPECT_EQ(CurrentStep(), EStep::UnplugAdapter);
    EXPECT_EQ(Picture(), 138);
    const int scanner[] = {139, 140, 137, 137 /* Transfer-done */, 140, 139, 137, 130};
    for (int nPicture : scanner) {
        m_steps.NextPressed();
        EXPECT_EQ(Picture(), nPicture) << StepName(CurrentStep());
    }
    EXPECT_EQ(CurrentStep(), EStep::Start);

    m_machine.m_checks.push_back({"V250 TVK-35", true});
    m_steps.NextPressed();
    EXPECT_EQ(Picture(), 137) << "no check yet since the return to Start";
    m_steps.NextPressed();
    EXPECT_EQ(Picture(), 133);
    m_steps.NextPressed();
    EXPECT_EQ(Picture(), 134);
}

TEST_F(StepMachine, FailedTransferShowsRetryWithoutAMessage) {
    for (const char* pszReply : {"V250 TVK-50", "V250 NRP-7"}) {
        SCOPED_TRACE(pszReply);
        const bool bScanner = std::string(pszReply).find("NRP") != std::string::npos;
        m_machine.m_checks.push_back({pszReply, true});
        m_machine.m_transfers.push_back(0);
        m_steps.Enter(EStep::VersionCheck);
        m_steps.Enter(EStep::PlugAdapter);
        m_steps.NextPressed();

        EXPECT_EQ(CurrentStep(), EStep::Retry);
        EXPECT_EQ(m_state.m_strStep, LoadString(115));
        EXPECT_EQ(Picture(), bScanner ? 138 : 133);
        EXPECT_TRUE(m_window.m_bBackEnabled);
        EXPECT_TRUE(m_window.m_bNextEnabled);
        EXPECT_TRUE(m_op.m_messages.empty());

        m_steps.BackPressed();
        EXPECT_EQ(CurrentStep(), EStep::PlugJ1J2);
        m_steps.Enter(EStep::Retry);
        m_steps.NextPressed();
        EXPECT_EQ(CurrentStep(), EStep::PlugAdapter);
    }
}

TEST_F(StepMachine, NextCheckUsesThePortFoundBefore) {
    m_machine.m_checks.push_back({"V250 TVK-50", true});
    m_machine.m_checks.push_back({"V260 TVK-50", false});
    m_steps.Enter(EStep::Connect);
    m_steps.NextPressed();
    m_steps.Enter(EStep::Finished);
    m_steps.NextPressed();
    EXPECT_EQ(CurrentStep(), EStep::Start);
    EXPECT_EQ(m_state.m_strPort, "COM2:");
    EXPECT_EQ(m_state.m_nScanner, 0);
    m_steps.NextPressed();
    m_steps.NextPressed();
    EXPECT_EQ(m_machine.m_checkPorts, (std::vector<std::string>{"", "COM2:"}));
}

class StepMachineWithFile : public CWizardFixture {
protected:
    StepMachineWithFile() {
        m_strDir =
            std::filesystem::temp_directory_path() / ("wizard-steps-" + std::to_string(getpid()));
        std::filesystem::create_directories(m_strDir);
        m_strPath = m_strDir + "/chosen.ufw";
        // A well-formed package of another release.
        m_package = BuiltinBytes(kIdPackage);
        m_package[31] = '1';
        WriteBytes(m_strPath, m_package);
    }
    ~StepMachineWithFile() override { std::filesystem::remove_all(m_strDir); }

    std::string m_strDir;
    std::string m_strPath;
    std::vector<uint8_t> m_package;
    int m_nHeldFd = -1;
};

TEST_F(StepMachineWithFile, UpgradeSendsTheChosenFile) {
    m_state.m_strPackagePath = m_strPath;
    m_steps.Enter(EStep::PlugAdapter);
    m_steps.NextPressed();
    EXPECT_EQ(CurrentStep(), EStep::TransferDone);
    ASSERT_EQ(m_machine.m_transferCalls.size(), 1u);
    EXPECT_TRUE(m_machine.m_transferCalls[0].m_bFile);
    EXPECT_EQ(m_machine.m_transferCalls[0].m_bytes, m_package);
}

// The Upgrade step ends the same way whether the chosen file would not open or is no package,
// and so does the Next after it: the operator can choose another file and try again.
TEST_F(StepMachineWithFile, AFileThatIsNoPackageEndsTheStepAsAFailedOpenDoes) {
    struct CAfter {
        EStep m_eBack, m_eNext;
        std::string m_strStep, m_strStatus;
        bool m_bBack, m_bNext;
        int m_nPicture;
        std::string m_strStepAfterNext;
        bool operator==(const CAfter&) const = default;
    };
    auto upgradeWith = [&](const std::string& strPath) {
        m_state.m_strPackagePath = strPath;
        m_state.m_strStatus.clear();
        m_steps.Enter(EStep::PlugAdapter);
        m_steps.NextPressed();
        CAfter after{m_state.m_eBack,
                     m_state.m_eNext,
                     m_state.m_strStep,
                     m_state.m_strStatus,
                     m_window.m_bBackEnabled,
                     m_window.m_bNextEnabled,
                     Picture(),
                     {}};
        m_steps.NextPressed();
        after.m_strStepAfterNext = m_state.m_strStep;
        return after;
    };
    const CAfter failedOpen = upgradeWith(m_strDir + "/gone.ufw");
    const size_t nMessages = m_op.m_messages.size();
    m_op.m_messages.clear();

    const std::vector<uint8_t> truncated(m_package.begin(), m_package.begin() + 5000);
    const std::string strMalformed = m_strDir + "/cut.ufw";
    WriteBytes(strMalformed, truncated);
    const CAfter malformed = upgradeWith(strMalformed);

    EXPECT_EQ(malformed, failedOpen);
    EXPECT_EQ(malformed.m_strStep, LoadString(116));
    EXPECT_TRUE(m_machine.m_transferCalls.empty());
    // One box for each time the step was entered, as for the file that would not open.
    ASSERT_EQ(m_op.m_messages.size(), nMessages);
    const CShownMessage& box = m_op.m_messages[0];
    EXPECT_EQ(box.m_nId, kIdsNotAPackage);
    EXPECT_EQ(box.m_strText, strMalformed + " is not a valid firmware package. It was not sent.");
    EXPECT_EQ(box.m_strDetail.rfind("First fault at offset ", 0), 0u) << box.m_strDetail;
    EXPECT_NE(box.m_strDetail.find("found end of file"), std::string::npos) << box.m_strDetail;
    EXPECT_EQ(box.m_eButtons, EButtons::Ok);
}

// A chosen file that does not open is reported and nothing is sent. The Upgrade step stays on
// screen, and its Next tries the file again: it must never lead to "Transit completed." for a
// machine that got nothing. Back still goes to Plug-adapter.
TEST_F(StepMachineWithFile, FailedOpenIsReportedAndNextTriesTheFileAgain) {
    struct CCase {
        const char* m_pszName;
        std::function<void()> m_fnSpoil;
        std::function<void()> m_fnMend;
        std::string m_strText;
    };
    const CCase cases[] = {
        {"deleted", [this] { std::filesystem::remove(m_strPath); },
         [this] { WriteBytes(m_strPath, m_package); }, m_strPath + " was not found."},
        {"locked by another program",
         [this] {
             m_nHeldFd = ::open(m_strPath.c_str(), O_RDONLY | O_CLOEXEC);
             ASSERT_GE(m_nHeldFd, 0);
             ASSERT_EQ(::flock(m_nHeldFd, LOCK_EX | LOCK_NB), 0);
         },
         [this] { ::close(m_nHeldFd); },
         "A sharing violation occurred while accessing " + m_strPath + "."},
        {"replaced by a FIFO",
         [this] {
             std::filesystem::remove(m_strPath);
             ASSERT_EQ(::mkfifo(m_strPath.c_str(), 0600), 0);
         },
         [this] {
             std::filesystem::remove(m_strPath);
             WriteBytes(m_strPath, m_package);
         },
         m_strPath + " is not a regular file."},
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        m_steps.Enter(EStep::Start);
        m_op.m_messages.clear();
        m_machine.m_transferCalls.clear();
        m_state.m_strPackagePath = m_strPath;
        c.m_fnSpoil();
        m_steps.Enter(EStep::PlugAdapter);
        for (int nTry = 1; nTry <= 2; ++nTry) {
            m_steps.NextPressed();
            ASSERT_EQ(m_op.m_messages.size(), size_t(nTry));
            EXPECT_EQ(m_op.m_messages.back().m_strText, c.m_strText);
            EXPECT_EQ(m_op.m_messages.back().m_eButtons, EButtons::Ok);
            EXPECT_TRUE(m_machine.m_transferCalls.empty());
            EXPECT_EQ(CurrentStep(), EStep::Upgrade);
            EXPECT_NE(m_state.m_strStatus, "V260");
            EXPECT_TRUE(m_window.m_bBackEnabled);
            EXPECT_TRUE(m_window.m_bNextEnabled);
        }
        m_steps.BackPressed();
        EXPECT_EQ(CurrentStep(), EStep::PlugAdapter);
        m_steps.NextPressed();
        EXPECT_EQ(CurrentStep(), EStep::Upgrade);

        c.m_fnMend();
        m_steps.NextPressed();
        EXPECT_EQ(CurrentStep(), EStep::TransferDone);
        ASSERT_EQ(m_machine.m_transferCalls.size(), 1u);
        EXPECT_TRUE(m_machine.m_transferCalls[0].m_bFile);
        EXPECT_EQ(m_op.m_messages.size(), 3u);
    }
}

TEST_F(StepMachineWithFile, ReportNamesTheFullPathOfARelativeName) {
    const std::string strOldDir = std::filesystem::current_path();
    std::filesystem::current_path(m_strDir);
    m_state.m_strPackagePath = "./missing/../gone.ufw";
    m_steps.Enter(EStep::Upgrade);
    std::filesystem::current_path(strOldDir);
    ASSERT_EQ(m_op.m_messages.size(), 1u);
    EXPECT_EQ(m_op.m_messages[0].m_strText, m_strDir + "/gone.ufw was not found.");
}

} // namespace
