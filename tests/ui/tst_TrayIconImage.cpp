// The tray icon and the symbols it, the panel and the menus are drawn from.
#include "ui/panel/TrayIconImage.h"
#include "ui/widgets/SymbolImage.h"

#include <QImage>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Inked pixels in the rows [top, bottom); -1 when an opaque one is not in the given colour.
int ink(const QImage &source, int top, int bottom, const QColor &only = {})
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    int count = 0;
    for (int y = top; y < bottom; ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (only.isValid() && qAlpha(pixel) == 255 && QColor(pixel).rgb() != only.rgb())
                return -1;
            count += qAlpha(pixel) > 40 ? 1 : 0;
        }
    }
    return count;
}

} // namespace

class TestTrayIconImage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Readable at tray and menu sizes, and only in the caller's colour.
    void everySymbolTheViewsUseIsDrawn()
    {
        const QColor color(0x20, 0x60, 0xa0);
        for (const QString &name :
             u"metronome metronome.fill exclamationmark.triangle.fill pause.circle "
             u"arrow.triangle.2.circlepath "
             "power.circle arrow.down.circle gearshape power network dot.radiowaves.left.and.right"_s.split(
                 u' ')) {
            const int pixels = ink(SymbolImage::pixmap(name, 16, color).toImage(), 0, 16, color);
            QVERIFY2(pixels > 16 * 16 / 8 && pixels < 16 * 16, qPrintable(name));
        }
        QVERIFY(SymbolImage::pixmap(u"no.such.symbol"_s, 16, Qt::black).isNull());
        QCOMPARE(SymbolImage::pixmap(u"gearshape"_s, 16, Qt::black, 2.0).size(), QSize(32, 32));
    }

    void theRateIsDrawnLegiblyBelowTheSymbolInOneColourAtEverySize()
    {
        const QColor color(0xf4, 0xf4, 0xf4);
        const QIcon icon = TrayIconImage::icon(u"metronome"_s, u"176.4k"_s, false, color);
        QVERIFY(icon.isMask());
        for (int size : TrayIconImage::sizes()) {
            const QImage image = icon.pixmap(size, size).toImage();
            QCOMPARE(image.size(), QSize(size, size));
            const int lower = ink(image, size / 2, size, color);
            QVERIFY2(lower > size * size / 16, qPrintable(u"%1 px at %2"_s.arg(lower).arg(size)));
            QVERIFY(ink(image, 0, size * 2 / 5) > 0); // and the symbol above it
        }
        // Without a rate it is the symbol alone; a stale rate is struck through.
        const auto render = [](std::optional<QString> text, bool stale) {
            return TrayIconImage::render(u"metronome"_s, text, stale, Qt::white, 22)
                .convertToFormat(QImage::Format_ARGB32);
        };
        QCOMPARE(render({}, false),
                 SymbolImage::pixmap(u"metronome"_s, 22, Qt::white)
                     .toImage()
                     .convertToFormat(QImage::Format_ARGB32));
        QVERIFY(render(u"44.1k"_s, false) != render(u"48k"_s, false));
        QVERIFY(render(u"48k"_s, true) != render(u"48k"_s, false));
    }

    void inkFollowsTheDesktopAndItsPreference()
    {
        using S = ColorSchemeWatcher::Scheme;
        using K = TrayInk::Kind;
        // Plasma hands Qt programs the panel's palette; GNOME Shell's bar is always dark (its
        // menus are not); elsewhere the preference decides, and without one a mid tone holds.
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
