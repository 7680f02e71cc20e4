// The version query and port discovery against simulated machines over real pseudo-terminals.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "device/DeviceCheck.h"
#include "platform/Clock.h"
#include "tests/support/LinkFixture.h"
#include "tests/support/PauseClock.h"
#include "tests/support/RecordingWindow.h"
#include "tests/support/ScriptedOperator.h"
#include "tests/support/SimPorts.h"
#include "tests/support/TelnetPeer.h"
#include "tests/support/TempDir.h"
#include "tests/support/Unprivileged.h"
#include "tests/support/Wait.h"

using namespace std::chrono_literals;
using namespace std::string_literals;

namespace {

constexpr const char* kPackageVersion = "V260";
constexpr int kFlagUntouched = 7;

class DeviceCheckTest : public ::testing::Test {
protected:
    DeviceCheckTest() : m_window(m_state) {
        TestPortsDir();
        m_state.m_pWindow = &m_window;
        m_state.m_nScanner = kFlagUntouched;
    }

    bool Check() { return CheckFirmwareVersion(m_state, m_operator, kPackageVersion); }

    void ExpectCursorBalanced() {
        EXPECT_EQ(m_operator.m_nCursorDepth, 0);
        EXPECT_FALSE(m_operator.m_bCursorWentNegative);
    }

