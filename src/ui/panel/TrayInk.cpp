#include "ui/panel/TrayInk.h"

#include <QStringList>

namespace {

bool isOneOf(const QString &currentDesktop, std::initializer_list<QLatin1String> names)
{
    const QStringList desktops = currentDesktop.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &desktop : desktops) {
        for (QLatin1String name : names) {
            if (desktop.compare(name, Qt::CaseInsensitive) == 0)
                return true;
        }
    }
    return false;
}

// Plasma and LXQt hand Qt programs the panel's own palette.
bool givesPanelPalette(const QString &currentDesktop)
{
    return isOneOf(currentDesktop, {QLatin1String("KDE"), QLatin1String("LXQt")});
}

// A dark preference means dark panels and menus, so a light ink, and the other way round.
TrayInk::Kind byPreference(ColorSchemeWatcher::Scheme scheme, TrayInk::Kind otherwise)
{
    switch (scheme) {
    case ColorSchemeWatcher::Scheme::Dark:
        return TrayInk::Kind::Light;
    case ColorSchemeWatcher::Scheme::Light:
        return TrayInk::Kind::Dark;
    case ColorSchemeWatcher::Scheme::Unknown:
        break;
    }
    return otherwise;
}

} // namespace

TrayInk::Kind TrayInk::forIcon(const QString &currentDesktop, ColorSchemeWatcher::Scheme scheme)
{
    if (givesPanelPalette(currentDesktop))
        return Kind::PaletteText;
    // GNOME Shell's top bar stays dark when the user prefers light applications.
    if (isOneOf(currentDesktop, {QLatin1String("GNOME"), QLatin1String("Unity")}))
        return Kind::Light;
    return byPreference(scheme, Kind::MidTone);
}

TrayInk::Kind TrayInk::forMenu(const QString &currentDesktop, ColorSchemeWatcher::Scheme scheme)
{
    if (givesPanelPalette(currentDesktop))
        return Kind::PaletteText;
    return byPreference(scheme, Kind::MidTone);
}
