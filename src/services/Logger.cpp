#include "services/Logger.h"

#include "platform/JournaldSystemLog.h"
#include "platform/SystemLog.h"
#include "platform/XdgDirs.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStringEncoder>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Stamp
{
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

const char *levelWord(Logger::Level level)
{
    switch (level) {
    case Logger::Level::Info:
        return "INFO";
    case Logger::Level::Warn:
        return "WARN";
    case Logger::Level::Error:
        return "ERROR";
    }
    return "INFO";
}

SystemLog::Priority systemLogPriority(Logger::Level level)
{
    return level == Logger::Level::Info ? SystemLog::Priority::Info : SystemLog::Priority::Error;
}

// Fixed-width ASCII digits whatever the locale.
char *putDigits(char *out, int value, int width)
{
    auto rest = static_cast<unsigned>(value < 0 ? 0 : value);
    for (int i = width - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    }
    return out + width;
}

char *putText(char *out, const char *text)
{
    while (*text)
        *out++ = *text++;
    return out;
}

// "[yyyy-MM-dd HH:mm:ss] [LEVEL] message\n" in UTF-8, built in one allocation because it runs
// on the caller's thread for every line.
QByteArray buildLine(Logger::Level level, const Stamp &stamp, QStringView message)
{
    constexpr qsizetype fixedLength = sizeof("[yyyy-MM-dd HH:mm:ss] [] \n") - 1;
    const char *word = levelWord(level);
    QStringEncoder encoder(QStringEncoder::Utf8);
    QByteArray line(fixedLength + qsizetype(qstrlen(word)) + encoder.requiredSpace(message.size()),
                    Qt::Uninitialized);
    char *out = line.data();
    *out++ = '[';
    out = putDigits(out, stamp.year, 4);
    *out++ = '-';
    out = putDigits(out, stamp.month, 2);
    *out++ = '-';
    out = putDigits(out, stamp.day, 2);
    *out++ = ' ';
    out = putDigits(out, stamp.hour, 2);
    *out++ = ':';
    out = putDigits(out, stamp.minute, 2);
    *out++ = ':';
    out = putDigits(out, stamp.second, 2);
    out = putText(out, "] [");
    out = putText(out, word);
    out = putText(out, "] ");
    out = encoder.appendToBuffer(out, message);
    *out++ = '\n';
    line.truncate(out - line.constData());
    return line;
}

Stamp localStampNow()
{
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local {};
    if (!::localtime_r(&now.tv_sec, &local))
        return {};
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

// Like a file manager's move: an existing destination is never replaced, so a generation that
// could not be cleared out of the way is kept rather than overwritten.
bool moveWithoutReplacing(const char *from, const char *to)
{
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without RENAME_NOREPLACE: nothing else touches these files while we run.
    struct stat existing = {};
    if (::lstat(to, &existing) == 0)
        return false;
    return ::rename(from, to) == 0;
}

// The number of bytes written; short only when the system refused the rest.
qsizetype writeAll(int fd, const char *data, qsizetype size)
{
    qsizetype done = 0;
    while (done < size) {
        const ssize_t written = ::write(fd, data + done, size_t(size - done));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            break; // full disk, quota, I/O error
        }
        done += written;
    }
    return done;
}

} // namespace

// The one thread that touches the log files. Lines are handed over under a mutex and written
// in the order they arrived; the caller never waits for the disk.
class Logger::Worker
{
public:
    struct Entry
    {
        QByteArray line;
        QString message; // for the system log; empty when there is none
        SystemLog::Priority priority;
    };

    Worker(const QString &logDir, SystemLog *systemLog)
        : m_logDir(logDir)
        , m_logFile(QDir(logDir).filePath(QStringLiteral("sync.log")))
        , m_systemLog(systemLog)
    {
        const QByteArray file = QFile::encodeName(m_logFile);
        m_paths[0] = file;
        for (int generation = 1; generation <= Logger::generations; ++generation)
            m_paths[size_t(generation)] = file + '.' + QByteArray::number(generation);
        try {
            m_thread = std::thread([this] { run(); });
        } catch (const std::system_error &) {
            // No thread to be had: lines are written on the caller's thread instead of lost.
        }
    }

