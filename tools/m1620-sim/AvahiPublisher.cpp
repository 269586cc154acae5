#include "AvahiPublisher.h"

#include "discovery/AvahiQtPoll.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/domain.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>

namespace {
QString errorText(int error)
{
    return QString::fromUtf8(avahi_strerror(error));
}
} // namespace

struct AvahiPublisher::Callbacks
{
    static void client(AvahiClient *client, AvahiClientState state, void *userdata)
    {
        auto *self = static_cast<AvahiPublisher *>(userdata);
        switch (state) {
        case AVAHI_CLIENT_S_RUNNING:
            self->addService(client);
            break;
        case AVAHI_CLIENT_S_COLLISION:
        case AVAHI_CLIENT_S_REGISTERING:
            // The daemon is renaming its host; the records come back once it runs again.
            if (self->m_group)
                avahi_entry_group_reset(self->m_group);
            break;
        case AVAHI_CLIENT_FAILURE:
            self->fail(errorText(avahi_client_errno(client)));
            break;
        case AVAHI_CLIENT_CONNECTING:
            break;
        }
    }

    static void group(AvahiEntryGroup *group, AvahiEntryGroupState state, void *userdata)
    {
        auto *self = static_cast<AvahiPublisher *>(userdata);
        switch (state) {
        case AVAHI_ENTRY_GROUP_ESTABLISHED: {
            const QString name = self->m_name;
            self->post([self, name] { Q_EMIT self->established(name); });
            break;
        }
        case AVAHI_ENTRY_GROUP_COLLISION: {
            self->takeAlternativeName();
            avahi_entry_group_reset(group);
            self->addService(avahi_entry_group_get_client(group));
            break;
        }
        case AVAHI_ENTRY_GROUP_FAILURE:
            self->fail(errorText(avahi_client_errno(avahi_entry_group_get_client(group))));
            break;
        case AVAHI_ENTRY_GROUP_UNCOMMITED:
        case AVAHI_ENTRY_GROUP_REGISTERING:
            break;
        }
    }
};

template<typename Work> void AvahiPublisher::post(Work work)
{
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

AvahiPublisher::AvahiPublisher(QString name, QString serviceType, quint16 port, QObject *parent)
    : QObject(parent)
    , m_name(std::move(name))
    , m_serviceType(std::move(serviceType))
    , m_port(port)
    , m_poll(std::make_unique<AvahiQtPoll>())
{ }

AvahiPublisher::~AvahiPublisher()
{
    release();
}

void AvahiPublisher::start()
{
    if (m_started)
        return;
    m_started = true;
    int error = 0;
    AvahiClient *client
        = avahi_client_new(m_poll->api(), AvahiClientFlags(0), &Callbacks::client, this, &error);
    if (!client) {
        fail(errorText(error));
        return;
    }
    m_client = client;
}

void AvahiPublisher::addService(AvahiClient *client)
{
    if (m_failed)
        return;
    if (!m_group) {
        m_group = avahi_entry_group_new(client, &Callbacks::group, this);
        if (!m_group) {
            fail(errorText(avahi_client_errno(client)));
            return;
        }
    }
    if (!avahi_entry_group_is_empty(m_group))
        return;
    const QByteArray type = m_serviceType.toUtf8();
    int error = AVAHI_ERR_COLLISION;
    // A name that a service of this machine already holds is refused at once rather than
    // reported as a collision later.
    for (int attempt = 0; error == AVAHI_ERR_COLLISION && attempt < maxRenames; ++attempt) {
        if (attempt > 0)
            takeAlternativeName();
        error = avahi_entry_group_add_service(m_group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                              AvahiPublishFlags(0), m_name.toUtf8().constData(),
                                              type.constData(), nullptr, nullptr, m_port, nullptr);
    }
    if (error == AVAHI_OK)
        error = avahi_entry_group_commit(m_group);
    if (error != AVAHI_OK)
        fail(errorText(error));
}

void AvahiPublisher::takeAlternativeName()
{
    char *alternative = avahi_alternative_service_name(m_name.toUtf8().constData());
    m_name = QString::fromUtf8(alternative);
    avahi_free(alternative);
}

bool AvahiPublisher::isValidServiceName(const QString &name)
{
    return avahi_is_valid_service_name(name.toUtf8().constData()) != 0;
}

void AvahiPublisher::fail(const QString &reason)
{
    if (m_failed)
        return;
    m_failed = true;
    // Freed on a later turn: avahi objects must not be freed from inside their own callbacks.
    post([this, reason] {
        release();
        Q_EMIT failed(reason);
    });
}

void AvahiPublisher::release()
{
    if (m_group) {
        avahi_entry_group_free(m_group);
        m_group = nullptr;
    }
    if (m_client) {
        avahi_client_free(m_client);
        m_client = nullptr;
    }
}
