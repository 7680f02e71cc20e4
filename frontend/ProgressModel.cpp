#include "frontend/ProgressModel.h"

#include <algorithm>

#include "frontend/ProgressPercent.h"

namespace {

// As a native bar keeps it: a range whose upper end lies below the lower one holds the lower end.
int32_t HoldInRange(int32_t nPos, int32_t nLower, int32_t nUpper) {
    return std::clamp(nPos, nLower, std::max(nLower, nUpper));
}

} // namespace

void CProgressModel::SetRange(int32_t nLower, int32_t nUpper) {
    m_nLower = nLower;
    m_nUpper = nUpper;
    m_nPos = HoldInRange(m_nPos, nLower, nUpper);
}

int32_t CProgressModel::SetPos(int32_t nPos, bool& bChanged) {
    const int32_t nPrevious = m_nPos;
    m_nPos = HoldInRange(nPos, m_nLower, m_nUpper);
    std::string strPercent = m_strPercent;
    FormatProgressPercent(m_nLower, m_nUpper, nPos, strPercent);
    bChanged = m_nPos != nPrevious || strPercent != m_strPercent;
    m_strPercent = std::move(strPercent);
    return nPrevious;
}
