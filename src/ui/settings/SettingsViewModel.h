#pragma once

#include "device/DeviceStatus.h"
#include "device/M1620Result.h"
#include "discovery/DeviceDiscovery.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <qcoro/qcorotask.h>

class AppSettings;
class AppState;
class LaunchAtLogin;
class Logger;
class PlatformUi;
class SyncEngine;
class UpdateController;

// Everything the settings window shows and does, without a pixel: both tabs' texts, the value
// and effect of every switch, the connection test, the discovered hosts and the General tab's
// commands. SettingsWindow only draws it. Choices live in AppSettings and the other shared
// objects; the model itself holds only the window's passing state: the running test, its last
// outcome, the copied flag and its own DeviceDiscovery.
class SettingsViewModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool testing READ testing NOTIFY testChanged)
    Q_PROPERTY(std::optional<QString> testResult READ testResult NOTIFY testChanged)
    Q_PROPERTY(bool diagnosticsCopied READ diagnosticsCopied NOTIFY diagnosticsCopiedChanged)

public:
    enum class Toggle {
        UseCustomHost,
        NotifyOnRateChange,
        NotifyOnDisconnect,
        ShowRateInMenuBar,
        AutomaticallyCheckForUpdates,
        LaunchAtLogin,
    };
    Q_ENUM(Toggle)

    // The colour of the test outcome; the view picks the shade for the palette.
    enum class Tint { Green, Red };

    // One status read of a host, as SyncEngine::testConnection does it.
    using ConnectionTester = std::function<QCoro::Task<M1620Result<DeviceStatus>>(const QString &host)>;

    // The shared objects the window works on, and the seams tests replace. The objects must
    // outlive the model.
    struct Services
    {
        AppSettings *settings = nullptr;
        LaunchAtLogin *launchAtLogin = nullptr;
        UpdateController *updates = nullptr;
        Logger *logger = nullptr; // its logFile() is the one shown, revealed and reported
        DeviceDiscovery::BrowserFactory browserFactory; // empty: the system's avahi-daemon
        ConnectionTester tester; // empty: SyncEngine::testConnection
        PlatformUi *platform = nullptr; // null: PlatformUi::shared()
    };

    // Connection tab.
    static inline const QString deviceSection = QStringLiteral("Device");
    static inline const QString hostFieldLabel = QStringLiteral("172.20.0.1");
    static inline const QString hostFieldPlaceholder = QStringLiteral("e.g. 192.168.1.42 or m1620.local");
    static inline const QString testTitle = QStringLiteral("Test");
    static inline const QString defaultHostNote
        = QStringLiteral("Default is 172.20.0.1 — the M-1620's USB control address.");
    static inline const QString discoveredHeading = QStringLiteral("Discovered on network");
    static inline const QString useTitle = QStringLiteral("Use");
    static inline const QString nothingDiscovered
        = QStringLiteral("Nothing found yet. Make sure the device is on the same network.");
    static inline const QString discoveredSymbol = QStringLiteral("dot.radiowaves.left.and.right");

    // General tab.
    static inline const QString notificationsSection = QStringLiteral("Notifications");
    static inline const QString menuBarSection = QStringLiteral("Menu bar");
    static inline const QString updatesSection = QStringLiteral("Updates");
    static inline const QString startupSection = QStringLiteral("Startup");
    static inline const QString logsSection = QStringLiteral("Logs");
    static inline const QString menuBarNote = QStringLiteral(
        "A warning icon replaces the metronome if the M-1620 and MADI input stay out of sync.");
    static inline const QString aboutTitle = QStringLiteral("About Quorvel");
    static inline const QString checkNowTitle = QStringLiteral("Check now");
    static inline const QString revealTitle = QStringLiteral("Reveal");
    static inline const QString copyDiagnosticsTitle = QStringLiteral("Copy diagnostics");
    static constexpr qint64 diagnosticsLogLines = 200;

    // The credits of the About dialog, in the program's resources.
    static inline const QString acknowledgementsResource = QStringLiteral(":/Acknowledgements.txt");

    static QString textOf(Toggle toggle);
    // "✓ …" is green, anything else red.
    static Tint tintFor(const QString &testResult);
    // "Version " and the version, "?" when it is unknown.
    static QString versionTextFor(const QString &version);
    static QString diagnosticsCaptionFor(bool copied);
    // The whole file as UTF-8; nothing when it is missing, unreadable or not UTF-8.
    static std::optional<QString> creditsFrom(const QString &path);

    SettingsViewModel(AppState &state, SyncEngine &sync, Services services, QObject *parent = nullptr);
    ~SettingsViewModel() override;

    // Switches, read afresh from their owners each time.
    bool isOn(Toggle toggle) const;
    // What flipping a switch does: a setting's setter, the login entry or the updater's flag.
    void setOn(Toggle toggle, bool on);
    // The login entry lives outside the program; views call this when they may be stale.
    void refreshLaunchAtLogin();

    // The custom host field: its text, written to the settings on every edit, and enabled
    // only while the custom host is switched on.
    QString customHost() const;
    void editCustomHost(const QString &text);
    bool isHostFieldEnabled() const;

    // The host "Test" reads, by the effective-host rule, as the settings are now.
    QString hostToTest() const;
    bool testing() const { return m_testing; }
    bool canTest() const { return !m_testing; }
    std::optional<QString> testResult() const { return m_testResult; }
    // Clears the last outcome and tests hostToTest() in the background; the outcome arrives
    // as testChanged(). Does nothing while a test runs. Nothing cancels a test: one that ends
    // after the model is gone changes nothing.
    void runConnectionTest();

    DeviceDiscovery &discovery() const { return *m_discovery; }
    QStringList discoveredHosts() const;
    bool isBrowsing() const;
    // Browsing runs exactly while the Connection form is on screen.
    void setConnectionFormShown(bool shown);
    bool isConnectionFormShown() const { return m_connectionFormShown; }
    // Makes the host the custom host and switches it on, even when it already is.
    void useDiscoveredHost(const QString &host);

    QString versionText() const;
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

    PlatformUi &platform() const { return *m_platform; }

Q_SIGNALS:
    // The switch's value may have changed (for the host switch also the field's enablement).
    void toggleChanged(SettingsViewModel::Toggle toggle);
    void customHostChanged();
    void testChanged();
    void discoveryChanged();
    void canCheckForUpdatesChanged();
    void diagnosticsCopiedChanged();

private:
    QCoro::Task<> test(QString host);
    void finishTest(const QString &outcome);

    AppState &m_state;
    SyncEngine &m_sync;
    AppSettings &m_settings;
    LaunchAtLogin &m_launchAtLogin;
    UpdateController &m_updates;
    Logger &m_logger;
    ConnectionTester m_tester;
    PlatformUi *m_platform;
    DeviceDiscovery *m_discovery;
    bool m_testing = false;
    std::optional<QString> m_testResult;
    bool m_diagnosticsCopied = false;
    bool m_connectionFormShown = false;
};
