#include "platform/QProcessRunner.h"

#include "platform/PlatformLogging.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <qcoro/qcoroprocess.h>

using namespace std::chrono;

QCoro::Task<ProcessRunner::Outcome> QProcessRunner::run(Request request)
{
    QProcess process;
    process.setProgram(request.program);
    process.setArguments(request.arguments);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (auto it = request.environment.cbegin(); it != request.environment.cend(); ++it)
        environment.insert(it.key(), it.value());
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setProcessChannelMode(request.captureOutput ? QProcess::SeparateChannels
                                                        : QProcess::ForwardedChannels);
    qCDebug(lcPlatform).noquote() << "running" << request.program << request.arguments.join(QLatin1Char(' '));

    Outcome outcome;
    const steady_clock::time_point started = steady_clock::now();
    process.start();
    if (!co_await qCoro(process).waitForStarted(request.limit)) {
        outcome.end = Outcome::End::FailedToStart;
        outcome.why = process.error() == QProcess::Timedout ? QStringLiteral("it did not start in time")
                                                            : process.errorString();
        process.kill();
        co_return outcome;
    }
    const auto left = std::max(milliseconds(1),
                               request.limit - duration_cast<milliseconds>(steady_clock::now() - started));
    if (!co_await qCoro(process).waitForFinished(left)) {
        process.kill();
        // SIGKILL cannot be refused; the wait only reaps the child.
        co_await qCoro(process).waitForFinished(milliseconds(1000));
        outcome.end = Outcome::End::TimedOut;
        co_return outcome;
    }
    if (request.captureOutput) {
        outcome.output = process.readAllStandardOutput();
        outcome.errorOutput = process.readAllStandardError();
    }
    if (process.exitStatus() == QProcess::CrashExit) {
        outcome.end = Outcome::End::Crashed;
        co_return outcome;
    }
    outcome.end = Outcome::End::Exited;
    outcome.exitStatus = process.exitCode();
    co_return outcome;
}
