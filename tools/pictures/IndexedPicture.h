#pragma once
// A picture of 8-bit colour indexes with its colour table, as the BMP and icon writers take it.
#include <cstddef>
#include <cstdint>
#include <vector>

struct CIndexedPicture {
    int m_nWidth = 0;
    int m_nHeight = 0;
    // Row after row from the top, m_nWidth indexes each.
    std::vector<uint8_t> m_indices;
    // 0xRRGGBB; at most 256 entries.
    std::vector<uint32_t> m_colors;

    uint8_t At(int x, int y) const { return m_indices[static_cast<size_t>(y) * m_nWidth + x]; }
};
