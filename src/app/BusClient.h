#pragma once

#include <QDBusConnection>
#include <QJsonObject>
#include <QObject>
#include <QVariantMap>

class QDBusMessage;

// The command line's side of the session-bus interface: `quorvel status`, `status --json`,
// `watch`, `pause` and `resume` ask the running Quorvel and print its answer.
class BusClient : public QObject
{
    Q_OBJECT

public:
    // Exit statuses beside 0; the help text lists them.
    static constexpr int notRunning = 4;
    static constexpr int failed = 1;

    explicit BusClient(QDBusConnection bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);

    int status(bool json);
    int pause();
    int resume();
    // One JSON line now and one per change, until the event loop ends; a Quorvel that goes
    // away or comes back is a change too.
    int startWatching();

    // The properties as one JSON object for scripts: rates as numbers or null, the history
    // newest first, "running" true.
    static QJsonObject toJson(const QVariantMap &properties);
    // The same for people, a few lines.
    static QString summary(const QJsonObject &status);

private Q_SLOTS:
    void propertiesChanged(const QDBusMessage &message);

private:
    bool isRunning() const;
    std::optional<QVariantMap> fetch(QString *why) const;
    int call(const QString &method);
    void printLine();

    QDBusConnection m_bus;
    QVariantMap m_properties;
    bool m_running = false;
};
