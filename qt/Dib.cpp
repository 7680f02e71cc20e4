#include "qt/Dib.h"

#include <algorithm>
#include <limits>
#include <unordered_map>

#include "resources/Resources.h"

namespace {

int ColorDistance(QRgb a, QRgb b) {
    int dr = qRed(a) - qRed(b), dg = qGreen(a) - qGreen(b), db = qBlue(a) - qBlue(b);
    return dr * dr + dg * dg + db * db;
}

QRgb Nearest(QRgb color, const QVector<QRgb>& palette) {
    QRgb best = palette.front();
    int nBest = std::numeric_limits<int>::max();
    for (QRgb entry : palette) {
        int d = ColorDistance(color, entry);
        if (d < nBest) {
            nBest = d;
            best = entry;
        }
    }
    return qRgb(qRed(best), qGreen(best), qBlue(best));
}

QImage LimitToPalette(const QImage& image, const QVector<QRgb>& palette) {
    if (image.format() == QImage::Format_Indexed8) {
        QImage mapped = image;
        QVector<QRgb> table = image.colorTable();
        for (QRgb& entry : table)
            entry = Nearest(entry, palette);
        mapped.setColorTable(table);
        return mapped;
    }
    QImage mapped = image.convertToFormat(QImage::Format_RGB32);
    std::unordered_map<QRgb, QRgb> cache;
    for (int y = 0; y < mapped.height(); ++y) {
        QRgb* pRow = reinterpret_cast<QRgb*>(mapped.scanLine(y));
        for (int x = 0; x < mapped.width(); ++x) {
            auto [it, bNew] = cache.try_emplace(pRow[x]);
            if (bNew)
                it->second = Nearest(pRow[x], palette);
            pRow[x] = it->second;
        }
    }
    return mapped;
}

} // namespace

CDib::~CDib() {
    Free();
}

void CDib::Free() {
    m_palette.clear();
    m_bm = CBitmapInfo{};
    m_image = QImage();
}

int CDib::Load(int nId) {
    CResource res = FindResource("BITMAP", nId);
    QImage image;
    if (res)
        image.loadFromData(res.m_pData, static_cast<int>(res.m_nSize), "BMP");
    return Attach(image);
}

int CDib::Attach(const QImage& image) {
    Free();
    if (image.isNull())
        return 0;
    m_image = image;
    m_bm.bmWidth = m_image.width();
    m_bm.bmHeight = m_image.height();
    m_bm.bmWidthBytes = static_cast<int>(m_image.bytesPerLine());
    m_bm.bmPlanes = 1;
    m_bm.bmBitsPixel = m_image.depth();
    m_bm.bmBits = m_image.constBits();
    return CreatePaletteFromDib(m_palette);
}

QSize CDib::GetSize() const {
    return m_image.isNull() ? QSize(0, 0) : m_image.size();
}

int CDib::GetColorTable(QRgb* pColors, int nMax) const {
    if (m_image.isNull() || m_image.depth() > 8 || !pColors || nMax <= 0)
        return 0;
    int n = std::min(m_image.colorCount(), nMax);
    for (int i = 0; i < n; ++i)
        pColors[i] = m_image.color(i);
    return n;
}

int CDib::CreatePaletteFromDib(QVector<QRgb>& palette) const {
    QRgb colors[256];
    int n = GetColorTable(colors, 256);
    palette.clear();
    if (n > 0) {
        // Palette entries carry no alpha; the table's entries are colours only.
        for (int i = 0; i < n; ++i)
            palette.append(qRgb(qRed(colors[i]), qGreen(colors[i]), qBlue(colors[i])));
    } else {
        palette = HalftonePalette();
    }
    return palette.isEmpty() ? 0 : 1;
}

const QVector<QRgb>& CDib::HalftonePalette() {
    static const QVector<QRgb> palette = [] {
        QVector<QRgb> p;
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b)
                    p.append(qRgb(r * 51, g * 51, b * 51));
        // 40 greys between the cube's six (none falls on them), so grey shading survives.
        for (int i = 1; i <= 40; ++i) {
            int v = i * 255 / 41;
            p.append(qRgb(v, v, v));
        }
        return p;
    }();
    return palette;
}

int CDib::Draw(QPainter& painter, const QRect* pDest, const QRect* pSrc, bool bUseDrawDib,
               const QVector<QRgb>* pPalette, bool bForeground) {
    // See the header: one drawing path serves both flags.
    (void)bUseDrawDib;
    (void)bForeground;
    if (m_image.isNull() || !painter.isActive())
        return 0;
    const QRect src = pSrc ? *pSrc : QRect(QPoint(0, 0), GetSize());
    const QRect dest = pDest ? *pDest : src;
    if (src.isEmpty() || dest.isEmpty())
        return 0;

    const QImage image =
        pPalette && !pPalette->isEmpty() ? LimitToPalette(m_image, *pPalette) : m_image;
    painter.save();
    // Without smoothing Qt samples the nearest source pixel: the COLORONCOLOR of a stretch.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    if (dest.size() == src.size())
        painter.drawImage(dest.topLeft(), image, src);
    else
        painter.drawImage(dest, image, src);
    painter.restore();
    return 1;
}
