#pragma once

#include "platform/Notifier.h"

#include <QDBusConnection>

// Desktop notifications through org.freedesktop.Notifications on the session bus.
class DBusNotifier final : public Notifier
{
public:
    // Gives up on a notification server that does not answer within this time, so a hung
    // server can never stall the caller for D-Bus's default 25 seconds.
    static constexpr int callTimeoutMs = 2000;

    explicit DBusNotifier(QDBusConnection bus = QDBusConnection::sessionBus());

    QCoro::Task<> post(const QString &title, const QString &body) override;

private:
    QDBusConnection m_bus;
};
