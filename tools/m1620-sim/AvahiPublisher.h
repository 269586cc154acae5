#pragma once

#include <QObject>
#include <QString>

#include <memory>

class AvahiQtPoll;
struct AvahiClient;
struct AvahiEntryGroup;

// Announces one DNS-SD service through the system's avahi-daemon on every interface and
// protocol, until destroyed. When another host already uses the name, avahi's next
// alternative ("NAME #2", ...) is taken and reported. Reports come from the event loop.
class AvahiPublisher : public QObject
{
    Q_OBJECT

public:
    AvahiPublisher(QString name, QString serviceType, quint16 port, QObject *parent = nullptr);
    ~AvahiPublisher() override;

    // Connects to the daemon and registers the service; once only.
    void start();

    // The name announced or being announced (changes after a collision).
    QString name() const { return m_name; }

    // A DNS-SD instance name: 1 to 63 bytes of UTF-8.
    static bool isValidServiceName(const QString &name);

Q_SIGNALS:
    // The service is announced under this name.
    void established(const QString &name);
    // The service is not announced and will not be; the reason is for people.
    void failed(const QString &reason);

private:
    struct Callbacks;
    friend struct Callbacks;

    static constexpr int maxRenames = 100;

    void addService(AvahiClient *client);
    void takeAlternativeName();
    void fail(const QString &reason);
    template<typename Work> void post(Work work);
    void release();

    QString m_name;
    QString m_serviceType;
    quint16 m_port;
    std::unique_ptr<AvahiQtPoll> m_poll; // outlives the client
    AvahiClient *m_client = nullptr;
    AvahiEntryGroup *m_group = nullptr;
    bool m_started = false;
    bool m_failed = false;
};
