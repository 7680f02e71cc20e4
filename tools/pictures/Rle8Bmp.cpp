#include "tools/pictures/Rle8Bmp.h"

#include <algorithm>
#include <stdexcept>

#include "tools/pictures/LittleEndian.h"

namespace {

constexpr int kMaxRun = 255;
// Absolute mode needs at least three indexes: counts 0, 1 and 2 after a 0 byte are escape codes.
constexpr int kMinAbsolute = 3;

int RunAt(const uint8_t* pRow, int nWidth, int x) {
    int n = 1;
    while (x + n < nWidth && n < kMaxRun && pRow[x + n] == pRow[x])
        ++n;
    return n;
}

} // namespace

std::vector<uint8_t> EncodeRle8Row(const uint8_t* pRow, int nWidth) {
    std::vector<uint8_t> out;
    int x = 0;
    while (x < nWidth) {
        int nRun = RunAt(pRow, nWidth, x);
        if (nRun >= kMinAbsolute) {
            out.push_back(static_cast<uint8_t>(nRun));
            out.push_back(pRow[x]);
            x += nRun;
            continue;
        }
        // A pair of equal indexes stays inside a literal stretch: breaking it out would cost more
        // than it saves.
        int nEnd = x;
        while (nEnd < nWidth && nEnd - x < kMaxRun && RunAt(pRow, nWidth, nEnd) < kMinAbsolute)
            ++nEnd;
        int nLen = nEnd - x;
        if (nLen >= kMinAbsolute) {
            out.push_back(0);
            out.push_back(static_cast<uint8_t>(nLen));
            out.insert(out.end(), pRow + x, pRow + nEnd);
            if (nLen % 2)
                out.push_back(0);
            x = nEnd;
        } else {
            while (x < nEnd) {
                int n = std::min(RunAt(pRow, nWidth, x), nEnd - x);
                out.push_back(static_cast<uint8_t>(n));
                out.push_back(pRow[x]);
                x += n;
            }
        }
    }
    return out;
}

std::vector<uint8_t> EncodeRle8(const CIndexedPicture& picture) {
    std::vector<uint8_t> out;
    for (int y = picture.m_nHeight - 1; y >= 0; --y) {
        std::vector<uint8_t> row = EncodeRle8Row(
            &picture.m_indices[static_cast<size_t>(y) * picture.m_nWidth], picture.m_nWidth);
        out.insert(out.end(), row.begin(), row.end());
        out.push_back(0);
        out.push_back(0);
    }
    out.push_back(0);
    out.push_back(1);
    return out;
}

std::vector<uint8_t> MakeRle8Bmp(const CIndexedPicture& picture) {
    if (picture.m_nWidth <= 0 || picture.m_nHeight <= 0 ||
        picture.m_indices.size() != static_cast<size_t>(picture.m_nWidth) * picture.m_nHeight ||
        picture.m_colors.size() > 256)
        throw std::invalid_argument("picture does not fit an 8-bit BMP");
    for (uint8_t index : picture.m_indices) {
        if (index >= std::max<size_t>(picture.m_colors.size(), 1))
            throw std::invalid_argument("picture uses an index beyond its colour table");
    }

    constexpr uint32_t kFileHeader = 14;
    constexpr uint32_t kInfoHeader = 40;
    constexpr uint32_t kColors = 256;
    constexpr uint32_t kBitsOffset = kFileHeader + kInfoHeader + kColors * 4;
    std::vector<uint8_t> bits = EncodeRle8(picture);

    std::vector<uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    PutLe32(out, kBitsOffset + static_cast<uint32_t>(bits.size()));
    PutLe32(out, 0);
    PutLe32(out, kBitsOffset);

    PutLe32(out, kInfoHeader);
    PutLe32(out, static_cast<uint32_t>(picture.m_nWidth));
    PutLe32(out, static_cast<uint32_t>(picture.m_nHeight));
    PutLe16(out, 1);
    PutLe16(out, 8);
    PutLe32(out, 1); // BI_RLE8
    PutLe32(out, static_cast<uint32_t>(bits.size()));
    PutLe32(out, 2835); // 72 dots per inch
    PutLe32(out, 2835);
    PutLe32(out, kColors);
    PutLe32(out, kColors);

    for (uint32_t i = 0; i < kColors; ++i) {
        uint32_t rgb = i < picture.m_colors.size() ? picture.m_colors[i] : 0;
        out.push_back(static_cast<uint8_t>(rgb));
        out.push_back(static_cast<uint8_t>(rgb >> 8));
        out.push_back(static_cast<uint8_t>(rgb >> 16));
        out.push_back(0);
    }
    out.insert(out.end(), bits.begin(), bits.end());
    return out;
}
