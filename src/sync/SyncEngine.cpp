#include "sync/SyncEngine.h"

#include "core/AppState.h"
#include "core/RateFormat.h"
#include "device/M1620Client.h"
#include "device/SupportedRates.h"
#include "platform/Clock.h"
#include "platform/Notifier.h"
#include "services/AppSettings.h"
#include "services/Logger.h"
#include "sync/LegacyScriptDetector.h"
#include "sync/SyncLogging.h"

using namespace std::chrono;

namespace {
const QString arrow = QStringLiteral(" → ");

int loopsRunning = 0;

template<typename T> QString shown(const std::optional<T> &value)
{
    if (!value)
        return QStringLiteral("absent");
    if constexpr (std::is_same_v<T, bool>)
        return *value ? QStringLiteral("true") : QStringLiteral("false");
    else
        return QString::number(*value);
}

// Counts a loop for as long as its coroutine frame lives.
struct LoopCount
{
    LoopCount() { ++loopsRunning; }
    ~LoopCount() { --loopsRunning; }
    LoopCount(const LoopCount &) = delete;
    LoopCount &operator=(const LoopCount &) = delete;
};
} // namespace

SyncEngine::SyncEngine(AppState &state, AppSettings &settings, Services services, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_settings(settings)
    , m_services(services)
{
    Q_ASSERT(m_services.client && m_services.clock && m_services.notifier && m_services.logger
             && m_services.legacyDetector);
}

// The loops hold a guard and end at their next step once the engine is gone.
SyncEngine::~SyncEngine() = default;

int SyncEngine::runningLoops()
{
    return loopsRunning;
}

LegacyTraces SyncEngine::legacyTraces() const
{
    return m_services.legacyDetector->lastTraces();
}

void SyncEngine::start()
{
    if (m_started)
        return;
    m_started = true;
    m_services.logger->info(QStringLiteral("Sync starting (host: ") + m_settings.effectiveHost()
                            + QLatin1Char(')'));
    m_task.emplace(pollingLoop());
    m_legacyTask.emplace(legacyWatchLoop());
}

void SyncEngine::togglePause()
{
    const bool paused = !m_state.isPaused();
    m_state.setPaused(paused);
    m_services.logger->info(paused ? QStringLiteral("Sync paused") : QStringLiteral("Sync resumed"));
}

QCoro::Task<M1620Result<DeviceStatus>> SyncEngine::testConnection(const QString &host)
{
    M1620Client client(host);
    co_return co_await client.fetchStatus();
}

QCoro::Task<> SyncEngine::pollingLoop()
{
    const LoopCount counted;
    const QPointer<SyncEngine> alive(this);
    m_state.setConnectionState(ConnectionState::connecting());
    bool wasConnected = false;
    for (;;) {
        const QString host = m_settings.effectiveHost();
        DeviceClient *const client = m_services.client;
        client->updateHost(host);
        const M1620Result<DeviceStatus> result = co_await client->fetchStatus();
        if (!alive)
            co_return;
        if (result.ok())
            qCDebug(lcSync).noquote()
                << "reading from" << host << "device" << shown(result.value().deviceRate) << "MADI"
                << shown(result.value().madiRate) << "sync" << shown(result.value().madiSync);
        else
            qCDebug(lcSync).noquote()
                << "no reading from" << host << "-" << result.error().errorDescription();

        bool rateWasSet = false;
        if (result.ok()) {
            if (!wasConnected || !m_lastConnectedHost || *m_lastConnectedHost != host) {
                m_state.setConnectionState(ConnectionState::connected(host));
                m_services.logger->info(QStringLiteral("Connected to ") + host);
                m_lastConnectedHost = host;
            }
            // Published together, with no suspension between, so no view sees half a reading.
            const DeviceStatus &status = result.value();
            m_state.setDeviceRate(status.deviceRate);
            m_state.setMadiRate(status.madiRate);
            m_state.setMadiSync(status.madiSync);
            rateWasSet = co_await followRate(status);
            if (!alive)
                co_return;
        } else {
            co_await handleConnectionLoss(result.error(), wasConnected);
            if (!alive)
                co_return;
        }
        wasConnected = result.ok();
        Q_EMIT pollFinished();
        if (!alive)
            co_return;

        // After a successful set-rate the device gets a pause to settle before the usual interval.
        if (rateWasSet) {
            co_await m_services.clock->sleep(afterSetRateDelay);
            if (!alive)
                co_return;
        }
        const milliseconds wait = result.ok() ? connectedInterval : disconnectedInterval;
        qCDebug(lcSync) << "next poll in" << (rateWasSet ? afterSetRateDelay + wait : wait).count() << "ms";
        co_await m_services.clock->sleep(wait);
        if (!alive)
            co_return;
    }
}

QCoro::Task<bool> SyncEngine::followRate(const DeviceStatus &status)
{
    const QPointer<SyncEngine> alive(this);
    const std::optional<qint64> device = status.deviceRate;
    const std::optional<qint64> madi = status.madiRate;

    if (madi && m_lastMadiRate && *madi != *m_lastMadiRate)
        m_services.logger->info(QStringLiteral("MADI input rate changed: ") + QString::number(*m_lastMadiRate)
                                + arrow + QString::number(*madi) + QStringLiteral(" Hz"));
    m_lastMadiRate = madi;

    updateMismatch(status);

    // Lock is consulted only when the user asks for it: an input without lock is followed by default.
    const bool locked = status.madiSync.value_or(false);
    const bool settled = madiSettled(madi);
    const bool due = madi && !m_state.isPaused() && device && SupportedRates::contains(*madi)
        && *device != *madi && (locked || !m_settings.followOnlyWhenLocked());
    if (due && !settled && !m_steadyMadi->waitLogged) {
        m_steadyMadi->waitLogged = true;
        m_services.logger->info(
            QStringLiteral("MADI input at ") + QString::number(*madi) + QStringLiteral(" Hz — waiting ")
            + QString::number(m_settings.settleMilliseconds()) + QStringLiteral(" ms for it to settle"));
    }
    if (!due || !settled)
        co_return false;

    m_services.logger->info(QStringLiteral("Syncing ") + QString::number(*device) + arrow
                            + QString::number(*madi) + QStringLiteral(" Hz"));
    const M1620Result<M1620Done> set = co_await m_services.client->setRate(*madi);
    if (!alive)
        co_return false;
    if (!set.ok()) {
        m_services.logger->warn(QStringLiteral("Set rate failed: ") + set.error().errorDescription());
        co_return false;
    }
    m_state.recordRateChange(device, *madi);
    Q_EMIT rateSet(device, *madi, m_services.client->host());
    if (!alive)
        co_return false;
    if (m_settings.notifyOnRateChange()) {
        co_await postNotification(QStringLiteral("Sample rate changed"),
                                  QStringLiteral("M-1620 set to ") + RateFormat::kilohertz(*madi));
        if (!alive)
            co_return false;
    }
    m_services.logger->info(QStringLiteral("Set rate to ") + QString::number(*madi) + QStringLiteral(" Hz"));
    co_return true;
}

bool SyncEngine::madiSettled(std::optional<qint64> madi)
{
    if (!madi) {
        m_steadyMadi.reset();
        return false;
    }
    const steady_clock::time_point now = m_services.clock->monotonicNow();
    if (!m_steadyMadi || m_steadyMadi->rate != *madi)
        m_steadyMadi = SteadyMadi {.rate = *madi, .since = now};
    return now - m_steadyMadi->since >= milliseconds(m_settings.settleMilliseconds());
}

void SyncEngine::updateMismatch(const DeviceStatus &status)
{
    const bool candidate = status.madiSync.value_or(false) && status.deviceRate && status.madiRate
        && SupportedRates::contains(*status.madiRate) && *status.deviceRate != *status.madiRate;
    if (!candidate) {
        m_mismatchSince.reset();
        m_state.setRateMismatch(false);
        return;
    }
    if (!m_mismatchSince)
        m_mismatchSince = m_services.clock->monotonicNow();
    const duration<double> elapsed = m_services.clock->monotonicNow() - *m_mismatchSince;
    m_state.setRateMismatch(elapsed.count() >= mismatchGrace);
}

QCoro::Task<> SyncEngine::handleConnectionLoss(const M1620Error &error, bool wasConnected)
{
    const QPointer<SyncEngine> alive(this);
    const QString description = error.errorDescription();
    if (wasConnected) {
        m_services.logger->warn(QStringLiteral("Lost connection: ") + description);
        if (m_settings.notifyOnDisconnect()) {
            co_await postNotification(QStringLiteral("M-1620 disconnected"), description);
            if (!alive)
                co_return;
        }
    }
    m_state.setConnectionState(ConnectionState::error(description));
    // Unread polls cannot vouch for a steady rate: the settle time starts again at the next reading.
    m_steadyMadi.reset();
    m_mismatchSince.reset();
    m_state.setRateMismatch(false);
}

QCoro::Task<> SyncEngine::postNotification(const QString &title, const QString &body)
{
    co_await m_services.notifier->post(title, body);
}

QCoro::Task<> SyncEngine::legacyWatchLoop()
{
    const LoopCount counted;
    const QPointer<SyncEngine> alive(this);
    for (;;) {
        const bool detected = co_await m_services.legacyDetector->detect();
        if (!alive)
            co_return;
        if (detected != m_state.legacyScriptDetected()) {
            m_state.setLegacyScriptDetected(detected);
            if (detected)
                m_services.logger->warn(
                    QStringLiteral("Old M-1620 Rate Sync script detected — it also sets the sample rate"));
            else
                m_services.logger->info(QStringLiteral("Old M-1620 Rate Sync script no longer detected"));
        }
        if (detected && !m_legacyNotified) {
            m_legacyNotified = true;
            co_await postNotification(QStringLiteral("Old M-1620 Rate Sync is still installed"),
                                      QStringLiteral("It changes the sample rate on its own and can fight "
                                                     "Quorvel. Open Quorvel for how to remove it."));
            if (!alive)
                co_return;
        }
        co_await m_services.clock->sleep(legacyCheckInterval);
        if (!alive)
            co_return;
    }
}
