#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

// Our own monochrome symbols, under the names the views ask for ("metronome.fill",
// "gearshape", …). Each is drawn in one colour that the caller picks, so one file serves light
// and dark surroundings alike.
class SymbolImage
{
public:
    // Every symbol name there is a drawing for.
    static const QStringList &names();
    static bool exists(const QString &name);

    // The symbol, size × size device-independent pixels at the given pixel ratio, in color.
    // Null for an unknown name.
    static QPixmap pixmap(const QString &name, int size, const QColor &color, qreal devicePixelRatio = 1.0);

    // The symbol at any size the caller asks for, drawn afresh for each (no blurry scaling).
    // Disabled mode draws it faded. A mask icon: its shape is what counts, not its colour.
    static QIcon icon(const QString &name, const QColor &color);

    // The coloured application icon.
    static QIcon appIcon();
    static QPixmap appPixmap(int size, qreal devicePixelRatio = 1.0);
};
