#pragma once

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

// A desktop notification server on the test's private session bus, with a connection of
// its own, that records every notification it is asked to show.
class FakeNotificationServer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Notification
    {
        QString appName;
        uint replacesId = 0;
        QString icon;
        QString summary;
        QString body;
    };

    FakeNotificationServer();
    ~FakeNotificationServer() override;

    // False when the name could not be taken (no session bus).
    bool isRegistered() const { return m_registered; }
    QList<Notification> notifications() const { return m_notifications; }
    QStringList summaries() const;
    void clear() { m_notifications.clear(); }

public Q_SLOTS:
    uint Notify(const QString &appName, uint replacesId, const QString &appIcon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int expireTimeout);
    QStringList GetCapabilities();
    QString GetServerInformation(QString &vendor, QString &version, QString &specVersion);

Q_SIGNALS:
    void notified();

private:
    QDBusConnection m_bus;
    bool m_registered = false;
    uint m_nextId = 1;
    QList<Notification> m_notifications;
};
