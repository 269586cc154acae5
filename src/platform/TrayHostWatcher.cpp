#include "platform/TrayHostWatcher.h"

#include "platform/PlatformLogging.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>

#include <xcb/xcb.h>

namespace {
const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString watcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");

// Whether some client owns the XEmbed tray selection of the default screen; false off X11.
bool xembedTrayOwned()
{
    const auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return false;
    // ":0.1" names screen 1; the screen's number is the selection's suffix.
    const QByteArray display = qgetenv("DISPLAY");
    const qsizetype dot = display.lastIndexOf('.');
    const int screen = dot > display.lastIndexOf(':') ? display.mid(dot + 1).toInt() : 0;
    const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(screen);
    xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, uint16_t(name.size()), name.constData()), nullptr);
    if (!atom)
        return false;
    const xcb_atom_t selection = atom->atom;
    free(atom);
    if (selection == XCB_ATOM_NONE)
        return false; // nobody ever made the atom, so nobody owns it
    xcb_get_selection_owner_reply_t *owner
        = xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr);
    const bool owned = owner && owner->owner != XCB_WINDOW_NONE;
    free(owner);
    return owned;
}
} // namespace

TrayHostWatcher::TrayHostWatcher(QDBusConnection bus, QObject *parent)
    : TrayHost(parent)
    , m_bus(std::move(bus))
{
    if (m_bus.isConnected()) {
        m_serviceWatcher
            = new QDBusServiceWatcher(watcherService, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(m_serviceWatcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this](const QString &, const QString &, const QString &newOwner) {
                    if (newOwner.isEmpty())
                        hostUnregistered();
                    else
                        askWatcher();
                });
        // The signals come from whoever owns the name now, so a restarted watcher is heard too.
        m_bus.connect(watcherService, watcherPath, watcherInterface,
                      QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(askWatcher()));
        m_bus.connect(watcherService, watcherPath, watcherInterface,
                      QStringLiteral("StatusNotifierHostUnregistered"), this, SLOT(askWatcher()));
        askWatcher();
    }
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        connect(&m_xembedPoll, &QTimer::timeout, this, &TrayHostWatcher::pollXEmbed);
        m_xembedPoll.start(xembedPollMs);
        pollXEmbed();
    }
}

TrayHostWatcher::~TrayHostWatcher() = default;

void TrayHostWatcher::askWatcher()
{
    const quint64 question = ++m_question;
    QDBusMessage get = QDBusMessage::createMethodCall(watcherService, watcherPath,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << watcherInterface << QStringLiteral("IsStatusNotifierHostRegistered");
    auto *call = new QDBusPendingCallWatcher(m_bus.asyncCall(get), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this, call, question] {
        call->deleteLater();
        if (question != m_question)
            return;
        const QDBusPendingReply<QDBusVariant> reply = *call;
        const bool registered = !reply.isError() && reply.value().variant().toBool();
        qCDebug(lcPlatform) << "StatusNotifierItem host registered:" << registered
                            << (reply.isError() ? reply.error().message() : QString());
        if (registered && !m_statusNotifierHost)
            Q_EMIT statusNotifierHostRegistered();
        setStatusNotifierHost(registered);
    });
}

void TrayHostWatcher::hostUnregistered()
{
    ++m_question;
    setStatusNotifierHost(false);
}

void TrayHostWatcher::setStatusNotifierHost(bool registered)
{
    if (m_statusNotifierHost == registered)
        return;
    const bool wasAvailable = isAvailable();
    m_statusNotifierHost = registered;
    if (wasAvailable != isAvailable())
        Q_EMIT availableChanged();
}

void TrayHostWatcher::pollXEmbed()
{
    const bool owned = xembedTrayOwned();
    if (owned == m_xembedTray)
        return;
    qCDebug(lcPlatform) << "XEmbed tray present:" << owned;
    // Qt's XEmbed icon docks again by itself when a tray replaces another, so once one is
    // there nothing needs to be asked again.
    if (owned)
        m_xembedPoll.stop();
    const bool wasAvailable = isAvailable();
    m_xembedTray = owned;
    if (wasAvailable != isAvailable())
        Q_EMIT availableChanged();
}
