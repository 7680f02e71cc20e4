#pragma once
// CDib: the one picture of the current step. The main window frees and reloads it whenever a
// step is entered and draws it at each paint; it reads the picture's size from GetBitmapInfo().
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QSize>
#include <QVector>

// The held bitmap's description; all zero (and no bits) when the object is empty.
struct CBitmapInfo {
    int bmType = 0;
    int bmWidth = 0;
    int bmHeight = 0;
    int bmWidthBytes = 0;
    int bmPlanes = 0;
    int bmBitsPixel = 0;
    const uchar* bmBits = nullptr;
};

class CDib {
public:
    CDib() = default;
    ~CDib();
    CDib(const CDib&) = delete;
    CDib& operator=(const CDib&) = delete;

    // Empties the object: no picture, bitmap info zero, no palette. Harmless on an empty object.
    void Free();
    // The "BITMAP" resource nId of the resource set in force. Non-zero on success; a number
    // without a readable picture leaves the object empty and gives 0.
    int Load(int nId);
    // Takes image as the held picture in place of any picture held before, fills the bitmap info
    // and builds the palette. A null image leaves the object empty and gives 0.
    int Attach(const QImage& image);

    // (0, 0) when empty.
    QSize GetSize() const;
    // Copies up to nMax entries of the picture's colour table; the number copied. A picture of
    // more than 8 bits per pixel has no colour table.
    int GetColorTable(QRgb* pColors, int nMax) const;
    // The picture's own colour table, or the halftone palette for a picture without one.
    // Non-zero when palette then holds entries.
    int CreatePaletteFromDib(QVector<QRgb>& palette) const;
    // The palette for pictures without colour table: a 6 x 6 x 6 colour cube and 40 greys.
    static const QVector<QRgb>& HalftonePalette();

    // Draws the source rectangle of the picture (nullptr: all of it) into the destination
    // rectangle (nullptr: the source rectangle's place and size): a 1:1 copy when both have the
    // same size, nearest-neighbour scaling otherwise, never blended. With pPalette the picture's
    // colours are shown as the nearest entries of that palette, as a palette display would show
    // them; without one the picture keeps its own colours. Returns 0 and leaves the painter's
    // device untouched when the object is empty or there is nothing to draw.
    //
    // bUseDrawDib chose between the video library's draw and a block transfer, and bForeground
    // between a foreground and a background palette. On Qt both draws are the same
    // QPainter::drawImage and every surface is true colour, so one path serves both flags.
    int Draw(QPainter& painter, const QRect* pDest = nullptr, const QRect* pSrc = nullptr,
             bool bUseDrawDib = true, const QVector<QRgb>* pPalette = nullptr,
             bool bForeground = false);

    bool IsEmpty() const { return m_image.isNull(); }
    const QImage& GetImage() const { return m_image; }
    const QVector<QRgb>& GetPalette() const { return m_palette; }
    const CBitmapInfo& GetBitmapInfo() const { return m_bm; }

private:
    CBitmapInfo m_bm;
    QImage m_image;
    QVector<QRgb> m_palette;
};
