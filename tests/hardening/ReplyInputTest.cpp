// What a machine, or something else on the cable, may answer to "F;": every byte value, replies
// far longer than anything expected, bytes after the ';', noise. Through the real query and
// discovery over pseudo-terminals: every byte must arrive unchanged, the check must end, decide
// by the rules and show what came.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "device/DeviceCheck.h"
#include "frontend/WizardState.h"
#include "tests/support/PauseClock.h"
#include "tests/support/ScriptedOperator.h"
#include "tests/support/SimPorts.h"

using namespace std::chrono_literals;

namespace {

constexpr const char* kPackageVersion = "V260";

// Reads off whatever a flooding machine still pushes at the program's side, as a program that
// keeps its port open would, until the line has been quiet for a while. The simulator cannot be
// stopped while it is still sending (its send gives up only after 10 s without progress).
void DrainProgramSide(CMachineSim& sim) {
    const int fd = open(sim.GetLink().GetDevicePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return;
    char buf[4096];
    auto last = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - last < 300ms) {
        if (read(fd, buf, sizeof buf) > 0) {
            last = std::chrono::steady_clock::now();
            continue;
        }
        struct pollfd pfd = {fd, POLLIN, 0};
        poll(&pfd, 1, 50);
    }
    close(fd);
}

class ReplyInput : public ::testing::Test {
protected:
    ReplyInput() { TestPortsDir(); }

    struct COutcome {
        bool m_bResult = false;
        std::vector<unsigned> m_messages;
        std::string m_strStatus;
        int64_t m_nClockMs = 0; // how long the check took by its own clock
    };
    COutcome CheckOn(const std::string& strPort) {
        CScriptedOperator op;
        CWizardState state;
        state.m_strPort = strPort;
        // A reading a millisecond: a gap of three seconds would take thousands of empty polls,
        // which a machine still sending never leaves.
        CStepClock clock(1);
        CClockOverride useClock(clock);
        const int64_t nStart = clock.Now();
        COutcome outcome;
        outcome.m_bResult = CheckFirmwareVersion(state, op, kPackageVersion);
        outcome.m_nClockMs = clock.Now() - nStart;
        outcome.m_messages = op.MessageIds();
        outcome.m_strStatus = state.m_strStatus;
        return outcome;
    }

    CSimPorts m_ports;
};

TEST_F(ReplyInput, EveryByteValueAfterTheModelArrivesUnchanged) {
    // XON/XOFF, CR, LF, DEL and bytes above 0x7F must pass the line untouched: the model text is
    // compared byte for byte, so a byte eaten or changed on the way would turn "Wrong Model" into
    // an accepted machine or the other way round.
    CNormalMode& mode = m_ports.Machine(1);
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE("byte " + std::to_string(b));
        const std::string strModel = std::string("TVK-50") + static_cast<char>(b);
        mode.SetConfig(CNormalModeConfig{"V250 " + strModel + ";"});
        const COutcome outcome = CheckOn("COM1:");
        if (b == 0 || b == ';') {
            // A zero byte ends the text, a ';' the reply: the model is TVK-50.
            EXPECT_TRUE(outcome.m_bResult);
            EXPECT_TRUE(outcome.m_messages.empty());
            EXPECT_EQ(outcome.m_strStatus, "V250 TVK-50");
        } else {
            EXPECT_FALSE(outcome.m_bResult);
            EXPECT_EQ(outcome.m_messages, std::vector<unsigned>{106});
            EXPECT_EQ(outcome.m_strStatus, "V250 " + strModel);
        }
    }
}

TEST_F(ReplyInput, EveryByteValueInOneReplyIsCutAt255) {
    std::string strNoise;
    for (int b = 1; b < 256; ++b)
        if (b != ';')
            strNoise += static_cast<char>(b);
    const std::string strReply = "V250 " + strNoise; // 259 bytes before the ';'
    m_ports.Machine(1, strReply + ";V999 NRP-7;");
    const COutcome outcome = CheckOn("COM1:");
    EXPECT_FALSE(outcome.m_bResult);
    EXPECT_EQ(outcome.m_messages, std::vector<unsigned>{106});
    EXPECT_EQ(outcome.m_strStatus, strReply.substr(0, 255));
    EXPECT_LT(outcome.m_nClockMs, 3000) << "255 bytes end the reply; no wait for a gap";
}

TEST_F(ReplyInput, FloodFarBeyondTheReceiveBufferEndsTheCheckAndLeavesThePortUsable) {
    // 100,000 bytes without a ';': six times the receive buffer, with the line's flow control
    // holding the rest back. The check takes its 255 bytes and ends; the port opens again at once
    // for a machine that answers properly.
    m_ports.Machine(1, "V250 " + std::string(100000, 'x'));
    const COutcome flooded = CheckOn("COM1:");
    EXPECT_FALSE(flooded.m_bResult);
    EXPECT_EQ(flooded.m_messages, std::vector<unsigned>{106});
    EXPECT_EQ(flooded.m_strStatus, "V250 " + std::string(250, 'x'));
    EXPECT_LT(flooded.m_nClockMs, 3000) << "255 bytes end the reply; no wait for a gap";

    // A machine of its own on COM2 answers right while COM1 may still be pushing its flood.
    m_ports.Machine(2, "V250 NRP-70;");
    const COutcome next = CheckOn("COM2:");
    EXPECT_TRUE(next.m_bResult);
    EXPECT_EQ(next.m_strStatus, "V250 NRP-70");
    DrainProgramSide(m_ports.Sim(1));
}

TEST_F(ReplyInput, DiscoveryPassesNoiseOfEveryByteValueAndAFlood) {
    std::string strNoise;
    for (int b = 0; b < 256; ++b)
        strNoise += static_cast<char>(b);
    struct {
        const char* m_pszName;
        std::string m_strReply;
    } const cases[] = {
        {"every byte value", strNoise},
        {"every byte value, reversed", std::string(strNoise.rbegin(), strNoise.rend())},
        {"a model name after 32 bytes", "V250 " + std::string(27, 'x') + "TVK-50;"},
        {"a flood", std::string(50000, 'z')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        CSimPorts ports;
        ports.Machine(1, c.m_strReply);
        ports.Machine(3, "V250 TVK-35;");
        CScriptedOperator op;
        CWizardState state;
        CStepClock clock(1);
        CClockOverride useClock(clock);
        const int64_t nStart = clock.Now();
        EXPECT_TRUE(DiscoverPort(state, op));
        EXPECT_EQ(state.m_strPort, "COM3:");
        EXPECT_TRUE(op.m_dialogPresets.empty());
        // COM1 answered (half a second), COM2 is absent, COM3 answers (half a second); no
        // probe waited out its second.
        EXPECT_LT(clock.Now() - nStart, 2000);
        DrainProgramSide(ports.Sim(1));
    }
}

} // namespace
