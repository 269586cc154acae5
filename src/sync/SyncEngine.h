#pragma once

#include "device/DeviceStatus.h"
#include "device/M1620Result.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

class AppSettings;
class AppState;
class Clock;
class DeviceClient;
class LegacyScriptDetector;
class Logger;
class Notifier;
struct LegacyTraces;

// Polls the device, follows its MADI input rate, handles a lost device and watches for the
// legacy script. The only writer of AppState. Runs on the main thread; its two loops are
// coroutines that suspend at every request and every wait.
class SyncEngine : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds connectedInterval {500};
    static constexpr std::chrono::milliseconds disconnectedInterval {3000};
    static constexpr std::chrono::milliseconds afterSetRateDelay {2000};
    static constexpr std::chrono::milliseconds legacyCheckInterval {30000};
    static constexpr double mismatchGrace = 3.0; // seconds; exactly 3.0 counts

    // What the engine reaches the outside world through; tests replace any of them.
    struct Services
    {
        DeviceClient *client = nullptr; // polled for the host of the moment
        Clock *clock = nullptr;
        Notifier *notifier = nullptr;
        Logger *logger = nullptr;
        const LegacyScriptDetector *legacyDetector = nullptr;
    };

    // The services must outlive the engine.
    SyncEngine(AppState &state, AppSettings &settings, Services services, QObject *parent = nullptr);
    ~SyncEngine() override;

    // Loops of any engine still running; after an engine is deleted its loops end at their
    // next step, which a clean exit waits for.
    static int runningLoops();

    // Starts the polling loop and the legacy watch; a second call does nothing.
    void start();
    bool isStarted() const { return m_started; }
    // Pauses or resumes rate following; polling goes on either way.
    void togglePause();

    // One status read of host with a client of its own. Touches no state and logs nothing.
    static QCoro::Task<M1620Result<DeviceStatus>> testConnection(const QString &host);

    // What the legacy watch's last check found, so the removal command names exactly that.
    LegacyTraces legacyTraces() const;
    // A lasting-mismatch candidate is being timed.
    bool mismatchPending() const { return m_mismatchSince.has_value(); }
    // The settings the engine reads before every poll, for views that explain what it does.
    const AppSettings &settings() const { return m_settings; }

Q_SIGNALS:
    // After every poll's reading has been handled (success or failure); for observers and tests.
    void pollFinished();
    // The device took a new rate at the engine's request (from is its rate before, if known).
    void rateSet(std::optional<qint64> from, qint64 to, const QString &host);

private:
    QCoro::Task<> pollingLoop();
    QCoro::Task<> legacyWatchLoop();
    // True when the device rate was set, which lengthens the wait before the next poll.
    QCoro::Task<bool> followRate(const DeviceStatus &status);
    void updateMismatch(const DeviceStatus &status);
    // Whether the MADI rate has read the same for the settle time, timed across readings.
    bool madiSettled(std::optional<qint64> madi);
    QCoro::Task<> handleConnectionLoss(const M1620Error &error, bool wasConnected);
    QCoro::Task<> postNotification(const QString &title, const QString &body);

    AppState &m_state;
    AppSettings &m_settings;
    Services m_services;
    std::optional<QCoro::Task<>> m_task;
    std::optional<QCoro::Task<>> m_legacyTask;
    bool m_started = false;
    bool m_legacyNotified = false;
    // Monotonic, so a wall-clock jump can neither raise nor hide the warning.
    std::optional<std::chrono::steady_clock::time_point> m_mismatchSince;
    std::optional<qint64> m_lastMadiRate;
    // The MADI rate being timed for the settle time, since when, and whether its wait was logged.
    struct SteadyMadi
    {
        qint64 rate = 0;
        std::chrono::steady_clock::time_point since;
        bool waitLogged = false;
    };
    std::optional<SteadyMadi> m_steadyMadi;
    std::optional<QString> m_lastConnectedHost;
};
