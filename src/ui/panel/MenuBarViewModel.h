#pragma once

#include "core/RateChange.h"
#include "sync/LegacyTraces.h"

#include <QList>
#include <QLocale>
#include <QObject>
#include <QString>
#include <QUuid>

#include <functional>
#include <optional>

class AppState;
class ConnectionState;
class Desktop;
class LaunchAtLogin;
class SyncEngine;
class UpdateController;

// Everything the drop-down panel shows and does, without a pixel: the sections in order and
// when each is shown, their texts and colours, and the effect of every control. MenuBarView
// only draws it, and the tray's menu reuses its switches and commands. Values are recomputed
// when an observed value changes and announced per section, only when they really change.
class MenuBarViewModel : public QObject
{
    Q_OBJECT

public:
    // Colours that carry meaning; the view picks the exact shade for the palette.
    enum class Tint { Green, Yellow, Secondary, Orange };
    enum class Section { StatusHeader, LegacyWarning, Rates, RecentChanges, Switches, Commands };
    enum class Command { CheckForUpdates, Settings, Quit };

    struct StatusHeader
    {
        Tint circle = Tint::Secondary;
        QString title;
        QString subtitle; // empty: no subtitle line
        friend bool operator==(const StatusHeader &, const StatusHeader &) = default;
    };

    struct Rates
    {
        QString deviceRate;
        QString madiInput;
        Tint madiSyncCircle = Tint::Secondary;
        QString madiSync;
        bool lastSeen = false; // the last reading of a device that is not connected now: dimmed
        friend bool operator==(const Rates &, const Rates &) = default;
    };

    struct HistoryRow
    {
        QUuid id;
        QString time; // local short time of day
        QString change; // "44.1 kHz → 48.0 kHz"
        friend bool operator==(const HistoryRow &, const HistoryRow &) = default;
    };

    struct SwitchRow
    {
        QString symbol;
        QString text;
        bool isOn = false;
        friend bool operator==(const SwitchRow &, const SwitchRow &) = default;
    };

    struct CommandRow
    {
        Command command = Command::Settings;
        QString title;
        QString symbol;
        bool enabled = true;
        bool destructive = false;
        friend bool operator==(const CommandRow &, const CommandRow &) = default;
    };

    // What the panel asks of the application; both run on the main thread.
    struct Actions
    {
        std::function<void()> openSettings; // opens the settings window or brings it forward
        std::function<void()> quit; // ends the program; QCoreApplication::quit() when empty
    };

    static inline const QString legacyWarningTitle
        = QStringLiteral("Old M-1620 Rate Sync is still installed");
    static inline const QString recentChangesHeading = QStringLiteral("Recent changes");
    static constexpr qsizetype maxHistoryRows = 5;

    // The rules, as pure functions.
    // host is the one polled (AppSettings::effectiveHost): a lost device at the USB address
    // asks for the cable, one elsewhere for the network.
    static StatusHeader statusHeaderFor(const ConnectionState &connection, const QString &host);
    static Rates ratesFor(std::optional<qint64> deviceRate, std::optional<qint64> madiRate,
                          std::optional<bool> madiSync, bool connected);
    // The first maxHistoryRows entries, in list order (newest first).
    static QList<HistoryRow> historyRowsFor(const RateHistory &history, const QLocale &locale);
    static QString timeText(const QDateTime &timestamp, const QLocale &locale);
    static SwitchRow syncSwitchFor(bool isPaused);
    static SwitchRow loginSwitchFor(bool launchAtLoginEnabled);
    static QString copyButtonTitleFor(bool removalCommandCopied);
    // The password clause only when the removal command asks for one.
    static QString legacyWarningTextFor(bool commandUsesSudo);
    // Without a feed no check can ever run, so the command is not offered at all.
    static QList<CommandRow> commandsFor(bool hasFeed, bool canCheckForUpdates);

    // The objects must outlive the model.
    MenuBarViewModel(AppState &state, SyncEngine &sync, LaunchAtLogin &launchAtLogin,
                     UpdateController &updates, Desktop &desktop, Actions actions, QObject *parent = nullptr);

    StatusHeader statusHeader() const { return m_statusHeader; }
    bool legacyWarningShown() const { return m_legacyWarningShown; }
    bool removalCommandCopied() const { return m_removalCommandCopied; }
    QString copyButtonTitle() const { return copyButtonTitleFor(m_removalCommandCopied); }
    QString legacyWarningText() const { return legacyWarningTextFor(m_legacyTraces.usesSudo()); }
    // The command that removes the traces the engine's last legacy check found, for the user
    // to paste into a terminal. Quorvel never runs it.
    QString removalCommand() const { return m_legacyTraces.removalCommand(); }
    Rates rates() const { return m_rates; }
    QList<HistoryRow> historyRows() const { return m_historyRows; }
    SwitchRow syncSwitch() const { return m_syncSwitch; }
    SwitchRow loginSwitch() const { return m_loginSwitch; }
    QList<CommandRow> commands() const { return m_commands; }
    // The row of an offered command; nothing for one this build does not offer.
    std::optional<CommandRow> command(Command command) const;

    bool isShown(Section section) const;
    // The sections shown now, in panel order; a divider stands before each but the first.
    QList<Section> shownSections() const;

    // Clears the clipboard, puts removalCommand() on it and marks it copied, whether or not the
    // clipboard took it. The mark stays for as long as this model lives.
    void copyRemovalCommand();
    // One call of togglePause() per turn of the switch, whichever way it was turned: the
    // engine owns the value, and the switch follows it.
    void turnSyncSwitch(bool requestedOn);
    // Asks for the requested value, then shows what the system really has.
    void turnLoginSwitch(bool requestedOn);
    // Reads the login-item status afresh (it lives outside the program).
    void refreshLaunchAtLogin();
    // Runs a command; a disabled one does nothing.
    void run(Command command);

Q_SIGNALS:
    void statusHeaderChanged();
    void legacyWarningChanged(); // shown, or the copy button's title
    void ratesChanged();
    void historyRowsChanged();
    void switchesChanged();
    void commandsChanged();

private:
    void updateStatusHeader();
    void updateLegacyWarning();
    void updateRates();
    void updateHistory();
    void updateSwitches();
    void updateCommands();

    AppState &m_state;
    SyncEngine &m_sync;
    LaunchAtLogin &m_launchAtLogin;
    UpdateController &m_updates;
    Desktop &m_desktop;
    Actions m_actions;

    StatusHeader m_statusHeader;
    bool m_legacyWarningShown = false;
    bool m_removalCommandCopied = false;
    LegacyTraces m_legacyTraces;
    Rates m_rates;
    QList<HistoryRow> m_historyRows;
    SwitchRow m_syncSwitch;
    SwitchRow m_loginSwitch;
    QList<CommandRow> m_commands;
};
