#pragma once

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

class Clock;
class HttpClient;
class Logger;
class Notifier;
class SettingsStore;
struct HttpOutcome;

// Checks for a newer Quorvel in an appcast (RSS 2.0 with the sparkle namespace) at a feed
// URL fixed at build time. It tells the user about a newer version and opens its download
// page; it never installs anything. With no feed URL a check is never possible, which is
// right where updates come from the package manager.
class UpdateController : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)
    Q_PROPERTY(bool automaticallyChecksForUpdates READ automaticallyChecksForUpdates WRITE
                   setAutomaticallyChecksForUpdates NOTIFY automaticallyChecksForUpdatesChanged)

public:
    // What a check found, for the user.
    struct Outcome
    {
        enum class Kind { UpToDate, NewerVersion, Failed };
        Kind kind = Kind::Failed;
        QString version; // the newer version's display version
        QUrl releaseNotes; // may be empty
        QUrl downloadPage; // where the user gets it
        QString errorMessage; // for Failed: readable, one line
    };

    // The switch's key in the settings store.
    static inline const QString automaticallyChecksKey = QStringLiteral("automaticallyChecksForUpdates");
    // Scheduled checks: the first soon after start (or after the switch is turned on), so it
    // never slows start-up, then once a day.
    static constexpr std::chrono::milliseconds firstScheduledCheckDelay {60 * 1000};
    static constexpr std::chrono::milliseconds scheduledCheckInterval {24 * 60 * 60 * 1000};
    static constexpr std::chrono::milliseconds defaultTimeout {15 * 1000};

    // What this build checks against; shared() fills it from the build.
    struct Config
    {
        QUrl feedUrl; // empty or not http(s): no check is ever possible
        QString currentVersion; // the running program's version
        QString systemVersion; // compared with an item's minimum system version; empty: any
        std::chrono::milliseconds timeout = defaultTimeout; // for the whole fetch
    };

    // What the controller reaches the outside world through; they must outlive it.
    struct Services
    {
        Clock *clock = nullptr; // times the scheduled checks
        Notifier *notifier = nullptr; // the gentle reminder of scheduled checks
        Logger *logger = nullptr;
    };

    // Started at launch: on BuildInfo, the shared settings store, the system clock, desktop
    // notifications and the shared log.
    static UpdateController &shared();

    // Starts the schedule at once when the switch is on.
    UpdateController(Config config, SettingsStore &store, Services services, QObject *parent = nullptr);
    ~UpdateController() override;

    // The part of a kernel release that is a version ("6.1.0" of "6.1.0-18-amd64").
    static QString kernelVersion(const QString &release);
    // Reads a fetched feed against the running version; never Failed for a readable feed.
    static Outcome evaluate(const QByteArray &feed, const Config &config);

    QUrl feedUrl() const { return m_config.feedUrl; }
    bool hasFeed() const;
    bool isChecking() const { return m_checking; }

    bool canCheckForUpdates() const;
    // A check the user asked for; its outcome comes as userCheckFinished().
    void checkForUpdates();

    bool automaticallyChecksForUpdates() const;
    void setAutomaticallyChecksForUpdates(bool enabled);

Q_SIGNALS:
    void canCheckForUpdatesChanged();
    void automaticallyChecksForUpdatesChanged();
    void userCheckFinished(const UpdateController::Outcome &outcome);
    // After every scheduled check, whatever it found; for observers and tests.
    void scheduledCheckFinished(const UpdateController::Outcome &outcome);

private:
    void startCheck(bool userInitiated);
    QCoro::Task<> fetch();
    Outcome outcomeOf(const HttpOutcome &fetched) const;
    void deliver(const Outcome &outcome);
    void restartSchedule();
    QCoro::Task<> scheduleLoop(quint64 generation);

    Config m_config;
    SettingsStore &m_store;
    Services m_services;
    std::unique_ptr<HttpClient> m_http; // null without a usable feed
    std::optional<QCoro::Task<>> m_fetch; // the one check in flight
    bool m_checking = false;
    bool m_userInitiated = false;
    bool m_automaticallyChecks = false;
    quint64 m_scheduleGeneration = 0; // a loop of an older generation ends when it wakes
    std::optional<QCoro::Task<>> m_scheduleTask;
    QSet<QString> m_announcedVersions; // reminded of once per run
};
