#pragma once

#include "discovery/ServiceBrowser.h"

#include <QList>

#include <memory>

class AvahiQtPoll;
struct AvahiClient;
struct AvahiServiceBrowser;

// Browses through the system's avahi-daemon on every interface and protocol, in the default
// domain. Ready once the daemon has accepted the browser. No reachable daemon, a daemon that
// goes away or a browser error: failed. avahi has no peer-to-peer links to leave out.
class AvahiBrowser : public ServiceBrowser
{
    Q_OBJECT

public:
    explicit AvahiBrowser(QString serviceType, QObject *parent = nullptr);
    ~AvahiBrowser() override;

    void start() override;
    void stop() override;

private:
    struct Callbacks;
    friend struct Callbacks;

    // One instance as the daemon reports it; a removal names the same five values.
    struct Service
    {
        int interfaceIndex = 0;
        int protocol = 0;
        QString name;
        QString type;
        QString domain;
        friend bool operator==(const Service &, const Service &) = default;
    };

    enum class Phase { Idle, Starting, Ready, Failed, Stopped };

    void createBrowser(AvahiClient *client);
    void fail(const QString &reason);
    void publishServices();
    // Runs the work on a later turn of the event loop unless this object is gone by then.
    template<typename Work> void post(Work work);
    // Frees the avahi objects; never called from inside an avahi callback.
    void release();

    QString m_serviceType;
    std::unique_ptr<AvahiQtPoll> m_poll; // outlives the client, which frees its watches on it
    AvahiClient *m_client = nullptr;
    AvahiServiceBrowser *m_browser = nullptr;
    QList<Service> m_services;
    Phase m_phase = Phase::Idle;
};
