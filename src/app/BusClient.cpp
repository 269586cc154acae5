#include "app/BusClient.h"

#include "app/BusHistoryEntry.h"
#include "app/BusService.h"
#include "core/RateFormat.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>

#include <cstdio>

namespace {

void write(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

const QString notRunningText
    = QStringLiteral("quorvel: Quorvel is not running for this user (nothing answers "
                     "as app.quorvel.Quorvel on the session bus)\n");

BusHistory historyOf(const QVariant &value)
{
    if (value.canConvert<BusHistory>() && value.userType() == qMetaTypeId<BusHistory>())
        return value.value<BusHistory>();
    return qdbus_cast<BusHistory>(value.value<QDBusArgument>());
}

QJsonValue rateOrNull(qint64 hertz)
{
    return hertz > 0 ? QJsonValue(hertz) : QJsonValue(QJsonValue::Null);
}

QString kilohertz(const QJsonValue &rate)
{
    return rate.isDouble() ? RateFormat::kilohertz(rate.toInteger()) : QStringLiteral("—");
}

} // namespace

BusClient::BusClient(QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
{
    qDBusRegisterMetaType<BusHistoryEntry>();
    qDBusRegisterMetaType<BusHistory>();
}

bool BusClient::isRunning() const
{
    return m_bus.isConnected() && m_bus.interface()
        && m_bus.interface()->isServiceRegistered(BusService::serviceName).value();
}

std::optional<QVariantMap> BusClient::fetch(QString *why) const
{
    QDBusMessage getAll = QDBusMessage::createMethodCall(BusService::serviceName, BusService::objectPath,
                                                         QStringLiteral("org.freedesktop.DBus.Properties"),
                                                         QStringLiteral("GetAll"));
    getAll << BusService::interfaceName;
    const QDBusReply<QVariantMap> reply = m_bus.call(getAll, QDBus::Block, 5000);
    if (!reply.isValid()) {
        *why = reply.error().message();
        return std::nullopt;
    }
    return reply.value();
}

int BusClient::status(bool json)
{
    if (!isRunning()) {
        write(stderr, notRunningText);
        return notRunning;
    }
    QString why;
    const std::optional<QVariantMap> properties = fetch(&why);
    if (!properties) {
        write(stderr,
              QStringLiteral("quorvel: the running Quorvel did not answer: ") + why + QLatin1Char('\n'));
        return failed;
    }
    const QJsonObject object = toJson(*properties);
    write(stdout,
          json ? QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + QLatin1Char('\n')
               : summary(object));
    return 0;
}

int BusClient::call(const QString &method)
{
    if (!isRunning()) {
        write(stderr, notRunningText);
        return notRunning;
    }
    const QDBusMessage reply
        = m_bus.call(QDBusMessage::createMethodCall(BusService::serviceName, BusService::objectPath,
                                                    BusService::interfaceName, method),
                     QDBus::Block, 5000);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        write(stderr, QStringLiteral("quorvel: ") + reply.errorMessage() + QLatin1Char('\n'));
        return failed;
    }
    return 0;
}

int BusClient::pause()
{
    return call(QStringLiteral("Pause"));
}

int BusClient::resume()
{
    return call(QStringLiteral("Resume"));
}

int BusClient::startWatching()
{
    if (!m_bus.isConnected()) {
        write(stderr, QStringLiteral("quorvel: no session bus to watch Quorvel on\n"));
        return notRunning;
    }
    auto *watcher = new QDBusServiceWatcher(BusService::serviceName, m_bus,
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &, const QString &, const QString &owner) {
                QString why;
                const std::optional<QVariantMap> properties = owner.isEmpty() ? std::nullopt : fetch(&why);
                m_running = properties.has_value();
                m_properties = properties.value_or(QVariantMap());
                printLine();
            });
    m_bus.connect(BusService::serviceName, BusService::objectPath,
                  QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"),
                  this, SLOT(propertiesChanged(QDBusMessage)));
    QString why;
    const std::optional<QVariantMap> properties = isRunning() ? fetch(&why) : std::nullopt;
    m_running = properties.has_value();
    m_properties = properties.value_or(QVariantMap());
    printLine();
    return 0;
}

