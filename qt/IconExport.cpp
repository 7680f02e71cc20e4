// versionup-icon OUTDIR: writes each image of the program icon (resource 128) as OUTDIR/NxN.png,
// the form desktop icon themes take.
#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QImageReader>
#include <cstdio>

#include "resources/Resources.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: versionup-icon OUTDIR\n");
        return 2;
    }
    const CResource res = FindResource("ICON", kIdIcon);
    if (!res) {
        std::fprintf(stderr, "versionup-icon: the program has no icon 128\n");
        return 1;
    }
    QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(res.m_pData), qsizetype(res.m_nSize));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    QDir dir(argv[1]);
    dir.mkpath(".");
    int nWritten = 0;
    for (int n = 0; n < reader.imageCount(); ++n) {
        if (!reader.jumpToImage(n))
            break;
        const QImage image = reader.read();
        const QString strName = QString("%1x%2.png").arg(image.width()).arg(image.height());
        if (image.isNull() || !image.save(dir.filePath(strName))) {
            std::fprintf(stderr, "versionup-icon: cannot write image %d: %s\n", n,
                         qPrintable(reader.errorString()));
            return 1;
        }
        ++nWritten;
    }
    return nWritten > 0 ? 0 : 1;
}
