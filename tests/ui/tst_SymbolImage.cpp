#include "ui/widgets/SymbolImage.h"

#include <QImage>
#include <QSet>
#include <QTest>

namespace {

// Pixels with any ink, and whether every inked pixel has the given colour.
struct Ink
{
    int pixels = 0;
    bool onlyColor = true;
};

Ink inkOf(const QImage &source, const QColor &color)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    Ink ink;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() == 0)
                continue;
            ++ink.pixels;
            // Antialiased edges keep the hue; compare the opaque ones exactly.
            if (pixel.alpha() == 255 && pixel.rgb() != color.rgb())
                ink.onlyColor = false;
        }
    }
    return ink;
}

} // namespace

class TestSymbolImage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everySymbolTheViewsUseIsDrawn_data()
    {
        QTest::addColumn<QString>("name");
        for (const char *name :
             {"metronome", "metronome.fill", "exclamationmark.triangle.fill", "pause.circle",
              "arrow.triangle.2.circlepath", "power.circle", "arrow.down.circle", "gearshape", "power",
              "network", "dot.radiowaves.left.and.right"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }

    void everySymbolTheViewsUseIsDrawn()
    {
        QFETCH(QString, name);
        QVERIFY(SymbolImage::exists(name));
        const QColor color(0x20, 0x60, 0xa0);
        for (int size : {16, 24}) {
            const QPixmap pixmap = SymbolImage::pixmap(name, size, color);
            QCOMPARE(pixmap.size(), QSize(size, size));
            const Ink ink = inkOf(pixmap.toImage(), color);
            // Readable at tray and menu sizes: a real share of the square is drawn, and the
            // drawing is in the caller's colour only.
            QVERIFY2(ink.pixels > size * size / 8, qPrintable(QStringLiteral("%1 px").arg(ink.pixels)));
            QVERIFY(ink.pixels < size * size);
            QVERIFY(ink.onlyColor);
        }
    }

    void iconsAreMasksDrawnAtTheSizeAsked()
    {
        const QIcon icon = SymbolImage::icon(QStringLiteral("power"), Qt::red);
        QVERIFY(icon.isMask());
        for (int size : {16, 22, 48}) {
            const QPixmap pixmap = icon.pixmap(size, size);
            QCOMPARE(pixmap.size(), QSize(size, size));
            QVERIFY(inkOf(pixmap.toImage(), Qt::red).onlyColor);
        }
        // Disabled is the same shape, faded.
        QVERIFY(icon.pixmap(24, 24).toImage() != icon.pixmap(24, 24, QIcon::Disabled).toImage());
        // HiDPI pixmaps carry their pixel ratio.
        const QPixmap sharp = SymbolImage::pixmap(QStringLiteral("gearshape"), 16, Qt::black, 2.0);
        QCOMPARE(sharp.size(), QSize(32, 32));
        QCOMPARE(sharp.devicePixelRatio(), 2.0);
    }

    void unknownNamesGiveNothing()
    {
        QVERIFY(!SymbolImage::exists(QStringLiteral("no.such.symbol")));
        QVERIFY(SymbolImage::pixmap(QStringLiteral("no.such.symbol"), 16, Qt::black).isNull());
        QVERIFY(SymbolImage::icon(QStringLiteral("no.such.symbol"), Qt::black).isNull());
    }

    void appIconKeepsItsColours()
    {
        const QImage image = SymbolImage::appPixmap(64).toImage();
        QCOMPARE(image.size(), QSize(64, 64));
        QSet<QRgb> colours;
        for (int y = 0; y < 64; y += 4)
            for (int x = 0; x < 64; x += 4)
                colours.insert(image.pixel(x, y));
        QVERIFY(colours.size() > 4);
        QVERIFY(!SymbolImage::appIcon().isNull());
    }
};

QTEST_MAIN(TestSymbolImage)
#include "tst_SymbolImage.moc"
