#include "platform/SystemLog.h"
#include "services/Logger.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Records what reaches the system log; can hold the worker inside write() to show that the
// caller never waits for it.
class FakeSystemLog : public SystemLog
{
public:
    struct Entry
    {
        Priority priority;
        QString message;
    };

    void write(Priority priority, const QString &message) override
    {
        std::unique_lock lock(m_mutex);
        m_entries.push_back({priority, message});
        m_entered = true;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_open; });
    }

    void close()
    {
        std::lock_guard lock(m_mutex);
        m_open = false;
    }
    void open()
    {
        {
            std::lock_guard lock(m_mutex);
            m_open = true;
        }
        m_changed.notify_all();
    }
    void waitUntilEntered()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_entered; });
    }
    std::vector<Entry> entries() const
    {
        std::lock_guard lock(m_mutex);
        return m_entries;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Entry> m_entries;
    bool m_open = true;
    bool m_entered = false;
};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QList<QByteArray> linesOf(const QString &path)
{
    QList<QByteArray> lines = readAll(path).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
}

// The message after "[yyyy-MM-dd HH:mm:ss] [LEVEL] ".
QByteArray messageOf(const QByteArray &line)
{
    const qsizetype close = line.indexOf("] ", 23);
    return close < 0 ? QByteArray() : line.mid(close + 2);
}

QString generation(const QString &dir, int index)
{
    return dir + QStringLiteral("/sync.log.") + QString::number(index);
}

const QRegularExpression linePattern(
    QStringLiteral("^\\[(\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2})\\] \\[(INFO|WARN|ERROR)\\] (.*)$"),
    QRegularExpression::DotMatchesEverythingOption);

} // namespace