    ~Worker()
    {
        if (!m_thread.joinable())
            return;
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_one();
        m_thread.join(); // the worker empties the queue before it ends
    }

    Worker(const Worker &) = delete;
    Worker &operator=(const Worker &) = delete;

    QString logDir() const { return m_logDir; }
    QString logFile() const { return m_logFile; }

    void post(Entry entry)
    {
        if (!m_thread.joinable()) {
            std::lock_guard lock(m_mutex);
            process(&entry, 1);
            return;
        }
        bool wake = false;
        {
            std::lock_guard lock(m_mutex);
            m_queue.push_back(std::move(entry));
            ++m_posted;
            // Only a sleeping worker needs the (system-call) wake-up.
            wake = m_workerAsleep;
            m_workerAsleep = false;
        }
        if (wake)
            m_wake.notify_one();
    }

    void flush()
    {
        std::unique_lock lock(m_mutex);
        const quint64 target = m_posted;
        m_drained.wait(lock, [&] { return m_done >= target; });
    }

    // The same, but gives up after the timeout: a hung disk or system log must not keep the
    // process from ending.
    void flush(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(m_mutex);
        const quint64 target = m_posted;
        m_drained.wait_for(lock, timeout, [&] { return m_done >= target; });
    }

private:
    void run()
    {
        std::vector<Entry> batch;
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                while (m_queue.empty() && !m_stopping) {
                    m_workerAsleep = true;
                    m_wake.wait(lock);
                }
                m_workerAsleep = false;
                if (m_queue.empty())
                    return; // stopping, and everything handed over is written
                batch.swap(m_queue);
            }
            refreshTimeZone();
            process(batch.data(), batch.size());
            const auto count = batch.size();
            batch.clear();
            {
                std::lock_guard lock(m_mutex);
                m_done += count;
            }
            m_drained.notify_all();
        }
    }

    // localtime_r() on the callers' threads reads the zone only once, but a tray program runs
    // for weeks while its user travels. Looking it up again reads /etc/localtime, which is
    // file work and so done here, at most once a minute.
    void refreshTimeZone()
    {
        const auto now = std::chrono::steady_clock::now();
        if (now - m_zoneCheckedAt < std::chrono::minutes(1))
            return;
        m_zoneCheckedAt = now;
        ::tzset();
    }

    // Rotation is checked before every line, as if each were appended on its own. Lines
    // between two checks that cannot fire go out in one write, which leaves the files byte
    // for byte as line-by-line appends would, at a fraction of the system calls.
    void process(const Entry *entries, size_t count)
    {
        if (m_systemLog) {
            for (size_t i = 0; i < count; ++i)
                m_systemLog->write(entries[i].priority, entries[i].message);
        }
        size_t next = 0;
        while (next < count) {
            const size_t first = next;
            qint64 size = std::max<qint64>(rotateIfNeeded(), 0);
            do {
                size += entries[next].line.size();
                ++next;
            } while (next < count && size <= Logger::maxBytes);
            if (next - first == 1) {
                append(entries[first].line.constData(), entries[first].line.size());
                continue;
            }
            m_chunk.clear();
            for (size_t i = first; i < next; ++i)
                m_chunk.append(entries[i].line.constData(), size_t(entries[i].line.size()));
            append(m_chunk.data(), qsizetype(m_chunk.size()));
        }
    }

    // The size of "sync.log" after the check, or -1 when there is none.
    qint64 rotateIfNeeded()
    {
        struct stat info = {};
        if (::stat(m_paths[0].constData(), &info) != 0)
            return -1;
        if (info.st_size <= Logger::maxBytes)
            return info.st_size;
        // Every step's failure is ignored and the later steps still run.
        ::unlink(m_paths[Logger::generations].constData());
        for (int generation = Logger::generations - 1; generation >= 1; --generation)
            moveWithoutReplacing(m_paths[size_t(generation)].constData(),
                                 m_paths[size_t(generation) + 1].constData());
        moveWithoutReplacing(m_paths[0].constData(), m_paths[1].constData());
        // A failed last move leaves the large file in place, and the next line tries again.
        return ::stat(m_paths[0].constData(), &info) == 0 ? info.st_size : -1;
    }

    // Opens and closes the file for every write, so a file moved or deleted from outside is
    // never written through a stale handle.
    void append(const char *bytes, qsizetype size)
    {
        const char *path = m_paths[0].constData();
        int fd = ::open(path, O_WRONLY | O_APPEND | O_CLOEXEC);
        if (fd < 0) {
            if (errno != ENOENT)
                return; // there but not writable: the line is lost, nothing is put in its place
            fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
            if (fd < 0)
                return;
        }
        const qsizetype written = writeAll(fd, bytes, size);
        if (written > 0 && written < size) {
            // A full disk can take part of a line. Cut back to the last whole line, so the
            // file never holds a fragment that the next line would run into. An append leaves
            // the offset at the end of what it wrote, so no size is asked for beforehand.
            const off_t end = ::lseek(fd, 0, SEEK_CUR);
            const auto *last = static_cast<const char *>(::memrchr(bytes, '\n', size_t(written)));
            const off_t whole = last ? off_t(last - bytes + 1) : 0;
            const bool cut = end >= written && ::ftruncate(fd, end - written + whole) == 0;
            Q_UNUSED(cut) // if even that fails, nothing more can be done here
        }
        ::close(fd);
    }

    const QString m_logDir;
    const QString m_logFile;
    std::array<QByteArray, Logger::generations + 1> m_paths; // sync.log, sync.log.1 … .5
    SystemLog *const m_systemLog;
    std::string m_chunk;
    std::chrono::steady_clock::time_point m_zoneCheckedAt = std::chrono::steady_clock::now();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_drained;
    std::vector<Entry> m_queue;
    quint64 m_posted = 0;
    quint64 m_done = 0;
    bool m_workerAsleep = false;
    bool m_stopping = false;
    std::thread m_thread;
};

