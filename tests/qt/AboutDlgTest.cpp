// The About box on the offscreen platform.
#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "qt/AboutDlg.h"
#include "qt/AppIcon.h"

class CAboutDlgTest : public QObject {
    Q_OBJECT
private slots:
    void showsTheLineSetBeforeOpening() {
        CAboutDlg dlg;
        QCOMPARE(dlg.windowTitle(), QString("About"));
        dlg.m_strUpgradeFor = "Upgrade for TVK35/50 NRP7/70  V261";
        QTimer::singleShot(0, &dlg, [&] {
            QCOMPARE(dlg.GetUpgradeForLabel()->text(),
                     QString("Upgrade for TVK35/50 NRP7/70  V261"));
            QCOMPARE(dlg.GetVersionLabel()->text(), QString("Tool Version 2.50"));
            QVERIFY(dlg.GetOkButton()->isDefault());
            dlg.GetOkButton()->click();
        });
        QCOMPARE(dlg.exec(), int(QDialog::Accepted));
    }

    void endsWithEnterOrEscape() {
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
            CAboutDlg dlg;
            QTimer::singleShot(0, &dlg, [&] { QTest::keyClick(&dlg, key); });
            dlg.exec();
            QVERIFY(!dlg.isVisible());
        }
    }

    // The line is shown whole with the desktop fonts of both languages (fontconfig gives a
    // Japanese desktop IPAGothic), and no two controls overlap.
    void nothingIsClipped_data() {
        QTest::addColumn<QString>("family");
        QTest::newRow("English desktop") << QString("DejaVu Sans");
        QTest::newRow("Japanese desktop") << QString("IPAGothic");
    }
    void nothingIsClipped() {
        QFETCH(QString, family);
        const QFont fontBefore = QApplication::font();
        QFont font = fontBefore;
        font.setFamily(family);
        QApplication::setFont(font);
        CAboutDlg dlg;
        dlg.m_strUpgradeFor = "Upgrade for TVK35/50 NRP7/70  V260";
        dlg.show();
        for (QLabel* pLabel : {dlg.GetVersionLabel(), dlg.GetUpgradeForLabel()}) {
            QVERIFY2(pLabel->fontMetrics().horizontalAdvance(pLabel->text()) <= pLabel->width(),
                     qPrintable(pLabel->text()));
            QVERIFY(dlg.rect().contains(pLabel->geometry()));
        }
        QVERIFY(!dlg.GetUpgradeForLabel()->geometry().intersects(dlg.GetOkButton()->geometry()));
        QVERIFY(dlg.rect().contains(dlg.GetOkButton()->geometry()));
        QApplication::setFont(fontBefore);
    }

    // Each pixel of the 32 x 32 icon covers a whole square of the screen's pixels, whatever the
    // screen's density (the test runs at scale factors 1 and 2): repeated, never smoothed.
    void iconKeepsItsPixels() {
        CAboutDlg dlg;
        dlg.show();
        QLabel* pIcon = dlg.GetIconLabel();
        QImage shown = pIcon->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shown.size(), QSize(32, 32) * pIcon->devicePixelRatioF());
        shown.setDevicePixelRatio(1); // compared pixel for pixel
        const QImage icon = LoadAppIcon().pixmap(QSize(32, 32), 1.0).toImage();
        QCOMPARE(icon.size(), QSize(32, 32));
        QImage expected(shown.size(), QImage::Format_RGB32);
        expected.fill(pIcon->palette().color(pIcon->backgroundRole()));
        QPainter painter(&expected);
        painter.drawImage(0, 0,
                          icon.scaled(shown.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation));
        painter.end();
        QCOMPARE(shown, expected);
    }
};

QTEST_MAIN(CAboutDlgTest)
#include "AboutDlgTest.moc"
