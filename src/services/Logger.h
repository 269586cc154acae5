#pragma once

#include <QString>

#include <memory>

class SystemLog;

// The program's event log: each line goes to the system log and to "sync.log", rotated by
// size into five older generations. Callers only format the line; all file work happens on
// one background worker, in call order. No failure ever reaches the caller.
class Logger
{
public:
    enum class Level { Info, Warn, Error };

    static constexpr qint64 maxBytes = 1000000;
    static constexpr int generations = 5;

    // The process-wide logger, writing under $XDG_STATE_HOME/Quorvel (created on first use).
    static Logger &shared();
    static QString defaultLogDir(); // $XDG_STATE_HOME/Quorvel, ~/.local/state/Quorvel by default

    // A logger of its own for the given folder, which it creates; systemLog may be null (no
    // system log). The system log is written on the worker too, in the same order as the file.
    Logger(const QString &logDir, std::unique_ptr<SystemLog> systemLog);
    ~Logger(); // drains every line handed over so far
    Logger(const Logger &) = delete;
    Logger &operator=(const Logger &) = delete;

    void info(const QString &message);
    void warn(const QString &message);
    void error(const QString &message);
    void log(Level level, const QString &message);

    QString logDir() const;
    QString logFile() const;

    // Blocks until every line handed over before the call is on disk (or has failed).
    // For a clean quit and for tests; never called on the polling path.
    void flush();

    // "[yyyy-MM-dd HH:mm:ss] [LEVEL] message\n" for the given local time.
    static QString formatLine(Level level, const QString &message, const class QDateTime &when);

private:
    class Worker;
    std::unique_ptr<Worker> m_worker;
    std::unique_ptr<SystemLog> m_systemLog;
};
