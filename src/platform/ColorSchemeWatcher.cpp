#include "platform/ColorSchemeWatcher.h"

#include "platform/PlatformLogging.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace {
const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearance = QStringLiteral("org.freedesktop.appearance");
const QString colorScheme = QStringLiteral("color-scheme");

// Read wraps the value in one variant more than SettingChanged does; unwrap as many as come.
QVariant unwrapped(QVariant value)
{
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    if (value.userType() == qMetaTypeId<QDBusArgument>()) {
        QDBusVariant inner;
        value.value<QDBusArgument>() >> inner;
        return unwrapped(inner.variant());
    }
    return value;
}
} // namespace

ColorSchemeWatcher::ColorSchemeWatcher(QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
{
    if (!m_bus.isConnected())
        return;
    // A slot that takes the message: SLOT() keeps the spaces clang-format puts between
    // parameters, and QtDBus does not match a signature written that way.
    m_bus.connect(portalService, portalPath, settingsInterface, QStringLiteral("SettingChanged"), this,
                  SLOT(settingChanged(QDBusMessage)));
    QDBusMessage read = QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface,
                                                       QStringLiteral("Read"));
    read << appearance << colorScheme;
    auto *call = new QDBusPendingCallWatcher(m_bus.asyncCall(read), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this, call] {
        call->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *call;
        if (reply.isError()) {
            qCDebug(lcPlatform) << "No colour-scheme preference from the portal:" << reply.error().message();
            return;
        }
        setScheme(schemeFrom(reply.value().variant()));
    });
}

ColorSchemeWatcher::Scheme ColorSchemeWatcher::schemeFrom(const QVariant &value)
{
    bool ok = false;
    const uint preference = unwrapped(value).toUInt(&ok);
    if (!ok)
        return Scheme::Unknown;
    return preference == 1 ? Scheme::Dark : preference == 2 ? Scheme::Light : Scheme::Unknown;
}

void ColorSchemeWatcher::settingChanged(const QDBusMessage &message)
{
    const QVariantList arguments = message.arguments();
    if (arguments.size() == 3 && arguments.at(0).toString() == appearance
        && arguments.at(1).toString() == colorScheme)
        setScheme(schemeFrom(arguments.at(2)));
}

void ColorSchemeWatcher::setScheme(Scheme scheme)
{
    if (m_scheme == scheme)
        return;
    qCDebug(lcPlatform) << "Colour scheme:" << scheme;
    m_scheme = scheme;
    Q_EMIT schemeChanged();
}

QString ColorSchemeWatcher::currentDesktop()
{
    return qEnvironmentVariable("XDG_CURRENT_DESKTOP");
}
