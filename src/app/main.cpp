#include "app/BusClient.h"
#include "app/BusService.h"
#include "app/CommandLine.h"
#include "app/QuorvelApp.h"
#include "app/SingleInstance.h"
#include "core/BuildInfo.h"
#include "platform/UnixSignalWatcher.h"
#include "services/AppSettings.h"
#include "services/Logger.h"
#include "sync/SyncEngine.h"
#include "ui/settings/TestOutcome.h"

#if QUORVEL_DESKTOP
#include "app/DesktopFrontEnd.h"
#include "ui/widgets/SymbolImage.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <unistd.h>
#endif

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <optional>
#include <qcoro/qcorotask.h>

namespace {

void print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

int runTestConnection(QCoreApplication &app, const QString &host)
{
    std::optional<int> exitCode;
    // A malformed host fails before anything is sent, so the answer may come before exec().
    QCoro::connect(SyncEngine::testConnection(host), &app, [&](const M1620Result<DeviceStatus> &result) {
        print(stdout, TestOutcome::from(result).text + QLatin1Char('\n'));
        exitCode = result.ok() ? 0 : 1;
        app.quit();
    });
    if (!exitCode)
        app.exec();
    return exitCode.value_or(1);
}

int runBusClient(QCoreApplication &app, const CommandLine &command)
{
    BusClient client;
    switch (command.mode) {
    case CommandLine::Mode::Status:
        return client.status(command.json);
    case CommandLine::Mode::Pause:
        return client.pause();
    case CommandLine::Mode::Resume:
        return client.resume();
    default:
        break;
    }
    if (const int failed = client.startWatching(); failed != 0)
        return failed;
    UnixSignalWatcher interrupt;
    QObject::connect(&interrupt, &UnixSignalWatcher::terminationRequested, &app, &QCoreApplication::quit);
    return app.exec();
}

int runEngine(QCoreApplication &app, bool headless)
{
    // A second start of the desktop program shows the running one's panel; one of the
    // headless program is refused, since nobody would see the panel.
    SingleInstance instance;
    if (!instance.tryAcquire()) {
        if (headless) {
            const qint64 pid = instance.runningPid();
            print(stderr,
                  QStringLiteral("quorvel: another Quorvel is already running for this user")
                      + (pid > 0 ? QStringLiteral(" (pid %1)").arg(pid) : QString())
                      + QStringLiteral("; two would fight over the device.\n"));
            return 3;
        }
        if (!instance.activateRunning())
            print(stderr, QStringLiteral("quorvel: another Quorvel is running but did not answer.\n"));
        return 0;
    }

    UnixSignalWatcher terminationWatcher;
    QObject::connect(&terminationWatcher, &UnixSignalWatcher::terminationRequested, &app,
                     &QCoreApplication::quit);

    int exitCode = 0;
    {
        QuorvelApp::FrontEndFactory frontEnd;
#if QUORVEL_DESKTOP
        if (!headless)
            frontEnd = [](QuorvelApp &app) { return std::make_unique<DesktopFrontEnd>(app); };
#endif
        QuorvelApp quorvel(frontEnd);
        QObject::connect(&instance, &SingleInstance::activationRequested, &quorvel, &QuorvelApp::showPanel);
        BusService bus(
            quorvel.state(), AppSettings::shared(), quorvel.sync(),
            headless ? std::function<void()>() : [&quorvel] { quorvel.showPanel(); });
        if (const QString why = bus.registerOn(QDBusConnection::sessionBus()); !why.isEmpty())
            Logger::shared().info(QStringLiteral("No session-bus interface (") + why
                                  + QStringLiteral("); quorvel status and watch cannot reach this Quorvel"));
        exitCode = app.exec();
        QCoro::waitFor(quorvel.finish());
    }
    // The engine is gone; its loops end at their next step (a pending request or wait is
    // cut short). A notification still being posted gets a moment to finish.
    if (SyncEngine::runningLoops() > 0) {
        const QDeadlineTimer drain(2000);
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, &loop, [&] {
            if (SyncEngine::runningLoops() == 0 || drain.hasExpired())
                loop.quit();
        });
        check.start(10);
        loop.exec();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // Lines handed to the log before the quit reach the file before the process ends.
    Logger::shared().flush();
    return exitCode;
}

#if QUORVEL_DESKTOP
// The headless modes run in quorvel-engine, a build of this program without the widget
// libraries: an engine running all day on a server should not carry them in memory.
// Beside this program in the build tree, in libexec/quorvel when installed. When it is not
// there, the modes run here, just heavier.
void execEngineProgram(char *argv[])
{
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return;
    self[length] = '\0';
    const QString folder = QFileInfo(QString::fromLocal8Bit(self)).absolutePath();
    const QStringList candidates {folder + QStringLiteral("/quorvel-engine"),
                                  folder + QStringLiteral("/../libexec/quorvel/quorvel-engine")};
    for (const QString &candidate : candidates) {
        const QByteArray path = QFile::encodeName(QFileInfo(candidate).absoluteFilePath());
        if (::access(path.constData(), X_OK) == 0)
            ::execv(path.constData(), argv); // returns only on failure
    }
}
#endif

} // namespace

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine command = CommandLine::parse(arguments);

    switch (command.mode) {
    case CommandLine::Mode::Invalid:
        print(stderr,
              QStringLiteral("quorvel: ") + command.error + QStringLiteral("\n\n") + CommandLine::helpText());
        return 2;
    case CommandLine::Mode::Help:
        print(stdout, CommandLine::helpText());
        return 0;
    case CommandLine::Mode::Version:
        print(stdout,
              QStringLiteral("Quorvel %1 (%2)\n")
                  .arg(QString::fromUtf8(BuildInfo::version), QString::fromUtf8(BuildInfo::buildNumber)));
        return 0;
    default:
        break;
    }

    if (command.mode != CommandLine::Mode::Desktop) {
#if QUORVEL_DESKTOP
        execEngineProgram(argv);
#endif
        // No display needed: these run on a server or over ssh as well.
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Quorvel"));
        QCoreApplication::setApplicationVersion(QString::fromUtf8(BuildInfo::version));
        if (command.mode == CommandLine::Mode::TestConnection)
            return runTestConnection(app, command.host);
        if (command.mode == CommandLine::Mode::Headless)
            return runEngine(app, true);
        return runBusClient(app, command);
    }

#if QUORVEL_DESKTOP
    // Qt would abort with a terse message of its own; say what to do instead.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        print(stderr,
              QStringLiteral("quorvel: no display to show the tray on; run quorvel --headless to "
                             "sync without a user interface.\n"));
        return 2;
    }
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationVersion(QString::fromUtf8(BuildInfo::version));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Quorvel"));
    QGuiApplication::setDesktopFileName(QStringLiteral("app.quorvel.Quorvel"));
    QGuiApplication::setWindowIcon(SymbolImage::appIcon());
    // A tray program keeps running with no window open; only "Quit Quorvel" ends it.
    QApplication::setQuitOnLastWindowClosed(false);
    return runEngine(app, false);
#else
    print(stderr,
          QStringLiteral(
              "quorvel-engine: runs only --headless, --test-connection and the status commands; start "
              "quorvel for the tray.\n"));
    return 2;
#endif
}
