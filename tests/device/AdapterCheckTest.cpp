// The version query and discovery on USB adapters whose machine is switched off or whose cable
// is loose: DSR or CTS held low on every port. Scripted adapters on a clock that moves only when
// the check waits, so the seconds below are the check's own, not the computer's.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "device/DeviceCheck.h"
#include "device/OpenFailure.h"
#include "frontend/WizardState.h"
#include "tests/support/FakeSerialDevice.h"
#include "tests/support/PauseClock.h"
#include "tests/support/RecordingWindow.h"
#include "tests/support/ScriptedOperator.h"
#include "tests/support/TempDir.h"

namespace {

class AdapterCheckTest : public ::testing::Test {
protected:
    AdapterCheckTest() : m_window(m_state) { m_state.m_pWindow = &m_window; }

    CPortsHome m_home;
    CFakeAdapters m_adapters;
    CWizardState m_state;
    CRecordingWindow m_window;
    CScriptedOperator m_operator;
};

enum class EHeld { Dsr, Cts };

CFakeAdapterScript HeldLow(EHeld eLine) {
    CFakeAdapterScript script;
    (eLine == EHeld::Dsr ? script.m_dsrLow : script.m_ctsLow) = {{0, kNever}};
    script.m_fnMachine = AnswerQuery("V250 TVK-50;");
    return script;
}

} // namespace

TEST_F(AdapterCheckTest, LinesLowOnEveryPortEndDiscoveryAndTheQueryWithinSeconds) {
    for (EHeld eLine : {EHeld::Dsr, EHeld::Cts}) {
        SCOPED_TRACE(eLine == EHeld::Dsr ? "DSR low" : "CTS low");
        CStepClock clock(0, 0);
        CClockOverride useClock(clock);
        std::vector<CFakeAdapter*> adapters;
        for (int n = 1; n <= 4; ++n)
            adapters.push_back(&m_adapters.AddCom(m_home, n, HeldLow(eLine)));
        m_operator = CScriptedOperator();

        int64_t nStart = clock.Now();
        m_state.m_strPort.clear();
        EXPECT_FALSE(DiscoverPort(m_state, m_operator));
        const int64_t nDiscoveryMs = clock.Now() - nStart;
        // Each port: the write's 1,004 ms, then one to two seconds for a first byte.
        EXPECT_GT(nDiscoveryMs, 4 * 2000);
        EXPECT_LE(nDiscoveryMs, 12500);
        EXPECT_EQ(m_operator.m_dialogPresets.size(), 1u) << "the operator is asked in the end";
        for (CFakeAdapter* pAdapter : adapters) {
            EXPECT_EQ(pAdapter->GetOpens(), 1);
            EXPECT_FALSE(pAdapter->IsOpen());
            EXPECT_TRUE(pAdapter->GetSent().empty());
        }

        nStart = clock.Now();
        m_state.m_strPort = "COM2:";
        EXPECT_FALSE(CheckFirmwareVersion(m_state, m_operator, "V260"));
        ASSERT_EQ(m_operator.MessageIds(), std::vector<unsigned>{108});
        const int64_t nQuestionMs = m_operator.m_messages[0].m_nClockMs - nStart;
        // The write's 1,004 ms, then more than three seconds of silence.
        EXPECT_GT(nQuestionMs, 4000);
        EXPECT_LE(nQuestionMs, 5500);
        EXPECT_EQ(m_operator.m_nCursorDepth, 0);
        RecordProperty(eLine == EHeld::Dsr ? "dsr_discovery_ms" : "cts_discovery_ms",
                       std::to_string(nDiscoveryMs));
        RecordProperty(eLine == EHeld::Dsr ? "dsr_question_ms" : "cts_question_ms",
                       std::to_string(nQuestionMs));
    }
}

