#pragma once

#include <QObject>
#include <QStringList>

// A DNS-SD browser for one service type in the default domain. It reports through signals
// only, each delivered from the event loop and never from inside start() or stop(), so a
// receiver may stop or delete the browser. After stop() nothing more is reported.
// One browse per object: start() a second time does nothing.
class ServiceBrowser : public QObject
{
    Q_OBJECT

public:
    // Where a service instance answers, as DNS-SD resolved it.
    struct Endpoint
    {
        QString hostName; // e.g. "m1620-a1b2.local"
        QString address; // IPv4, e.g. "169.254.7.1"
        quint16 port = 0;
        friend bool operator==(const Endpoint &, const Endpoint &) = default;
    };

    using QObject::QObject;
    ~ServiceBrowser() override;

    virtual void start() = 0;
    virtual void stop() = 0;
    // Looks up the host and port of a service this browser has reported. Answers with exactly
    // one resolved() or resolveFailed() for that name, unless the browser is stopped first.
    virtual void resolve(const QString &serviceName) = 0;

Q_SIGNALS:
    // The browser is up and reporting.
    void ready();
    // Browsing has ended for good; the reason is for people, never parsed.
    void failed(const QString &reason);
    // The complete current set of service names after every addition or removal, and once the
    // first answers are all in (even when there are none), one entry per service instance (the
    // same name on two interfaces or protocols appears twice).
    void servicesChanged(const QStringList &serviceNames);
    void resolved(const QString &serviceName, const ServiceBrowser::Endpoint &endpoint);
    // The reason is for people, never parsed.
    void resolveFailed(const QString &serviceName, const QString &reason);
};
