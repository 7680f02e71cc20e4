#pragma once
// A progress dialog that checks every range and position against the one before, and an
// operator who shows it and presses Cancel once a run has gone on too long (by the clock, or by
// how often it asked): for runs against a misbehaving machine, where a hang must end as a
// failure and not as a stuck test.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

#include "tests/support/QuietOperator.h"

class CCheckingOperator;

class CCheckedProgress : public IProgressSink {
public:
    explicit CCheckedProgress(CCheckingOperator& op) : m_op(op) {}
    int Create() override { return 1; }
    void SetMessage(const std::string&) override {}
    void SetRange(int32_t nLower, int32_t nUpper) override;
    int SetPos(int32_t nPos) override;
    int CheckCancel() override;

private:
    CCheckingOperator& m_op;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    int32_t m_nLower = 0, m_nUpper = -1, m_nLast = 0;
    int64_t m_nChecks = 0;
};

class CCheckingOperator : public CQuietOperator {
public:
    std::unique_ptr<IProgressSink> CreateProgress() override {
        return std::make_unique<CCheckedProgress>(*this);
    }
    bool Cancelled() const { return m_nCancelledAtUs != 0; }

    double m_dCancelAfter = 1e9;              // seconds from the dialog's start to Cancel
    int64_t m_nCancelAfterChecks = INT64_MAX; // or Cancel at this many CheckCancel calls
    std::atomic<int> m_nBadProgress{0};       // ranges and positions out of order
    std::atomic<int64_t> m_nCancelledAtUs{0}; // steady clock, when Cancel was first reported
};