class TestLogger : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    int m_dirCount = 0;

    QString freshDir()
    {
        const QString dir = m_root.filePath(QStringLiteral("logs%1/Quorvel").arg(++m_dirCount));
        return dir;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        // A zone far from UTC, so a stamp in UTC instead of local time cannot pass.
        qputenv("TZ", "QRV-05:45");
        ::tzset();
    }

    void formatLineHasExactLayout_data()
    {
        QTest::addColumn<Logger::Level>("level");
        QTest::addColumn<QString>("expected");
        QTest::newRow("info") << Logger::Level::Info
                              << QStringLiteral("[2024-03-01 14:05:09] [INFO] Launched\n");
        QTest::newRow("warn") << Logger::Level::Warn
                              << QStringLiteral("[2024-03-01 14:05:09] [WARN] Launched\n");
        QTest::newRow("error") << Logger::Level::Error
                               << QStringLiteral("[2024-03-01 14:05:09] [ERROR] Launched\n");
    }

    void formatLineHasExactLayout()
    {
        QFETCH(Logger::Level, level);
        QFETCH(QString, expected);
        const QDateTime when(QDate(2024, 3, 1), QTime(14, 5, 9));
        QCOMPARE(Logger::formatLine(level, QStringLiteral("Launched"), when), expected);
    }

    void formatLineUsesLocalZoneAndAsciiDigits()
    {
        const QLocale previous;
        QLocale::setDefault(QLocale(QLocale::Arabic, QLocale::Egypt));
        const QDateTime utc(QDate(2024, 12, 31), QTime(20, 0, 0), QTimeZone::utc());
        const QString line = Logger::formatLine(Logger::Level::Info, QStringLiteral("x"), utc);
        QLocale::setDefault(previous);
        QCOMPARE(line, QStringLiteral("[2025-01-01 01:45:00] [INFO] x\n"));
    }

    void setUpCreatesFolderAndFirstLineCreatesFile()
    {
        const QString dir = freshDir();
        Logger logger(dir, nullptr);
        QVERIFY(QFileInfo(dir).isDir());
        QCOMPARE(logger.logDir(), dir);
        QCOMPARE(logger.logFile(), dir + QStringLiteral("/sync.log"));
        QVERIFY(!QFile::exists(logger.logFile()));
        logger.info(QStringLiteral("first"));
        logger.flush();
        QCOMPARE(linesOf(logger.logFile()).size(), 1);
    }

    void linesCarryCallTimeInLocalZoneAndLevelWords()
    {
        const QString dir = freshDir();
        Logger logger(dir, nullptr);
        const QDateTime before = QDateTime::currentDateTime().addMSecs(-1000);
        logger.info(QStringLiteral("Launched"));
        logger.warn(QStringLiteral("Careful"));
        logger.error(QStringLiteral("Broken"));
        logger.log(Logger::Level::Warn, QStringLiteral("Again"));
        const QDateTime after = QDateTime::currentDateTime();
        logger.flush();

        const QByteArray content = readAll(logger.logFile());
        QVERIFY(!content.contains('\r'));
        const QList<QByteArray> lines = linesOf(logger.logFile());
        const QStringList levels {"INFO", "WARN", "ERROR", "WARN"};
        const QStringList messages {"Launched", "Careful", "Broken", "Again"};
        QCOMPARE(lines.size(), 4);
        for (int i = 0; i < 4; ++i) {
            const auto match = linePattern.match(QString::fromUtf8(lines[i]));
            QVERIFY2(match.hasMatch(), lines[i].constData());
            const QDateTime stamp
                = QDateTime::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            QVERIFY2(stamp >= before && stamp <= after, lines[i].constData());
            QCOMPARE(match.captured(2), levels[i]);
            QCOMPARE(match.captured(3), messages[i]);
        }
    }

    void messagesAreWrittenUnchanged()
    {
        const QString dir = freshDir();
        FakeSystemLog *systemLog = new FakeSystemLog;
        Logger logger(dir, std::unique_ptr<SystemLog>(systemLog));
        const QStringList messages {
            QStringLiteral("first\nsecond\r\nthird"),
            QStringLiteral("48000 Hz → 96000 Hz — 100% %s %n done"),
            QString(),
            QStringLiteral("  padded  "),
        };
        for (const QString &message : messages)
            logger.info(message);
        logger.flush();

        QByteArray expected;
        for (const QString &message : messages)
            expected += message.toUtf8() + '\n';
        QByteArray written;
        const QByteArray content = readAll(logger.logFile());
        // Strip each prefix; the multi-line entry has one prefix only.
        qsizetype at = 0;
        while (at < content.size()) {
            QVERIFY(content.mid(at, 1) == "[");
            const qsizetype start = content.indexOf("] ", at + 23) + 2;
            const qsizetype next = content.indexOf("\n[", start);
            const qsizetype end = next < 0 ? content.size() : next + 1;
            written += content.mid(start, end - start);
            at = end;
        }
        QCOMPARE(written, expected);
        QCOMPARE(QString::fromUtf8(written).count(QLatin1Char('\n')), 6);

        const auto entries = systemLog->entries();
        QCOMPARE(int(entries.size()), messages.size());
        for (int i = 0; i < messages.size(); ++i)
            QCOMPARE(entries[size_t(i)].message, messages[i]);
    }

    void systemLogGetsEveryLineAtItsPriority()
    {
        FakeSystemLog *systemLog = new FakeSystemLog;
        Logger logger(freshDir(), std::unique_ptr<SystemLog>(systemLog));
        logger.info(QStringLiteral("a"));
        logger.warn(QStringLiteral("b"));
        logger.error(QStringLiteral("c"));
        logger.flush();
        const auto entries = systemLog->entries();
        QCOMPARE(entries.size(), size_t(3));
        QCOMPARE(entries[0].priority, SystemLog::Priority::Info);
        QCOMPARE(entries[0].message, QStringLiteral("a"));
        QCOMPARE(entries[1].priority, SystemLog::Priority::Error);
        QCOMPARE(entries[1].message, QStringLiteral("b"));
        QCOMPARE(entries[2].priority, SystemLog::Priority::Error);
        QCOMPARE(entries[2].message, QStringLiteral("c"));
    }

    void callerNeverWaitsAndStampIsCallTime()
    {
        FakeSystemLog *systemLog = new FakeSystemLog;
        Logger logger(freshDir(), std::unique_ptr<SystemLog>(systemLog));
        systemLog->close();
        logger.info(QStringLiteral("holds the worker"));
        systemLog->waitUntilEntered();

        // The worker is stuck; these calls must still return at once.
        const QDateTime before = QDateTime::currentDateTime();
        logger.warn(QStringLiteral("while stuck"));
        const QDateTime after = QDateTime::currentDateTime();
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        QVERIFY(!QFile::exists(logger.logFile()));
        systemLog->open();
        logger.flush();

        const QList<QByteArray> lines = linesOf(logger.logFile());
        QCOMPARE(lines.size(), 2);
        const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss");
        const QString stamp = QString::fromUtf8(lines[1].mid(1, 19));
        QVERIFY2(stamp == before.toString(format) || stamp == after.toString(format), lines[1].constData());
    }

    void rotationBoundary_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("rotates");
        QTest::newRow("exactly maxBytes appends") << qint64(1000000) << false;
        QTest::newRow("one byte more rotates first") << qint64(1000001) << true;
        QTest::newRow("small file appends") << qint64(10) << false;
    }

    void rotationBoundary()
    {
        QFETCH(qint64, size);
        QFETCH(bool, rotates);
        const QString dir = freshDir();
        Logger logger(dir, nullptr);
        const QByteArray old(size, 'x');
        writeFile(logger.logFile(), old);
        logger.info(QStringLiteral("next"));
        logger.flush();

        const QByteArray current = readAll(logger.logFile());
        if (rotates) {
            QCOMPARE(readAll(generation(dir, 1)), old);
            QCOMPARE(linesOf(logger.logFile()).size(), 1);
            QVERIFY(current.endsWith("] [INFO] next\n"));
        } else {
            QVERIFY(!QFile::exists(generation(dir, 1)));
            QVERIFY(current.startsWith(old));
            QCOMPARE(messageOf(current.mid(size)), QByteArray("next\n"));
        }
    }

    // Lines that reach the worker together must rotate exactly where single lines would.
    void rotationInsideABurstMatchesLineByLine_data()
    {
        QTest::addColumn<qint64>("sizeBeforeSecond");
        QTest::addColumn<int>("linesInFirstFile");
        QTest::newRow("second line sees exactly maxBytes") << qint64(1000000) << 3;
        QTest::newRow("second line sees one byte more") << qint64(1000001) << 2;
    }

    void rotationInsideABurstMatchesLineByLine()
    {
        QFETCH(qint64, sizeBeforeSecond);
        QFETCH(int, linesInFirstFile);
        const QString dir = freshDir();
        FakeSystemLog *systemLog = new FakeSystemLog;
        Logger logger(dir, std::unique_ptr<SystemLog>(systemLog));
        const auto lengthOf = [](const QString &message) {
            return qint64(Logger::formatLine(Logger::Level::Info, message, QDateTime::currentDateTime())
                              .toUtf8()
                              .size());
        };
        const QString holder = QStringLiteral("holder");
        const QStringList burst {QStringLiteral("burst 1"), QStringLiteral("burst 2"),
                                 QStringLiteral("burst 3")};
        const qint64 filler = sizeBeforeSecond - lengthOf(holder) - lengthOf(burst[0]);
        writeFile(logger.logFile(), QByteArray(filler, 'f'));

        systemLog->close();
        logger.info(holder);
        systemLog->waitUntilEntered(); // the burst queues up behind the held line
        for (const QString &message : burst)
            logger.info(message);
        systemLog->open();
        logger.flush();

        const QList<QByteArray> first = linesOf(generation(dir, 1));
        QCOMPARE(first.size(), linesInFirstFile);
        QCOMPARE(messageOf(first.last()), burst[linesInFirstFile - 2].toUtf8());
        const QList<QByteArray> current = linesOf(logger.logFile());
        QCOMPARE(current.size(), 4 - linesInFirstFile);
        QCOMPARE(messageOf(current.first()), burst[linesInFirstFile - 1].toUtf8());
        QCOMPARE(messageOf(current.last()), burst.last().toUtf8());
    }

    void rotationKeepsGapsShifted()
    {
        const QString dir = freshDir();
        Logger logger(dir, nullptr);
        const QByteArray old(1000001, 'c');
        writeFile(logger.logFile(), old);
        writeFile(generation(dir, 3), "three\n");
        logger.info(QStringLiteral("new"));
        logger.flush();

        QCOMPARE(readAll(generation(dir, 1)), old);
        QVERIFY(!QFile::exists(generation(dir, 2)));
        QVERIFY(!QFile::exists(generation(dir, 3)));
        QCOMPARE(readAll(generation(dir, 4)), QByteArray("three\n"));
        QVERIFY(!QFile::exists(generation(dir, 5)));
        QCOMPARE(linesOf(logger.logFile()).size(), 1);
    }

    void rotationWithAllSixFilesDropsTheOldest()
    {
        const QString dir = freshDir();
        Logger logger(dir, nullptr);
        const QByteArray old(1000001, 'c');
        writeFile(logger.logFile(), old);
        for (int i = 1; i <= 5; ++i)
            writeFile(generation(dir, i), "g" + QByteArray::number(i) + '\n');
        logger.info(QStringLiteral("new"));
        logger.flush();

        QCOMPARE(readAll(generation(dir, 1)), old);
        for (int i = 2; i <= 5; ++i)
            QCOMPARE(readAll(generation(dir, i)), "g" + QByteArray::number(i - 1) + '\n');
        QCOMPARE(linesOf(logger.logFile()).size(), 1);
        QCOMPARE(QDir(dir).entryList(QDir::Files).size(), 6);
    }

    void failedRotationStepDoesNotStopTheLaterOnes()
    {
        const QString dir = freshDir();
        Logger logger(dir, nullptr);
        const QByteArray old(1000001, 'c');
        writeFile(logger.logFile(), old);
        // A generation 5 that cannot be deleted blocks the move 4→5 and so 3→4, but 1→2 and
        // the current file → 1 still happen, and no generation is overwritten.
        QVERIFY(QDir().mkpath(generation(dir, 5) + QStringLiteral("/inside")));
        writeFile(generation(dir, 4), "four\n");
        writeFile(generation(dir, 3), "three\n");
        writeFile(generation(dir, 1), "one\n");
        logger.info(QStringLiteral("new"));
        logger.flush();

        QVERIFY(QFileInfo(generation(dir, 5)).isDir());
        QCOMPARE(readAll(generation(dir, 4)), QByteArray("four\n"));
        QCOMPARE(readAll(generation(dir, 3)), QByteArray("three\n"));
        QCOMPARE(readAll(generation(dir, 2)), QByteArray("one\n"));
        QCOMPARE(readAll(generation(dir, 1)), old);
        QCOMPARE(linesOf(logger.logFile()).size(), 1);
    }

    void rotatesOnlyAfterTheLineThatCrossedTheLimit()
    {
        const QString dir = freshDir();
        Logger logger(dir, nullptr);
        const int count = 25000; // about 2.4 MB: two rotations
        const QString padding(60, QLatin1Char('p'));
        for (int i = 0; i < count; ++i)
            logger.info(QString::number(i) + QLatin1Char(' ') + padding);
        logger.flush();

        QList<QByteArray> all;
        for (int i = 5; i >= 1; --i) {
            const QString path = generation(dir, i);
            if (!QFile::exists(path))
                continue;
            const QList<QByteArray> lines = linesOf(path);
            const qint64 size = QFileInfo(path).size();
            // Over the limit, and only by its last line.
            QVERIFY(size > Logger::maxBytes);
            QVERIFY(size - (lines.last().size() + 1) <= Logger::maxBytes);
            all += lines;
        }
        QVERIFY(QFile::exists(generation(dir, 2)));
        QVERIFY(QFileInfo(logger.logFile()).size() <= Logger::maxBytes + 100);
        all += linesOf(logger.logFile());
        QCOMPARE(all.size(), count);
        for (int i = 0; i < count; ++i)
            QCOMPARE(messageOf(all[i]).split(' ').first(), QByteArray::number(i));
    }

    void keepsOrderFromOneThread()
    {
        Logger logger(freshDir(), nullptr);
        const int count = 20000;
        for (int i = 0; i < count; ++i)
            logger.info(QString::number(i));
        logger.flush();
        const QList<QByteArray> lines = linesOf(logger.logFile());
        QCOMPARE(lines.size(), count);
        for (int i = 0; i < count; ++i)
            QCOMPARE(messageOf(lines[i]), QByteArray::number(i));
    }

    void keepsEachThreadsOrderFromSeveral()
    {
        Logger logger(freshDir(), nullptr);
        const int threads = 4;
        const int perThread = 5000;
        std::vector<std::thread> writers;
        for (int t = 0; t < threads; ++t)
            writers.emplace_back([&logger, t] {
                for (int i = 0; i < perThread; ++i)
                    logger.info(QStringLiteral("t%1 %2").arg(t).arg(i));
            });
        for (auto &writer : writers)
            writer.join();
        logger.flush();

        const QList<QByteArray> lines = linesOf(logger.logFile());
        QCOMPARE(lines.size(), threads * perThread);
        std::vector<int> next(threads, 0);
        for (const QByteArray &line : lines) {
            const QList<QByteArray> parts = messageOf(line).split(' ');
            QCOMPARE(parts.size(), 2);
            const int t = parts[0].mid(1).toInt();
            QVERIFY(t >= 0 && t < threads);
            QCOMPARE(parts[1].toInt(), next[size_t(t)]);
            ++next[size_t(t)];
        }
    }

    void destructorWritesEveryLineHandedOver()
    {
        const QString dir = freshDir();
        const int count = 20000;
        {
            Logger logger(dir, nullptr);
            for (int i = 0; i < count; ++i)
                logger.info(QString::number(i));
        }
        const QList<QByteArray> lines = linesOf(dir + QStringLiteral("/sync.log"));
        QCOMPARE(lines.size(), count);
        QCOMPARE(messageOf(lines.last()), QByteArray::number(count - 1));
    }

    void sharedLoggerDrainsAtExit()
    {
        const QString state = m_root.filePath(QStringLiteral("child-state"));
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_STATE_HOME"), state);
        child.setProcessEnvironment(environment);
        const int count = 20000;
        child.start(QStringLiteral(QUORVEL_LOG_WRITER), {QString::number(count)});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(child.readAllStandardOutput().trimmed(), (state + QStringLiteral("/Quorvel")).toUtf8());

        const QList<QByteArray> lines = linesOf(state + QStringLiteral("/Quorvel/sync.log"));
        QCOMPARE(lines.size(), count);
        for (int i = 0; i < count; ++i)
            QCOMPARE(messageOf(lines[i]), QByteArray::number(i));
    }

    void defaultFolderFollowsXdgStateHome()
    {
        const QByteArray saved = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", "/somewhere/state");
        QCOMPARE(Logger::defaultLogDir(), QStringLiteral("/somewhere/state/Quorvel"));
        qputenv("XDG_STATE_HOME", "relative/state");
        QCOMPARE(Logger::defaultLogDir(), QDir::homePath() + QStringLiteral("/.local/state/Quorvel"));
        qunsetenv("XDG_STATE_HOME");
        QCOMPARE(Logger::defaultLogDir(), QDir::homePath() + QStringLiteral("/.local/state/Quorvel"));
        qputenv("XDG_STATE_HOME", saved);
    }

    void uncreatableFolderIsSwallowed()
    {
        // A folder below a regular file can never be made, not even by root.
        const QString blocker = m_root.filePath(QStringLiteral("blocker"));
        writeFile(blocker, "not a folder");
        FakeSystemLog *systemLog = new FakeSystemLog;
        Logger logger(blocker + QStringLiteral("/Quorvel"), std::unique_ptr<SystemLog>(systemLog));
        logger.info(QStringLiteral("lost"));
        logger.error(QStringLiteral("also lost"));
        logger.flush();
        QVERIFY(!QFile::exists(logger.logFile()));
        QCOMPARE(systemLog->entries().size(), size_t(2)); // the system log still has them
    }

    void unopenableFileLosesTheLineWithoutReplacingIt()
    {
        const QString dir = freshDir();
        Logger logger(dir, nullptr);
        QVERIFY(QDir().mkpath(logger.logFile())); // "sync.log" is there but cannot be opened
        logger.info(QStringLiteral("lost"));
        logger.flush();
        QVERIFY(QFileInfo(logger.logFile()).isDir());
        QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList {"sync.log"});
    }

    void readOnlyFolderIsSwallowed()
    {
        if (::geteuid() == 0)
            QSKIP("running as root, where permission bits do not stop writes; the uncreatable-folder "
                  "and unopenable-file cases cover the same path");
        const QString dir = freshDir();
        Logger logger(dir, nullptr);
        QVERIFY(QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner));
        logger.info(QStringLiteral("lost"));
        logger.flush();
        QVERIFY(QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(!QFile::exists(logger.logFile()));
    }

    void fullDiskIsSwallowedAndLoggingGoesOn()
    {
        const QString dir = freshDir();
        Logger logger(dir, nullptr);
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), logger.logFile()));
        for (int i = 0; i < 10; ++i)
            logger.info(QStringLiteral("no space"));
        logger.flush();
        QVERIFY(QFile::remove(logger.logFile()));
        logger.info(QStringLiteral("space again"));
        logger.flush();
        const QList<QByteArray> lines = linesOf(logger.logFile());
        QCOMPARE(lines.size(), 1);
        QCOMPARE(messageOf(lines[0]), QByteArray("space again"));
    }
};

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_Logger.moc"
