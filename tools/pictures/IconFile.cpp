#include "tools/pictures/IconFile.h"

#include <stdexcept>

#include "tools/pictures/LittleEndian.h"

namespace {

uint32_t RowBytes(int nWidth, int nBits) {
    return static_cast<uint32_t>((nWidth * nBits + 31) / 32 * 4);
}

std::vector<uint8_t> ImageBytes(const CIconImage& image) {
    const CIndexedPicture& pic = image.m_picture;
    const int w = pic.m_nWidth, h = pic.m_nHeight;
    const uint32_t nXorRow = RowBytes(w, 4), nAndRow = RowBytes(w, 1);
    std::vector<uint8_t> out;
    PutLe32(out, 40);
    PutLe32(out, static_cast<uint32_t>(w));
    PutLe32(out, static_cast<uint32_t>(2 * h)); // colour bitmap and mask stacked
    PutLe16(out, 1);
    PutLe16(out, 4);
    PutLe32(out, 0);
    PutLe32(out, (nXorRow + nAndRow) * static_cast<uint32_t>(h));
    PutLe32(out, 0);
    PutLe32(out, 0);
    PutLe32(out, 0);
    PutLe32(out, 0);
    for (size_t i = 0; i < 16; ++i) {
        uint32_t rgb = i < pic.m_colors.size() ? pic.m_colors[i] : 0;
        out.push_back(static_cast<uint8_t>(rgb));
        out.push_back(static_cast<uint8_t>(rgb >> 8));
        out.push_back(static_cast<uint8_t>(rgb >> 16));
        out.push_back(0);
    }
    for (int y = h - 1; y >= 0; --y) {
        std::vector<uint8_t> row(nXorRow, 0);
        for (int x = 0; x < w; ++x) {
            // Transparent pixels are black in the colour bitmap, so the mask alone decides.
            uint8_t index = image.m_transparent[static_cast<size_t>(y) * w + x] ? 0 : pic.At(x, y);
            row[x / 2] |= static_cast<uint8_t>(x % 2 ? index : index << 4);
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    for (int y = h - 1; y >= 0; --y) {
        std::vector<uint8_t> row(nAndRow, 0);
        for (int x = 0; x < w; ++x) {
            if (image.m_transparent[static_cast<size_t>(y) * w + x])
                row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

} // namespace

std::vector<uint8_t> MakeIconFile(const std::vector<CIconImage>& images) {
    std::vector<std::vector<uint8_t>> bodies;
    for (const CIconImage& image : images) {
        const CIndexedPicture& pic = image.m_picture;
        const size_t nPixels = static_cast<size_t>(pic.m_nWidth) * pic.m_nHeight;
        if (pic.m_nWidth <= 0 || pic.m_nWidth > 256 || pic.m_nHeight <= 0 || pic.m_nHeight > 256 ||
            pic.m_indices.size() != nPixels || image.m_transparent.size() != nPixels ||
            pic.m_colors.size() > 16)
            throw std::invalid_argument("icon image does not fit a 16-colour icon");
        for (uint8_t index : pic.m_indices) {
            if (index >= 16)
                throw std::invalid_argument("icon image uses an index beyond 16 colours");
        }
        bodies.push_back(ImageBytes(image));
    }

    std::vector<uint8_t> out;
    PutLe16(out, 0);
    PutLe16(out, 1); // icon, not cursor
    PutLe16(out, static_cast<uint16_t>(images.size()));
    uint32_t nOffset = 6 + 16 * static_cast<uint32_t>(images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        const CIndexedPicture& pic = images[i].m_picture;
        out.push_back(static_cast<uint8_t>(pic.m_nWidth % 256)); // 0 means 256
        out.push_back(static_cast<uint8_t>(pic.m_nHeight % 256));
        out.push_back(16);
        out.push_back(0);
        PutLe16(out, 1);
        PutLe16(out, 4);
        PutLe32(out, static_cast<uint32_t>(bodies[i].size()));
        PutLe32(out, nOffset);
        nOffset += static_cast<uint32_t>(bodies[i].size());
    }
    for (const std::vector<uint8_t>& body : bodies)
        out.insert(out.end(), body.begin(), body.end());
    return out;
}
