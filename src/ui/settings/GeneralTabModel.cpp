#include "ui/settings/GeneralTabModel.h"

#include "core/AppState.h"
#include "core/BuildInfo.h"
#include "platform/Desktop.h"
#include "services/AppSettings.h"
#include "services/DiagnosticsEnvironment.h"
#include "services/DiagnosticsReport.h"
#include "services/LaunchAtLogin.h"
#include "services/Logger.h"
#include "services/UpdateController.h"

#include <QFile>
#include <QStringDecoder>

// The resources live in this library; a program that links it must register them once.
static void initQuorvelResources()
{
    Q_INIT_RESOURCE(quorvel);
}

GeneralTabModel::GeneralTabModel(const AppState &state, AppSettings &settings, LaunchAtLogin &launchAtLogin,
                                 UpdateController &updates, Logger &logger, Desktop &desktop, QObject *parent)
    : SettingsPageModel(parent)
    , m_state(state)
    , m_settings(settings)
    , m_launchAtLogin(launchAtLogin)
    , m_updates(updates)
    , m_logger(logger)
    , m_desktop(desktop)
{
    AppSettings *s = &m_settings;
    add(Setting::milliseconds(
            settleMilliseconds, QStringLiteral("Wait for the MADI rate to settle"), 0,
            AppSettings::maximumSettleMilliseconds, [s] { return s->settleMilliseconds(); },
            [s](qint64 ms) { s->setSettleMilliseconds(ms); }),
        s, &AppSettings::settleMillisecondsChanged);
    add(Setting::toggle(
            followOnlyWhenLocked, QStringLiteral("Follow only a locked MADI input"),
            [s] { return s->followOnlyWhenLocked(); }, [s](bool on) { s->setFollowOnlyWhenLocked(on); }),
        s, &AppSettings::followOnlyWhenLockedChanged);
    add(Setting::toggle(
            matchPipeWireRate, QStringLiteral("Match the computer's audio rate (PipeWire)"),
            [s] { return s->matchPipeWireRate(); }, [s](bool on) { s->setMatchPipeWireRate(on); }),
        s, &AppSettings::matchPipeWireRateChanged);
    add(Setting::text(
            rateChangeCommand, QStringLiteral("Run after each rate change"),
            [s] { return s->rateChangeCommand(); },
            [s](const QString &command) { s->setRateChangeCommand(command); }),
        s, &AppSettings::rateChangeCommandChanged);
    add(Setting::toggle(
            notifyOnRateChange, QStringLiteral("Notify on sample rate change"),
            [s] { return s->notifyOnRateChange(); }, [s](bool on) { s->setNotifyOnRateChange(on); }),
        s, &AppSettings::notifyOnRateChangeChanged);
    add(Setting::toggle(
            notifyOnDisconnect, QStringLiteral("Notify when device disconnects"),
            [s] { return s->notifyOnDisconnect(); }, [s](bool on) { s->setNotifyOnDisconnect(on); }),
        s, &AppSettings::notifyOnDisconnectChanged);
    add(Setting::toggle(
            showRateInMenuBar, QStringLiteral("Show sample rate in menu bar"),
            [s] { return s->showRateInMenuBar(); }, [s](bool on) { s->setShowRateInMenuBar(on); }),
        s, &AppSettings::showRateInMenuBarChanged);
    UpdateController *u = &m_updates;
    if (offersUpdateChecks())
        add(Setting::toggle(
                automaticallyCheckForUpdates, QStringLiteral("Automatically check for updates"),
                [u] { return u->automaticallyChecksForUpdates(); },
                [u](bool on) { u->setAutomaticallyChecksForUpdates(on); }),
            u, &UpdateController::automaticallyChecksForUpdatesChanged);
    LaunchAtLogin *login = &m_launchAtLogin;
    // Announces itself afterwards, so the switch shows what the system really has.
    add(Setting::toggle(
            GeneralTabModel::launchAtLogin, QStringLiteral("Launch Quorvel at login"),
            [login] { return login->isEnabled(); }, [login](bool on) { login->setEnabled(on); }),
        login, &LaunchAtLogin::isEnabledChanged);
    connect(u, &UpdateController::canCheckForUpdatesChanged, this,
            &GeneralTabModel::canCheckForUpdatesChanged);
}

QString GeneralTabModel::versionTextFor(const QString &version)
{
    return QStringLiteral("Version ") + (version.isEmpty() ? QStringLiteral("?") : version);
}

QString GeneralTabModel::diagnosticsCaptionFor(bool copied)
{
    return copied ? QStringLiteral("Copied — paste it into a message.")
                  : QStringLiteral("Having trouble? Copy a report to send.");
}

std::optional<QString> GeneralTabModel::creditsFrom(const QString &path)
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

void GeneralTabModel::refreshLaunchAtLogin()
{
    Q_EMIT settingChanged(launchAtLogin);
}

QString GeneralTabModel::versionText() const
{
    return versionTextFor(QString::fromUtf8(BuildInfo::version));
}

bool GeneralTabModel::offersUpdateChecks() const
{
    return m_updates.hasFeed();
}

bool GeneralTabModel::canCheckForUpdates() const
{
    return m_updates.canCheckForUpdates();
}

void GeneralTabModel::checkForUpdates()
{
    // The updater is the authority on whether a check can start now.
    if (!m_updates.canCheckForUpdates())
        return;
    m_updates.checkForUpdates();
}

QString GeneralTabModel::logFile() const
{
    return m_logger.logFile();
}

void GeneralTabModel::revealLogFile()
{
    m_desktop.revealFile(m_logger.logFile());
}

QString GeneralTabModel::diagnosticsReport() const
{
    // The window's own log and login entry, which in the program are the shared ones.
    DiagnosticsEnvironment environment = DiagnosticsEnvironment::current();
    environment.logFile = m_logger.logFile();
    environment.launchAtLogin = m_launchAtLogin.isEnabled();
    return DiagnosticsReport::makeDiagnosticsReport(m_state, m_settings, diagnosticsLogLines, environment);
}

void GeneralTabModel::copyDiagnostics()
{
    m_desktop.copyText(diagnosticsReport());
    if (!m_diagnosticsCopied) {
        m_diagnosticsCopied = true;
        Q_EMIT diagnosticsCopiedChanged();
    }
}
