#include "ui/AppScenes.h"

#include "platform/FreedesktopDesktop.h"
#include "services/AppSettings.h"
#include "services/LaunchAtLogin.h"
#include "services/Logger.h"
#include "services/UpdateController.h"
#include "ui/UiLogging.h"
#include "ui/panel/MenuBarLabel.h"
#include "ui/panel/MenuBarView.h"
#include "ui/panel/PanelWindow.h"
#include "ui/panel/StatusItem.h"
#include "ui/settings/SettingsWindow.h"
#include "ui/settings/UpdateOutcomeDialog.h"

#include <QGuiApplication>
#include <QSystemTrayIcon>

AppScenes::AppScenes(AppState &state, SyncEngine &sync, Services services, TrayWait trayWait, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_sync(sync)
    , m_services(services)
    , m_trayWait(std::move(trayWait))
{
    Q_ASSERT(m_services.settings && m_services.launchAtLogin && m_services.updates && m_services.logger);
    if (!m_services.desktop) {
        m_ownDesktop = std::make_unique<FreedesktopDesktop>();
        m_services.desktop = m_ownDesktop.get();
    }

    m_label = new MenuBarLabel(m_state, *m_services.settings, this);
    m_view = new MenuBarView(m_state, m_sync, *m_services.launchAtLogin, *m_services.updates,
                             *m_services.desktop, {[this] { openSettings(); }, {}});
    m_panel = new PanelWindow(m_view);
    m_panel->setStyle(PanelWindow::dropDownStyle(QGuiApplication::platformName()));
    m_statusItem = new StatusItem(*m_label, m_view->model(), this);

    connect(m_statusItem, &StatusItem::panelRequested, m_panel, &PanelWindow::toggle);
    connect(m_services.updates, &UpdateController::userCheckFinished, this,
            [this](const UpdateController::Outcome &outcome) {
                if (!m_updateDialog) {
                    m_updateDialog = new UpdateOutcomeDialog(*m_services.desktop);
                    m_updateDialog->setAttribute(Qt::WA_DeleteOnClose);
                }
                m_updateDialog->setOutcome(outcome);
                m_updateDialog->present();
            });

    m_trayTimer.setTimerType(Qt::PreciseTimer);
    m_trayTimer.setInterval(m_trayWait.interval);
    connect(&m_trayTimer, &QTimer::timeout, this, &AppScenes::checkTray);
}

AppScenes::~AppScenes()
{
    // The status item's menu calls into the panel's model, so it goes first.
    delete m_statusItem;
    delete m_settingsWindow.data();
    delete m_updateDialog.data();
    delete m_panel;
}

SettingsWindow *AppScenes::settingsWindow() const
{
    return m_settingsWindow;
}

UpdateOutcomeDialog *AppScenes::updateDialog() const
{
    return m_updateDialog;
}

void AppScenes::start()
{
    if (trayAvailable()) {
        useTray();
        return;
    }
    m_waited = std::chrono::milliseconds(0);
    m_trayTimer.start();
}

bool AppScenes::trayAvailable() const
{
    return m_trayWait.isTrayAvailable ? m_trayWait.isTrayAvailable()
                                      : QSystemTrayIcon::isSystemTrayAvailable();
}

void AppScenes::checkTray()
{
    m_waited += m_trayWait.interval;
    if (trayAvailable()) {
        m_trayTimer.stop();
        useTray();
    } else if (m_waited >= m_trayWait.patience) {
        m_trayTimer.stop();
        useWindow();
    }
}

void AppScenes::useTray()
{
    qCDebug(lcUi) << "tray found after" << m_waited.count() << "ms; the panel drops down as"
                  << (m_panel->style() == PanelWindow::Style::Popup ? "a popup" : "a dialog");
    m_hasTray = true;
    m_statusItem->show();
    Q_EMIT trayDecided(true);
}

void AppScenes::useWindow()
{
    using namespace std::chrono;
    qCDebug(lcUi) << "no tray after" << m_waited.count() << "ms; the panel is a window";
    m_services.logger->warn(noTrayMessage.arg(duration_cast<seconds>(m_trayWait.patience).count()));
    m_panel->setStyle(PanelWindow::Style::Window);
    // The user may be typing elsewhere by now; the window must not take the keyboard.
    m_panel->reveal();
    Q_EMIT trayDecided(false);
}

void AppScenes::showPanel()
{
    m_panel->present(m_hasTray ? m_statusItem->trayIcon().geometry() : QRect());
}

void AppScenes::openSettings()
{
    if (!m_settingsWindow) {
        qCDebug(lcUi) << "settings window opened";
        m_settingsWindow = new SettingsWindow(m_state,
                                              {m_services.settings,
                                               m_services.launchAtLogin,
                                               m_services.updates,
                                               m_services.logger,
                                               m_services.discoveryBrowser,
                                               {},
                                               m_services.desktop});
        m_settingsWindow->setAttribute(Qt::WA_DeleteOnClose);
    } else {
        qCDebug(lcUi) << "settings window raised";
    }
    m_settingsWindow->show();
    m_settingsWindow->raise();
    m_settingsWindow->activateWindow();
}
