#include "services/UpdateController.h"

#include "core/BuildInfo.h"
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

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>

namespace {

// A public feed may sit behind the user's proxy, so the system's proxy settings apply; a
// feed on this machine never goes through one.
class FeedProxyFactory final : public QNetworkProxyFactory
{
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery &query) override
    {
        const QString host = query.url().host();
        if (host.compare(u"localhost", Qt::CaseInsensitive) == 0 || QHostAddress(host).isLoopback())
            return {QNetworkProxy(QNetworkProxy::NoProxy)};
        return systemProxyForQuery(query);
    }
};

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
    , m_network(new QNetworkAccessManager(this))
    , m_deadline(new QTimer(this))
{
    Q_ASSERT(m_services.clock && m_services.notifier && m_services.logger);
    m_network->setProxyFactory(new FeedProxyFactory);
    m_deadline->setTimerType(Qt::PreciseTimer);
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this,
            [this] { fail(QStringLiteral("The update server did not answer in time.")); });

    if (!m_config.feedUrl.isEmpty() && !hasFeed())
        m_services.logger->warn(QStringLiteral("Update feed URL is not usable: ")
                                + m_config.feedUrl.toString());
    m_automaticallyChecks = m_store.boolValue(automaticallyChecksKey).value_or(false);
    restartSchedule();
}

UpdateController::~UpdateController()
{
    // The schedule's loop ends by its guard when it wakes; a fetch in flight is dropped.
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
}

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
    if (m_reply) {
        // One fetch at a time; the user still hears how the running one ends.
        m_userInitiated = m_userInitiated || userInitiated;
        return;
    }
    m_userInitiated = userInitiated;
    qCDebug(lcServices) << "update check of" << m_config.feedUrl
                        << (userInitiated ? "by the user" : "on schedule");
    m_body.clear();
    m_failure.reset();

    QNetworkRequest request(m_config.feedUrl);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QString(QStringLiteral("Quorvel/") + m_config.currentVersion));
    request.setRawHeader("Accept", "application/rss+xml, application/xml;q=0.9, */*;q=0.5");
    m_reply = m_network->get(request);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, [this] {
        const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > Appcast::maxBytes)
            fail(QStringLiteral("The update feed is larger than 1 MiB."));
    });
    connect(m_reply, &QNetworkReply::readyRead, this, &UpdateController::readAvailable);
    connect(m_reply, &QNetworkReply::finished, this, &UpdateController::finishCheck);
    m_deadline->start(m_config.timeout);
    Q_EMIT canCheckForUpdatesChanged();
}

void UpdateController::readAvailable()
{
    if (!m_reply || m_failure)
        return;
    m_body += m_reply->read(Appcast::maxBytes + 1 - m_body.size());
    if (m_body.size() > Appcast::maxBytes)
        fail(QStringLiteral("The update feed is larger than 1 MiB."));
}

void UpdateController::fail(const QString &message)
{
    if (!m_reply || m_failure)
        return;
    m_failure = message;
    // From the event loop: aborting inside one of the reply's own signals trips up QtNetwork.
    QMetaObject::invokeMethod(m_reply, &QNetworkReply::abort, Qt::QueuedConnection);
}

void UpdateController::finishCheck()
{
    if (!m_reply)
        return;
    readAvailable();
    QNetworkReply *const reply = std::exchange(m_reply, nullptr);
    reply->disconnect(this);
    reply->deleteLater();
    m_deadline->stop();

    Outcome outcome;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (m_failure) {
        outcome = failed(*m_failure);
    } else if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299)) {
        const QString reason
            = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString().trimmed();
        outcome = failed(QStringLiteral("The update server answered with HTTP status %1%2.")
                             .arg(status.toInt())
                             .arg(reason.isEmpty() ? QString() : QStringLiteral(" (") + reason + u')'));
    } else if (reply->error() != QNetworkReply::NoError) {
        outcome = failed(QStringLiteral("Could not reach the update server: ") + reply->errorString());
    } else {
        outcome = evaluate(m_body, m_config);
    }
    m_body.clear();
    m_failure.reset();
    deliver(outcome);
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
