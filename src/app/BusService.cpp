#include "app/BusService.h"

#include "core/AppState.h"
#include "quorvel1adaptor.h"
#include "services/AppSettings.h"
#include "sync/SyncEngine.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QTimer>

BusService::BusService(AppState &state, AppSettings &settings, SyncEngine &sync,
                       std::function<void()> showPanel, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_settings(settings)
    , m_sync(sync)
    , m_showPanel(std::move(showPanel))
    , m_bus(QString())
{
    qDBusRegisterMetaType<BusHistoryEntry>();
    qDBusRegisterMetaType<BusHistory>();
    new Quorvel1Adaptor(this);
    if (!m_state.history().isEmpty())
        m_newestChange = m_state.history().first().id();

    for (const auto changed :
         {&AppState::connectionStateChanged, &AppState::deviceRateChanged, &AppState::madiRateChanged,
          &AppState::madiSyncChanged, &AppState::isPausedChanged, &AppState::rateMismatchChanged,
          &AppState::legacyScriptDetectedChanged})
        connect(&m_state, changed, this, &BusService::announceSoon);
    connect(&m_state, &AppState::historyChanged, this, &BusService::historyChanged);
    connect(&m_settings, &AppSettings::effectiveHostChanged, this, &BusService::announceSoon);
}

BusService::~BusService()
{
    if (m_bus.isConnected()) {
        m_bus.unregisterObject(objectPath);
        m_bus.unregisterService(serviceName);
    }
}

QString BusService::registerOn(QDBusConnection bus)
{
    if (!bus.isConnected())
        return QStringLiteral("no session bus");
    if (!bus.registerObject(objectPath, this))
        return bus.lastError().message();
    if (!bus.registerService(serviceName)) {
        const QString why = bus.lastError().message();
        bus.unregisterObject(objectPath);
        return why;
    }
    m_bus = bus;
    m_announced = properties();
    return {};
}

QString BusService::connectionState() const
{
    switch (m_state.connectionState().kind()) {
    case ConnectionState::Kind::Connected:
        return QStringLiteral("connected");
    case ConnectionState::Kind::Connecting:
        return QStringLiteral("connecting");
    case ConnectionState::Kind::Error:
        return QStringLiteral("error");
    case ConnectionState::Kind::Disconnected:
        break;
    }
    return QStringLiteral("stopped");
}

QString BusService::host() const
{
    return m_settings.effectiveHost();
}

QString BusService::error() const
{
    return m_state.connectionState().message();
}

qint64 BusService::deviceRate() const
{
    return m_state.deviceRate().value_or(0);
}

qint64 BusService::madiRate() const
{
    return m_state.madiRate().value_or(0);
}

QString BusService::madiSync() const
{
    if (!m_state.madiSync())
        return QStringLiteral("unknown");
    return *m_state.madiSync() ? QStringLiteral("locked") : QStringLiteral("no signal");
}

bool BusService::paused() const
{
    return m_state.isPaused();
}

bool BusService::rateMismatch() const
{
    return m_state.rateMismatch();
}

bool BusService::legacyToolDetected() const
{
    return m_state.legacyScriptDetected();
}

BusHistory BusService::history() const
{
    BusHistory entries;
    for (const RateChange &change : m_state.history())
        entries.append({change.timestamp().toMSecsSinceEpoch(), change.from().value_or(0), change.to()});
    return entries;
}

QVariantMap BusService::properties() const
{
    return {
        {QStringLiteral("ConnectionState"), connectionState()},
        {QStringLiteral("Host"), host()},
        {QStringLiteral("Error"), error()},
        {QStringLiteral("DeviceRate"), deviceRate()},
        {QStringLiteral("MadiRate"), madiRate()},
        {QStringLiteral("MadiSync"), madiSync()},
        {QStringLiteral("Paused"), paused()},
        {QStringLiteral("RateMismatch"), rateMismatch()},
        {QStringLiteral("LegacyToolDetected"), legacyToolDetected()},
        {QStringLiteral("History"), QVariant::fromValue(history())},
    };
}

void BusService::Pause()
{
    if (!m_state.isPaused())
        m_sync.togglePause();
}

void BusService::Resume()
{
    if (m_state.isPaused())
        m_sync.togglePause();
}

void BusService::ShowPanel()
{
    if (m_showPanel) {
        m_showPanel();
        return;
    }
    if (calledFromDBus())
        sendErrorReply(QStringLiteral("app.quorvel.Quorvel1.Error.NoPanel"),
                       QStringLiteral("This Quorvel runs headless and has no panel"));
}

void BusService::historyChanged()
{
    const RateHistory changes = m_state.history();
    if (!changes.isEmpty() && changes.first().id() != m_newestChange) {
        m_newestChange = changes.first().id();
        Q_EMIT RateChanged(changes.first().from().value_or(0), changes.first().to());
    }
    announceSoon();
}

// A poll changes several values at once; they go out together, in one signal.
void BusService::announceSoon()
{
    if (m_announcing || !m_bus.isConnected())
        return;
    m_announcing = true;
    QTimer::singleShot(0, this, &BusService::announce);
}

void BusService::announce()
{
    m_announcing = false;
    const QVariantMap now = properties();
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        const QVariant before = m_announced.value(it.key());
        const bool same = it.key() == QLatin1String("History")
            ? before.value<BusHistory>() == it.value().value<BusHistory>()
            : before == it.value();
        if (!same)
            changed.insert(it.key(), it.value());
    }
    m_announced = now;
    if (changed.isEmpty())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(
        objectPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"));
    signal << interfaceName << changed << QStringList();
    m_bus.send(signal);
}
