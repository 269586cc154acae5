// The log's two costs: what a call costs the calling thread, and how many lines a second the
// worker puts on disk through rotations, with a count that proves no line went missing.
#include "platform/JournaldSystemLog.h"
#include "services/Logger.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QString typicalMessage = QStringLiteral("Syncing 48000 Hz → 96000 Hz (MADI locked)");

std::string backendName()
{
    switch (JournaldSystemLog::detectBackend()) {
    case JournaldSystemLog::Backend::Journal:
        return "system log: journald";
    case JournaldSystemLog::Backend::Syslog:
        return "system log: syslog";
    case JournaldSystemLog::Backend::None:
        break;
    }
    return "system log: none on this machine";
}

// Every thread logs into one logger with the machine's real system log behind it, as the
// program does. The queue is left to the worker; the destructor drains it untimed.
void BM_LogCallOnCallersThread(benchmark::State &state)
{
    static std::unique_ptr<QTemporaryDir> dir;
    static std::unique_ptr<Logger> logger;
    if (state.thread_index() == 0) {
        logger.reset(); // drains the previous run's queue
        dir = std::make_unique<QTemporaryDir>();
        logger = std::make_unique<Logger>(dir->path(), std::make_unique<JournaldSystemLog>());
    }
    for (auto _ : state)
        logger->info(typicalMessage);
    if (state.thread_index() == 0)
        state.SetLabel(backendName());
}
BENCHMARK(BM_LogCallOnCallersThread)->Iterations(200000)->Repetitions(3)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_LogCallOnCallersThread)->Iterations(100000)->Threads(2)->Unit(benchmark::kNanosecond);

// What the system-log call alone would add if it ran on the caller's thread.
void BM_SystemLogWriteOnThisMachine(benchmark::State &state)
{
    JournaldSystemLog systemLog;
    for (auto _ : state)
        systemLog.write(SystemLog::Priority::Info, typicalMessage);
    state.SetLabel(backendName());
}
BENCHMARK(BM_SystemLogWriteOnThisMachine)->Iterations(20000)->Unit(benchmark::kNanosecond);

// Reads every line in sync.log.5 … sync.log, oldest first, and checks that their numbers run
// 0, 1, 2, … without a gap. Returns how many there are, or -1 on a gap or a foreign line.
qint64 countNumberedLines(const QString &dir)
{
    qint64 expected = 0;
    for (int generation = Logger::generations; generation >= 0; --generation) {
        QString path = dir + QStringLiteral("/sync.log");
        if (generation > 0)
            path += QLatin1Char('.') + QString::number(generation);
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray content = file.readAll();
        for (const QByteArray &line : content.split('\n')) {
            if (line.isEmpty())
                continue;
            const qsizetype start = line.indexOf("] [INFO] line ");
            if (start < 0)
                return -1;
            bool ok = false;
            const qint64 number = line.mid(start + 14, 8).toLongLong(&ok);
            if (!ok || number != expected)
                return -1;
            ++expected;
        }
    }
    return expected;
}

// Lines of about 100 bytes, 55,000 of them: about 5.5 MB, so five rotations, and all six files
// together still hold every line. Timed: set-up, the calls, and the worker until the last
// line is on disk.
void linesThroughRotation(benchmark::State &state, bool withSystemLog)
{
    constexpr qint64 lineCount = 55000;
    const QString padding(56, QLatin1Char('.'));
    qint64 lost = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        std::vector<QString> messages;
        messages.reserve(lineCount);
        for (qint64 i = 0; i < lineCount; ++i)
            messages.push_back(QStringLiteral("line %1 ").arg(i, 8, 10, QLatin1Char('0')) + padding);
        state.ResumeTiming();
        {
            Logger logger(dir.path(), withSystemLog ? std::make_unique<JournaldSystemLog>() : nullptr);
            for (const QString &message : messages)
                logger.info(message);
            logger.flush();
        }
        state.PauseTiming();
        const qint64 counted = countNumberedLines(dir.path());
        if (counted < 0) {
            state.SkipWithError("a line is missing or out of order");
            break;
        }
        lost += lineCount - counted;
        if (!QFile::exists(dir.path() + QStringLiteral("/sync.log.5"))) {
            state.SkipWithError("fewer than five rotations");
            break;
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * lineCount);
    state.counters["lines/s"]
        = benchmark::Counter(double(state.iterations() * lineCount), benchmark::Counter::kIsRate);
    state.counters["lines per run"] = benchmark::Counter(double(lineCount));
    state.counters["lost"] = benchmark::Counter(double(lost));
}

void BM_LinesThroughRotation(benchmark::State &state)
{
    linesThroughRotation(state, false);
}
BENCHMARK(BM_LinesThroughRotation)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LinesThroughRotationWithSystemLog(benchmark::State &state)
{
    linesThroughRotation(state, true);
}
BENCHMARK(BM_LinesThroughRotationWithSystemLog)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// A stand-in journal: a private mount namespace with its own /run (root only) where a socket
// at journald's path takes every datagram. It costs the sender what journald's socket does,
// without journald's own work. Entered once, by the main thread, for the benchmarks below;
// threads started afterwards (the logger's worker) share it.
bool enterStandInJournal()
{
    static const bool entered = [] {
        if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0
            || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || ::mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0
            || !QDir().mkpath(QStringLiteral("/run/systemd/journal")))
            return false;
        const int receiver = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, JournaldSystemLog::journalSocketPath, sizeof(address.sun_path) - 1);
        if (::bind(receiver, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) != 0)
            return false;
        const int bufferSize = 8 << 20;
        ::setsockopt(receiver, SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof(bufferSize));
        std::thread([receiver] {
            char buffer[4096];
            for (;;)
                ::recv(receiver, buffer, sizeof(buffer), 0);
        }).detach();
        return true;
    }();
    return entered;
}

// What a journald call would cost the caller if it were made on the caller's thread.
void BM_JournalSendOnCallersThread(benchmark::State &state)
{
    if (!enterStandInJournal()) {
        state.SkipWithError("needs root and a private mount namespace");
        return;
    }
    JournaldSystemLog systemLog;
    for (auto _ : state)
        systemLog.write(SystemLog::Priority::Info, typicalMessage);
    state.SetLabel(backendName());
}
BENCHMARK(BM_JournalSendOnCallersThread)->Iterations(20000)->Unit(benchmark::kNanosecond);

void BM_LogCallWithJournal(benchmark::State &state)
{
    if (!enterStandInJournal()) {
        state.SkipWithError("needs root and a private mount namespace");
        return;
    }
    QTemporaryDir dir;
    Logger logger(dir.path(), std::make_unique<JournaldSystemLog>());
    for (auto _ : state)
        logger.info(typicalMessage);
    state.SetLabel(backendName());
}
BENCHMARK(BM_LogCallWithJournal)->Iterations(100000)->Unit(benchmark::kNanosecond);

void BM_LinesThroughRotationWithJournal(benchmark::State &state)
{
    if (!enterStandInJournal()) {
        state.SkipWithError("needs root and a private mount namespace");
        return;
    }
    linesThroughRotation(state, true);
    state.SetLabel(backendName());
}
BENCHMARK(BM_LinesThroughRotationWithJournal)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
