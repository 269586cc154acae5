#pragma once

#include "discovery/ServiceBrowser.h"

#include <QStringList>

// A browser that tests drive by hand. Like a real one, it reports only from the event loop, and
// nothing once stopped.
class FakeServiceBrowser : public ServiceBrowser
{
    Q_OBJECT

public:
    using ServiceBrowser::ServiceBrowser;

    void start() override { ++startCount; }
    void stop() override { ++stopCount; }
    void resolve(const QString &serviceName) override { resolving.append(serviceName); }

    void becomeReady() { post(&ServiceBrowser::ready); }
    void fail(const QString &reason = QStringLiteral("test failure"))
    {
        post(&ServiceBrowser::failed, reason);
    }
    void report(const QStringList &names) { post(&ServiceBrowser::servicesChanged, names); }
    void answer(const QString &name, const Endpoint &endpoint)
    {
        post(&ServiceBrowser::resolved, name, endpoint);
    }
    void refuse(const QString &name, const QString &reason)
    {
        post(&ServiceBrowser::resolveFailed, name, reason);
    }

    QStringList resolving; // the names asked for, in order
    int startCount = 0;
    int stopCount = 0;

private:
    template<typename... Args, typename... Values>
    void post(void (ServiceBrowser::*signal)(Args...), const Values &...values)
    {
        QMetaObject::invokeMethod(
            this, [=, this] { stopCount == 0 ? (this->*signal)(values...) : void(); }, Qt::QueuedConnection);
    }
};
