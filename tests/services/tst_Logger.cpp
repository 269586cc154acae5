#include "TestFiles.h"

#include <QDateTime>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimeZone>

#include <mutex>
#include <semaphore>
#include <thread>
#include <vector>

#include <csignal>
#include <ctime>
#include <sys/resource.h>

namespace {

using Entries = std::vector<std::pair<SystemLog::Priority, QString>>;

// While a test holds `gate`, the worker is stuck inside the system log's write(): callers
// must not wait for it, and the lines behind it pile up into one batch.
struct Journal
{
    Entries entries; // read only after a flush
    std::mutex gate;
    std::counting_semaphore<1024> entered {0};
};

class FakeSystemLog : public SystemLog
{
public:
    explicit FakeSystemLog(Journal &journal)
        : m_journal(journal)
    { }
    void write(Priority priority, const QString &message) override
    {
        m_journal.entries.push_back({priority, message});
        m_journal.entered.release();
        const std::lock_guard wait(m_journal.gate);
    }

private:
    Journal &m_journal;
};

QList<QByteArray> linesOf(const QString &path)
{
    QList<QByteArray> lines = readAll(path).split('\n');
    lines.removeAll(QByteArray());
    return lines;
}

// The message after "[yyyy-MM-dd HH:mm:ss] [LEVEL] ".
QByteArray messageOf(const QByteArray &line)
{
    return line.mid(line.indexOf("] ", 23) + 2);
}

qsizetype lengthOf(const QString &message)
{
    return Logger::formatLine(Logger::Level::Info, message, QDateTime::currentDateTime()).toUtf8().size();
}

} // namespace

class TestLogger : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    int m_dirCount = 0;

    QString freshDir() { return m_root.filePath(QStringLiteral("logs%1/Quorvel").arg(++m_dirCount)); }
    static QString generation(const QString &dir, int index)
    {
        return dir + QStringLiteral("/sync.log.") + QString::number(index);
    }

