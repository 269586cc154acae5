#pragma once

#include <QString>
#include <QStringList>

// What the old script-based tool left on this machine, as one detection found it, and the
// shell command that removes exactly that. Quorvel never runs the command; the user pastes it.
struct LegacyTraces
{
    static inline const QString successLine = QStringLiteral("Old M-1620 Rate Sync removed");

    bool processRunning = false;
    // Files the user owns: the agent's property list, autostart entries.
    QStringList userFiles;
    // Unit files under $XDG_CONFIG_HOME/systemd/user.
    QStringList userUnits;
    // Unit files of the system's service manager, removed as administrator.
    QStringList systemUnits;
    // Other files outside the user's reach: the daemon's property list, system autostart entries.
    QStringList systemFiles;

    bool isEmpty() const;
    bool usesSudo() const;
    // One step per trace, joined so that successLine is printed only when every step
    // succeeded: the running script is ended, its units stopped and disabled, then the files
    // go. sudo only for what lies outside the user's reach.
    QString removalCommand() const;

    friend bool operator==(const LegacyTraces &, const LegacyTraces &) = default;
};
