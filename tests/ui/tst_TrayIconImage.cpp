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
                = TrayIconImage::render(QStringLiteral("metronome.fill"), std::nullopt, false, color, size);
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
            const QImage image
                = TrayIconImage::render(QStringLiteral("metronome"), text, false, Qt::black, size)
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

    void differentRatesAndAStaleRateGiveDifferentImages()
    {
        const auto render = [](const QString &text, bool stale) {
            return TrayIconImage::render(QStringLiteral("metronome"), text, stale, Qt::black, 22)
                .convertToFormat(QImage::Format_ARGB32);
        };
        QVERIFY(render(QStringLiteral("44.1k"), false) != render(QStringLiteral("48k"), false));
        QVERIFY(render(QStringLiteral("48k"), true)
                != render(QStringLiteral("48k"), false)); // struck through
    }

    void theIconIsAMaskInOneColourAtEverySize()
    {
        const QColor color(0xf4, 0xf4, 0xf4);
        const QIcon icon = TrayIconImage::icon(QStringLiteral("exclamationmark.triangle.fill"),
                                               QStringLiteral("44.1k"), true, color);
        QVERIFY(icon.isMask());
        for (int size : TrayIconImage::sizes()) {
            const QImage image = icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
            QCOMPARE(image.size(), QSize(size, size));
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x)
                    if (qAlpha(image.pixel(x, y)) == 255)
                        QCOMPARE(QColor(image.pixel(x, y)).rgb(), color.rgb());
        }
    }

    void inkFollowsTheDesktopAndItsPreference()
    {
        using S = ColorSchemeWatcher::Scheme;
        using K = TrayInk::Kind;
        // Plasma and LXQt hand Qt programs the panel's palette; GNOME Shell's bar is dark in both
        // styles; elsewhere the preference decides, and without one a mid tone holds on either.
        // Menus follow the preference, not GNOME's bar.
        for (auto [desktop, scheme, icon, menu] :
             {std::tuple {"KDE", S::Light, K::PaletteText, K::PaletteText},
              {"ubuntu:GNOME", S::Light, K::Light, K::Dark},
              {"XFCE", S::Dark, K::Light, K::Light},
              {"sway", S::Light, K::Dark, K::Dark},
              {"XFCE", S::Unknown, K::MidTone, K::MidTone}}) {
            QCOMPARE(TrayInk::forIcon(QString::fromLatin1(desktop), scheme), icon);
            QCOMPARE(TrayInk::forMenu(QString::fromLatin1(desktop), scheme), menu);
        }
    }
};

QTEST_MAIN(TestTrayIconImage)
#include "tst_TrayIconImage.moc"
