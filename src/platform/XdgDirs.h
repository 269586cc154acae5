#pragma once

#include <QString>

// The user's XDG base folders. A variable that is unset, empty or relative is ignored, as the
// XDG rules require, and the default under the home folder is taken instead.
class XdgDirs
{
public:
    XdgDirs() = delete;

    // $XDG_CONFIG_HOME, else ~/.config: settings and the autostart entry.
    static QString configHome();
    // The same for the given home folder rather than $HOME's.
    static QString configHomeOf(const QString &home);
    // $XDG_STATE_HOME, else ~/.local/state: the log.
    static QString stateHome();
};
