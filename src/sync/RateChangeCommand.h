#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <qcoro/qcorotask.h>

class AppSettings;
class Logger;
class ProcessRunner;

// Runs the user's command after each rate the device took, without a shell, with the new and the
// previous rate and the host in its environment. One at a time: a change that comes while it runs
// waits, and only the newest waiting change runs next.
class RateChangeCommand : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds defaultLimit {10000};

    // A command line split into program and arguments as a desktop entry's Exec line is: words
    // apart by blanks, double quotes around a word with blanks, and inside them a backslash before
    // any of " ` $ \ for the character itself. Empty words when the line is blank; error says why
    // a line cannot be split.
    struct Words
    {
        QStringList words;
        QString error;
    };
    static Words split(const QString &commandLine);

    // The objects must outlive the command; it is read from the settings when it is run.
    RateChangeCommand(const AppSettings &settings, ProcessRunner &runner, Logger &logger,
                      std::chrono::milliseconds limit = defaultLimit, QObject *parent = nullptr);

    void rateSet(std::optional<qint64> from, qint64 to, const QString &host);
    // Lets a running command end (within its limit) and drops a waiting change.
    QCoro::Task<> finish();

    bool isRunning() const { return m_running; }

Q_SIGNALS:
    void idle();

private:
    struct Change
    {
        std::optional<qint64> from;
        qint64 to = 0;
        QString host;
    };

    QCoro::Task<> work();
    QCoro::Task<> run(const Change &change);

    const AppSettings &m_settings;
    ProcessRunner &m_runner;
    Logger &m_logger;
    std::chrono::milliseconds m_limit;
    std::optional<Change> m_waiting;
    std::optional<QCoro::Task<>> m_work;
    bool m_running = false;
    bool m_finishing = false;
};
