// Apart from the window's code: the resource ids here and the control ids there share names.
#include "qt/AppIcon.h"

#include <QBuffer>
#include <QImageReader>
#include <QPixmap>

#include "resources/Resources.h"

QIcon LoadAppIcon() {
    QIcon icon;
    const CResource res = FindResource("ICON", kIdIcon);
    if (!res)
        return icon;
    QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(res.m_pData), qsizetype(res.m_nSize));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    for (int n = 0; n < reader.imageCount(); ++n) {
        if (!reader.jumpToImage(n))
            break;
        const QImage image = reader.read();
        if (!image.isNull())
            icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

QPixmap GetAppIconPixmap(int nSize, qreal dDevicePixelRatio) {
    // Asked for at the screen's ratio, QIcon would scale the image up itself, smoothly.
    const QPixmap pixmap = LoadAppIcon().pixmap(QSize(nSize, nSize), 1.0);
    if (pixmap.isNull() || dDevicePixelRatio <= 1.0)
        return pixmap;
    const int nDevice = qRound(nSize * dDevicePixelRatio);
    QPixmap scaled = pixmap.scaled(nDevice, nDevice, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    scaled.setDevicePixelRatio(dDevicePixelRatio);
    return scaled;
}