    CSimPorts m_ports;
    CWizardState m_state;
    CRecordingWindow m_window;
    CScriptedOperator m_operator;
};

struct ReplyCase {
    std::string m_strReply; // what the machine sends for "F;"
    bool m_bResult;
    unsigned m_nMessage; // 0: none
    int m_nFlag;         // the scanner flag afterwards
    std::string m_strStatus;
};

TEST_F(DeviceCheckTest, RepliesDecideByModelTableAndByteWiseVersion) {
    const ReplyCase cases[] = {
        {"V250 TVK-50;", true, 0, 0, "V250 TVK-50"},
        {"V250 NRP-7;", true, 0, 1, "V250 NRP-7"},
        {"V250 NRP-70;", true, 0, 1, "V250 NRP-70"},
        {"V250 TVK-35;", true, 0, 0, "V250 TVK-35"},
        {"V260 TVK-35;", false, 105, 0, "V260 TVK-35"},
        {"V260 NRP-7;", false, 105, 1, "V260 NRP-7"},
        {"V1000 TVK-50;", true, 0, 0, "V1000 TVK-50"},
        {"V26 TVK-50;", true, 0, 0, "V26 TVK-50"},
        {"v250 TVK-50;", false, 105, 0, "v250 TVK-50"},
        {" V250 TVK-50;", true, 0, 0, " V250 TVK-50"},
        {"V250 TVK-50 ;", false, 106, kFlagUntouched, "V250 TVK-50 "},
        {"V250  TVK-50;", false, 106, kFlagUntouched, "V250  TVK-50"},
        {"V250 tvk-50;", false, 106, kFlagUntouched, "V250 tvk-50"},
        // Bytes after the ';' are never read; a zero byte ends the text.
        {"V250 TVK-50;V999 NRP-7;", true, 0, 0, "V250 TVK-50"},
        {"V250 TVK-50\0junk;"s, true, 0, 0, "V250 TVK-50"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("reply '" + c.m_strReply + "'");
        CSimPorts ports;
        CNormalMode& mode = ports.Machine(1, c.m_strReply);
        CScriptedOperator op;
        CWizardState state;
        state.m_strPort = "COM1:";
        state.m_nScanner = kFlagUntouched;
        EXPECT_EQ(CheckFirmwareVersion(state, op, kPackageVersion), c.m_bResult);
        EXPECT_EQ(mode.GetQueryCount(), 1);
        EXPECT_EQ(state.m_strStatus, c.m_strStatus);
        EXPECT_EQ(state.m_nScanner, c.m_nFlag);
        EXPECT_EQ(state.m_strStep, "Checking Firmware Version.");
        if (c.m_nMessage) {
            ASSERT_EQ(op.m_messages.size(), 1u);
            const CShownMessage& shown = op.m_messages[0];
            EXPECT_EQ(shown.m_nId, c.m_nMessage);
            EXPECT_EQ(shown.m_strText,
                      c.m_nMessage == 105 ? "Upgrade unnecessary." : "Wrong Model");
            EXPECT_EQ(shown.m_eButtons, EButtons::Ok);
            EXPECT_EQ(shown.m_nCursorDepth, 1) << "the box comes before the cursor goes down";
        } else {
            EXPECT_TRUE(op.m_messages.empty());
        }
        EXPECT_EQ(op.m_nCursorDepth, 0);
        EXPECT_FALSE(op.m_bCursorWentNegative);
        EXPECT_TRUE(op.m_dialogPresets.empty());
    }
}

// The outcome records what the message boxes say, and what they do not: the reply as split, the
// port used or found, the OS cause.
TEST_F(DeviceCheckTest, OutcomeNamesTheVerdictWithReplyModelVersionAndPort) {
    struct CCase {
        const char* m_pszName;
        std::function<void(CSimPorts&)> m_fnSetUp;
        const char* m_pszPort; // given to the check; "" discovers
        ECheckVerdict m_eVerdict;
        const char* m_pszUsed; // the outcome's port
        const char* m_pszReply;
        const char* m_pszModel;
        const char* m_pszVersion;
    };
    using V = ECheckVerdict;
    const CCase cases[] = {
        {"needed", [](CSimPorts& p) { p.Machine(1, "V250 TVK-50;"); }, "COM1:", V::UpgradeNeeded,
         "COM1:", "V250 TVK-50", "TVK-50", "V250"},
        {"unnecessary", [](CSimPorts& p) { p.Machine(1, "V260 NRP-7;"); }, "COM1:", V::Unnecessary,
         "COM1:", "V260 NRP-7", "NRP-7", "V260"},
        {"wrong model", [](CSimPorts& p) { p.Machine(1, "V250 tvk-50;"); }, "COM1:", V::WrongModel,
         "COM1:", "V250 tvk-50", "tvk-50", "V250"},
        {"unusable", [](CSimPorts& p) { p.Machine(1, "V250 ;"); }, "COM1:", V::UnusableReply,
         "COM1:", "V250 ", "", ""},
        {"silent", [](CSimPorts& p) { p.Machine(1, "", ENormalFault::Silent); },
         "COM1:", V::NoReply, "COM1:", "", "", ""},
        {"absent", [](CSimPorts&) {}, "COM2:", V::PortFailed, "COM2:", "", "", ""},
        {"found", [](CSimPorts& p) { p.Machine(3, "V250 NRP-70;"); }, "", V::UpgradeNeeded,
         "COM3:", "V250 NRP-70", "NRP-70", "V250"},
        {"nothing found", [](CSimPorts&) {}, "", V::NothingFound, "", "", "", ""},
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        CSimPorts ports;
        c.m_fnSetUp(ports);
        CStepClock clock(10);
        CClockOverride useClock(clock);
        CScriptedOperator op;
        CWizardState state;
        state.m_strPort = c.m_pszPort;
        const CCheckOutcome outcome = RunDeviceCheck(state, op, kPackageVersion);
        EXPECT_EQ(outcome.m_eVerdict, c.m_eVerdict);
        EXPECT_EQ(outcome.m_strPort, c.m_pszUsed);
        EXPECT_EQ(outcome.m_strReply, c.m_pszReply);
        EXPECT_EQ(outcome.m_strModel, c.m_pszModel);
        EXPECT_EQ(outcome.m_strVersion, c.m_pszVersion);
        if (c.m_eVerdict == V::PortFailed) {
            EXPECT_EQ(outcome.m_portError.m_strDevice, "/nonexistent/ttyUSB1");
            EXPECT_EQ(outcome.m_portError.m_nErrno, ENOENT);
        } else {
            EXPECT_EQ(outcome.m_portError.m_nErrno, 0);
        }
        EXPECT_EQ(op.m_nCursorDepth, 0);
        EXPECT_FALSE(op.m_bCursorWentNegative);
    }
}

// A cancel ends the check wherever it waits: before a port is opened, during a probe (of the
// first four or of the ports above them), during the query, at a retry. The clock stands still,
// so no time-out can end a wait in its place. A cancelled check shows nothing and keeps no port.
TEST_F(DeviceCheckTest, CancelEndsTheCheckWhereverItWaitsWithoutAMessage) {
    CHeldClock clock;
    CClockOverride useClock(clock);
    struct CCase {
        const char* m_pszName;
        const char* m_pszPort;                               // preset port name
        std::vector<std::pair<int, const char*>> m_machines; // COMn, reply ("" silent)
        int m_nCancelAfterQueriesOn; // cancel once this COM has been asked; 0: at once
        std::vector<int> m_answers;  // to the Retry/Cancel question
        std::vector<unsigned> m_messages;
        std::vector<std::pair<int, int>> m_queries; // COMn, queries it got
    };
    const CCase cases[] = {
        {"before the first query", "COM1:", {{1, "V250 TVK-50;"}}, 0, {}, {}, {{1, 0}}},
        {"during a probe of COM1", "", {{1, ""}, {2, "V250 TVK-50;"}}, 1, {}, {}, {{2, 0}}},
        {"during the probes above COM4", "", {{5, ""}, {6, "V250 TVK-50;"}}, 6, {}, {}, {}},
        {"while the query waits", "COM3:", {{3, ""}}, 3, {}, {}, {{3, 1}}},
        {"at a retry", "COM3:", {{3, "V250 ;"}}, -1, {kIdRetry}, {108}, {{3, 1}}},
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        CSimPorts ports;
        for (const auto& [nCom, pszReply] : c.m_machines) {
            if (*pszReply)
                ports.Machine(nCom, pszReply);
            else
                ports.Machine(nCom, "", ENormalFault::Silent);
        }
        CScriptedOperator op;
        op.m_answers.assign(c.m_answers.begin(), c.m_answers.end());
        CWizardState state;
        state.m_strPort = c.m_pszPort;
        auto fnCancelled = [&] {
            if (c.m_nCancelAfterQueriesOn < 0)
                return !op.m_messages.empty();
            return c.m_nCancelAfterQueriesOn == 0 ||
                   ports.Mode(c.m_nCancelAfterQueriesOn).GetQueryCount() > 0;
        };
        const CCheckOutcome outcome = RunDeviceCheck(state, op, kPackageVersion, fnCancelled);
        EXPECT_EQ(outcome.m_eVerdict, ECheckVerdict::Cancelled);
        EXPECT_EQ(state.m_strPort, "") << "no port kept";
        EXPECT_EQ(op.MessageIds(), c.m_messages);
        EXPECT_TRUE(op.m_dialogPresets.empty());
        EXPECT_EQ(op.m_nCursorDepth, 0);
        EXPECT_FALSE(op.m_bCursorWentNegative);
        for (const auto& [nCom, nQueries] : c.m_queries)
            EXPECT_EQ(ports.Mode(nCom).GetQueryCount(), nQueries) << "COM" << nCom;
    }
}

TEST_F(DeviceCheckTest, UnusableReplyAsksAndCancelEndsWithoutAnotherMessage) {
    for (const char* pszReply : {"V250;", "V250 ;", ";", "   ;"}) {
        SCOPED_TRACE(pszReply);
        CSimPorts ports;
        CNormalMode& mode = ports.Machine(1, pszReply);
        CScriptedOperator op;
        op.m_answers = {kIdCancel};
        CWizardState state;
        CRecordingWindow window(state);
        state.m_pWindow = &window;
        state.m_strPort = "COM1:";
        state.m_nScanner = kFlagUntouched;
        EXPECT_FALSE(CheckFirmwareVersion(state, op, kPackageVersion));
        ASSERT_EQ(op.MessageIds(), std::vector<unsigned>{108});
        const CShownMessage& shown = op.m_messages[0];
        EXPECT_EQ(shown.m_strText, "Transmission faild. Try again.");
        EXPECT_EQ(shown.m_eButtons, EButtons::RetryCancel);
        EXPECT_EQ(shown.m_nCursorDepth, 0) << "the question is asked without the wait cursor";
        EXPECT_EQ(state.m_strStatus, std::string(pszReply, std::strlen(pszReply) - 1));
        // The reply shows before the question is asked.
        ASSERT_FALSE(window.m_refreshes.empty());
        EXPECT_EQ(window.m_refreshes.back().m_strStatus, state.m_strStatus);
        EXPECT_EQ(state.m_nScanner, kFlagUntouched);
        EXPECT_EQ(mode.GetQueryCount(), 1);
        EXPECT_EQ(op.m_nCursorDepth, 0);
        EXPECT_FALSE(op.m_bCursorWentNegative);
    }
}

TEST_F(DeviceCheckTest, RetryQueriesTheSamePortAgain) {
    CNormalMode& mode = m_ports.Machine(2, "V250 ;");
    m_state.m_strPort = "COM2:";
    m_operator.m_answers = {kIdRetry, kIdRetry};
    int nQuestions = 0;
    m_operator.m_onQuestion = [&] {
        EXPECT_EQ(m_operator.m_nCursorDepth, 0);
        if (++nQuestions == 2)
            mode.SetConfig(CNormalModeConfig{"V250 NRP-70;"});
    };
    EXPECT_TRUE(Check());
    EXPECT_EQ(m_operator.MessageIds(), (std::vector<unsigned>{108, 108}));
    EXPECT_EQ(mode.GetQueryCount(), 3);
    EXPECT_EQ(m_state.m_strStatus, "V250 NRP-70");
    EXPECT_EQ(m_state.m_nScanner, 1);
    // One refresh for the step text, one after each query cycle.
    ASSERT_EQ(m_window.m_refreshes.size(), 4u);
    EXPECT_EQ(m_window.m_refreshes[1].m_strStatus, "V250 ");
    ExpectCursorBalanced();
}

TEST_F(DeviceCheckTest, RetryOnAPortThatHasGoneShowsWrongPort) {
    m_ports.Machine(3, "V250;");
    m_state.m_strPort = "COM3:";
    m_operator.m_answers = {kIdRetry};
    m_operator.m_onQuestion = [&] { m_ports.Absent(3); };
    EXPECT_FALSE(Check());
    ASSERT_EQ(m_operator.MessageIds(), (std::vector<unsigned>{108, 107}));
    const CShownMessage& shown = m_operator.m_messages[1];
    EXPECT_EQ(shown.m_strText, "Wrong port.");
    EXPECT_EQ(shown.m_eButtons, EButtons::Ok);
    EXPECT_EQ(shown.m_nCursorDepth, 1);
    EXPECT_NE(shown.m_strDetail.find("/nonexistent/ttyUSB2"), std::string::npos)
        << shown.m_strDetail;
    EXPECT_NE(shown.m_strDetail.find("not present"), std::string::npos);
    EXPECT_EQ(m_state.m_strPort, "COM3:") << "a named port stays after Wrong port.";
    ExpectCursorBalanced();
}

TEST_F(DeviceCheckTest, SilentMachineAsksAfterThreeToFourSeconds) {
    CNormalMode& mode = m_ports.Machine(1, "", ENormalFault::Silent);
    m_state.m_strPort = "COM1:";
    m_state.m_strStatus = "old";
    CStepClock clock(10);
    CClockOverride useClock(clock);
    const int64_t nStart = clock.Now();
    EXPECT_FALSE(Check());
    ASSERT_EQ(m_operator.MessageIds(), std::vector<unsigned>{108});
    ASSERT_EQ(mode.GetQueryCount(), 1);
    // The wait starts on a whole second of this clock, so it ends at the fourth one.
    const int64_t nWaitMs = m_operator.m_messages[0].m_nClockMs - nStart;
    EXPECT_GT(nWaitMs, 3000);
    EXPECT_LE(nWaitMs, 4100);
    EXPECT_EQ(m_state.m_strStatus, "");
    ExpectCursorBalanced();
}

TEST_F(DeviceCheckTest, EndlessReplyIsCutAt255Bytes) {
    CNormalModeConfig config{"V250 TVK-50;", ENormalFault::Long};
    m_ports.Machine(1, config);
    m_state.m_strPort = "COM1:";
    CStepClock clock(1);
    CClockOverride useClock(clock);
    const int64_t nStart = clock.Now();
    EXPECT_FALSE(Check());
    // The 255th byte ends the reply: no wait for a gap.
    EXPECT_LT(clock.Now() - nStart, 3000);
    std::vector<uint8_t> sent = CNormalMode::AnswerBytes(config);
    ASSERT_EQ(sent.size(), 300u);
    EXPECT_EQ(m_state.m_strStatus, std::string(sent.begin(), sent.begin() + 255));
    EXPECT_EQ(m_operator.MessageIds(), std::vector<unsigned>{106});
}

// How a gap between the reply's bytes ends it is judged on the scripted adapter's clock
// (AdapterCheckTest.GapCountsFromTheLastByte).

TEST_F(DeviceCheckTest, EmptyPortNameDiscoversFirstAndShowsTheNameFromTheFirstRefresh) {
    CNormalMode& mode = m_ports.Machine(2);
    EXPECT_TRUE(Check());
    EXPECT_EQ(m_state.m_strPort, "COM2:");
    EXPECT_EQ(mode.GetQueryCount(), 2) << "one probe, then the query of the check";
    ASSERT_EQ(m_window.m_refreshes.size(), 2u);
    EXPECT_EQ(m_window.m_refreshes[0].m_strPort, "");
    EXPECT_EQ(m_window.m_refreshes[0].m_strStep, "Checking Firmware Version.");
    EXPECT_EQ(m_window.m_refreshes[1].m_strPort, "COM2:");
    EXPECT_EQ(m_window.m_refreshes[1].m_strStatus, "V250 TVK-50");
    EXPECT_EQ(m_window.m_nRepaints, 0);
    ExpectCursorBalanced();
    // The probe and the query each went at 9600 baud, one stop bit, RTS/CTS on, XON/XOFF off.
    const std::vector<CLineSettings> lines = mode.GetQuerySettings();
    ASSERT_EQ(lines.size(), 2u);
    for (const CLineSettings& line : lines) {
        EXPECT_EQ(line.m_nBaud, 9600u);
        EXPECT_EQ(line.m_nStopBits, 1);
        EXPECT_TRUE(line.m_bCtsFlow);
        EXPECT_FALSE(line.m_bXonXoff);
    }
    EXPECT_TRUE(mode.GetSettingsFaults().empty());
}

TEST_F(DeviceCheckTest, CancelledDiscoveryShowsWrongPortAndRunsAgainNextTime) {
    EXPECT_FALSE(Check());
    ASSERT_EQ(m_operator.MessageIds(), std::vector<unsigned>{107});
    EXPECT_EQ(m_operator.m_messages[0].m_strText, "Wrong port.");
    EXPECT_EQ(m_operator.m_messages[0].m_nCursorDepth, 0);
    EXPECT_EQ(m_state.m_strPort, "");
    ASSERT_EQ(m_operator.m_dialogPresets, std::vector<std::string>{""});
    EXPECT_EQ(m_operator.m_dialogCursorDepths, std::vector<int>{1});

    CNormalMode& mode = m_ports.Machine(4);
    EXPECT_TRUE(Check());
    EXPECT_EQ(m_state.m_strPort, "COM4:");
    EXPECT_EQ(mode.GetQueryCount(), 2);
    EXPECT_EQ(m_operator.m_dialogPresets.size(), 1u);
    ExpectCursorBalanced();
}

// --- Discovery ---------------------------------------------------------------------------

TEST_F(DeviceCheckTest, DiscoveryPassesSilentPortsAndFindsTheMachine) {
    CNormalMode& silent1 = m_ports.Machine(1, "", ENormalFault::Silent);
    CNormalMode& silent2 = m_ports.Machine(2, "", ENormalFault::Silent);
    CNormalMode& machine = m_ports.Machine(3);
    CStepClock clock(10);
    CClockOverride useClock(clock);
    const int64_t nStart = clock.Now();
    EXPECT_TRUE(DiscoverPort(m_state, m_operator));
    const int64_t nSpentMs = clock.Now() - nStart;
    EXPECT_EQ(m_state.m_strPort, "COM3:");
    // More than a second for each silent port.
    EXPECT_GT(nSpentMs, 2000);
    EXPECT_EQ(silent1.GetQueryCount(), 1);
    EXPECT_EQ(silent2.GetQueryCount(), 1);
    EXPECT_EQ(machine.GetQueryCount(), 1);
    EXPECT_TRUE(m_window.m_refreshes.empty()) << "discovery itself never refreshes";
    EXPECT_TRUE(m_operator.m_messages.empty());
    EXPECT_TRUE(m_operator.m_dialogPresets.empty());
    ExpectCursorBalanced();

    // No silent port waits longer than two seconds. Judged with nothing left that answers, so
    // the clock counts the program's own polls and waits, not how soon a simulator replies.
    m_ports.Absent(3);
    const int64_t nSilentStart = clock.Now();
    EXPECT_FALSE(DiscoverPort(m_state, m_operator));
    EXPECT_LT(clock.Now() - nSilentStart, 2 * 2000 + 500);
    EXPECT_EQ(silent1.GetQueryCount(), 2);
    EXPECT_EQ(m_operator.m_dialogPresets.size(), 1u);
}

// A USB adapter gets the next free number: COM1 to COM4 are tried first, one after another as
// before; then the ports above, all at once, and the lowest-numbered that answers with a model of
// the table wins (COM9 before COM10, which a sorted text would swap), as in a search in turn.
TEST_F(DeviceCheckTest, DiscoveryGoesOnToThePortsAboveCom4AndTakesTheLowestThatAnswers) {
    struct CCase {
        const char* m_pszName;
        std::vector<std::pair<int, const char*>> m_machines; // COMn, reply ("" silent)
        const char* m_pszFound;
    };
    const CCase cases[] = {
        {"alone on COM7", {{7, "V250 TVK-50;"}}, "COM7:"},
        {"silent COM1 and COM5 before it", {{1, ""}, {5, ""}, {7, "V260 TVK-50;"}}, "COM7:"},
        {"the first four first", {{5, "V250 TVK-50;"}, {4, "V250 NRP-7;"}}, "COM4:"},
        {"COM9 before COM10", {{10, "V250 TVK-50;"}, {9, "V250 TVK-35;"}}, "COM9:"},
        {"an unknown model below does not win",
         {{5, "V250 XYZ-1;"}, {6, ""}, {8, "V250 TVK-50;"}, {12, "V250 NRP-70;"}},
         "COM8:"},
    };
    CStepClock clock(10);
    CClockOverride useClock(clock);
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        CSimPorts ports;
        std::vector<CNormalMode*> modes;
        for (const auto& [nCom, pszReply] : c.m_machines)
            modes.push_back(*pszReply ? &ports.Machine(nCom, pszReply)
                                      : &ports.Machine(nCom, "", ENormalFault::Silent));
        CWizardState state;
        CScriptedOperator op;
        EXPECT_TRUE(DiscoverPort(state, op));
        EXPECT_EQ(state.m_strPort, c.m_pszFound);
        EXPECT_TRUE(op.m_dialogPresets.empty());
        EXPECT_EQ(op.m_nCursorDepth, 0);
        // Of the first four, every port up to the one found was asked once and none after it;
        // above them, every port once when the search got there.
        const int nFound = std::stoi(std::string(c.m_pszFound).substr(3));
        for (size_t i = 0; i < modes.size(); ++i) {
            const int nCom = c.m_machines[i].first;
            const bool bAsked = nCom <= 4 ? nCom <= nFound : nFound > 4;
            EXPECT_EQ(modes[i]->GetQueryCount(), bAsked ? 1 : 0) << "COM" << nCom;
        }
    }
}

// Eleven silent adapters on COM5 to COM15 and the machine on COM16. With the clock held, no
// probe can give up: all twelve are asked while every other one still waits, and the machine's
// answer is not taken while a port below it may still answer. Then time runs and COM16 wins.
TEST_F(DeviceCheckTest, PortsAboveCom4AreAskedAtOnceAndTheAnswerWaitsForThePortsBelow) {
    CHeldClock clock;
    CClockOverride useClock(clock);
    for (int n = 5; n <= 15; ++n)
        m_ports.Machine(n, "", ENormalFault::Silent);
    CNormalMode& machine = m_ports.Machine(16, "V250 TVK-50;");
    std::atomic<bool> bDone{false};
    bool bFound = false;
    std::thread search([&] {
        bFound = DiscoverPort(m_state, m_operator);
        bDone = true;
    });
    const bool bAllAsked = WaitUntil([&] {
        for (int n = 5; n <= 16; ++n) {
            if (m_ports.Mode(n).GetQueryCount() == 0)
                return false;
        }
        return true;
    });
    // COM16's probe has taken its answer and closed its port once eleven receive threads are
    // left; the search must still wait for COM5 to COM15.
    const bool bMachineProbed = WaitUntil([&] { return ReceiveThreads().size() == 11; });
    const bool bEndedTooSoon = bDone.load();
    clock.Release();
    search.join();
    EXPECT_TRUE(bAllAsked) << "the ports above COM4 were not asked at once";
    EXPECT_TRUE(bMachineProbed);
    EXPECT_FALSE(bEndedTooSoon) << "took COM16 while the ports below it could still answer";
    EXPECT_TRUE(bFound);
    EXPECT_EQ(m_state.m_strPort, "COM16:");
    for (int n = 5; n <= 16; ++n)
        EXPECT_EQ(m_ports.Mode(n).GetQueryCount(), 1) << "COM" << n;
    EXPECT_EQ(machine.GetQueryCount(), 1);
    EXPECT_TRUE(m_operator.m_dialogPresets.empty());
    ExpectCursorBalanced();
}

// A device server named in the ports folder that takes the connection and then says nothing
// costs the search no more than a silent port, not the seconds a distant server is given.
TEST_F(DeviceCheckTest, SilentDeviceServerCostsTheSearchNoMoreThanASilentPort) {
    CTelnetPeer::CScript script;
    script.m_bAgree = false;
    CTelnetPeer server(script);
    const std::string strCom1 = TestPortsDir() + "/com1";
    std::filesystem::remove(strCom1);
    std::ofstream(strCom1) << server.Url() << "\n";
    m_ports.Machine(2);
    CStepClock clock(10);
    CClockOverride useClock(clock);
    const int64_t nStart = clock.Now();
    EXPECT_TRUE(DiscoverPort(m_state, m_operator));
    EXPECT_EQ(m_state.m_strPort, "COM2:");
    // At most two seconds for COM1, and COM2's answer with its half-second pause.
    EXPECT_LT(clock.Now() - nStart, 2000 + 1000);
    std::filesystem::remove(strCom1);
    m_ports.Absent(1);
}

// A ports folder that cannot be looked into stops the search before any port: "Wrong port." with
// the folder and the reason as its detail, no port dialog, no port kept.
TEST_F(DeviceCheckTest, UnreadablePortsFolderIsWrongPortNamingTheFolder) {
    CTempDir home;
    std::filesystem::create_directories(home / "versionup");
    std::ofstream(home / "versionup/ports") << "not a folder\n";
    const std::string strSaved = std::getenv("XDG_CONFIG_HOME");
    setenv("XDG_CONFIG_HOME", home.Path().c_str(), 1);
    const bool bResult = Check();
    setenv("XDG_CONFIG_HOME", strSaved.c_str(), 1);
    EXPECT_FALSE(bResult);
    ASSERT_EQ(m_operator.MessageIds(), std::vector<unsigned>{107});
    EXPECT_EQ(m_operator.m_messages[0].m_strDetail,
              "The ports folder " + (home / "versionup/ports").string() +
                  " cannot be read: Not a directory. Give your user read and search permission "
                  "on it (chmod u+rx " +
                  (home / "versionup/ports").string() + ").");
    EXPECT_TRUE(m_operator.m_dialogPresets.empty());
    EXPECT_EQ(m_state.m_strPort, "");
    ExpectCursorBalanced();
}

// The whole check from an empty port name, as the window's check runs it, reaches the machine.
TEST_F(DeviceCheckTest, CheckFindsAMachineOnCom7WithNothingOnCom1ToCom4) {
    CStepClock clock(10);
    CClockOverride useClock(clock);
    m_ports.Machine(7, "V260 TVK-50;");
    EXPECT_FALSE(Check());
    EXPECT_EQ(m_state.m_strPort, "COM7:");
    ASSERT_EQ(m_operator.m_messages.size(), 1u);
    EXPECT_EQ(m_operator.m_messages[0].m_nId, 105u) << "Upgrade unnecessary.";
    EXPECT_TRUE(m_operator.m_dialogPresets.empty());
}

TEST_F(DeviceCheckTest, NoMachineAnywhereAsksTheOperator) {
    m_ports.Machine(2, "V100 XYZ-9;");
    m_operator.m_bDialogOk = true;
    m_operator.m_strDialogChoice = "COM1:";
    EXPECT_TRUE(DiscoverPort(m_state, m_operator));
    EXPECT_EQ(m_state.m_strPort, "COM1:");
    EXPECT_EQ(m_operator.m_dialogPresets, std::vector<std::string>{""});
    EXPECT_EQ(m_operator.m_dialogCursorDepths, std::vector<int>{1}) << "cursor up over the dialog";
    EXPECT_TRUE(m_operator.m_messages.empty());
    ExpectCursorBalanced();

    m_operator.m_bDialogOk = false;
    EXPECT_FALSE(DiscoverPort(m_state, m_operator));
    EXPECT_EQ(m_state.m_strPort, "");
    EXPECT_TRUE(m_operator.m_messages.empty());
    ExpectCursorBalanced();
}

// --- Why a port would not open ----------------------------------------------------------------

struct COpenFailure {
    unsigned m_nId = 0;
    std::string m_strDetail;
};

// The check on COM1 with no machine answering; only the open can fail.
COpenFailure CheckCom1() {
    CScriptedOperator op;
    CWizardState state;
    state.m_strPort = "COM1:";
    CheckFirmwareVersion(state, op, kPackageVersion);
    COpenFailure failure;
    if (!op.m_messages.empty()) {
        failure.m_nId = op.m_messages[0].m_nId;
        failure.m_strDetail = op.m_messages[0].m_strDetail;
    }
    return failure;
}

TEST_F(DeviceCheckTest, WrongPortNamesDeviceAndCause) {
    {
        SCOPED_TRACE("not present");
        COpenFailure failure = CheckCom1();
        EXPECT_EQ(failure.m_nId, 107u);
        EXPECT_NE(failure.m_strDetail.find("/nonexistent/ttyUSB0"), std::string::npos);
        EXPECT_NE(failure.m_strDetail.find("not present"), std::string::npos)
            << failure.m_strDetail;
    }
    {
        SCOPED_TRACE("in use");
        m_ports.Machine(1);
        std::string strDevice = m_ports.Sim(1).GetLink().GetDevicePath();
        int fd = ::open(strDevice.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
        COpenFailure failure = CheckCom1();
        ::close(fd);
        EXPECT_EQ(failure.m_nId, 107u);
        EXPECT_NE(failure.m_strDetail.find(strDevice), std::string::npos) << failure.m_strDetail;
        EXPECT_NE(failure.m_strDetail.find("in use by another program"), std::string::npos)
            << failure.m_strDetail;
        EXPECT_EQ(m_ports.Mode(1).GetQueryCount(), 0);
    }
}

TEST_F(DeviceCheckTest, WrongPortExplainsPermissionAndDialoutGroup) {
    // A pseudo-terminal of our own with its device node closed to everyone. Root opens anything,
    // so the check runs as a user the mode keeps out.
    int nMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(nMaster, 0);
    ASSERT_EQ(::grantpt(nMaster), 0);
    ASSERT_EQ(::unlockpt(nMaster), 0);
    const std::string strDevice = ::ptsname(nMaster);
    m_ports.LinkTo(1, strDevice);
    ASSERT_EQ(::chmod(strDevice.c_str(), 0), 0);

    const int nResult = RunAsNobody([&] {
        const COpenFailure failure = CheckCom1();
        const bool bRight = failure.m_nId == 107u &&
                            failure.m_strDetail.find(strDevice) != std::string::npos &&
                            failure.m_strDetail.find("Permission denied") != std::string::npos &&
                            failure.m_strDetail.find("\"dialout\" group") != std::string::npos;
        if (!bRight)
            std::fprintf(stderr, "message %u: %s\n", failure.m_nId, failure.m_strDetail.c_str());
        return bRight ? 0 : 1;
    });
    ::close(nMaster);
    EXPECT_EQ(nResult, 0) << "1: wrong message (above); 100: could not become nobody";
}

} // namespace

namespace {

TEST(MachineSimOptions, PortSpecsNameModesAndFaults) {
    const struct {
        const char* m_pszSpec;
        bool m_bValid;
        bool m_bAbsent;
        ENormalFault m_eFault;
        const char* m_pszReply;
    } cases[] = {
        {"machine", true, false, ENormalFault::None, "V250 TVK-50;"},
        {"silent", true, false, ENormalFault::Silent, "V250 TVK-50;"},
        {"absent", true, true, ENormalFault::None, "V250 TVK-50;"},
        {"split", true, false, ENormalFault::Split, "V250 TVK-50;"},
        {"noterm", true, false, ENormalFault::NoTerminator, "V250 TVK-50;"},
        {"long", true, false, ENormalFault::Long, "V250 TVK-50;"},
        {"garbage", true, false, ENormalFault::Garbage, "V250 TVK-50;"},
        {"trickle", true, false, ENormalFault::Trickle, "V250 TVK-50;"},
        {"reply:V250 XYZ-1;", true, false, ENormalFault::None, "V250 XYZ-1;"},
        {"reply:", true, false, ENormalFault::None, ""},
        {"Silent", false, false, ENormalFault::None, ""},
        {"", false, false, ENormalFault::None, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_pszSpec);
        CPortSpec spec;
        ASSERT_EQ(ParsePortSpec(c.m_pszSpec, spec), c.m_bValid);
        if (!c.m_bValid)
            continue;
        EXPECT_EQ(spec.m_bAbsent, c.m_bAbsent);
        EXPECT_EQ(spec.m_config.m_eFault, c.m_eFault);
        EXPECT_EQ(spec.m_config.m_strReply, c.m_pszReply);
    }
}

TEST(MachineSimOptions, FaultyAnswersKeepTheirPromises) {
    CNormalModeConfig config;
    auto answer = [&](ENormalFault eFault) {
        config.m_eFault = eFault;
        std::vector<uint8_t> bytes = CNormalMode::AnswerBytes(config);
        return std::string(bytes.begin(), bytes.end());
    };
    EXPECT_EQ(answer(ENormalFault::None), "V250 TVK-50;");
    EXPECT_EQ(answer(ENormalFault::Split), "V250 TVK-50;");
    EXPECT_EQ(answer(ENormalFault::NoTerminator), "V250 TVK-50");
    EXPECT_EQ(answer(ENormalFault::Silent), "");
    std::string strLong = answer(ENormalFault::Long);
    EXPECT_EQ(strLong.size(), 300u);
    EXPECT_TRUE(strLong.starts_with("V250 TVK-50"));
    EXPECT_EQ(strLong.find(';'), std::string::npos);
    std::string strGarbage = answer(ENormalFault::Garbage);
    EXPECT_FALSE(strGarbage.empty());
    EXPECT_EQ(strGarbage.find_first_of(std::string(" ;\0", 3)), std::string::npos);
}

} // namespace
