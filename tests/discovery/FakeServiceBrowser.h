#pragma once

#include "discovery/ServiceBrowser.h"

#include <QStringList>

// A browser that tests drive by hand. Like a real one, it reports only from the event loop:
// each call queues its report.
class FakeServiceBrowser : public ServiceBrowser
{
    Q_OBJECT

public:
    using ServiceBrowser::ServiceBrowser;

    void start() override { ++startCount; }
    void stop() override { ++stopCount; }
    void resolve(const QString &serviceName) override { resolving.append(serviceName); }

    void becomeReady()
    {
        post([this] { Q_EMIT ready(); });
    }
    void fail(const QString &reason = QStringLiteral("test failure"))
    {
        post([this, reason] { Q_EMIT failed(reason); });
    }
    void report(const QStringList &names)
    {
        post([this, names] { Q_EMIT servicesChanged(names); });
    }

    void answer(const QString &name, const Endpoint &endpoint)
    {
        post([this, name, endpoint] { Q_EMIT resolved(name, endpoint); });
    }
    void refuse(const QString &name, const QString &reason)
    {
        post([this, name, reason] { Q_EMIT resolveFailed(name, reason); });
    }

    QStringList resolving; // the names asked for, in order
    int startCount = 0;
    int stopCount = 0;

private:
    template<typename Work> void post(Work work)
    {
        QMetaObject::invokeMethod(
            this,
            [this, work] {
                if (stopCount == 0)
                    work();
            },
            Qt::QueuedConnection);
    }
};
