#pragma once

#include <QProcess>
#include <QString>

// A session bus of the test's own (dbus-daemon), so a test can take it away while the code
// under test is still using it.
class PrivateBus
{
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    // Empty when dbus-daemon could not be started.
    QString address() const { return m_address; }
    // Ends the daemon (by its own id) and waits until it is gone.
    void stop();

private:
    QProcess m_daemon;
    QString m_address;
};
