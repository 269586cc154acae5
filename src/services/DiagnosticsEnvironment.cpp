#include "services/DiagnosticsEnvironment.h"

#include "core/BuildInfo.h"
#include "platform/LinuxMachineInfo.h"
#include "services/LaunchAtLogin.h"
#include "services/Logger.h"

DiagnosticsEnvironment DiagnosticsEnvironment::current()
{
    DiagnosticsEnvironment environment;
    environment.now = QDateTime::currentDateTime();
    environment.locale = QLocale::system();
    environment.version = QString::fromUtf8(BuildInfo::version);
    environment.build = QString::fromUtf8(BuildInfo::buildNumber);
    const LinuxMachineInfo machine;
    environment.systemName = machine.systemName();
    environment.kernelRelease = machine.kernelRelease();
    environment.machine = machine.model() + QStringLiteral(", ") + machine.architecture();
    environment.launchAtLogin = LaunchAtLogin::shared().isEnabled();
    environment.logFile = Logger::shared().logFile();
    return environment;
}