TEST_F(AdapterCheckTest, MachineSwitchedOnDuringTheWriteIsAnswered) {
    // Real milliseconds for the receive thread to store the answer while the check polls.
    CStepClock clock(0, 1);
    CClockOverride useClock(clock);
    CFakeAdapterScript script = HeldLow(EHeld::Dsr);
    const int64_t nNow = clock.GetMilliseconds();
    script.m_dsrLow = {{0, nNow + 700}};
    CFakeAdapter& adapter = m_adapters.AddCom(m_home, 1, script);
    m_state.m_strPort = "COM1:";
    EXPECT_TRUE(CheckFirmwareVersion(m_state, m_operator, "V260"));
    EXPECT_EQ(m_state.m_strStatus, "V250 TVK-50");
    EXPECT_EQ(adapter.GetSent(), (std::vector<uint8_t>{'F', ';'}));
    EXPECT_TRUE(m_operator.m_messages.empty());
}

TEST_F(AdapterCheckTest, DriverThatWillNotHoldTheLineIsNamedWithTheSettingsItRefused) {
    CFakeAdapterScript script = HeldLow(EHeld::Dsr);
    script.m_dsrLow.clear();
    script.m_fnAlter = [](CLineSettings& s) {
        s.m_nBaud = 4800;
        s.m_bCtsFlow = false;
    };
    CFakeAdapter& adapter = m_adapters.AddCom(m_home, 2, script);
    m_state.m_strPort = "COM2:";
    EXPECT_FALSE(CheckFirmwareVersion(m_state, m_operator, "V260"));
    ASSERT_EQ(m_operator.MessageIds(), std::vector<unsigned>{107});
    const std::string& strDetail = m_operator.m_messages[0].m_strDetail;
    EXPECT_NE(strDetail.find("9600 bps -> 4800 bps, RTS/CTS on -> off"), std::string::npos)
        << strDetail;
    EXPECT_EQ(strDetail.find("Invalid argument"), std::string::npos) << strDetail;
    EXPECT_FALSE(adapter.IsOpen());

    CPortError error;
    error.m_nErrno = EINVAL;
    error.m_strDevice = "/dev/ttyUSB0";
    error.m_strRefused = "8N1 -> 7N1";
    const std::string strJa = DescribeOpenFailure("COM2:", error, ELanguage::Japanese);
    EXPECT_NE(strJa.find("/dev/ttyUSB0"), std::string::npos);
    EXPECT_NE(strJa.find("回線設定を受け付けませんでした (8N1 -> 7N1)"), std::string::npos)
        << strJa;
}

TEST_F(AdapterCheckTest, GapCountsFromTheLastByte) {
    struct CCase {
        const char* m_pszName;
        int m_nGapMs; // between two bytes of the reply
        bool m_bWhole;
    };
    const CCase cases[] = {
        // Twelve bytes 2.5 s apart: the reply takes half a minute, yet no gap reaches three
        // seconds, so all of it is taken.
        {"2.5 s between bytes", 2500, true},
        // A gap of more than three seconds ends the reply after its first byte.
        {"4.5 s between bytes", 4500, false},
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        CStepClock clock(0, 1);
        CClockOverride useClock(clock);
        CFakeAdapterScript script;
        script.m_fnMachine = AnswerQuery("V250 TVK-50;");
        script.m_nAnswerGapMs = c.m_nGapMs;
        m_adapters.AddCom(m_home, 1, script);
        m_operator = CScriptedOperator();
        m_state.m_strPort = "COM1:";
        const int64_t nStart = clock.Now();
        EXPECT_EQ(CheckFirmwareVersion(m_state, m_operator, "V260"), c.m_bWhole);
        if (c.m_bWhole) {
            EXPECT_EQ(m_state.m_strStatus, "V250 TVK-50");
            EXPECT_TRUE(m_operator.m_messages.empty());
            EXPECT_GT(clock.Now() - nStart, 11 * 2500);
        } else {
            EXPECT_EQ(m_state.m_strStatus, "V");
            EXPECT_EQ(m_operator.MessageIds(), std::vector<unsigned>{108});
        }
    }
}
