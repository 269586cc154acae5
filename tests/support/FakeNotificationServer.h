#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

// A desktop notification server on the test's private session bus (or the bus at a given
// address), with a connection of its own, that records every notification it is asked to
// show, and can refuse them or never answer.
class FakeNotificationServer : public QObject, protected QDBusContext
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
        QStringList actions;
        int expireTimeout = -1;
    };

    enum class Answer { Show, Fail, Never };

    explicit FakeNotificationServer(const QString &busAddress = {});
    ~FakeNotificationServer() override;

    // False when the name could not be taken (no session bus).
    bool isRegistered() const { return m_registered; }
    QList<Notification> notifications() const { return m_notifications; }
    void setAnswer(Answer answer) { m_answer = answer; }
    // As if the user clicked the notification id (key "default") or one of its buttons.
    void invokeAction(uint id, const QString &key);

public Q_SLOTS:
    uint Notify(const QString &appName, uint replacesId, const QString &appIcon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int expireTimeout);

private:
    QDBusConnection m_bus;
    bool m_registered = false;
    Answer m_answer = Answer::Show;
    uint m_nextId = 1;
    QList<Notification> m_notifications;
};
