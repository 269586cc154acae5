#include "ui/AppScenes.h"

#include "platform/FreedesktopDesktop.h"
#include "platform/TrayHostWatcher.h"
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

    connect(m_statusItem, &StatusItem::iconActivated, m_panel, &PanelWindow::toggle);
    connect(m_statusItem, &StatusItem::openPanelRequested, m_panel, &PanelWindow::present);
    connect(m_services.updates, &UpdateController::userCheckFinished, this,
            [this](const UpdateController::Outcome &outcome) {
                if (!m_updateDialog) {
                    m_updateDialog = new UpdateOutcomeDialog(*m_services.desktop);
                    m_updateDialog->setAttribute(Qt::WA_DeleteOnClose);
                }
                m_updateDialog->setOutcome(outcome);
                m_updateDialog->present();
            });

    if (!m_trayWait.host) {
        m_ownTrayHost = std::make_unique<TrayHostWatcher>();
        m_trayWait.host = m_ownTrayHost.get();
    }
    m_patience.setTimerType(Qt::PreciseTimer);
    m_patience.setSingleShot(true);
    m_patience.setInterval(m_trayWait.patience);
    connect(&m_patience, &QTimer::timeout, this, [this] { m_noTrayTask.emplace(useWindow()); });
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
    TrayHost *host = m_trayWait.host;
    // A panel that restarts needs nothing from us: Qt's StatusNotifierItem watches the
    // watcher's name and registers the icon again with whoever owns it next.
    connect(host, &TrayHost::availableChanged, this, &AppScenes::trayAvailabilityChanged);
    m_waited.start();
    if (host->isAvailable())
        useTray();
    else
        m_patience.start();
}

void AppScenes::trayAvailabilityChanged()
{
    qCDebug(lcUi) << "tray available:" << m_trayWait.host->isAvailable();
    if (m_trayWait.host->isAvailable() && !m_hasTray)
        useTray();
}

void AppScenes::useTray()
{
    m_patience.stop();
    const bool windowShown = m_panel->style() == PanelWindow::Style::Window;
    qCDebug(lcUi) << "tray found after" << m_waited.elapsed() << "ms; the panel"
                  << (windowShown ? "stays a window" : "drops down from the icon");
    m_hasTray = true;
    m_statusItem->show();
    Q_EMIT trayDecided(true);
}

QCoro::Task<> AppScenes::useWindow()
{
    using namespace std::chrono;
    qCDebug(lcUi) << "no tray after" << m_waited.elapsed() << "ms; the panel is a window";
    m_services.logger->warn(noTrayMessage.arg(duration_cast<seconds>(m_trayWait.patience).count()));
    // The user may be typing elsewhere by now; nothing may take the keyboard. X11 window managers
    // honour a window shown without activation. On Wayland the panel is already a window, and a
    // new window gets the keyboard whatever the client asks (sway focuses every one): there a
    // notification offers the panel instead, and the window shows itself only where no
    // notification can.
    const bool waylandLike = m_panel->style() == PanelWindow::Style::Floating;
    m_panel->setStyle(PanelWindow::Style::Window);
    Q_EMIT trayDecided(false);
    if (!waylandLike) {
        m_panel->reveal();
        co_return;
    }
    const QPointer<AppScenes> alive(this);
    // Named rather than a temporary of the co_await: GCC 12 mishandles those.
    std::function<void()> open = [alive] {
        if (alive && !alive->m_hasTray)
            alive->m_panel->present({});
    };
    const bool offered
        = co_await m_services.desktop->offer(noTrayTitle, noTrayBody, noTrayChoice, std::move(open));
    if (alive && !offered && !m_hasTray)
        m_panel->reveal();
}

void AppScenes::showPanel()
{
    m_panel->present(m_statusItem->iconGeometry());
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
