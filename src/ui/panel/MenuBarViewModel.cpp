#include "ui/panel/MenuBarViewModel.h"

#include "core/AppState.h"
#include "core/RateFormat.h"
#include "platform/Desktop.h"
#include "services/AppSettings.h"
#include "services/LaunchAtLogin.h"
#include "services/UpdateController.h"
#include "sync/SyncEngine.h"

#include <QCoreApplication>
#include <QRegularExpression>

namespace {
template<typename T> bool assign(T &field, const T &value)
{
    if (field == value)
        return false;
    field = value;
    return true;
}
} // namespace

MenuBarViewModel::MenuBarViewModel(AppState &state, SyncEngine &sync, LaunchAtLogin &launchAtLogin,
                                   UpdateController &updates, Desktop &desktop, Actions actions,
                                   QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_sync(sync)
    , m_launchAtLogin(launchAtLogin)
    , m_updates(updates)
    , m_desktop(desktop)
    , m_actions(std::move(actions))
{
    m_statusHeader = statusHeaderFor(m_state.connectionState(), m_sync.settings().effectiveHost());
    m_legacyWarningShown = m_state.legacyScriptDetected();
    m_legacyTraces = m_sync.legacyTraces();
    m_rates = ratesFor(m_state.deviceRate(), m_state.madiRate(), m_state.madiSync(),
                       m_state.connectionState().isConnected());
    m_historyRows = historyRowsFor(m_state.history(), QLocale::system());
    m_syncSwitch = syncSwitchFor(m_state.isPaused());
    m_loginSwitch = loginSwitchFor(m_launchAtLogin.isEnabled());
    m_commands = commandsFor(m_updates.hasFeed(), m_updates.canCheckForUpdates());

    connect(&m_state, &AppState::connectionStateChanged, this, &MenuBarViewModel::updateStatusHeader);
    connect(&m_sync.settings(), &AppSettings::effectiveHostChanged, this,
            &MenuBarViewModel::updateStatusHeader);
    connect(&m_state, &AppState::connectionStateChanged, this, &MenuBarViewModel::updateRates);
    connect(&m_state, &AppState::legacyScriptDetectedChanged, this, &MenuBarViewModel::updateLegacyWarning);
    connect(&m_state, &AppState::deviceRateChanged, this, &MenuBarViewModel::updateRates);
    connect(&m_state, &AppState::madiRateChanged, this, &MenuBarViewModel::updateRates);
    connect(&m_state, &AppState::madiSyncChanged, this, &MenuBarViewModel::updateRates);
    connect(&m_state, &AppState::historyChanged, this, &MenuBarViewModel::updateHistory);
    connect(&m_state, &AppState::isPausedChanged, this, &MenuBarViewModel::updateSwitches);
    connect(&m_launchAtLogin, &LaunchAtLogin::isEnabledChanged, this, &MenuBarViewModel::updateSwitches);
    connect(&m_updates, &UpdateController::canCheckForUpdatesChanged, this,
            &MenuBarViewModel::updateCommands);
}

MenuBarViewModel::StatusHeader MenuBarViewModel::statusHeaderFor(const ConnectionState &connection,
                                                                 const QString &host)
{
    // The error's own message is for the log and the tooltip; the panel gives the one hint
    // that usually helps.
    switch (connection.kind()) {
    case ConnectionState::Kind::Connected:
        return {Tint::Green, QStringLiteral("Connected"), connection.host()};
    case ConnectionState::Kind::Connecting:
        return {Tint::Yellow, QStringLiteral("Looking for M-1620…"), {}};
    case ConnectionState::Kind::Error:
        return {Tint::Secondary, QStringLiteral("M-1620 not found"),
                host == AppSettings::defaultHost
                    ? QStringLiteral("Check that the USB REMOTE cable is plugged in")
                    : QStringLiteral("Check that %1 is reachable on the network").arg(host)};
    case ConnectionState::Kind::Disconnected:
        break;
    }
    return {Tint::Secondary, QStringLiteral("Stopped"), {}};
}

MenuBarViewModel::Rates MenuBarViewModel::ratesFor(std::optional<qint64> deviceRate,
                                                   std::optional<qint64> madiRate,
                                                   std::optional<bool> madiSync, bool connected)
{
    Rates rates;
    rates.lastSeen = !connected;
    rates.deviceRate = RateFormat::kilohertzOrDash(deviceRate);
    rates.madiInput = RateFormat::kilohertzOrDash(madiRate);
    if (!madiSync) {
        rates.madiSyncCircle = Tint::Secondary;
        rates.madiSync = QStringLiteral("—");
    } else if (*madiSync) {
        // Green says "locked now", which nobody knows of a device that is not there.
        rates.madiSyncCircle = connected ? Tint::Green : Tint::Secondary;
        rates.madiSync = QStringLiteral("Locked");
    } else {
        rates.madiSyncCircle = Tint::Secondary;
        rates.madiSync = QStringLiteral("No signal");
    }
    return rates;
}

QString MenuBarViewModel::timeText(const QDateTime &timestamp, const QLocale &locale)
{
    // The short format of real locales is hours and minutes; the C locale's (a system with no
    // LANG set) carries seconds, which the column neither needs nor has room for.
    static const QRegularExpression seconds(QStringLiteral("[:.]?s+"));
    QString format = locale.timeFormat(QLocale::ShortFormat);
    format.remove(seconds);
    return locale.toString(timestamp.toLocalTime().time(), format);
}

QList<MenuBarViewModel::HistoryRow> MenuBarViewModel::historyRowsFor(const RateHistory &history,
                                                                     const QLocale &locale)
{
    QList<HistoryRow> rows;
    for (const RateChange &entry : history.first(std::min(history.size(), maxHistoryRows))) {
        rows.append({entry.id(), timeText(entry.timestamp(), locale),
                     RateFormat::kilohertzOrDash(entry.from()) + QStringLiteral(" → ")
                         + RateFormat::kilohertz(entry.to())});
    }
    return rows;
}

MenuBarViewModel::SwitchRow MenuBarViewModel::syncSwitchFor(bool isPaused)
{
    if (isPaused)
        return {QStringLiteral("pause.circle"), QStringLiteral("Sync paused"), false};
    return {QStringLiteral("arrow.triangle.2.circlepath"), QStringLiteral("Auto-sync enabled"), true};
}

MenuBarViewModel::SwitchRow MenuBarViewModel::loginSwitchFor(bool launchAtLoginEnabled)
{
    return {QStringLiteral("power.circle"), QStringLiteral("Launch at login"), launchAtLoginEnabled};
}

QString MenuBarViewModel::copyButtonTitleFor(bool removalCommandCopied)
{
    return removalCommandCopied ? QStringLiteral("Copied — paste into a terminal")
                                : QStringLiteral("Copy removal command");
}

QString MenuBarViewModel::legacyWarningTextFor(bool commandUsesSudo)
{
    return QStringLiteral("It changes the sample rate on its own and can fight Quorvel. Paste this command "
                          "into a terminal to remove it")
        + (commandUsesSudo ? QStringLiteral(" — it will ask for your password.") : QStringLiteral("."));
}

QList<MenuBarViewModel::CommandRow> MenuBarViewModel::commandsFor(bool hasFeed, bool canCheckForUpdates)
{
    QList<CommandRow> rows;
    if (hasFeed)
        rows.append({Command::CheckForUpdates, QStringLiteral("Check for Updates…"),
                     QStringLiteral("arrow.down.circle"), canCheckForUpdates, false});
    rows.append({Command::Settings, QStringLiteral("Settings…"), QStringLiteral("gearshape"), true, false});
    rows.append({Command::Quit, QStringLiteral("Quit Quorvel"), QStringLiteral("power"), true, true});
    return rows;
}

std::optional<MenuBarViewModel::CommandRow> MenuBarViewModel::command(Command command) const
{
    for (const CommandRow &row : m_commands) {
        if (row.command == command)
            return row;
    }
    return std::nullopt;
}

bool MenuBarViewModel::isShown(Section section) const
{
    switch (section) {
    case Section::LegacyWarning:
        return m_legacyWarningShown;
    case Section::RecentChanges:
        return !m_historyRows.isEmpty();
    case Section::StatusHeader:
    case Section::Rates:
    case Section::Switches:
    case Section::Commands:
        break;
    }
    return true;
}

QList<MenuBarViewModel::Section> MenuBarViewModel::shownSections() const
{
    QList<Section> shown;
    for (Section section : {Section::StatusHeader, Section::LegacyWarning, Section::Rates,
                            Section::RecentChanges, Section::Switches, Section::Commands}) {
        if (isShown(section))
            shown.append(section);
    }
    return shown;
}

void MenuBarViewModel::copyRemovalCommand()
{
    // The traces may have changed since the warning appeared, while it stayed.
    const bool tracesChanged = assign(m_legacyTraces, m_sync.legacyTraces());
    // The clipboard's answer is not looked at: there is nothing useful to tell the user.
    m_desktop.copyText(removalCommand());
    if (assign(m_removalCommandCopied, true) || tracesChanged)
        Q_EMIT legacyWarningChanged();
}

void MenuBarViewModel::turnSyncSwitch(bool requestedOn)
{
    Q_UNUSED(requestedOn);
    m_sync.togglePause();
}

void MenuBarViewModel::turnLoginSwitch(bool requestedOn)
{
    m_launchAtLogin.setEnabled(requestedOn);
    refreshLaunchAtLogin();
}

void MenuBarViewModel::refreshLaunchAtLogin()
{
    updateSwitches();
}

void MenuBarViewModel::run(Command command)
{
    switch (command) {
    case Command::CheckForUpdates:
        // Read live rather than from the cached row: the updater is the authority.
        if (!m_updates.canCheckForUpdates())
            return;
        m_updates.checkForUpdates();
        break;
    case Command::Settings:
        if (m_actions.openSettings)
            m_actions.openSettings();
        break;
    case Command::Quit:
        if (m_actions.quit)
            m_actions.quit();
        else
            QCoreApplication::quit();
        break;
    }
}

void MenuBarViewModel::updateStatusHeader()
{
    if (assign(m_statusHeader, statusHeaderFor(m_state.connectionState(), m_sync.settings().effectiveHost())))
        Q_EMIT statusHeaderChanged();
}

void MenuBarViewModel::updateLegacyWarning()
{
    const bool tracesChanged = assign(m_legacyTraces, m_sync.legacyTraces());
    if (assign(m_legacyWarningShown, m_state.legacyScriptDetected()) || tracesChanged)
        Q_EMIT legacyWarningChanged();
}

void MenuBarViewModel::updateRates()
{
    if (assign(m_rates,
               ratesFor(m_state.deviceRate(), m_state.madiRate(), m_state.madiSync(),
                        m_state.connectionState().isConnected())))
        Q_EMIT ratesChanged();
}

void MenuBarViewModel::updateHistory()
{
    if (assign(m_historyRows, historyRowsFor(m_state.history(), QLocale::system())))
        Q_EMIT historyRowsChanged();
}

void MenuBarViewModel::updateSwitches()
{
    const bool syncChanged = assign(m_syncSwitch, syncSwitchFor(m_state.isPaused()));
    const bool loginChanged = assign(m_loginSwitch, loginSwitchFor(m_launchAtLogin.isEnabled()));
    if (syncChanged || loginChanged)
        Q_EMIT switchesChanged();
}

void MenuBarViewModel::updateCommands()
{
    if (assign(m_commands, commandsFor(m_updates.hasFeed(), m_updates.canCheckForUpdates())))
        Q_EMIT commandsChanged();
}
