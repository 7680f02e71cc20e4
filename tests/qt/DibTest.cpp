// CDib on the built-in pictures and on images made here, drawn onto QImage targets.
#include <QBuffer>
#include <QtTest>
#include <cstring>
#include <map>

#include "qt/Dib.h"
#include "resources/Resources.h"

namespace {

const QRgb kSentinel = qRgb(1, 2, 3);

QImage Target(int w = 600, int h = 420) {
    QImage target(w, h, QImage::Format_RGB32);
    target.fill(kSentinel);
    return target;
}

// The colour table stored in a .bmp resource, read from the file's own bytes.
QVector<QRgb> FileColorTable(const CResource& res) {
    auto le32 = [&](size_t at) {
        uint32_t n = 0;
        std::memcpy(&n, res.m_pData + at, 4);
        return n;
    };
    const size_t nTable = 14 + le32(14);
    uint32_t nUsed = le32(46);
    QVector<QRgb> table;
    for (uint32_t i = 0; i < (nUsed ? nUsed : 256); ++i) {
        const unsigned char* p = res.m_pData + nTable + 4 * i;
        table.append(qRgb(p[2], p[1], p[0]));
    }
    return table;
}

QByteArray Encode(const QImage& image, const char* pszFormat) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, pszFormat);
    return bytes;
}

// A resource set of byte blocks made by the test, in place of the built-in pictures.
class CTestResources : public IResourceSet {
public:
    std::map<int, QByteArray> m_bitmaps;
    CResource Find(const char* pszType, int nId) const override {
        auto it = m_bitmaps.find(nId);
        if (std::strcmp(pszType, "BITMAP") != 0 || it == m_bitmaps.end())
            return {};
        return {reinterpret_cast<const unsigned char*>(it->second.constData()),
                static_cast<size_t>(it->second.size())};
    }
};

void CheckEmpty(const CDib& dib) {
    QVERIFY(dib.IsEmpty());
    QCOMPARE(dib.GetSize(), QSize(0, 0));
    QCOMPARE(dib.GetBitmapInfo().bmWidth, 0);
    QCOMPARE(dib.GetBitmapInfo().bmHeight, 0);
    QCOMPARE(dib.GetBitmapInfo().bmBitsPixel, 0);
    QVERIFY(dib.GetBitmapInfo().bmBits == nullptr);
    QVERIFY(dib.GetPalette().isEmpty());
    QRgb colors[4];
    QCOMPARE(dib.GetColorTable(colors, 4), 0);
}

} // namespace

class CDibTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { SetResourceSet(nullptr); }

    void EachPictureLoadsWithItsOwnPalette_data() {
        QTest::addColumn<int>("id");
        for (int nId = kIdFirstPicture; nId <= kIdLastPicture; ++nId)
            QTest::addRow("%d", nId) << nId;
    }
    void EachPictureLoadsWithItsOwnPalette() {
        QFETCH(int, id);
        CResource res = FindResource("BITMAP", id);
        QVERIFY2(res, "picture not built in");
        CDib dib;
        QCOMPARE(dib.Load(id), 1);
        QCOMPARE(dib.GetSize(), QSize(256, 192));
        QCOMPARE(dib.GetBitmapInfo().bmWidth, 256);
        QCOMPARE(dib.GetBitmapInfo().bmHeight, 192);
        QCOMPARE(dib.GetBitmapInfo().bmBitsPixel, 8);
        QVERIFY(dib.GetBitmapInfo().bmBits != nullptr);
        QCOMPARE(dib.GetImage().format(), QImage::Format_Indexed8);

        const QVector<QRgb> fileTable = FileColorTable(res);
        QCOMPARE(fileTable.size(), 256);
        QCOMPARE(dib.GetPalette(), fileTable);
        QVERIFY(dib.GetPalette() != CDib::HalftonePalette());
        QRgb colors[256];
        QCOMPARE(dib.GetColorTable(colors, 256), 256);
        QCOMPARE(dib.GetColorTable(colors, 10), 10);
    }

    void PicturesOfTheTwoFamiliesHaveTheirOwnPalettes() {
        CDib milling, scanner;
        QCOMPARE(milling.Load(132), 1);
        QCOMPARE(scanner.Load(137), 1);
        QVERIFY(milling.GetPalette() != scanner.GetPalette());
    }

    void FreeEmptiesAndIsHarmlessOnAnEmptyObject() {
        CDib dib;
        CheckEmpty(dib);
        dib.Free();
        CheckEmpty(dib);
        QCOMPARE(dib.Load(130), 1);
        dib.Free();
        CheckEmpty(dib);
        dib.Free();
        CheckEmpty(dib);
        QCOMPARE(dib.Load(131), 1);
        QCOMPARE(dib.GetSize(), QSize(256, 192));
    }

    void LoadWithoutAPictureLeavesItEmptyAndDrawsNothing_data() {
        QTest::addColumn<int>("id");
        QTest::addRow("no such number") << 999;
        QTest::addRow("the icon's number") << kIdIcon;
        QTest::addRow("bytes that are no bitmap") << 500;
        QTest::addRow("a cut-off bitmap") << 501;
    }
    void LoadWithoutAPictureLeavesItEmptyAndDrawsNothing() {
        QFETCH(int, id);
        CTestResources set;
        set.m_bitmaps[500] = QByteArray("not a picture at all");
        CResource real = GetBuiltinResources().Find("BITMAP", 130);
        set.m_bitmaps[501] = QByteArray(reinterpret_cast<const char*>(real.m_pData), 40);
        SetResourceSet(&set);

        CDib dib;
        QCOMPARE(dib.Load(id), 0);
        CheckEmpty(dib);
        QImage target = Target();
        QPainter painter(&target);
        QRect dest(0, 0, 256, 192);
        QCOMPARE(dib.Draw(painter, &dest, nullptr, true, nullptr, false), 0);
        QCOMPARE(dib.Draw(painter, &dest, nullptr, false, nullptr, false), 0);
        painter.end();
        QCOMPARE(target, Target());
    }

    // Same size: a pixel-for-pixel copy at the destination's place, nothing outside it.
    void DrawAtOwnSizeCopiesPixelForPixel_data() {
        QTest::addColumn<bool>("useDrawDib");
        QTest::addRow("video library path") << true;
        QTest::addRow("block transfer path") << false;
    }
    void DrawAtOwnSizeCopiesPixelForPixel() {
        QFETCH(bool, useDrawDib);
        CDib dib;
        QCOMPARE(dib.Load(134), 1);
        const QImage source = dib.GetImage().convertToFormat(QImage::Format_RGB32);
        QImage target = Target();
        QPainter painter(&target);
        QRect dest(17, 9, 256, 192);
        QCOMPARE(dib.Draw(painter, &dest, nullptr, useDrawDib, nullptr, false), 1);
        painter.end();
        for (int y = 0; y < target.height(); ++y) {
            for (int x = 0; x < target.width(); ++x) {
                QRgb expected = dest.contains(x, y) ? source.pixel(x - 17, y - 9) : kSentinel;
                if (target.pixel(x, y) != expected)
                    QFAIL(qPrintable(QString("pixel %1,%2").arg(x).arg(y)));
            }
        }
    }

    void DrawWithoutRectanglesDrawsTheWholePictureAtTheOrigin() {
        CDib dib;
        QCOMPARE(dib.Load(139), 1);
        QImage target = Target();
        QPainter painter(&target);
        QCOMPARE(dib.Draw(painter), 1);
        painter.end();
        QCOMPARE(target.copy(0, 0, 256, 192), dib.GetImage().convertToFormat(QImage::Format_RGB32));
        QCOMPARE(target.pixel(256, 0), kSentinel);
        QCOMPARE(target.pixel(0, 192), kSentinel);
    }

    // Into a rectangle of another size: nearest neighbour, whole source pixels, no blends.
    void DrawIntoAnotherSizeScalesByNearestNeighbour_data() {
        QTest::addColumn<QRect>("src");
        QTest::addColumn<QRect>("dest");
        QTest::addRow("whole picture doubled") << QRect(0, 0, 256, 192) << QRect(3, 5, 512, 384);
        QTest::addRow("part of it tripled") << QRect(100, 50, 40, 30) << QRect(0, 0, 120, 90);
    }
    void DrawIntoAnotherSizeScalesByNearestNeighbour() {
        QFETCH(QRect, src);
        QFETCH(QRect, dest);
        const int k = dest.width() / src.width();
        for (bool bUseDrawDib : {true, false}) {
            CDib dib;
            QCOMPARE(dib.Load(135), 1);
            const QImage source = dib.GetImage().convertToFormat(QImage::Format_RGB32);
            QImage target = Target();
            QPainter painter(&target);
            QCOMPARE(dib.Draw(painter, &dest, &src, bUseDrawDib, nullptr, false), 1);
            painter.end();
            for (int y = 0; y < dest.height(); ++y) {
                for (int x = 0; x < dest.width(); ++x) {
                    QRgb expected = source.pixel(src.x() + x / k, src.y() + y / k);
                    if (target.pixel(dest.x() + x, dest.y() + y) != expected)
                        QFAIL(qPrintable(QString("pixel %1,%2").arg(x).arg(y)));
                }
            }
            QCOMPARE(target.pixel(dest.right() + 1, dest.top()), kSentinel);
        }
    }

    void DrawShrunkOrAtOddScaleInventsNoColours() {
        CDib dib;
        QCOMPARE(dib.Load(133), 1);
        const QVector<QRgb> palette = dib.GetPalette();
        for (QRect dest : {QRect(0, 0, 97, 61), QRect(0, 0, 333, 250)}) {
            QImage target = Target();
            QPainter painter(&target);
            QCOMPARE(dib.Draw(painter, &dest, nullptr, true, nullptr, false), 1);
            painter.end();
            for (int y = 0; y < dest.height(); ++y) {
                for (int x = 0; x < dest.width(); ++x) {
                    if (!palette.contains(target.pixel(x, y) | 0xFF000000))
                        QFAIL(qPrintable(QString("blended pixel %1,%2").arg(x).arg(y)));
                }
            }
        }
    }

    void DrawWithAGivenPaletteShowsOnlyItsColours() {
        CDib dib;
        QCOMPARE(dib.Load(137), 1);
        const QVector<QRgb> blackWhite{qRgb(0, 0, 0), qRgb(255, 255, 255)};
        QImage target = Target();
        QPainter painter(&target);
        QCOMPARE(dib.Draw(painter, nullptr, nullptr, true, &blackWhite, true), 1);
        painter.end();
        bool bSawBlack = false, bSawWhite = false;
        for (int y = 0; y < 192; ++y) {
            for (int x = 0; x < 256; ++x) {
                QRgb c = target.pixel(x, y);
                QVERIFY(c == blackWhite[0] || c == blackWhite[1]);
                bSawBlack |= c == blackWhite[0];
                bSawWhite |= c == blackWhite[1];
            }
        }
        QVERIFY(bSawBlack && bSawWhite);
        // the object's own picture and palette are unchanged
        QCOMPARE(dib.GetPalette().size(), 256);
    }

    void PictureWithoutColourTableGetsTheHalftonePalette() {
        QImage deep(40, 30, QImage::Format_RGB32);
        deep.fill(qRgb(200, 100, 50));
        {
            CDib dib;
            QCOMPARE(dib.Attach(deep), 1);
            QCOMPARE(dib.GetBitmapInfo().bmBitsPixel, 32);
            QCOMPARE(dib.GetSize(), QSize(40, 30));
            QRgb colors[256];
            QCOMPARE(dib.GetColorTable(colors, 256), 0);
            QCOMPARE(dib.GetPalette(), CDib::HalftonePalette());
        }
        // the same through Load: a 24-bit .bmp in place of a picture
        CTestResources set;
        set.m_bitmaps[133] = Encode(deep, "BMP");
        SetResourceSet(&set);
        CDib dib;
        QCOMPARE(dib.Load(133), 1);
        QCOMPARE(dib.GetImage().depth(), 32);
        QCOMPARE(dib.GetPalette(), CDib::HalftonePalette());
        QImage target = Target();
        QPainter painter(&target);
        QCOMPARE(dib.Draw(painter), 1);
        painter.end();
        QCOMPARE(target.pixel(39, 29), qRgb(200, 100, 50));
    }

    void HalftonePaletteIsACubeAndGreys() {
        const QVector<QRgb>& p = CDib::HalftonePalette();
        QCOMPARE(p.size(), 256);
        QCOMPARE(QSet<QRgb>(p.begin(), p.end()).size(), 256);
        for (QRgb c : {qRgb(0, 0, 0), qRgb(255, 255, 255), qRgb(255, 0, 0), qRgb(0, 153, 51)})
            QVERIFY(p.contains(c));
    }

    void AttachReplacesAndANullImageEmpties() {
        CDib dib;
        QCOMPARE(dib.Load(130), 1);
        QImage small(8, 4, QImage::Format_Indexed8);
        small.setColorTable({qRgb(10, 20, 30), qRgb(40, 50, 60)});
        small.fill(1);
        QCOMPARE(dib.Attach(small), 1);
        QCOMPARE(dib.GetSize(), QSize(8, 4));
        QCOMPARE(dib.GetPalette(), (QVector<QRgb>{qRgb(10, 20, 30), qRgb(40, 50, 60)}));
        QCOMPARE(dib.Attach(QImage()), 0);
        CheckEmpty(dib);
    }
};

QTEST_MAIN(CDibTest)
#include "DibTest.moc"