void BusClient::propertiesChanged(const QDBusMessage &message)
{
    const QVariantList arguments = message.arguments();
    if (arguments.size() < 2 || arguments.at(0).toString() != BusService::interfaceName)
        return;
    const QVariantMap changed = qdbus_cast<QVariantMap>(arguments.at(1));
    for (auto it = changed.cbegin(); it != changed.cend(); ++it)
        m_properties.insert(it.key(), it.value());
    m_running = true;
    printLine();
}

void BusClient::printLine()
{
    const QJsonObject object
        = m_running ? toJson(m_properties) : QJsonObject {{QStringLiteral("running"), false}};
    write(stdout,
          QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + QLatin1Char('\n'));
}

QJsonObject BusClient::toJson(const QVariantMap &properties)
{
    QJsonArray history;
    for (const BusHistoryEntry &entry : historyOf(properties.value(QStringLiteral("History"))))
        history.append(QJsonObject {{QStringLiteral("time"), entry.time},
                                    {QStringLiteral("from"), rateOrNull(entry.from)},
                                    {QStringLiteral("to"), entry.to}});
    return {
        {QStringLiteral("running"), true},
        {QStringLiteral("connectionState"), properties.value(QStringLiteral("ConnectionState")).toString()},
        {QStringLiteral("host"), properties.value(QStringLiteral("Host")).toString()},
        {QStringLiteral("error"), properties.value(QStringLiteral("Error")).toString()},
        {QStringLiteral("deviceRate"),
         rateOrNull(properties.value(QStringLiteral("DeviceRate")).toLongLong())},
        {QStringLiteral("madiRate"), rateOrNull(properties.value(QStringLiteral("MadiRate")).toLongLong())},
        {QStringLiteral("madiSync"), properties.value(QStringLiteral("MadiSync")).toString()},
        {QStringLiteral("paused"), properties.value(QStringLiteral("Paused")).toBool()},
        {QStringLiteral("rateMismatch"), properties.value(QStringLiteral("RateMismatch")).toBool()},
        {QStringLiteral("legacyToolDetected"),
         properties.value(QStringLiteral("LegacyToolDetected")).toBool()},
        {QStringLiteral("history"), history},
    };
}

QString BusClient::summary(const QJsonObject &status)
{
    const QString state = status.value(u"connectionState").toString();
    const QString host = status.value(u"host").toString();
    QString text;
    if (state == QLatin1String("connected"))
        text = QStringLiteral("Connected to ") + host;
    else if (state == QLatin1String("connecting"))
        text = QStringLiteral("Looking for M-1620 at ") + host + QStringLiteral("…");
    else if (state == QLatin1String("error"))
        text = QStringLiteral("M-1620 not found at ") + host + QStringLiteral(": ")
            + status.value(u"error").toString();
    else
        text = QStringLiteral("Stopped");
    text += QStringLiteral("\nDevice rate   ") + kilohertz(status.value(u"deviceRate"));
    text += QStringLiteral("\nMADI input    ") + kilohertz(status.value(u"madiRate"));
    const QString sync = status.value(u"madiSync").toString();
    if (sync != QLatin1String("unknown"))
        text += QStringLiteral(", ") + sync;
    text += QStringLiteral("\nFollowing     ")
        + (status.value(u"paused").toBool() ? QStringLiteral("paused") : QStringLiteral("on"));
    if (status.value(u"rateMismatch").toBool())
        text += QStringLiteral(
            "\nWarning       the device has run at another rate than its MADI input for 3 s");
    if (status.value(u"legacyToolDetected").toBool())
        text += QStringLiteral(
            "\nWarning       the old M-1620 Rate Sync tool is installed and can fight Quorvel");
    const QJsonArray history = status.value(u"history").toArray();
    if (!history.isEmpty())
        text += QStringLiteral("\nRecent changes");
    for (const QJsonValue &value : history) {
        const QJsonObject entry = value.toObject();
        const QDateTime time = QDateTime::fromMSecsSinceEpoch(entry.value(u"time").toInteger());
        text += QStringLiteral("\n  ") + QLocale().toString(time.time(), QLocale::ShortFormat)
            + QStringLiteral("  ") + kilohertz(entry.value(u"from")) + QStringLiteral(" → ")
            + kilohertz(entry.value(u"to"));
    }
    return text + QLatin1Char('\n');
}
