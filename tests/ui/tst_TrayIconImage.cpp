#include "ui/panel/StatusItem.h"
#include "ui/panel/TrayIconImage.h"
#include "ui/widgets/SymbolImage.h"

#include <QImage>
#include <QPalette>
#include <QTest>

namespace {

// Inked pixels in the rows [top, bottom).
int inkInRows(const QImage &image, int top, int bottom)
{
    int count = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 40 ? 1 : 0;
    return count;
}

} // namespace

class TestTrayIconImage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void withoutRateItIsTheSymbolAlone()
    {
        const QColor color(Qt::white);
        for (int size : {16, 22, 24}) {
            const QImage icon
                = TrayIconImage::render(QStringLiteral("metronome.fill"), std::nullopt, color, size);
            const QImage symbol = SymbolImage::pixmap(QStringLiteral("metronome.fill"), size, color)
                                      .toImage()
                                      .convertToFormat(icon.format());
            QCOMPARE(icon, symbol);
        }
    }

    void rateIsDrawnLegiblyBelowTheSymbol_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("48k") << "48k";
        QTest::newRow("44.1k") << "44.1k";
        QTest::newRow("176.4k") << "176.4k";
    }

    void rateIsDrawnLegiblyBelowTheSymbol()
    {
        QFETCH(QString, text);
        for (int size : {16, 22, 24, 32, 48}) {
            const QImage image = TrayIconImage::render(QStringLiteral("metronome"), text, Qt::black, size)
                                     .convertToFormat(QImage::Format_ARGB32);
            QCOMPARE(image.size(), QSize(size, size));
            // The lower half carries the number: a good share of it is ink.
            const int lower = inkInRows(image, size / 2, size);
            QVERIFY2(lower > size * size / 16,
                     qPrintable(QStringLiteral("%1 px at %2").arg(lower).arg(size)));
            // And the symbol is still there above it.
            QVERIFY(inkInRows(image, 0, size * 2 / 5) > 0);
        }
    }

    void differentRatesGiveDifferentImages()
    {
        const auto render = [](const QString &text) {
            return TrayIconImage::render(QStringLiteral("metronome.fill"), text, Qt::black, 22);
        };
        QVERIFY(render(QStringLiteral("44.1k")) != render(QStringLiteral("48k")));
    }

    void theIconIsAMaskInOneColourAtEverySize()
    {
        const QColor color(0xf4, 0xf4, 0xf4);
        const QIcon icon = TrayIconImage::icon(QStringLiteral("exclamationmark.triangle.fill"),
                                               QStringLiteral("44.1k"), color);
        QVERIFY(icon.isMask());
        for (int size : TrayIconImage::sizes()) {
            const QImage image = icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
            QCOMPARE(image.size(), QSize(size, size));
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x)
                    if (qAlpha(image.pixel(x, y)) == 255)
                        QCOMPARE(QColor(image.pixel(x, y)).rgb(), color.rgb());
        }
        for (int size : {16, 22, 24})
            QVERIFY(TrayIconImage::sizes().contains(size));
    }

    void tooltipAndIconColourOfTheStatusItem()
    {
        QCOMPARE(StatusItem::toolTipFor(std::nullopt), QStringLiteral("Quorvel"));
        QCOMPARE(StatusItem::toolTipFor(QStringLiteral("44.1k")), QStringLiteral("Quorvel — 44.1k"));
        QPalette light;
        light.setColor(QPalette::WindowText, Qt::black);
        // Plasma and LXQt hand Qt programs the panel's palette.
        QCOMPARE(StatusItem::iconColorFor(QStringLiteral("KDE"), light), QColor(Qt::black));
        QCOMPARE(StatusItem::iconColorFor(QStringLiteral("LXQt"), light), QColor(Qt::black));
        // GNOME Shell's top bar is dark in both its styles.
        QVERIFY(StatusItem::iconColorFor(QStringLiteral("ubuntu:GNOME"), light).lightness() > 200);
        QVERIFY(StatusItem::iconColorFor(QStringLiteral("XFCE"), light).lightness() > 200);
    }
};

QTEST_MAIN(TestTrayIconImage)
#include "tst_TrayIconImage.moc"
