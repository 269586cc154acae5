#include "ui/panel/TrayIconImage.h"

#include "ui/widgets/SymbolImage.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPixmap>

#include <cmath>

namespace {

// The biggest bold font whose rendering of text fits the box; narrower faces are tried
// before smaller sizes, since a condensed digit is easier to read than a tiny one.
QFont fittingFont(const QString &text, const QSizeF &box)
{
    QFont font;
    font.setWeight(QFont::Bold);
    font.setHintingPreference(QFont::PreferFullHinting);
    const int largest = std::max(6, int(std::floor(box.height() * 1.05)));
    for (int pixels = largest; pixels >= 5; --pixels) {
        font.setPixelSize(pixels);
        for (int stretch : {int(QFont::Unstretched), int(QFont::SemiCondensed), int(QFont::Condensed)}) {
            font.setStretch(stretch);
            const QFontMetricsF metrics(font);
            if (metrics.horizontalAdvance(text) <= box.width() && metrics.capHeight() <= box.height())
                return font;
        }
    }
    return font;
}

} // namespace

const QList<int> &TrayIconImage::sizes()
{
    static const QList<int> all {16, 20, 22, 24, 32, 40, 44, 48, 64, 96, 128};
    return all;
}

QColor TrayIconImage::inkColor(TrayInk::Kind ink, const QPalette &palette)
{
    switch (ink) {
    case TrayInk::Kind::PaletteText:
        return palette.color(QPalette::WindowText);
    case TrayInk::Kind::Light:
        return QColor(0xf4, 0xf4, 0xf4);
    case TrayInk::Kind::Dark:
        return QColor(0x1c, 0x1c, 0x1c);
    case TrayInk::Kind::MidTone:
        break;
    }
    return QColor(0x7a, 0x7a, 0x7a);
}

QImage TrayIconImage::render(const QString &symbol, const std::optional<QString> &rateText, bool rateStale,
                             const QColor &color, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    if (!rateText) {
        painter.drawPixmap(0, 0, SymbolImage::pixmap(symbol, size, color));
        return image;
    }

    // The symbol keeps the upper part, just big enough to tell its three shapes apart; the
    // rate takes the rest at the full width, because the number is what the user reads.
    const int symbolSize = std::max(7, int(std::lround(size * 0.46)));
    painter.drawPixmap((size - symbolSize) / 2, 0, SymbolImage::pixmap(symbol, symbolSize, color));

    const qreal gap = std::max(1.0, size * 0.04);
    const QRectF textBox(0, symbolSize + gap, size, size - symbolSize - gap);
    const QFont font = fittingFont(*rateText, textBox.size());
    const QFontMetricsF metrics(font);
    painter.setFont(font);
    painter.setPen(color);
    // Centred on the cap height, so the digits sit in the middle of their band.
    const qreal x = (size - metrics.horizontalAdvance(*rateText)) / 2.0;
    const qreal baseline = textBox.top() + (textBox.height() + metrics.capHeight()) / 2.0;
    painter.drawText(QPointF(x, std::round(baseline)), *rateText);
    if (rateStale) {
        // Through the middle of the digits and a pixel past them, one pixel thin at panel
        // sizes so that the digits under it stay readable.
        const qreal thickness = std::max(1.0, std::floor(size / 24.0));
        const qreal y = std::round(baseline - metrics.capHeight() / 2.0 - thickness / 2.0);
        painter.fillRect(
            QRectF(std::floor(x) - 1, y, std::ceil(metrics.horizontalAdvance(*rateText)) + 2, thickness),
            color);
    }
    return image;
}

QIcon TrayIconImage::icon(const QString &symbol, const std::optional<QString> &rateText, bool rateStale,
                          const QColor &color)
{
    QIcon icon;
    for (int size : sizes())
        icon.addPixmap(QPixmap::fromImage(render(symbol, rateText, rateStale, color, size)));
    icon.setIsMask(true);
    return icon;
}
