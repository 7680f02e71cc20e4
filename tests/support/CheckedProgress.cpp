#include "tests/support/CheckedProgress.h"

void CCheckedProgress::SetRange(int32_t nLower, int32_t nUpper) {
    if (nUpper < nLower - 1)
        ++m_op.m_nBadProgress;
    m_nLower = nLower;
    m_nUpper = nUpper;
}

int CCheckedProgress::SetPos(int32_t nPos) {
    // One past the top is where a complete run ends.
    if (nPos < m_nLower || int64_t(nPos) > int64_t(m_nUpper) + 1 || nPos < m_nLast)
        ++m_op.m_nBadProgress;
    m_nLast = nPos;
    return 0;
}

int CCheckedProgress::CheckCancel() {
    using namespace std::chrono;
    const auto now = steady_clock::now();
    if (++m_nChecks < m_op.m_nCancelAfterChecks &&
        duration<double>(now - m_start).count() < m_op.m_dCancelAfter)
        return 0;
    int64_t nNone = 0;
    m_op.m_nCancelledAtUs.compare_exchange_strong(
        nNone, duration_cast<microseconds>(now.time_since_epoch()).count());
    return 1;
}
