#include "sync/RateChangeCommand.h"

#include "platform/ProcessRunner.h"
#include "services/AppSettings.h"
#include "services/Logger.h"

#include <QPointer>
#include <qcoro/qcorosignal.h>

using namespace std::chrono;

RateChangeCommand::Words RateChangeCommand::split(const QString &commandLine)
{
    Words result;
    QString word;
    bool inWord = false;
    bool quoted = false;
    for (qsizetype i = 0; i < commandLine.size(); ++i) {
        const QChar c = commandLine.at(i);
        if (quoted) {
            if (c == QLatin1Char('"')) {
                quoted = false;
            } else if (c == QLatin1Char('\\') && i + 1 < commandLine.size()
                       && QStringLiteral("\"`$\\").contains(commandLine.at(i + 1))) {
                word += commandLine.at(++i);
            } else {
                word += c;
            }
        } else if (c.isSpace()) {
            if (inWord)
                result.words << word;
            word.clear();
            inWord = false;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
            inWord = true;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quoted) {
        result.words.clear();
        result.error = QStringLiteral("a double quote is not closed");
        return result;
    }
    if (inWord)
        result.words << word;
    return result;
}

RateChangeCommand::RateChangeCommand(const AppSettings &settings, ProcessRunner &runner, Logger &logger,
                                     milliseconds limit, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_runner(runner)
    , m_logger(logger)
    , m_limit(limit)
{ }

void RateChangeCommand::rateSet(std::optional<qint64> from, qint64 to, const QString &host)
{
    if (m_finishing || m_settings.rateChangeCommand().trimmed().isEmpty())
        return;
    m_waiting = Change {from, to, host};
    if (!m_running) {
        m_running = true;
        m_work.emplace(work());
    }
}

QCoro::Task<> RateChangeCommand::finish()
{
    m_finishing = true;
    m_waiting.reset();
    if (m_running)
        co_await qCoro(this, &RateChangeCommand::idle);
}

QCoro::Task<> RateChangeCommand::work()
{
    const QPointer<RateChangeCommand> alive(this);
    while (m_waiting) {
        const Change change = *m_waiting;
        m_waiting.reset();
        co_await run(change);
        if (!alive)
            co_return;
    }
    m_running = false;
    Q_EMIT idle();
}

QCoro::Task<> RateChangeCommand::run(const Change &change)
{
    // Read now, so that an edit applies to the next change without a restart.
    const QString line = m_settings.rateChangeCommand();
    const Words parsed = split(line);
    if (!parsed.error.isEmpty()) {
        m_logger.warn(QStringLiteral("Rate-change command not run: ") + parsed.error);
        co_return;
    }
    if (parsed.words.isEmpty())
        co_return;
    m_logger.info(QStringLiteral("Running rate-change command for ") + QString::number(change.to)
                  + QStringLiteral(" Hz"));
    ProcessRunner::Request request {
        .program = parsed.words.first(),
        .arguments = parsed.words.mid(1),
        .environment
        = {{QStringLiteral("QUORVEL_RATE"), QString::number(change.to)},
           {QStringLiteral("QUORVEL_PREVIOUS_RATE"), change.from ? QString::number(*change.from) : QString()},
           {QStringLiteral("QUORVEL_HOST"), change.host}},
        .limit = m_limit,
    };
    const ProcessRunner::Outcome outcome = co_await m_runner.run(std::move(request));
    switch (outcome.end) {
    case ProcessRunner::Outcome::End::Exited: {
        const QString text
            = QStringLiteral("Rate-change command exited with status ") + QString::number(outcome.exitStatus);
        if (outcome.exitStatus == 0)
            m_logger.info(text);
        else
            m_logger.warn(text);
        break;
    }
    case ProcessRunner::Outcome::End::Crashed:
        m_logger.warn(QStringLiteral("Rate-change command crashed"));
        break;
    case ProcessRunner::Outcome::End::TimedOut:
        m_logger.warn(QStringLiteral("Rate-change command killed after ")
                      + QString::number(duration<double>(m_limit).count()) + QStringLiteral(" s"));
        break;
    case ProcessRunner::Outcome::End::FailedToStart:
        m_logger.warn(QStringLiteral("Rate-change command could not start: ") + parsed.words.first()
                      + QStringLiteral(" — ") + outcome.why);
        break;
    }
}
