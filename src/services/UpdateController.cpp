#include "services/UpdateController.h"

#include "core/BuildInfo.h"
#include "device/HttpClient.h"
#include "platform/Clock.h"
#include "platform/DBusNotifier.h"
#include "platform/LinuxMachineInfo.h"
#include "platform/Notifier.h"
#include "platform/SystemClock.h"
#include "services/Appcast.h"
#include "services/Logger.h"
#include "services/ServicesLogging.h"
#include "services/SettingsStore.h"
#include "services/VersionNumber.h"

#include <QPointer>
#include <QRegularExpression>

#include <arpa/inet.h>

namespace {

bool isLoopback(const QString &host)
{
    in_addr v4 {};
    in6_addr v6 {};
    const QByteArray text = host.toLatin1();
    return host.compare(u"localhost", Qt::CaseInsensitive) == 0
        || (inet_pton(AF_INET, text.constData(), &v4) == 1 && (ntohl(v4.s_addr) >> 24) == 127)
        || (inet_pton(AF_INET6, text.constData(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6));
}

bool isWebUrl(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"https" || scheme == u"http") && !url.host().isEmpty();
}

UpdateController::Outcome failed(const QString &message)
{
    UpdateController::Outcome outcome;
    outcome.kind = UpdateController::Outcome::Kind::Failed;
    outcome.errorMessage = message;
    return outcome;
}

} // namespace

UpdateController &UpdateController::shared()
{
    static UpdateController *const instance = [] {
        Config config;
        config.feedUrl = QUrl(QString::fromUtf8(BuildInfo::updateFeedUrl).trimmed());
        config.currentVersion = QString::fromUtf8(BuildInfo::version);
        config.systemVersion = kernelVersion(LinuxMachineInfo().kernelRelease());
        Services services;
        services.clock = new SystemClock;
        services.notifier = new DBusNotifier;
        services.logger = &Logger::shared();
        return new UpdateController(config, SettingsStore::shared(), services);
    }();
    return *instance;
}

UpdateController::UpdateController(Config config, SettingsStore &store, Services services, QObject *parent)
    : QObject(parent)
    , m_config(std::move(config))
    , m_store(store)
    , m_services(services)
{
    Q_ASSERT(m_services.clock && m_services.notifier && m_services.logger);
    if (hasFeed()) {
        HttpClient::Options options;
        options.timeout = m_config.timeout;
        options.maxBodyBytes = Appcast::maxBytes;
        options.protocols = "http,https";
        // Never from https to http: over plain http anyone on the way could answer.
        const bool secure = m_config.feedUrl.scheme().compare(u"https", Qt::CaseInsensitive) == 0;
        options.redirectProtocols = secure ? "https" : "http,https";
        options.maxRedirects = 5;
        // A public feed may sit behind the user's proxy; one on this machine never does.
        options.useProxy = !isLoopback(m_config.feedUrl.host());
        options.headers = {"User-Agent: Quorvel/" + m_config.currentVersion.toUtf8(),
                           "Accept: application/rss+xml, application/xml;q=0.9, */*;q=0.5"};
        m_http = std::make_unique<HttpClient>(std::move(options));
    }
    if (!m_config.feedUrl.isEmpty() && !hasFeed())
        m_services.logger->warn(QStringLiteral("Update feed URL is not usable: ")
                                + m_config.feedUrl.toString());
    m_automaticallyChecks = m_store.boolValue(automaticallyChecksKey).value_or(false);
    restartSchedule();
}

// The schedule's loop ends by its guard when it wakes; a fetch in flight ends as cancelled.
UpdateController::~UpdateController() = default;

QString UpdateController::kernelVersion(const QString &release)
{
    static const QRegularExpression leadingVersion(QStringLiteral(R"(^\d+(\.\d+)*)"));
    return leadingVersion.match(release).captured();
}

UpdateController::Outcome UpdateController::evaluate(const QByteArray &feed, const Config &config)
{
    const Appcast appcast = Appcast::parse(feed, config.feedUrl);
    if (!appcast.isValid())
        return failed(appcast.errorString());
    Outcome outcome;
    outcome.kind = Outcome::Kind::UpToDate;
    const std::optional<Appcast::Item> newest = appcast.newestApplicable(config.systemVersion);
    if (!newest || VersionNumber(newest->displayVersion()) <= VersionNumber(config.currentVersion))
        return outcome;
    outcome.kind = Outcome::Kind::NewerVersion;
    outcome.version = newest->displayVersion();
    outcome.releaseNotes = newest->releaseNotesLink;
    outcome.downloadPage
        = newest->downloadPage().isEmpty() ? newest->releaseNotesLink : newest->downloadPage();
    return outcome;
}

