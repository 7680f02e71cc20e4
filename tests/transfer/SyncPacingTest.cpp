// The transfer's synchronisation loop on the real clock against a machine that paces the line at
// 9600: one 0x00 a byte time, and none left over once the answer is in.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

#include "sim/MachineSim.h"
#include "tests/support/QuietOperator.h"
#include "tests/support/TempDir.h"
#include "transfer/Transfer.h"

using Clock = std::chrono::steady_clock;

namespace {

// Boot mode as far as the synchronisation goes: 0x00 back after a number of 0x00 bytes, and no
// answer to what follows. It counts what still comes once the answer is out; bytes that were
// already on their way when it answered (same batch) are not the program's doing.
class CSyncAnswer : public IMachineMode {
public:
    explicit CSyncAnswer(int nAfter) : m_nAfter(nAfter) {}
    void OnReceive(CPtyLink& link, const std::vector<uint8_t>& bytes) override {
        std::lock_guard lock(m_mutex);
        if (m_bAnswered) {
            m_nAfterAnswer += static_cast<int>(bytes.size());
            return;
        }
        for (uint8_t nByte : bytes) {
            if (nByte == 0 && ++m_nZeros == 1)
                m_firstZero = Clock::now();
            if (nByte == 0 && m_nZeros == m_nAfter) {
                link.Send(uint8_t{0});
                m_answered = Clock::now();
                m_bAnswered = true;
            }
        }
    }
    int GetZeros() const {
        std::lock_guard lock(m_mutex);
        return m_nZeros;
    }
    int GetAfterAnswer() const {
        std::lock_guard lock(m_mutex);
        return m_nAfterAnswer;
    }
    int64_t GetSyncMs() const {
        std::lock_guard lock(m_mutex);
        return std::chrono::duration_cast<std::chrono::milliseconds>(m_answered - m_firstZero)
            .count();
    }

private:
    mutable std::mutex m_mutex;
    const int m_nAfter;
    int m_nZeros = 0;
    bool m_bAnswered = false;
    int m_nAfterAnswer = 0;
    Clock::time_point m_firstZero, m_answered;
};

} // namespace

TEST(SyncPacingTest, SyncLoopSendsOneByteAByteTimeAndStopsAtTheAnswer) {
    CPortsHome home;
    CMachineSim sim;
    constexpr int kAnswerAfter = 200;
    auto pAnswer = std::make_unique<CSyncAnswer>(kAnswerAfter);
    const CSyncAnswer* pSync = pAnswer.get();
    sim.SetBootMode(std::move(pAnswer));
    sim.GetLink().SetPaced(true);
    ASSERT_TRUE(sim.Start(home.GetPortsDir(), 1));

    CQuietOperator op;
    CTransferOutcome outcome;
    CTransferOptions options;
    // Far above the synchronisation's 0.2 s; 0x55 is never answered, so the run ends there.
    options.m_nReplyLimitMs = 2000;
    options.m_pOutcome = &outcome;
    EXPECT_EQ(TransferFirmwareWithOptions("COM1:", nullptr, op, options), 0);
    sim.Stop();

    EXPECT_EQ(outcome.m_eFault, ETransferFault::NoReply);
    EXPECT_EQ(outcome.m_eStep, ETransferStep::BitRate);
    EXPECT_EQ(pSync->GetZeros(), kAnswerAfter);
    // At most the bytes already on their way, then the 0x55.
    EXPECT_LE(pSync->GetAfterAnswer(), 3);
    EXPECT_GE(pSync->GetAfterAnswer(), 1);
    // 1.04 ms a byte; generous above for a busy machine, but well short of a poll that slept.
    const int64_t nSyncMs = pSync->GetSyncMs();
    EXPECT_GE(nSyncMs, kAnswerAfter - 1);
    EXPECT_LT(nSyncMs, kAnswerAfter * 10);
    RecordProperty("sync_ms", std::to_string(nSyncMs));
}
