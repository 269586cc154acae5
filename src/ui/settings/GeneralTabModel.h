#pragma once

#include "ui/settings/SettingsPageModel.h"

#include <QString>

#include <optional>

class AppSettings;
class AppState;
class Desktop;
class LaunchAtLogin;
class Logger;
class UpdateController;

// The "General" tab without a pixel: how the rate is followed, its switches, updates with the version, the
// log file and the diagnostics report. The choices live with their owners; the model holds only whether the
// report was copied while it lives.
class GeneralTabModel : public SettingsPageModel
{
    Q_OBJECT
    Q_PROPERTY(bool diagnosticsCopied READ diagnosticsCopied NOTIFY diagnosticsCopiedChanged)

public:
    // The settings' names.
    static inline const QString notifyOnRateChange = QStringLiteral("notifyOnRateChange");
    static inline const QString notifyOnDisconnect = QStringLiteral("notifyOnDisconnect");
    static inline const QString showRateInMenuBar = QStringLiteral("showRateInMenuBar");
    static inline const QString automaticallyCheckForUpdates = QStringLiteral("automaticallyCheckForUpdates");
    static inline const QString launchAtLogin = QStringLiteral("launchAtLogin");
    static inline const QString settleMilliseconds = QStringLiteral("settleMilliseconds");
    static inline const QString followOnlyWhenLocked = QStringLiteral("followOnlyWhenLocked");
    static inline const QString matchPipeWireRate = QStringLiteral("matchPipeWireRate");
    static inline const QString rateChangeCommand = QStringLiteral("rateChangeCommand");

    static inline const QString followingSection = QStringLiteral("Following");
    static inline const QString notificationsSection = QStringLiteral("Notifications");
    static inline const QString menuBarSection = QStringLiteral("Menu bar");
    static inline const QString updatesSection = QStringLiteral("Updates");
    static inline const QString startupSection = QStringLiteral("Startup");
    static inline const QString logsSection = QStringLiteral("Logs");
    static inline const QString menuBarNote = QStringLiteral(
        "A warning icon replaces the metronome if the M-1620 and MADI input stay out of sync.");
    static inline const QString rateChangeCommandPlaceholder = QStringLiteral("Program and arguments");
    static inline const QString rateChangeCommandNote = QStringLiteral(
        "Runs without a shell after each rate change, with QUORVEL_RATE, QUORVEL_PREVIOUS_RATE and "
        "QUORVEL_HOST set. Stopped after 10 s.");
    static inline const QString aboutTitle = QStringLiteral("About Quorvel");
    static inline const QString checkNowTitle = QStringLiteral("Check now");
    // Shown instead of the update controls in a build without a feed, where no check can run.
    static inline const QString packageManagerNote
        = QStringLiteral("Updates come with your system's package manager.");
    static inline const QString revealTitle = QStringLiteral("Reveal");
    static inline const QString copyDiagnosticsTitle = QStringLiteral("Copy diagnostics");
    static constexpr qint64 diagnosticsLogLines = 200;
    // The credits of the About dialog, in the program's resources.
    static inline const QString acknowledgementsResource = QStringLiteral(":/Acknowledgements.txt");

    // "Version " and the version, "?" when it is unknown.
    static QString versionTextFor(const QString &version);
    static QString diagnosticsCaptionFor(bool copied);
    // The whole file as UTF-8; nothing when it is missing, unreadable or not UTF-8.
    static std::optional<QString> creditsFrom(const QString &path);

    // The objects must outlive the model; logger's logFile() is the one shown, revealed and
    // reported.
    GeneralTabModel(const AppState &state, AppSettings &settings, LaunchAtLogin &launchAtLogin,
                    UpdateController &updates, Logger &logger, Desktop &desktop, QObject *parent = nullptr);

    // The login entry lives outside the program; views call this when they may be stale.
    void refreshLaunchAtLogin();

    QString versionText() const;
    // With a feed the section holds the automatic-check switch and "Check now"; without one,
    // neither (the switch is not among settings()) and packageManagerNote in their place.
    bool offersUpdateChecks() const;
    bool canCheckForUpdates() const;
    // A check the user asked for; the updater reports its outcome.
    void checkForUpdates();

    QString logFile() const;
    // Opens the file manager with the log file selected.
    void revealLogFile();

    // The report as it would be copied now: 200 log lines of the shown log.
    QString diagnosticsReport() const;
    bool diagnosticsCopied() const { return m_diagnosticsCopied; }
    QString diagnosticsCaption() const { return diagnosticsCaptionFor(m_diagnosticsCopied); }
    // Puts a fresh report on the clipboard; the caption then says so for the model's life.
    void copyDiagnostics();

Q_SIGNALS:
    void canCheckForUpdatesChanged();
    void diagnosticsCopiedChanged();

private:
    const AppState &m_state;
    AppSettings &m_settings;
    LaunchAtLogin &m_launchAtLogin;
    UpdateController &m_updates;
    Logger &m_logger;
    Desktop &m_desktop;
    bool m_diagnosticsCopied = false;
};