bool UpdateController::hasFeed() const
{
    return isWebUrl(m_config.feedUrl);
}

bool UpdateController::canCheckForUpdates() const
{
    return hasFeed() && !isChecking();
}

void UpdateController::checkForUpdates()
{
    if (!hasFeed())
        return;
    startCheck(true);
}

bool UpdateController::automaticallyChecksForUpdates() const
{
    return m_automaticallyChecks;
}

void UpdateController::setAutomaticallyChecksForUpdates(bool enabled)
{
    const bool differs = enabled != m_automaticallyChecks;
    m_automaticallyChecks = enabled;
    m_store.setValue(automaticallyChecksKey, enabled);
    if (!differs)
        return;
    restartSchedule();
    Q_EMIT automaticallyChecksForUpdatesChanged();
}

void UpdateController::startCheck(bool userInitiated)
{
    if (m_checking) {
        // One fetch at a time; the user still hears how the running one ends.
        m_userInitiated = m_userInitiated || userInitiated;
        return;
    }
    m_userInitiated = userInitiated;
    qCDebug(lcServices) << "update check of" << m_config.feedUrl
                        << (userInitiated ? "by the user" : "on schedule");
    m_checking = true;
    Q_EMIT canCheckForUpdatesChanged();
    m_fetch.emplace(fetch());
}

QCoro::Task<> UpdateController::fetch()
{
    const HttpOutcome fetched = co_await m_http->get(m_config.feedUrl.toEncoded());
    // Cancelled only when the controller is being destroyed: nothing of it may be touched.
    if (fetched.failure == HttpOutcome::Failure::Cancelled)
        co_return;
    m_checking = false;
    deliver(outcomeOf(fetched));
}

UpdateController::Outcome UpdateController::outcomeOf(const HttpOutcome &fetched) const
{
    using Failure = HttpOutcome::Failure;
    switch (fetched.failure) {
    case Failure::None:
        break;
    case Failure::TooLarge:
        return failed(QStringLiteral("The update feed is larger than 1 MiB."));
    case Failure::TimedOut:
        return failed(QStringLiteral("The update server did not answer in time."));
    default:
        return failed(QStringLiteral("Could not reach the update server: ")
                      + HttpOutcome::describe(fetched.failure));
    }
    if (fetched.status < 200 || fetched.status > 299) {
        const QString reason = QString::fromUtf8(fetched.reason).trimmed();
        return failed(QStringLiteral("The update server answered with HTTP status %1%2.")
                          .arg(fetched.status)
                          .arg(reason.isEmpty() ? QString() : QStringLiteral(" (") + reason + u')'));
    }
    return evaluate(fetched.body, m_config);
}

void UpdateController::deliver(const Outcome &outcome)
{
    const bool userInitiated = std::exchange(m_userInitiated, false);
    qCDebug(lcServices) << "update check ended:" << outcome.errorMessage << outcome.version;
    if (outcome.kind == Outcome::Kind::Failed) {
        // Scheduled checks fail quietly: a line for the curious, nothing on screen.
        m_services.logger->info(QStringLiteral("Update check failed: ") + outcome.errorMessage);
    } else if (outcome.kind == Outcome::Kind::NewerVersion) {
        const bool known = m_announcedVersions.contains(outcome.version);
        m_announcedVersions.insert(outcome.version); // the user has been told now, either way
        if (!known)
            m_services.logger->info(QStringLiteral("Update available: Quorvel ") + outcome.version);
        if (!userInitiated && !known) {
            // A gentle reminder, never a dialog over the user's work.
            m_services.notifier->post(
                QStringLiteral("Quorvel ") + outcome.version + QStringLiteral(" is available"),
                QStringLiteral("Choose “Check for Updates…” in Quorvel’s menu to download it."));
        }
    }
    Q_EMIT canCheckForUpdatesChanged();
    if (userInitiated)
        Q_EMIT userCheckFinished(outcome);
    else
        Q_EMIT scheduledCheckFinished(outcome);
}

void UpdateController::restartSchedule()
{
    ++m_scheduleGeneration;
    if (m_automaticallyChecks && hasFeed())
        m_scheduleTask.emplace(scheduleLoop(m_scheduleGeneration));
    else
        m_scheduleTask.reset();
}

QCoro::Task<> UpdateController::scheduleLoop(quint64 generation)
{
    const QPointer<UpdateController> alive(this);
    Clock *const clock = m_services.clock;
    co_await clock->sleep(firstScheduledCheckDelay);
    while (alive && generation == m_scheduleGeneration) {
        startCheck(false);
        co_await clock->sleep(scheduledCheckInterval);
    }
}
