// The machine's own answer after its restart, on a clock that moves with the program's own waits:
// when the questions go out, how long they go on, and what each answer means.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/RestartCheck.h"
#include "serial/WireTrace.h"
#include "sim/MachineSim.h"
#include "sim/NormalMode.h"
#include "tests/support/PauseClock.h"
#include "tests/support/QuietOperator.h"
#include "tests/support/SimPorts.h"

namespace {

constexpr const char* kPackageVersion = "V260";

// A machine that is still off for its first questions: they are lost, then it answers as its
// mode says.
class CBackAfter : public IMachineMode {
public:
    CBackAfter(int nLost, const std::string& strReply) : m_nLost(nLost), m_mode(strReply) {}
    void OnReceive(CPtyLink& link, const std::vector<uint8_t>& bytes) override {
        if (m_nLost > 0) {
            for (uint8_t nByte : bytes)
                m_nLost -= nByte == ';' ? 1 : 0;
            return;
        }
        m_mode.OnReceive(link, bytes);
    }

private:
    int m_nLost;
    CNormalMode m_mode;
};

// When each question went out, on the clock in force.
class CQuestionTimes : public IWireTrace {
public:
    void TraceBytes(int64_t nUs, bool bSent, const uint8_t* pBytes, size_t nCount) override {
        std::lock_guard lock(m_mutex);
        if (bSent && nCount > 0 && pBytes[0] == 'F')
            m_times.push_back(nUs / 1000);
    }
    void TraceEvent(int64_t, std::string) override {}
    std::vector<int64_t> Get() const {
        std::lock_guard lock(m_mutex);
        return m_times;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<int64_t> m_times;
};

class CTracingOperator : public CQuietOperator {
public:
    IWireTrace* GetWireTrace() override { return &m_times; }
    CQuestionTimes m_times;
};

class RestartCheckTest : public ::testing::Test {
protected:
    RestartCheckTest() : m_useClock(m_clock) {}
    ~RestartCheckTest() override {
        m_sim.Stop();
        m_ports.Absent(2);
    }

    void StartMachine(int nLost, const std::string& strReply) {
        m_ports.Absent(2);
        m_sim.SetNormalMode(std::make_unique<CBackAfter>(nLost, strReply));
        ASSERT_TRUE(m_sim.Start(TestPortsDir(), 2));
    }

    CRestartOutcome Confirm(const CRestartOptions& options = {}) {
        m_nEndMs = m_clock.Now();
        return ConfirmRestart("COM2:", m_operator, kPackageVersion, m_nEndMs, options);
    }

