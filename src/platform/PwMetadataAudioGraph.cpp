#include "platform/PwMetadataAudioGraph.h"

#include "platform/ProcessRunner.h"

#include <QRegularExpression>

namespace {
const QString key = QStringLiteral("clock.force-rate");
} // namespace

PwMetadataAudioGraph::PwMetadataAudioGraph(ProcessRunner &runner, QString program)
    : m_runner(runner)
    , m_program(std::move(program))
{ }

QCoro::Task<AudioGraph::Result> PwMetadataAudioGraph::forcedRate()
{
    return metadata({key});
}

QCoro::Task<AudioGraph::Result> PwMetadataAudioGraph::forceRate(qint64 hertz)
{
    return metadata({key, QString::number(hertz)});
}

// "pw-metadata -n settings 0 clock.force-rate [value]" prints the metadata it found and the key's
// value after the change, if any. It exits 0 also when no "settings" metadata exists, and then
// prints nothing: that is a failure too.
QCoro::Task<AudioGraph::Result> PwMetadataAudioGraph::metadata(QStringList keyAndValue)
{
    ProcessRunner::Request request {
        .program = m_program,
        .arguments
        = QStringList {QStringLiteral("-n"), QStringLiteral("settings"), QStringLiteral("0")} + keyAndValue,
        .limit = limit,
        .captureOutput = true,
    };
    const ProcessRunner::Outcome outcome = co_await m_runner.run(std::move(request));
    Result result;
    switch (outcome.end) {
    case ProcessRunner::Outcome::End::FailedToStart:
        result.failure = Result::Failure::ToolMissing;
        result.detail = outcome.why;
        co_return result;
    case ProcessRunner::Outcome::End::TimedOut:
        result.failure = Result::Failure::TimedOut;
        co_return result;
    case ProcessRunner::Outcome::End::Crashed:
        result.failure = Result::Failure::Refused;
        result.detail = QStringLiteral("pw-metadata crashed");
        co_return result;
    case ProcessRunner::Outcome::End::Exited:
        break;
    }
    const QString said = QString::fromUtf8(outcome.errorOutput).trimmed();
    if (outcome.exitStatus != 0) {
        result.failure = said.contains(QStringLiteral("connect")) ? Result::Failure::NotRunning
                                                                  : Result::Failure::Refused;
        result.detail = said.section(QLatin1Char('\n'), 0, 0);
        co_return result;
    }
    const QString output = QString::fromUtf8(outcome.output);
    if (!output.contains(QStringLiteral("Found \"settings\" metadata"))) {
        result.failure = Result::Failure::NoSettings;
        co_return result;
    }
    // update: id:0 key:'clock.force-rate' value:'96000' type:''
    static const QRegularExpression value(QStringLiteral(R"(key:'clock\.force-rate' value:'(\d+)')"));
    if (const QRegularExpressionMatch match = value.match(output); match.hasMatch())
        result.rate = match.captured(1).toLongLong();
    co_return result;
}
