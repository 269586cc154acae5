#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QList>
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

    // One square image, size × size pixels, in one colour on transparency.
    static QImage render(const QString &symbol, const std::optional<QString> &rateText, const QColor &color,
                         int size);
    // A mask icon made of render() at every size.
    static QIcon icon(const QString &symbol, const std::optional<QString> &rateText, const QColor &color);
};
