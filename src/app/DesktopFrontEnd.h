#pragma once

#include "app/QuorvelApp.h"

#include <memory>

class AppScenes;

// The desktop program's front end: the update controller, then the tray, the panel and the
// settings window. Built only into the desktop program, which needs a QApplication.
class DesktopFrontEnd final : public QuorvelApp::FrontEnd
{
public:
    explicit DesktopFrontEnd(QuorvelApp &app);
    ~DesktopFrontEnd() override;

    void showPanel() override;

private:
    std::unique_ptr<AppScenes> m_scenes;
};
