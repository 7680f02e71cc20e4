#include "tools/pictures/Pictures.h"

#include <stdexcept>

#include "tools/pictures/Quantize.h"
#include "tools/pictures/Rle8Bmp.h"

CIndexedPicture MakeStepPicture(int nId) {
    QImage image = DrawStepPicture(nId);
    if (image.isNull())
        throw std::invalid_argument("no step picture " + std::to_string(nId));
    image = image.convertToFormat(QImage::Format_RGB32);
    std::vector<uint32_t> pixels;
    pixels.reserve(static_cast<size_t>(image.width()) * image.height());
    for (int y = 0; y < image.height(); ++y) {
        const QRgb* pRow = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        pixels.insert(pixels.end(), pRow, pRow + image.width());
    }
    return QuantizeTo256(pixels.data(), image.width(), image.height());
}

std::vector<uint8_t> MakeStepPictureFile(int nId) {
    return MakeRle8Bmp(MakeStepPicture(nId));
}

namespace {

// The 16 colours of the classic icon palette, in their usual order.
const uint32_t kIconColors[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                  0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                  0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
enum : uint8_t {
    kBlack = 0,
    kDarkGreen = 2,
    kSilver = 7,
    kGrey = 8,
    kLime = 10,
};

class CPixelArt {
public:
    explicit CPixelArt(int nSize) {
        m_icon.m_picture.m_nWidth = m_icon.m_picture.m_nHeight = nSize;
        m_icon.m_picture.m_indices.assign(static_cast<size_t>(nSize) * nSize, 0);
        m_icon.m_picture.m_colors.assign(std::begin(kIconColors), std::end(kIconColors));
        m_icon.m_transparent.assign(static_cast<size_t>(nSize) * nSize, true);
    }
    void Set(int x, int y, uint8_t color) {
        const int n = m_icon.m_picture.m_nWidth;
        if (x < 0 || y < 0 || x >= n || y >= n)
            return;
        m_icon.m_picture.m_indices[static_cast<size_t>(y) * n + x] = color;
        m_icon.m_transparent[static_cast<size_t>(y) * n + x] = false;
    }
    void Fill(int x0, int y0, int x1, int y1, uint8_t color) { // inclusive corners
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                Set(x, y, color);
    }
    // An upward arrow, tip at (cx, top), head rows of growing width, then a shaft.
    void UpArrow(int cx, int top, int nHead, int nShaftHalf, int bottom, uint8_t fill,
                 uint8_t outline) {
        for (int i = 0; i < nHead; ++i)
            Fill(cx - i - 1, top + i, cx + i, top + i, outline);
        for (int i = 1; i < nHead - 1; ++i)
            Fill(cx - i, top + i, cx + i - 1, top + i, fill);
        Fill(cx - nHead, top + nHead - 1, cx + nHead - 1, top + nHead - 1, outline);
        Fill(cx - nShaftHalf - 1, top + nHead, cx + nShaftHalf, bottom, outline);
        Fill(cx - nShaftHalf, top + nHead - 1, cx + nShaftHalf - 1, bottom - 1, fill);
    }
    CIconImage Take() { return std::move(m_icon); }

private:
    CIconImage m_icon;
};

// A chip with an arrow pointing up: new firmware going into the machine.
CIconImage Icon32() {
    CPixelArt art(32);
    for (int i = 0; i < 5; ++i) {
        int t = 8 + i * 4;
        art.Fill(t, 3, t + 1, 6, kSilver);
        art.Fill(t, 25, t + 1, 28, kSilver);
        art.Fill(3, t, 6, t + 1, kSilver);
        art.Fill(25, t, 28, t + 1, kSilver);
    }
    art.Fill(6, 6, 25, 25, kBlack);
    art.Fill(7, 7, 24, 24, kGrey);
    art.Fill(8, 8, 24, 24, kBlack);
    art.Fill(9, 9, 10, 10, kGrey);
    art.UpArrow(16, 9, 8, 3, 23, kLime, kDarkGreen);
    return art.Take();
}

CIconImage Icon16() {
    CPixelArt art(16);
    for (int i = 0; i < 3; ++i) {
        int t = 4 + i * 3;
        art.Fill(t, 1, t + 1, 2, kSilver);
        art.Fill(t, 13, t + 1, 14, kSilver);
        art.Fill(1, t, 2, t + 1, kSilver);
        art.Fill(13, t, 14, t + 1, kSilver);
    }
    art.Fill(3, 3, 12, 12, kBlack);
    art.Fill(4, 4, 11, 11, kGrey);
    art.Fill(5, 5, 11, 11, kBlack);
    art.UpArrow(8, 4, 4, 1, 11, kLime, kDarkGreen);
    return art.Take();
}

} // namespace

std::vector<CIconImage> MakeIconImages() {
    return {Icon32(), Icon16()};
}

std::vector<uint8_t> MakeProgramIconFile() {
    return MakeIconFile(MakeIconImages());
}
