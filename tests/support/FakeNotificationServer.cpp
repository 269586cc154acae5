#include "FakeNotificationServer.h"

#include <QDBusMessage>

namespace {
const QString serviceName = QStringLiteral("org.freedesktop.Notifications");
const QString connectionName = QStringLiteral("quorvel-fake-notifications");
} // namespace

FakeNotificationServer::FakeNotificationServer(const QString &busAddress)
    : m_bus(busAddress.isEmpty() ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName)
                                 : QDBusConnection::connectToBus(busAddress, connectionName))
{
    m_registered = m_bus.isConnected()
        && m_bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                                QDBusConnection::ExportAllSlots)
        && m_bus.registerService(serviceName);
}

FakeNotificationServer::~FakeNotificationServer()
{
    m_bus.unregisterService(serviceName);
    m_bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    QDBusConnection::disconnectFromBus(connectionName);
}

uint FakeNotificationServer::Notify(const QString &appName, uint replacesId, const QString &appIcon,
                                    const QString &summary, const QString &body, const QStringList &actions,
                                    const QVariantMap &, int expireTimeout)
{
    m_notifications.append({appName, replacesId, appIcon, summary, body, actions, expireTimeout});
    if (m_answer == Answer::Fail) {
        sendErrorReply(QDBusError::Failed, QStringLiteral("cannot show notifications now"));
        return 0;
    }
    if (m_answer == Answer::Never) {
        setDelayedReply(true); // and never send it
        return 0;
    }
    return m_nextId++;
}

void FakeNotificationServer::invokeAction(uint id, const QString &key)
{
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                     serviceName, QStringLiteral("ActionInvoked"));
    signal << id << key;
    m_bus.send(signal);
}
