#include "tools/pictures/Quantize.h"

#include <algorithm>
#include <array>
#include <limits>
#include <map>
#include <unordered_map>

namespace {

constexpr size_t kMaxColors = 256;
// A colour this common is a fill of the drawing; it gets an entry of its own, up to kMaxKept.
constexpr uint32_t kKeepCount = 24;
constexpr size_t kMaxKept = 160;

struct CColorCount {
    uint32_t m_rgb;
    uint32_t m_nCount;
};

int Channel(uint32_t rgb, int c) {
    return static_cast<int>((rgb >> (16 - 8 * c)) & 0xFF);
}

struct CBox {
    std::vector<CColorCount> m_colors;

    int Range(int c) const {
        int lo = 255, hi = 0;
        for (const CColorCount& cc : m_colors) {
            lo = std::min(lo, Channel(cc.m_rgb, c));
            hi = std::max(hi, Channel(cc.m_rgb, c));
        }
        return hi - lo;
    }
    int WidestChannel() const {
        int best = 0;
        for (int c = 1; c < 3; ++c) {
            if (Range(c) > Range(best))
                best = c;
        }
        return best;
    }
    uint32_t Mean() const {
        std::array<uint64_t, 3> sum{};
        uint64_t n = 0;
        for (const CColorCount& cc : m_colors) {
            for (int c = 0; c < 3; ++c)
                sum[c] += static_cast<uint64_t>(Channel(cc.m_rgb, c)) * cc.m_nCount;
            n += cc.m_nCount;
        }
        uint32_t rgb = 0;
        for (int c = 0; c < 3; ++c)
            rgb = (rgb << 8) | static_cast<uint32_t>((sum[c] + n / 2) / n);
        return rgb;
    }
};

// Splits boxes, widest first, at the pixel-weighted median of their widest channel.
std::vector<uint32_t> MedianCut(std::vector<CColorCount> colors, size_t nSlots) {
    std::vector<CBox> boxes;
    if (colors.empty() || nSlots == 0)
        return {};
    boxes.push_back({std::move(colors)});
    while (boxes.size() < nSlots) {
        size_t best = boxes.size();
        int nBestRange = 0;
        for (size_t i = 0; i < boxes.size(); ++i) {
            if (boxes[i].m_colors.size() < 2)
                continue;
            int nRange = boxes[i].Range(boxes[i].WidestChannel());
            if (best == boxes.size() || nRange > nBestRange) {
                best = i;
                nBestRange = nRange;
            }
        }
        if (best == boxes.size())
            break;
        CBox& box = boxes[best];
        int c = box.WidestChannel();
        std::sort(box.m_colors.begin(), box.m_colors.end(),
                  [c](const CColorCount& a, const CColorCount& b) {
                      int va = Channel(a.m_rgb, c), vb = Channel(b.m_rgb, c);
                      return va != vb ? va < vb : a.m_rgb < b.m_rgb;
                  });
        uint64_t total = 0;
        for (const CColorCount& cc : box.m_colors)
            total += cc.m_nCount;
        uint64_t acc = 0;
        size_t cut = 1;
        for (; cut < box.m_colors.size() - 1; ++cut) {
            acc += box.m_colors[cut - 1].m_nCount;
            if (acc * 2 >= total)
                break;
        }
        CBox upper{{box.m_colors.begin() + static_cast<std::ptrdiff_t>(cut), box.m_colors.end()}};
        box.m_colors.resize(cut);
        boxes.push_back(std::move(upper));
    }
    std::vector<uint32_t> means;
    for (const CBox& box : boxes)
        means.push_back(box.Mean());
    return means;
}

int Distance(uint32_t a, uint32_t b) {
    // The eye is most sensitive to green and least to blue.
    static constexpr int kWeight[3] = {3, 4, 2};
    int d = 0;
    for (int c = 0; c < 3; ++c) {
        int diff = Channel(a, c) - Channel(b, c);
        d += kWeight[c] * diff * diff;
    }
    return d;
}

} // namespace

CIndexedPicture QuantizeTo256(const uint32_t* pPixels, int nWidth, int nHeight) {
    CIndexedPicture picture;
    picture.m_nWidth = nWidth;
    picture.m_nHeight = nHeight;
    const size_t nPixels = static_cast<size_t>(nWidth) * nHeight;

    std::map<uint32_t, uint32_t> histogram;
    for (size_t i = 0; i < nPixels; ++i)
        ++histogram[pPixels[i] & 0xFFFFFF];
    std::vector<CColorCount> byCount;
    for (const auto& [rgb, n] : histogram)
        byCount.push_back({rgb, n});
    std::stable_sort(
        byCount.begin(), byCount.end(),
        [](const CColorCount& a, const CColorCount& b) { return a.m_nCount > b.m_nCount; });

    std::vector<uint32_t>& palette = picture.m_colors;
    if (byCount.size() <= kMaxColors) {
        for (const CColorCount& cc : byCount)
            palette.push_back(cc.m_rgb);
    } else {
        size_t nKept = 0;
        while (nKept < kMaxKept && byCount[nKept].m_nCount >= kKeepCount)
            palette.push_back(byCount[nKept++].m_rgb);
        std::vector<CColorCount> rest(byCount.begin() + static_cast<std::ptrdiff_t>(nKept),
                                      byCount.end());
        for (uint32_t rgb : MedianCut(std::move(rest), kMaxColors - nKept))
            palette.push_back(rgb);
    }

    std::unordered_map<uint32_t, uint8_t> indexOf;
    for (const auto& [rgb, n] : histogram) {
        int nBest = std::numeric_limits<int>::max();
        uint8_t best = 0;
        for (size_t i = 0; i < palette.size(); ++i) {
            int d = Distance(rgb, palette[i]);
            if (d < nBest) {
                nBest = d;
                best = static_cast<uint8_t>(i);
            }
        }
        indexOf[rgb] = best;
    }
    picture.m_indices.resize(nPixels);
    for (size_t i = 0; i < nPixels; ++i)
        picture.m_indices[i] = indexOf[pPixels[i] & 0xFFFFFF];
    return picture;
}
