#pragma once

#include "discovery/ServiceBrowser.h"

#include <QList>

#include <list>
#include <memory>

class AvahiQtPoll;
struct AvahiClient;
struct AvahiServiceBrowser;
struct AvahiServiceResolver;

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
    // Resolves on the interface and protocol where the service was seen, asking for an IPv4
    // address: an IPv6 link-local one would need its interface, which a host text cannot carry.
    void resolve(const QString &serviceName) override;

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

    // A resolve in flight; its address is avahi's userdata, so it must not move.
    struct Resolve
    {
        AvahiBrowser *browser = nullptr;
        QString name;
        AvahiServiceResolver *resolver = nullptr;
    };

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
    std::list<Resolve> m_resolves;
    Phase m_phase = Phase::Idle;
};
