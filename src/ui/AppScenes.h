#pragma once

#include "discovery/DeviceDiscovery.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

class AppSettings;
class AppState;
class Desktop;
class FreedesktopDesktop;
class LaunchAtLogin;
class Logger;
class MenuBarLabel;
class MenuBarView;
class PanelWindow;
class SettingsWindow;
class StatusItem;
class SyncEngine;
class TrayHost;
class UpdateController;
class UpdateOutcomeDialog;

// The program's whole user interface: the status item with its label, the drop-down panel, the
// settings window and the update dialog. Every window is opened here and nowhere else, so a new
// window is added here too: created on demand, raised when already open, and given the shared
// objects from Services. The status item is always there: with no tray on the desktop the
// panel becomes an ordinary window instead, so the user is never locked out.
class AppScenes : public QObject
{
    Q_OBJECT

public:
    struct Services
    {
        AppSettings *settings = nullptr;
        LaunchAtLogin *launchAtLogin = nullptr;
        UpdateController *updates = nullptr;
        Logger *logger = nullptr;
        // The clipboard and the file manager; null: the freedesktop one.
        Desktop *desktop = nullptr;
        // How the settings window browses for devices; empty: the system's avahi-daemon.
        DeviceDiscovery::BrowserFactory discoveryBrowser = {};
    };

    // At login the tray may come up after us. After patience without one the panel shows as a
    // window; a tray that comes later, however late, still gets the icon.
    struct TrayWait
    {
        // Tells when a tray is there; null: a TrayHostWatcher on the session bus and display.
        TrayHost *host = nullptr;
        std::chrono::milliseconds patience {30000};
    };

    // Where a window would take the keyboard, the notification that offers the panel instead.
    static inline const QString noTrayTitle = QStringLiteral("Quorvel is running without a tray icon");
    static inline const QString noTrayBody
        = QStringLiteral("No system tray was found. Open Quorvel to see the device's rate.");
    static inline const QString noTrayChoice = QStringLiteral("Open Quorvel");
    // For the log, with %1 the seconds waited.
    static inline const QString noTrayMessage = QStringLiteral(
        "No system tray found after %1 s — showing the Quorvel panel as a window instead. Closing it "
        "keeps Quorvel running; start Quorvel again to reopen it.");

    // The services must outlive the scenes.
    AppScenes(AppState &state, SyncEngine &sync, Services services, TrayWait trayWait,
              QObject *parent = nullptr);
    ~AppScenes() override;

    // Puts the status item up once a tray is there, and starts the patience.
    void start();

    // Shows the panel, e.g. for a second start of the program.
    void showPanel();
    // Opens the settings window, or brings the open one forward.
    void openSettings();

    MenuBarView &view() const { return *m_view; }
    PanelWindow &panel() const { return *m_panel; }
    StatusItem &statusItem() const { return *m_statusItem; }
    // The open settings window, or null.
    SettingsWindow *settingsWindow() const;
    // The dialog with the last update check's outcome while it shows, or null.
    UpdateOutcomeDialog *updateDialog() const;
    bool isWaitingForTray() const { return m_patience.isActive(); }
    bool hasTray() const { return m_hasTray; }

Q_SIGNALS:
    // The wait is over: trayFound tells whether the status item is up. A tray that comes
    // after the window was shown is told with true once more.
    void trayDecided(bool trayFound);

private:
    void trayAvailabilityChanged();
    void useTray();
    QCoro::Task<> useWindow();

    AppState &m_state;
    SyncEngine &m_sync;
    Services m_services;
    std::unique_ptr<FreedesktopDesktop> m_ownDesktop;
    std::unique_ptr<TrayHost> m_ownTrayHost;
    TrayWait m_trayWait;
    MenuBarLabel *m_label;
    MenuBarView *m_view;
    PanelWindow *m_panel;
    StatusItem *m_statusItem;
    QPointer<SettingsWindow> m_settingsWindow;
    QPointer<UpdateOutcomeDialog> m_updateDialog;
    QTimer m_patience;
    std::optional<QCoro::Task<>> m_noTrayTask;
    QElapsedTimer m_waited;
    bool m_hasTray = false;
};
