// make-pictures: draws the stand-in step pictures and the program icon.
//   make-pictures RESOURCES_DIR          writes pictures/130.bmp .. 140.bmp and icon.ico there
//   make-pictures --contact-sheet PNG [--scale N] [--from DIR] [--ids 130,133,128]
//                                        all eleven pictures and the icon on one sheet, read back
//                                        through Qt's BMP and ICO readers (from DIR: the files
//                                        there, e.g. a real release's pictures)
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <algorithm>
#include <cstdio>
#include <exception>

#include "resources/Resources.h"
#include "tools/pictures/Pictures.h"

namespace {

bool WriteFile(const QString& path, const std::vector<uint8_t>& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()) ||
        !file.flush()) {
        std::fprintf(stderr, "make-pictures: cannot write %s: %s\n", qPrintable(path),
                     qPrintable(file.errorString()));
        return false;
    }
    return true;
}

QImage FromBytes(const std::vector<uint8_t>& bytes, const char* pszFormat) {
    return QImage::fromData(bytes.data(), static_cast<int>(bytes.size()), pszFormat);
}

// Image n of an icon file, through Qt's icon reader.
QImage IconImage(const std::vector<uint8_t>& ico, int n) {
    QByteArray data(reinterpret_cast<const char*>(ico.data()), static_cast<qsizetype>(ico.size()));
    QBuffer buffer(&data);
    QImageReader reader(&buffer, "ICO");
    if (!reader.jumpToImage(n))
        return {};
    return reader.read();
}

int WriteResources(const QString& dir) {
    if (!QDir().mkpath(dir + "/pictures")) {
        std::fprintf(stderr, "make-pictures: cannot create %s/pictures\n", qPrintable(dir));
        return 1;
    }
    for (int nId = kIdFirstPicture; nId <= kIdLastPicture; ++nId) {
        if (!WriteFile(QString("%1/pictures/%2.bmp").arg(dir).arg(nId), MakeStepPictureFile(nId)))
            return 1;
    }
    return WriteFile(dir + "/icon.ico", MakeProgramIconFile()) ? 0 : 1;
}

// ids: the pictures to show, 128 standing for the icon.
int WriteContactSheet(const QString& png, int nScale, const QString& from, const QList<int>& ids) {
    const int nColumns = std::min<int>(4, static_cast<int>(ids.size()));
    const int nRows = (static_cast<int>(ids.size()) + nColumns - 1) / nColumns;
    const int nCaption = 16 * nScale, nGap = 8;
    const int cw = kPictureWidth * nScale, ch = kPictureHeight * nScale;
    QImage sheet(nGap + nColumns * (cw + nGap), nGap + nRows * (ch + nCaption + nGap),
                 QImage::Format_RGB32);
    sheet.fill(QColor(0x60, 0x60, 0x60));
    QPainter p(&sheet);
    QFont font("DejaVu Sans");
    font.setPixelSize(12 * nScale);
    font.setBold(true);
    p.setFont(font);
    for (int i = 0; i < ids.size(); ++i) {
        QRect cell(nGap + (i % nColumns) * (cw + nGap),
                   nGap + (i / nColumns) * (ch + nCaption + nGap), cw, ch);
        QString caption;
        if (ids[i] != kIdIcon) {
            int nId = ids[i];
            QImage picture = from.isEmpty() ? FromBytes(MakeStepPictureFile(nId), "BMP")
                                            : QImage(QString("%1/%2.bmp").arg(from).arg(nId));
            p.drawImage(cell, picture);
            caption = StepPictureCaption(nId);
            if (picture.isNull())
                caption += " (unreadable)";
        } else {
            // the icon, large and at its own sizes, on light and dark ground
            p.fillRect(cell, QColor(0xF0, 0xF0, 0xF0));
            p.fillRect(cell.adjusted(cw / 2, 0, 0, 0), QColor(0x20, 0x30, 0x50));
            std::vector<uint8_t> ico = MakeProgramIconFile();
            QImage large = IconImage(ico, 0), small = IconImage(ico, 1);
            for (int x : {cell.left() + 8, cell.left() + cw / 2 + 8}) {
                p.drawImage(QRect(x, cell.top() + 8, 32 * 4, 32 * 4), large);
                p.drawImage(QPoint(x, cell.top() + 8 + 32 * 4 + 8), large);
                p.drawImage(QPoint(x + 40, cell.top() + 8 + 32 * 4 + 8), small);
                p.drawImage(QRect(x + 64, cell.top() + 8 + 32 * 4 + 8, 16 * 3, 16 * 3), small);
            }
            caption = "128 program icon";
        }
        p.setPen(Qt::white);
        p.drawText(QRect(cell.left(), cell.bottom() + 2, cw, nCaption), Qt::AlignLeft, caption);
    }
    p.end();
    if (!sheet.save(png, "PNG")) {
        std::fprintf(stderr, "make-pictures: cannot write %s\n", qPrintable(png));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // Drawing needs no screen; the offscreen platform also keeps the font setup the same
    // wherever the pictures are made.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    try {
        if (args.size() >= 2 && args[0] == "--contact-sheet") {
            int nScale = 1;
            QString from;
            QList<int> ids;
            for (int nId = kIdFirstPicture; nId <= kIdLastPicture; ++nId)
                ids.append(nId);
            ids.append(kIdIcon);
            for (int i = 2; i + 1 < args.size(); i += 2) {
                if (args[i] == "--scale")
                    nScale = std::clamp(args[i + 1].toInt(), 1, 4);
                else if (args[i] == "--from")
                    from = args[i + 1];
                else if (args[i] == "--ids") {
                    ids.clear();
                    for (const QString& id : args[i + 1].split(','))
                        ids.append(id.toInt());
                }
            }
            if (!ids.isEmpty())
                return WriteContactSheet(args[1], nScale, from, ids);
        }
        if (args.size() == 1 && !args[0].startsWith("-"))
            return WriteResources(args[0]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make-pictures: %s\n", e.what());
        return 1;
    }
    std::fprintf(
        stderr, "usage: make-pictures RESOURCES_DIR\n"
                "       make-pictures --contact-sheet PNG [--scale N] [--from DIR] [--ids LIST]\n");
    return 2;
}
