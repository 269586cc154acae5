#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

class QWidget;

// The one table of text styles and colours for every window, derived from the desktop's own
// font and palette so that they follow the user's choices: headline, caption and monospaced
// texts, dimmed secondary text, the colours that carry meaning, the grouped sections' surfaces
// and the panel's dividers.
class FormStyle
{
public:
    FormStyle() = delete;

    // The side of a symbol beside a row's text or on a button, in logical pixels.
    static constexpr int symbolSize = 16;

    static bool isDark(const QPalette &palette);

    // The base font scaled, for the caption (0.85) and the section titles.
    static QFont scaled(const QFont &base, qreal scale, QFont::Weight weight = QFont::Normal);
    static QFont caption(const QFont &base);
    static QFont headline(const QFont &base);
    static QFont subheadline(const QFont &base);
    static QFont sectionTitle(const QFont &base);
    // The desktop's fixed-pitch font at the size of base scaled.
    static QFont monospace(const QFont &base, qreal scale = 1.0);

    static QColor secondary(const QPalette &palette);
    static QColor green(const QPalette &palette);
    static QColor red(const QPalette &palette);
    static QColor yellow(const QPalette &palette);
    static QColor orange(const QPalette &palette);
    // The rounded surface a section's rows sit on, its outline and the hairline between rows.
    static QColor sectionSurface(const QPalette &palette);
    static QColor sectionOutline(const QPalette &palette);
    static QColor rowSeparator(const QPalette &palette);
    // The hairline between the panel's sections.
    static QColor divider(const QPalette &palette);

    // Sets the colour a label or a field draws its text in.
    static void setTextColor(QWidget *widget, const QColor &color);
};