    // Each poll moves the clock, each pause and unanswered wait moves it whole, and no wait takes
    // more than a few real milliseconds: ten seconds of pause pass in a fraction of one.
    CStepClock m_clock{50, 5};
    CClockOverride m_useClock;
    CSimPorts m_ports;
    CMachineSim m_sim;
    CTracingOperator m_operator;
    int64_t m_nEndMs = 0;
};

TEST_F(RestartCheckTest, FirstQuestionTenSecondsAfterTheTransferThenTwoAfterEachSilence) {
    StartMachine(3, "V260 TVK-50;");
    const CRestartOutcome outcome = Confirm();
    EXPECT_EQ(outcome.m_eVerdict, ERestartVerdict::Confirmed);
    const std::vector<int64_t> times = m_operator.m_times.Get();
    ASSERT_EQ(times.size(), 4u);
    EXPECT_EQ(outcome.m_nQuestions, 4);
    EXPECT_GE(times[0] - m_nEndMs, 10000);
    // A silent question waits out the check's own gap of more than three seconds, then the pause.
    for (size_t i = 1; i < times.size(); ++i)
        EXPECT_GE(times[i] - times[i - 1], 3000 + 2000) << "question " << i + 1;
    EXPECT_GE(outcome.m_nAfterMs, times[3] - m_nEndMs);
    EXPECT_EQ(outcome.m_strReply, "V260 TVK-50");
}

struct CAnswerCase {
    const char* m_pszName;
    const char* m_pszReply;
    ERestartVerdict m_eVerdict;
};

class RestartAnswerTest : public RestartCheckTest,
                          public ::testing::WithParamInterface<CAnswerCase> {};

TEST_P(RestartAnswerTest, TheFirstUsableAnswerDecides) {
    const CAnswerCase& c = GetParam();
    StartMachine(0, c.m_pszReply);
    const CRestartOutcome outcome = Confirm();
    EXPECT_EQ(outcome.m_eVerdict, c.m_eVerdict);
    EXPECT_EQ(outcome.m_nQuestions, 1);
    EXPECT_EQ(outcome.m_strReply + ";", c.m_pszReply);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, RestartAnswerTest,
    ::testing::Values(CAnswerCase{"PackageVersion", "V260 NRP-70;", ERestartVerdict::Confirmed},
                      CAnswerCase{"OldVersion", "V250 TVK-50;", ERestartVerdict::OtherVersion},
                      // Greater is not enough: only the version that was sent proves it runs.
                      CAnswerCase{"NewerVersion", "V2600 TVK-50;", ERestartVerdict::OtherVersion},
                      CAnswerCase{"SmallLetter", "v260 TVK-50;", ERestartVerdict::OtherVersion},
                      CAnswerCase{"ModelOutsideTheTable", "V260 XYZ-1;",
                                  ERestartVerdict::WrongModel}),
    [](const auto& info) { return std::string(info.param.m_pszName); });

TEST_F(RestartCheckTest, NoQuestionStartsAfterTheLimit) {
    StartMachine(1000, "V260 TVK-50;");
    CRestartOptions options;
    options.m_nLimitMs = 30000;
    const CRestartOutcome outcome = Confirm(options);
    EXPECT_EQ(outcome.m_eVerdict, ERestartVerdict::NoAnswer);
    EXPECT_GE(outcome.m_nAfterMs, 30000);
    const std::vector<int64_t> times = m_operator.m_times.Get();
    ASSERT_GE(times.size(), 3u);
    EXPECT_LT(times.back() - m_nEndMs, 30000);
    EXPECT_EQ(outcome.m_nQuestions, static_cast<int>(times.size()));
    EXPECT_FALSE(outcome.m_bPortFailed);
}

TEST_F(RestartCheckTest, ALimitShorterThanTheFirstPauseStillAsksOnce) {
    StartMachine(1000, "V260 TVK-50;");
    CRestartOptions options;
    options.m_nLimitMs = 1000;
    const CRestartOutcome outcome = Confirm(options);
    EXPECT_EQ(outcome.m_eVerdict, ERestartVerdict::NoAnswer);
    const std::vector<int64_t> times = m_operator.m_times.Get();
    ASSERT_EQ(times.size(), 1u);
    EXPECT_GE(times[0] - m_nEndMs, 10000);
}

TEST_F(RestartCheckTest, APortThatWillNotOpenIsTriedAgainAndNamedAtTheEnd) {
    m_ports.Absent(2);
    CRestartOptions options;
    options.m_nLimitMs = 20000;
    const CRestartOutcome outcome = Confirm(options);
    EXPECT_EQ(outcome.m_eVerdict, ERestartVerdict::NoAnswer);
    EXPECT_TRUE(outcome.m_bPortFailed);
    EXPECT_NE(outcome.m_portError.m_nErrno, 0);
    // From second 10 to 20, one try every two seconds.
    EXPECT_GE(outcome.m_nQuestions, 5);
    EXPECT_LE(outcome.m_nQuestions, 6);
}

TEST_F(RestartCheckTest, CancelEndsThePauseAndAsksNoMore) {
    StartMachine(1000, "V260 TVK-50;");
    CRestartOptions options;
    options.m_fnCancelled = [] { return true; };
    CRestartOutcome outcome = Confirm(options);
    EXPECT_EQ(outcome.m_eVerdict, ERestartVerdict::Cancelled);
    EXPECT_EQ(outcome.m_nQuestions, 0);
    EXPECT_LT(outcome.m_nAfterMs, 10000);

    // Cancelled while the first question was unanswered: that one runs to its end, no second.
    options.m_fnCancelled = [this] { return !m_operator.m_times.Get().empty(); };
    outcome = Confirm(options);
    EXPECT_EQ(outcome.m_eVerdict, ERestartVerdict::Cancelled);
    EXPECT_EQ(m_operator.m_times.Get().size(), 1u);
}

} // namespace
