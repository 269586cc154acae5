#pragma once

#include <QObject>

#include <memory>

class AutostartEntry;
class Logger;

// Whether Quorvel starts at login. The system's autostart entry is the only truth: nothing is
// stored elsewhere, and isEnabled() asks it afresh every time.
class LaunchAtLogin : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isEnabled READ isEnabled NOTIFY isEnabledChanged)

public:
    // For this user: the XDG autostart entry of the running program, the shared log.
    static LaunchAtLogin &shared();

    LaunchAtLogin(std::unique_ptr<AutostartEntry> entry, Logger &logger, QObject *parent = nullptr);
    ~LaunchAtLogin() override;

    bool isEnabled() const;
    // Changes the entry and logs the outcome. Never throws, never asks the user.
    void setEnabled(bool enabled);

Q_SIGNALS:
    // After every setEnabled(), so views re-read isEnabled() even when nothing changed.
    void isEnabledChanged();

private:
    std::unique_ptr<AutostartEntry> m_entry;
    Logger &m_logger;
};