private Q_SLOTS:
    void initTestCase()
    {
        // Far from UTC, with digits of its own: neither a UTC stamp nor local digits pass.
        qputenv("TZ", "QRV-05:45");
        ::tzset();
        QLocale::setDefault(QLocale(QLocale::Arabic, QLocale::Egypt));
        const QDateTime utc(QDate(2024, 12, 31), QTime(20, 0), QTimeZone::utc());
        QCOMPARE(Logger::formatLine(Logger::Level::Error, QStringLiteral("x"), utc),
                 QStringLiteral("[2025-01-01 01:45:00] [ERROR] x\n"));
    }

    // The caller only formats: the stamp is the call's time, the worker writes later, and
    // the destructor writes what is still queued.
    void callersNeverWaitForTheWorker()
    {
        const QString dir = freshDir();
        Journal journal;
        const QStringList messages {QStringLiteral(" Launched "),
                                    QStringLiteral("48000 Hz → 96000 Hz — 100% %s"),
                                    QStringLiteral("first\nsecond\r\nthird")};
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        QDateTime after;
        {
            Logger logger(dir, std::make_unique<FakeSystemLog>(journal));
            journal.gate.lock();
            logger.info(messages[0]);
            journal.entered.acquire();
            logger.warn(messages[1]);
            logger.error(messages[2]);
            after = QDateTime::currentDateTime();
            std::this_thread::sleep_for(std::chrono::milliseconds(1100)); // a write-time stamp would differ
            QVERIFY(!QFile::exists(logger.logFile()));
            journal.gate.unlock();
        }
        QString content = QString::fromUtf8(readAll(dir + QStringLiteral("/sync.log")));
        static const QRegularExpression stamp(QStringLiteral(R"(^\[(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)\] )"),
                                              QRegularExpression::MultilineOption);
        for (auto it = stamp.globalMatch(content); it.hasNext();) {
            const QString text = it.next().captured(1);
            const QDateTime at = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            QVERIFY2(at >= before && at <= after, qPrintable(text));
        }
        QCOMPARE(
            content.remove(stamp),
            QStringLiteral("[INFO] %1\n[WARN] %2\n[ERROR] %3\n").arg(messages[0], messages[1], messages[2]));
        using P = SystemLog::Priority; // WARN and ERROR are both errors in the journal
        QCOMPARE(journal.entries,
                 (Entries {{P::Info, messages[0]}, {P::Error, messages[1]}, {P::Error, messages[2]}}));
    }

    void rotation_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QList<int>>("present"); // generations there before; 0: an undeletable .5
        QTest::addColumn<QByteArrayList>("after"); // .1 to .5; "" absent, "old" the rotated file
        QTest::newRow("1000000 bytes: append") << qint64(1000000) << QList<int> {} << QByteArrayList(5);
        QTest::newRow("1000001 bytes: rotate")
            << qint64(1000001) << QList<int> {3} << QByteArrayList {"old", "", "", "g3", ""};
        QTest::newRow("the oldest goes") << qint64(1000001) << QList<int> {1, 2, 3, 4, 5}
                                         << QByteArrayList {"old", "g1", "g2", "g3", "g4"};
        // .5 blocks 4→5 and so 3→4, but the later steps still run and nothing is overwritten.
        QTest::newRow("failed step, later ones run")
            << qint64(1000001) << QList<int> {0, 1, 3, 4} << QByteArrayList {"old", "g1", "g3", "g4", ""};
    }

    void rotation()
    {
        QFETCH(qint64, size);
        QFETCH(QList<int>, present);
        QFETCH(QByteArrayList, after);
        const QString dir = freshDir();
        Logger logger(dir, nullptr);
        for (int i : present) {
            if (i == 0)
                QVERIFY(QDir().mkpath(generation(dir, 5) + QStringLiteral("/inside")));
            else
                writeFile(generation(dir, i), "g" + QByteArray::number(i));
        }
        const QByteArray old(size, 'x');
        writeFile(logger.logFile(), old);
        logger.info(QStringLiteral("next"));
        logger.flush();
        for (int i = 1; i <= (present.contains(0) ? 4 : 5); ++i) {
            QCOMPARE(QFile::exists(generation(dir, i)), !after[i - 1].isEmpty());
            QCOMPARE(readAll(generation(dir, i)), after[i - 1] == "old" ? old : after[i - 1]);
        }
        const QByteArray current = readAll(logger.logFile());
        QCOMPARE(current.size(), (after[0].isEmpty() ? size : 0) + lengthOf(QStringLiteral("next")));
        QVERIFY(current.endsWith("] [INFO] next\n"));
    }

    // Two rotations while four threads log: every line kept, each thread's in order, and
    // lines that reach the worker together rotate exactly where single lines would: each
    // file is over the limit by its last line only.
    void concurrentLinesRotateWithoutLossOrReordering()
    {
        const QString dir = freshDir();
        const int threads = 4, perThread = 6250; // about 2.4 MB
        {
            Logger logger(dir, nullptr);
            std::vector<std::jthread> writers;
            for (int t = 0; t < threads; ++t)
                writers.emplace_back([&logger, t] {
                    for (int i = 0; i < perThread; ++i)
                        logger.info(QStringLiteral("t%1 %2 ").arg(t).arg(i) + QString(60, u'p'));
                });
        }
        QVERIFY(QFile::exists(generation(dir, 2)));
        QList<QByteArray> all;
        for (int i = 5; i >= 1; --i) {
            const QList<QByteArray> lines = linesOf(generation(dir, i));
            const qint64 size = QFileInfo(generation(dir, i)).size();
            QVERIFY(lines.isEmpty()
                    || (size > Logger::maxBytes && size - lines.last().size() <= Logger::maxBytes + 1));
            all += lines;
        }
        all += linesOf(dir + QStringLiteral("/sync.log"));
        QCOMPARE(all.size(), threads * perThread);
        std::vector<int> next(threads, 0);
        for (const QByteArray &line : all) {
            const QList<QByteArray> parts = messageOf(line).mid(1).split(' ');
            QCOMPARE(parts[1].toInt(), next[size_t(parts[0].toInt() % threads)]++);
        }
    }

    // The shared logger is never destroyed, yet a clean exit must not drop queued lines.
    void sharedLoggerDrainsAtExit()
    {
        const QString state = m_root.filePath(QStringLiteral("child-state"));
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_STATE_HOME"), state);
        child.setProcessEnvironment(environment);
        child.start(QStringLiteral(QUORVEL_LOG_WRITER), {QStringLiteral("20000")});
        QVERIFY(child.waitForFinished(60000) && child.exitCode() == 0);
        const QList<QByteArray> lines = linesOf(state + QStringLiteral("/Quorvel/sync.log"));
        QCOMPARE(lines.size(), 20000);
        QCOMPARE(messageOf(lines.last()), QByteArray("19999"));
    }

    // A disk that fills up in the middle of a line keeps the whole lines before it and leaves
    // no fragment for the next line to run into. A file size limit stands in for the full disk.
    void diskFullMidLineKeepsOnlyWholeLines()
    {
        Logger logger(freshDir(), nullptr);
        logger.info(QStringLiteral("before"));
        logger.flush();
        const qint64 size = QFileInfo(logger.logFile()).size() + lengthOf(QStringLiteral("fits"));
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved {};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        rlimit tight = saved;
        tight.rlim_cur = rlim_t(size + 10);
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &tight) == 0);
        logger.info(QStringLiteral("fits"));
        logger.warn(QStringLiteral("a line that only partly fits"));
        logger.flush();
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &saved) == 0);
        std::signal(SIGXFSZ, previousHandler);
        QCOMPARE(QFileInfo(logger.logFile()).size(), size);
        logger.info(QStringLiteral("after"));
        logger.flush();
        QList<QByteArray> messages;
        for (const QByteArray &line : linesOf(logger.logFile()))
            messages << messageOf(line);
        QCOMPARE(messages, (QList<QByteArray> {"before", "fits", "after"}));
    }

    // No failure reaches the caller, nothing is put in the log's place, and logging goes on.
    void fileFailuresAreSwallowed()
    {
        const QString blocker
            = m_root.filePath(QStringLiteral("blocker")); // even root cannot make a folder below
        writeFile(blocker, "not a folder");
        Journal journal;
        Logger uncreatable(blocker + QStringLiteral("/Quorvel"), std::make_unique<FakeSystemLog>(journal));
        uncreatable.error(QStringLiteral("lost"));
        uncreatable.flush();
        QCOMPARE(readAll(blocker), QByteArray("not a folder"));
        QCOMPARE(journal.entries.size(), size_t(1)); // the journal still has it

        const QString folderDir = freshDir();
        Logger folder(folderDir, nullptr);
        QVERIFY(QDir().mkpath(folder.logFile())); // there, but cannot be opened for writing
        folder.info(QStringLiteral("lost"));
        folder.flush();
        QCOMPARE(QDir(folderDir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList {"sync.log"});

        Logger full(freshDir(), nullptr);
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), full.logFile()));
        full.info(QStringLiteral("no space"));
        full.flush();
        QVERIFY(QFile::remove(full.logFile()));
        full.info(QStringLiteral("space again"));
        QCOMPARE(logLines(full), QStringList {"[INFO] space again"});
    }
};

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_Logger.moc"
