#include "app/DesktopFrontEnd.h"

#include "services/AppSettings.h"
#include "services/LaunchAtLogin.h"
#include "services/Logger.h"
#include "services/UpdateController.h"
#include "ui/AppScenes.h"

DesktopFrontEnd::DesktopFrontEnd(QuorvelApp &app)
{
    // Headless there is nobody to tell about a newer version, so the updater starts only
    // with the desktop program.
    UpdateController &updates = UpdateController::shared();
    m_scenes = std::make_unique<AppScenes>(
        app.state(), app.sync(),
        AppScenes::Services {&AppSettings::shared(), &LaunchAtLogin::shared(), &updates, &Logger::shared()},
        AppScenes::TrayWait {});
    m_scenes->start();
}

DesktopFrontEnd::~DesktopFrontEnd() = default;

void DesktopFrontEnd::showPanel()
{
    m_scenes->showPanel();
}
