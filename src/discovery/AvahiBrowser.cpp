#include "discovery/AvahiBrowser.h"

#include "discovery/AvahiQtPoll.h"
#include "discovery/DiscoveryLogging.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/address.h>
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

    static void resolve(AvahiServiceResolver *, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event,
                        const char *, const char *, const char *, const char *hostName,
                        const AvahiAddress *address, uint16_t port, AvahiStringList *, AvahiLookupResultFlags,
                        void *userdata)
    {
        auto *pending = static_cast<Resolve *>(userdata);
        AvahiBrowser *self = pending->browser;
        const QString name = pending->name;
        if (event == AVAHI_RESOLVER_FOUND && hostName && address) {
            char text[AVAHI_ADDRESS_STR_MAX] = {};
            avahi_address_snprint(text, sizeof text, address);
            const Endpoint endpoint {QString::fromUtf8(hostName), QString::fromUtf8(text), port};
            qCDebug(lcDiscovery) << "resolved" << name << "to" << endpoint.hostName << endpoint.address
                                 << port;
            self->post([self, name, endpoint] { Q_EMIT self->resolved(name, endpoint); });
        } else {
            const QString reason = errorText(avahi_client_errno(self->m_client));
            qCDebug(lcDiscovery) << "resolving" << name << "failed:" << reason;
            self->post([self, name, reason] { Q_EMIT self->resolveFailed(name, reason); });
        }
        // avahi allows freeing a resolver from its own callback.
        avahi_service_resolver_free(pending->resolver);
        self->m_resolves.remove_if([pending](const Resolve &r) { return &r == pending; });
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

void AvahiBrowser::resolve(const QString &serviceName)
{
    const auto seen = std::find_if(m_services.cbegin(), m_services.cend(),
                                   [&serviceName](const Service &s) { return s.name == serviceName; });
    if (m_phase != Phase::Ready || seen == m_services.cend()) {
        post([this, serviceName] {
            Q_EMIT resolveFailed(serviceName, QStringLiteral("The device is no longer on the network."));
        });
        return;
    }
    Resolve &pending = m_resolves.emplace_back(Resolve {this, serviceName, nullptr});
    pending.resolver = avahi_service_resolver_new(
        m_client, seen->interfaceIndex, seen->protocol, seen->name.toUtf8().constData(),
        seen->type.toUtf8().constData(), seen->domain.toUtf8().constData(), AVAHI_PROTO_INET,
        AvahiLookupFlags(0), &Callbacks::resolve, &pending);
    if (!pending.resolver) {
        const QString reason = errorText(avahi_client_errno(m_client));
        m_resolves.pop_back();
        post([this, serviceName, reason] { Q_EMIT resolveFailed(serviceName, reason); });
    }
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
    for (const Resolve &pending : m_resolves)
        avahi_service_resolver_free(pending.resolver);
    m_resolves.clear();
    if (m_browser) {
        avahi_service_browser_free(m_browser);
        m_browser = nullptr;
    }
    if (m_client) {
        avahi_client_free(m_client);
        m_client = nullptr;
    }
}
