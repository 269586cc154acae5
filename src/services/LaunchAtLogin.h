#pragma once

#include <QObject>
#include <QString>

class Logger;

// Starts Quorvel at login through an XDG autostart entry. The file is the only truth:
// nothing is stored elsewhere, and isEnabled() reads it afresh every time.
class LaunchAtLogin : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isEnabled READ isEnabled NOTIFY isEnabledChanged)

public:
    static inline const QString entryName = QStringLiteral("app.quorvel.Quorvel.desktop");

    // For this user: $XDG_CONFIG_HOME/autostart, the installed or running program, the shared log.
    static LaunchAtLogin &shared();

    // autostartDir: the folder of the entry; program: the absolute path written as Exec.
    LaunchAtLogin(QString autostartDir, QString program, Logger &logger, QObject *parent = nullptr);

    QString entryPath() const;
    // The entry exists and is not Hidden=true.
    bool isEnabled() const;
    // Writes or removes the entry; logs the outcome. Never throws, never asks the user.
    void setEnabled(bool enabled);

Q_SIGNALS:
    // After every setEnabled(), so views re-read isEnabled() even when nothing changed.
    void isEnabledChanged();

private:
    // The entry as written: Exec and TryExec name the program; it starts after the panel.
    QString entryText() const;
    // Creates the folder and writes the entry atomically; false with a readable reason.
    bool writeEntry(QString &failure) const;

    QString m_autostartDir;
    QString m_program;
    Logger &m_logger;
};
