#include "ui/settings/SettingsViewModel.h"

#include "core/AppState.h"
#include "core/BuildInfo.h"
#include "discovery/DiagnosticsEnvironment.h"
#include "discovery/DiagnosticsReport.h"
#include "services/AppSettings.h"
#include "services/LaunchAtLogin.h"
#include "services/Logger.h"
#include "services/UpdateController.h"
#include "sync/SyncEngine.h"
#include "ui/PlatformUi.h"

#include <QFile>
#include <QPointer>
#include <QStringDecoder>

// The resources live in the ui library; a program that links it must register them once.
static void initQuorvelResources()
{
    Q_INIT_RESOURCE(quorvel);
}

SettingsViewModel::SettingsViewModel(AppState &state, SyncEngine &sync, Services services, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_sync(sync)
    , m_settings(*services.settings)
    , m_launchAtLogin(*services.launchAtLogin)
    , m_updates(*services.updates)
    , m_logger(*services.logger)
    , m_tester(services.tester ? std::move(services.tester) : ConnectionTester(&SyncEngine::testConnection))
    , m_platform(services.platform ? services.platform : &PlatformUi::shared())
    , m_discovery(services.browserFactory ? new DeviceDiscovery(std::move(services.browserFactory), this)
                                          : new DeviceDiscovery(this))
{
    connect(&m_settings, &AppSettings::useCustomHostChanged, this,
            [this] { Q_EMIT toggleChanged(Toggle::UseCustomHost); });
    connect(&m_settings, &AppSettings::notifyOnRateChangeChanged, this,
            [this] { Q_EMIT toggleChanged(Toggle::NotifyOnRateChange); });
    connect(&m_settings, &AppSettings::notifyOnDisconnectChanged, this,
            [this] { Q_EMIT toggleChanged(Toggle::NotifyOnDisconnect); });
    connect(&m_settings, &AppSettings::showRateInMenuBarChanged, this,
            [this] { Q_EMIT toggleChanged(Toggle::ShowRateInMenuBar); });
    connect(&m_updates, &UpdateController::automaticallyChecksForUpdatesChanged, this,
            [this] { Q_EMIT toggleChanged(Toggle::AutomaticallyCheckForUpdates); });
    connect(&m_launchAtLogin, &LaunchAtLogin::isEnabledChanged, this,
            [this] { Q_EMIT toggleChanged(Toggle::LaunchAtLogin); });
    connect(&m_settings, &AppSettings::customHostChanged, this, &SettingsViewModel::customHostChanged);
    connect(&m_updates, &UpdateController::canCheckForUpdatesChanged, this,
            &SettingsViewModel::canCheckForUpdatesChanged);
    connect(m_discovery, &DeviceDiscovery::discoveredHostsChanged, this,
            &SettingsViewModel::discoveryChanged);
    connect(m_discovery, &DeviceDiscovery::isBrowsingChanged, this, &SettingsViewModel::discoveryChanged);
}

SettingsViewModel::~SettingsViewModel() = default;

QString SettingsViewModel::textOf(Toggle toggle)
{
    switch (toggle) {
    case Toggle::UseCustomHost:
        return QStringLiteral("Use custom IP / hostname");
    case Toggle::NotifyOnRateChange:
        return QStringLiteral("Notify on sample rate change");
    case Toggle::NotifyOnDisconnect:
        return QStringLiteral("Notify when device disconnects");
    case Toggle::ShowRateInMenuBar:
        return QStringLiteral("Show sample rate in menu bar");
    case Toggle::AutomaticallyCheckForUpdates:
        return QStringLiteral("Automatically check for updates");
    case Toggle::LaunchAtLogin:
        return QStringLiteral("Launch Quorvel at login");
    }
    Q_UNREACHABLE();
}

SettingsViewModel::Tint SettingsViewModel::tintFor(const QString &testResult)
{
    return testResult.startsWith(QStringLiteral("✓")) ? Tint::Green : Tint::Red;
}

QString SettingsViewModel::versionTextFor(const QString &version)
{
    return QStringLiteral("Version ") + (version.isEmpty() ? QStringLiteral("?") : version);
}

QString SettingsViewModel::diagnosticsCaptionFor(bool copied)
{
    return copied ? QStringLiteral("Copied — paste it into a message.")
                  : QStringLiteral("Having trouble? Copy a report to send.");
}

std::optional<QString> SettingsViewModel::creditsFrom(const QString &path)
{
    static const bool registered = (initQuorvelResources(), true);
    Q_UNUSED(registered);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

bool SettingsViewModel::isOn(Toggle toggle) const
{
    switch (toggle) {
    case Toggle::UseCustomHost:
        return m_settings.useCustomHost();
    case Toggle::NotifyOnRateChange:
        return m_settings.notifyOnRateChange();
    case Toggle::NotifyOnDisconnect:
        return m_settings.notifyOnDisconnect();
    case Toggle::ShowRateInMenuBar:
        return m_settings.showRateInMenuBar();
    case Toggle::AutomaticallyCheckForUpdates:
        return m_updates.automaticallyChecksForUpdates();
    case Toggle::LaunchAtLogin:
        return m_launchAtLogin.isEnabled();
    }
    Q_UNREACHABLE();
}

void SettingsViewModel::setOn(Toggle toggle, bool on)
{
    switch (toggle) {
    case Toggle::UseCustomHost:
        m_settings.setUseCustomHost(on);
        break;
    case Toggle::NotifyOnRateChange:
        m_settings.setNotifyOnRateChange(on);
        break;
    case Toggle::NotifyOnDisconnect:
        m_settings.setNotifyOnDisconnect(on);
        break;
    case Toggle::ShowRateInMenuBar:
        m_settings.setShowRateInMenuBar(on);
        break;
    case Toggle::AutomaticallyCheckForUpdates:
        m_updates.setAutomaticallyChecksForUpdates(on);
        break;
    case Toggle::LaunchAtLogin:
        // Announces itself afterwards, so the switch shows what the system really has.
        m_launchAtLogin.setEnabled(on);
        break;
    }
}

void SettingsViewModel::refreshLaunchAtLogin()
{
    Q_EMIT toggleChanged(Toggle::LaunchAtLogin);
}

QString SettingsViewModel::customHost() const
{
    return m_settings.customHost();
}

void SettingsViewModel::editCustomHost(const QString &text)
{
    m_settings.setCustomHost(text);
}

bool SettingsViewModel::isHostFieldEnabled() const
{
    return m_settings.useCustomHost();
}

QString SettingsViewModel::hostToTest() const
{
    return m_settings.effectiveHost();
}

void SettingsViewModel::runConnectionTest()
{
    if (m_testing)
        return;
    const QString host = hostToTest();
    m_testing = true;
    m_testResult.reset();
    Q_EMIT testChanged();
    // Left to run on its own: the task keeps itself alive until the client's answer or
    // time-out, and the coroutine checks that this model is still there before it writes.
    test(host);
}

QCoro::Task<> SettingsViewModel::test(QString host)
{
    const QPointer<SettingsViewModel> alive(this);
    // A copy: the model may be gone by the time the test ends.
    const ConnectionTester tester = m_tester;
    const M1620Result<DeviceStatus> result = co_await tester(host);
    if (!alive)
        co_return;
    finishTest(SyncEngine::testOutcomeText(result));
}

void SettingsViewModel::finishTest(const QString &outcome)
{
    m_testing = false;
    m_testResult = outcome;
    Q_EMIT testChanged();
}

QStringList SettingsViewModel::discoveredHosts() const
{
    return m_discovery->discoveredHosts();
}

bool SettingsViewModel::isBrowsing() const
{
    return m_discovery->isBrowsing();
}

void SettingsViewModel::setConnectionFormShown(bool shown)
{
    if (shown == m_connectionFormShown)
        return;
    m_connectionFormShown = shown;
    if (shown)
        m_discovery->startBrowsing();
    else
        m_discovery->stopBrowsing();
}

void SettingsViewModel::useDiscoveredHost(const QString &host)
{
    m_settings.setCustomHost(host);
    m_settings.setUseCustomHost(true);
}

QString SettingsViewModel::versionText() const
{
    return versionTextFor(QString::fromUtf8(BuildInfo::version));
}

bool SettingsViewModel::canCheckForUpdates() const
{
    return m_updates.canCheckForUpdates();
}

void SettingsViewModel::checkForUpdates()
{
    // The updater is the authority on whether a check can start now.
    if (!m_updates.canCheckForUpdates())
        return;
    m_updates.checkForUpdates();
}

QString SettingsViewModel::logFile() const
{
    return m_logger.logFile();
}

void SettingsViewModel::revealLogFile()
{
    m_platform->revealFile(m_logger.logFile());
}

QString SettingsViewModel::diagnosticsReport() const
{
    // The window's own log and login entry, which in the program are the shared ones.
    DiagnosticsEnvironment environment = DiagnosticsEnvironment::current();
    environment.logFile = m_logger.logFile();
    environment.launchAtLogin = m_launchAtLogin.isEnabled();
    return DiagnosticsReport::makeDiagnosticsReport(m_state, m_settings, diagnosticsLogLines, environment);
}

void SettingsViewModel::copyDiagnostics()
{
    m_platform->copyText(diagnosticsReport());
    if (!m_diagnosticsCopied) {
        m_diagnosticsCopied = true;
        Q_EMIT diagnosticsCopiedChanged();
    }
}
