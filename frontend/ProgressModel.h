#pragma once
// What a progress dialog shows, worked out once for every front end: the bar's range and its
// position within it, and the percent label. A dialog only draws what this says.
#include <cstdint>
#include <string>

class CProgressModel {
public:
    int32_t GetLower() const { return m_nLower; }
    int32_t GetUpper() const { return m_nUpper; }
    // The bar's position, always within its range.
    int32_t GetPos() const { return m_nPos; }
    // " 0 %" until the first position, then "37%", or empty below the range.
    const std::string& GetPercent() const { return m_strPercent; }

    // The position stays where it was, held within the new range; the label is not touched.
    void SetRange(int32_t nLower, int32_t nUpper);
    // Returns the bar's previous position. bChanged tells whether the bar or the label now shows
    // something else, that is whether the dialog has anything to draw.
    int32_t SetPos(int32_t nPos, bool& bChanged);

private:
    int32_t m_nLower = 0;
    int32_t m_nUpper = 100;
    int32_t m_nPos = 0;
    std::string m_strPercent = " 0 %";
};
