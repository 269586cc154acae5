#include "TestFiles.h"

#include <QDateTime>
#include <QLocale>
#include <QTemporaryDir>
#include <QTimeZone>

#include <mutex>
#include <semaphore>
#include <thread>

#include <csignal>
#include <ctime>
#include <sys/resource.h>

namespace {

QList<QByteArray> linesOf(const QString &path)
{
    QList<QByteArray> lines = readAll(path).split('\n');
    lines.removeAll(QByteArray());
    return lines;
}

// A system log that holds the worker at its first line until the gate opens.
struct GatedSystemLog final : SystemLog
{
    std::mutex gate;
    std::binary_semaphore entered {0};
    QList<std::pair<Priority, QString>> entries;
    void write(Priority priority, const QString &message) override
    {
        entered.release();
        const std::lock_guard held(gate);
        entries.append({priority, message});
    }
};

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

    void rotation_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QList<int>>("present"); // generations there before; 0: an undeletable .5
        QTest::addColumn<QByteArrayList>("after"); // .1 to .5; "" absent, "old" the rotated file
        QTest::newRow("1000000 bytes: append") << qint64(1000000) << QList<int> {} << QByteArrayList(5);
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
        QCOMPARE(current.size(),
                 (after[0].isEmpty() ? size : 0) + qsizetype(strlen("[2024-12-31 20:00:00] [INFO] next\n")));
        QVERIFY(current.endsWith("] [INFO] next\n"));
    }

    // Two rotations in one burst: every line kept, in order, and lines that reach the worker
    // together rotate exactly where single lines would: each file is over the limit by its last
    // line only.
    void burstRotatesWithoutLossOrReordering()
    {
        const QString dir = freshDir();
        const int count = 25000; // about 2.4 MB
        {
            Logger logger(dir, nullptr);
            for (int i = 0; i < count; ++i)
                logger.info(QString::number(i) + u' ' + QString(60, u'p'));
        } // the destructor writes what is still queued
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
        QCOMPARE(all.size(), count);
        for (int i = 0; i < count; ++i)
            QVERIFY(all[i].mid(29).startsWith(QByteArray::number(i).append(' '))); // after "[stamp] [INFO] "
    }

    // Callers only format: a stuck worker holds nobody up, the stamp is the call's time, and
    // WARN and ERROR reach the system log as errors.
    void callersNeverWaitAndStampTheCallTime()
    {
        const QString dir = freshDir();
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        QDateTime after;
        {
            auto owned = std::make_unique<GatedSystemLog>();
            GatedSystemLog &systemLog = *owned;
            Logger logger(dir, std::move(owned));
            systemLog.gate.lock();
            logger.info(QStringLiteral("first"));
            systemLog.entered.acquire();
            logger.warn(QStringLiteral("100% %s"));
            logger.error(QStringLiteral("a\nb"));
            after = QDateTime::currentDateTime();
            std::this_thread::sleep_for(std::chrono::milliseconds(1100)); // a write-time stamp would differ
            QVERIFY(!QFile::exists(logger.logFile()));
            systemLog.gate.unlock();
            logger.flush();
            using P = SystemLog::Priority;
            QCOMPARE(systemLog.entries,
                     (QList<std::pair<P, QString>> {
                         {P::Info, "first"}, {P::Error, "100% %s"}, {P::Error, "a\nb"}}));
        }
        const QList<QByteArray> lines = linesOf(dir + QStringLiteral("/sync.log"));
        QCOMPARE(lines.size(), 4);
        for (const QByteArray &line : lines.first(3)) {
            const QDateTime at = QDateTime::fromString(QString::fromLatin1(line.mid(1, 19)),
                                                       QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            QVERIFY2(at >= before && at <= after, line.constData());
        }
        QCOMPARE(lines[1].mid(22), QByteArray("[WARN] 100% %s"));
    }

    // Nothing reaches the caller, nothing is put in the log's place, logging goes on, and a
    // disk that fills mid-line (a file size limit stands in) leaves only whole lines.
    void fileFailuresAreSwallowed()
    {
        const QString blocker = m_root.filePath(QStringLiteral("blocker")); // a folder below a file
        writeFile(blocker, "not a folder");
        Logger uncreatable(blocker + QStringLiteral("/Quorvel"), nullptr);
        uncreatable.error(QStringLiteral("lost"));
        uncreatable.flush();
        QCOMPARE(readAll(blocker), QByteArray("not a folder"));

        Logger full(freshDir(), nullptr);
        full.info(QStringLiteral("before"));
        full.flush();
        const qint64 size = QFileInfo(full.logFile()).size();
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved {};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        rlimit tight = saved;
        tight.rlim_cur = rlim_t(size * 2 + 10); // room for one more line like the first
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &tight) == 0);
        full.info(QStringLiteral("fits__"));
        full.warn(QStringLiteral("a line that only partly fits"));
        full.flush();
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &saved) == 0);
        std::signal(SIGXFSZ, previousHandler);
        full.info(QStringLiteral("after"));
        full.flush();
        QList<QByteArray> messages;
        for (const QByteArray &line : linesOf(full.logFile()))
            messages << line.mid(line.indexOf("] ", line.indexOf(']') + 2) + 2);
        QCOMPARE(messages, (QList<QByteArray> {"before", "fits__", "after"}));
    }
};

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_Logger.moc"
