#include "frontend/ProgressPercent.h"

bool FormatProgressPercent(int32_t nLower, int32_t nUpper, int32_t nPos, std::string& strText) {
    // 64-bit, so a big range cannot overflow the product; for every position whose 32-bit product
    // fits the figures are the same. The division truncates toward zero.
    const int64_t nSpan = static_cast<int64_t>(nUpper) - nLower;
    if (nSpan == 0)
        return false;
    int64_t nPercent = (static_cast<int64_t>(nPos) - nLower) * 100 / nSpan;
    // 100 stays; above it the count starts again from 0. The remainder keeps the sign.
    if (nPercent != 100)
        nPercent %= 100;
    strText = nPercent < 0 ? std::string() : std::to_string(nPercent) + "%";
    return true;
}
