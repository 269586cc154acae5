#include "discovery/DiagnosticsEnvironment.h"

#include "core/BuildInfo.h"
#include "discovery/DiagnosticsReport.h"
#include "services/LaunchAtLogin.h"
#include "services/Logger.h"

#include <QSysInfo>

DiagnosticsEnvironment DiagnosticsEnvironment::current()
{
    DiagnosticsEnvironment environment;
    environment.now = QDateTime::currentDateTime();
    environment.locale = QLocale::system();
    environment.version = QString::fromUtf8(BuildInfo::version);
    environment.build = QString::fromUtf8(BuildInfo::buildNumber);
    environment.systemName = QSysInfo::prettyProductName();
    environment.kernelRelease = QSysInfo::kernelVersion();
    environment.machine = DiagnosticsReport::machineDescription();
    environment.launchAtLogin = LaunchAtLogin::shared().isEnabled();
    environment.logFile = Logger::shared().logFile();
    return environment;
}
