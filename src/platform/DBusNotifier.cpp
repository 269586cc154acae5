#include "platform/DBusNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QVariantMap>

#include <qcoro/qcorodbuspendingcall.h>

namespace {
// Most notification servers read the body as markup; escaped, a host name or an error text
// shows as written.
QString escapeMarkup(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'&')
            escaped += QStringLiteral("&amp;");
        else if (c == u'<')
            escaped += QStringLiteral("&lt;");
        else if (c == u'>')
            escaped += QStringLiteral("&gt;");
        else
            escaped += c;
    }
    return escaped;
}
} // namespace

DBusNotifier::DBusNotifier(QDBusConnection bus)
    : m_bus(std::move(bus))
{ }

QCoro::Task<> DBusNotifier::post(const QString &title, const QString &body)
{
    if (!m_bus.isConnected())
        co_return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // replaces_id 0: every notification is a fresh one; expire -1: the server's default.
    call << QStringLiteral("Quorvel") << 0u << QStringLiteral("app.quorvel.Quorvel") << title
         << escapeMarkup(body) << QStringList()
         << QVariantMap {{QStringLiteral("desktop-entry"), QStringLiteral("app.quorvel.Quorvel")}} << -1;
    // The answer, error or not, is not looked at: a notification that cannot be shown is dropped.
    co_await qCoro(m_bus.asyncCall(call, callTimeoutMs)).waitForFinished();
}