Logger &Logger::shared()
{
    // Never destroyed, so a line logged from a late static destructor cannot touch a dead
    // logger; instead the queue is drained when the process exits normally.
    static Logger *const instance = [] {
        auto *logger = new Logger(defaultLogDir(), std::make_unique<JournaldSystemLog>());
        std::atexit([] { Logger::shared().m_worker->flush(std::chrono::seconds(5)); });
        return logger;
    }();
    return *instance;
}

QString Logger::defaultLogDir()
{
    return XdgDirs::stateHome() + QStringLiteral("/Quorvel");
}

Logger::Logger(const QString &logDir, std::unique_ptr<SystemLog> systemLog)
    : m_systemLog(std::move(systemLog))
{
    QDir().mkpath(logDir); // a failure shows later as lines that cannot be written
    m_worker = std::make_unique<Worker>(logDir, m_systemLog.get());
}

Logger::~Logger()
{
    m_worker.reset(); // drains the queue while the system log is still there
}

void Logger::info(const QString &message)
{
    log(Level::Info, message);
}

void Logger::warn(const QString &message)
{
    log(Level::Warn, message);
}

void Logger::error(const QString &message)
{
    log(Level::Error, message);
}

void Logger::log(Level level, const QString &message)
{
    m_worker->post({buildLine(level, localStampNow(), message), m_systemLog ? message : QString(),
                    systemLogPriority(level)});
}

QString Logger::logDir() const
{
    return m_worker->logDir();
}

QString Logger::logFile() const
{
    return m_worker->logFile();
}

void Logger::flush()
{
    m_worker->flush();
}

QString Logger::formatLine(Level level, const QString &message, const QDateTime &when)
{
    const QDateTime local = when.toLocalTime();
    const QDate date = local.date();
    const QTime time = local.time();
    const Stamp stamp {date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second()};
    return QString::fromUtf8(buildLine(level, stamp, message));
}
