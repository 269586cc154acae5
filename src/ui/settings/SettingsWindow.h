#pragma once

#include "discovery/DeviceDiscovery.h"
#include "ui/settings/ConnectionTabModel.h"

#include <QWidget>

class AppSettings;
class AppState;
class ConnectionTab;
class Desktop;
class GeneralTab;
class GeneralTabModel;
class LaunchAtLogin;
class Logger;
class QTabWidget;
class UpdateController;

// The settings window: the "Connection" and "General" tabs around a 460 × 420 content area,
// each with its own model. Created when the user opens it and gone when it closes, so what it
// owns (the models and with them the device discovery) lives only while it shows. Browsing
// runs exactly while the Connection tab is on screen in the open window.
class SettingsWindow : public QWidget
{
    Q_OBJECT

public:
    // The shared objects the window works on, and the seams tests replace. The objects must
    // outlive the window.
    struct Services
    {
        AppSettings *settings = nullptr;
        LaunchAtLogin *launchAtLogin = nullptr;
        UpdateController *updates = nullptr;
        Logger *logger = nullptr; // its logFile() is the one shown, revealed and reported
        DeviceDiscovery::BrowserFactory browserFactory; // empty: the system's avahi-daemon
        ConnectionTabModel::ConnectionTester tester; // empty: SyncEngine::testConnection
        Desktop *desktop = nullptr;
    };

    static inline const QString title = QStringLiteral("Quorvel Settings");
    // The tabs' content size; the window adds the style's margins around it.
    static constexpr QSize contentSize {460, 420};
    enum Tab { ConnectionTabIndex = 0, GeneralTabIndex = 1 };

    SettingsWindow(const AppState &state, Services services, QWidget *parent = nullptr);
    ~SettingsWindow() override;

    QTabWidget *tabs() const { return m_tabs; }
    ConnectionTabModel &connectionModel() const { return *m_connectionModel; }
    GeneralTabModel &generalModel() const { return *m_generalModel; }
    ConnectionTab *connectionTab() const { return m_connection; }
    GeneralTab *generalTab() const { return m_general; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void updateConnectionTabShown();

    ConnectionTabModel *m_connectionModel;
    GeneralTabModel *m_generalModel;
    QTabWidget *m_tabs;
    ConnectionTab *m_connection;
    GeneralTab *m_general;
};
