#pragma once

#include "ui/panel/TrayInk.h"

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QList>
#include <QPalette>
#include <QString>

#include <optional>

// The status item's picture. Trays on Linux show one square image and no text beside it, so
// when the rate is shown it is drawn into the image: the symbol above, the rate below, both
// sized to stay legible at the 16–24 pixels a panel gives.
class TrayIconImage
{
public:
    // The sizes the icon carries, so that every tray finds an exact one to show unscaled.
    static const QList<int> &sizes();

    // The colour of each ink. MidTone is a grey of relative luminance about 0.2, which keeps
    // 3.8:1 against both a #f2f2f2 and a #202020 panel.
    static QColor inkColor(TrayInk::Kind ink, const QPalette &palette);

    // One square image, size × size pixels, in one colour on transparency. A stale rate is
    // struck through: it is the last one read, and the device is not there now.
    static QImage render(const QString &symbol, const std::optional<QString> &rateText, bool rateStale,
                         const QColor &color, int size);
    // A mask icon made of render() at every size.
    static QIcon icon(const QString &symbol, const std::optional<QString> &rateText, bool rateStale,
                      const QColor &color);
};
