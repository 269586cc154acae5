#include "ui/widgets/FormStyle.h"

#include <QFontDatabase>
#include <QWidget>

#include <algorithm>

bool FormStyle::isDark(const QPalette &palette)
{
    return palette.color(QPalette::Window).lightness() < 128;
}

QFont FormStyle::scaled(const QFont &base, qreal scale, QFont::Weight weight)
{
    QFont font(base);
    if (base.pointSizeF() > 0)
        font.setPointSizeF(base.pointSizeF() * scale);
    else
        font.setPixelSize(std::max(1, qRound(base.pixelSize() * scale)));
    font.setWeight(weight);
    return font;
}

QFont FormStyle::caption(const QFont &base)
{
    return scaled(base, 0.85);
}

QFont FormStyle::headline(const QFont &base)
{
    return scaled(base, 1.0, QFont::Bold);
}

QFont FormStyle::subheadline(const QFont &base)
{
    return scaled(base, 0.93, QFont::DemiBold);
}

QFont FormStyle::sectionTitle(const QFont &base)
{
    return scaled(base, 0.85, QFont::DemiBold);
}

QFont FormStyle::monospace(const QFont &base, qreal scale)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::Monospace);
    if (base.pointSizeF() > 0)
        font.setPointSizeF(base.pointSizeF() * scale);
    else
        font.setPixelSize(std::max(1, qRound(base.pixelSize() * scale)));
    return font;
}

QColor FormStyle::secondary(const QPalette &palette)
{
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.55f);
    return color;
}

QColor FormStyle::green(const QPalette &palette)
{
    return isDark(palette) ? QColor(0x30, 0xd1, 0x58) : QColor(0x1f, 0x9d, 0x3c);
}

QColor FormStyle::red(const QPalette &palette)
{
    return isDark(palette) ? QColor(0xff, 0x45, 0x3a) : QColor(0xd7, 0x1f, 0x1f);
}

QColor FormStyle::yellow(const QPalette &palette)
{
    return isDark(palette) ? QColor(0xff, 0xd6, 0x0a) : QColor(0xf5, 0xc2, 0x00);
}

QColor FormStyle::orange(const QPalette &palette)
{
    return isDark(palette) ? QColor(0xff, 0x9f, 0x0a) : QColor(0xf0, 0x8c, 0x00);
}

QColor FormStyle::sectionSurface(const QPalette &palette)
{
    // A step lighter than the window in a light theme, a step lighter still in a dark one.
    const QColor window = palette.color(QPalette::Window);
    return isDark(palette) ? window.lighter(125) : palette.color(QPalette::Base);
}

QColor FormStyle::sectionOutline(const QPalette &palette)
{
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(isDark(palette) ? 0.14f : 0.11f);
    return color;
}

QColor FormStyle::rowSeparator(const QPalette &palette)
{
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.09f);
    return color;
}

QColor FormStyle::divider(const QPalette &palette)
{
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.14f);
    return color;
}

void FormStyle::setTextColor(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}
