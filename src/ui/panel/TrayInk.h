#pragma once

#include "platform/ColorSchemeWatcher.h"

#include <QString>

// Which ink the tray icon and the tray menu's symbols are drawn in. A tray icon with the rate in
// it is a picture that most hosts show as it is, on a panel whose colour we are not told; the
// rule picks the ink from what the desktop does say. The colours themselves are
// TrayIconImage's.
class TrayInk
{
public:
    enum class Kind {
        PaletteText, // the palette's own text colour, where it is the panel's
        Light, // for a dark panel
        Dark, // for a light panel
        MidTone, // holds 3:1 against light and dark panels alike
    };

    TrayInk() = delete;

    // currentDesktop is XDG_CURRENT_DESKTOP (a colon-separated list).
    static Kind forIcon(const QString &currentDesktop, ColorSchemeWatcher::Scheme scheme);
    // A StatusNotifierItem's menu is drawn by the tray host in its own colours, which our
    // palette does not know: the preference where there is one, else the mid tone, which reads
    // on light and dark menus alike.
    static Kind forMenu(const QString &currentDesktop, ColorSchemeWatcher::Scheme scheme);
};
