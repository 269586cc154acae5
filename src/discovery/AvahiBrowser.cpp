#include "discovery/AvahiBrowser.h"

#include "discovery/AvahiQtPoll.h"
#include "discovery/DiscoveryLogging.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>

namespace {
QString errorText(int error)
{
    return QString::fromUtf8(avahi_strerror(error));
}
} // namespace

// avahi calls these from inside its own dispatch. They only record what happened and post the
// reports, so that no receiver ever runs on avahi's stack.
struct AvahiBrowser::Callbacks
{
    static void client(AvahiClient *client, AvahiClientState state, void *userdata)
    {
        auto *self = static_cast<AvahiBrowser *>(userdata);
        qCDebug(lcDiscovery) << "avahi client state" << state;
        switch (state) {
        case AVAHI_CLIENT_S_RUNNING:
        case AVAHI_CLIENT_S_REGISTERING:
        case AVAHI_CLIENT_S_COLLISION:
            // The daemon is there; browsing works whatever its own host name is doing.
            self->createBrowser(client);
            break;
        case AVAHI_CLIENT_FAILURE:
            self->fail(errorText(avahi_client_errno(client)));
            break;
        case AVAHI_CLIENT_CONNECTING:
            break;
        }
    }

    static void browse(AvahiServiceBrowser *browser, AvahiIfIndex interfaceIndex, AvahiProtocol protocol,
                       AvahiBrowserEvent event, const char *name, const char *type, const char *domain,
                       AvahiLookupResultFlags, void *userdata)
    {
        auto *self = static_cast<AvahiBrowser *>(userdata);
        if (self->m_phase != Phase::Ready)
            return;
        switch (event) {
        case AVAHI_BROWSER_NEW: {
            const Service service {interfaceIndex, protocol, QString::fromUtf8(name), QString::fromUtf8(type),
                                   QString::fromUtf8(domain)};
            qCDebug(lcDiscovery) << "service added:" << service.name << "interface" << interfaceIndex
                                 << "protocol" << protocol;
            if (!self->m_services.contains(service)) {
                self->m_services.append(service);
                self->publishServices();
            }
            break;
        }
        case AVAHI_BROWSER_REMOVE: {
            const Service service {interfaceIndex, protocol, QString::fromUtf8(name), QString::fromUtf8(type),
                                   QString::fromUtf8(domain)};
            qCDebug(lcDiscovery) << "service removed:" << service.name << "interface" << interfaceIndex
                                 << "protocol" << protocol;
            if (self->m_services.removeOne(service))
                self->publishServices();
            break;
        }
        case AVAHI_BROWSER_FAILURE:
            self->fail(errorText(avahi_client_errno(avahi_service_browser_get_client(browser))));
            break;
        case AVAHI_BROWSER_ALL_FOR_NOW:
            // A new browser names only what is there, so without this a service that went
            // away before it started would never be reported gone.
            qCDebug(lcDiscovery) << "all reported for now:" << self->m_services.size() << "services";
            self->publishServices();
            break;
        case AVAHI_BROWSER_CACHE_EXHAUSTED:
            break;
        }
    }
};

template<typename Work> void AvahiBrowser::post(Work work)
{
    QMetaObject::invokeMethod(
        this,
        [this, work = std::move(work)] {
            if (m_phase != Phase::Stopped)
                work();
        },
        Qt::QueuedConnection);
}

AvahiBrowser::AvahiBrowser(QString serviceType, QObject *parent)
    : ServiceBrowser(parent)
    , m_serviceType(std::move(serviceType))
    , m_poll(std::make_unique<AvahiQtPoll>())
{ }

AvahiBrowser::~AvahiBrowser()
{
    release();
}

void AvahiBrowser::start()
{
    if (m_phase != Phase::Idle)
        return;
    m_phase = Phase::Starting;
    int error = 0;
    // The daemon may already answer inside this call, creating the browser from the callback.
    AvahiClient *client
        = avahi_client_new(m_poll->api(), AvahiClientFlags(0), &Callbacks::client, this, &error);
    if (!client) {
        fail(errorText(error));
        return;
    }
    m_client = client;
}

void AvahiBrowser::stop()
{
    m_phase = Phase::Stopped;
    release();
}

void AvahiBrowser::createBrowser(AvahiClient *client)
{
    if (m_phase != Phase::Starting || m_browser)
        return;
    const QByteArray type = m_serviceType.toUtf8();
    m_browser = avahi_service_browser_new(client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, type.constData(),
                                          nullptr, AvahiLookupFlags(0), &Callbacks::browse, this);
    if (!m_browser) {
        fail(errorText(avahi_client_errno(client)));
        return;
    }
    m_phase = Phase::Ready;
    post([this] { Q_EMIT ready(); });
}

void AvahiBrowser::fail(const QString &reason)
{
    if (m_phase == Phase::Failed || m_phase == Phase::Stopped)
        return;
    qCDebug(lcDiscovery) << "avahi browsing failed:" << reason;
    m_phase = Phase::Failed;
    post([this, reason] {
        release();
        Q_EMIT failed(reason);
    });
}

void AvahiBrowser::publishServices()
{
    QStringList names;
    names.reserve(m_services.size());
    for (const Service &service : std::as_const(m_services))
        names.append(service.name);
    post([this, names] { Q_EMIT servicesChanged(names); });
}

void AvahiBrowser::release()
{
    if (m_browser) {
        avahi_service_browser_free(m_browser);
        m_browser = nullptr;
    }
    if (m_client) {
        avahi_client_free(m_client);
        m_client = nullptr;
    }
}
