// The real program, headless, against a simulated device served from this test, in this test's
// own temporary XDG tree (tests/isolated.sh) and, where the machine allows, its own network
// namespace (tests/netns.sh).
#include "DeviceSimulator.h"
#include "PipeWireDaemon.h"
#include "TestFiles.h"

#include <QDBusConnection>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace {

QString binary(const QString &name)
{
    return qEnvironmentVariable("QUORVEL_BIN_DIR") + QLatin1Char('/') + name;
}

const QString logPath = qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/Quorvel/sync.log");
const QString settingsPath
    = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Quorvel/settings.json");

// Log messages without their timestamps.
QStringList logMessages()
{
    QStringList lines = QString::fromUtf8(readAll(logPath)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    static const QRegularExpression stamp(QStringLiteral(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] )"));
    for (QString &line : lines) {
        if (!line.contains(stamp))
            return {QStringLiteral("malformed line: ") + line};
        line.remove(stamp);
    }
    return lines;
}

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Waits with the event loop running: the simulated device answers from it.
Run runQuorvel(const QStringList &arguments)
{
    QProcess process;
    process.start(binary(QStringLiteral("quorvel")), arguments);
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 15000)
        || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

const QString busName = QStringLiteral("app.quorvel.Quorvel");
const QString busPath = QStringLiteral("/app/quorvel/Quorvel");
const QString busInterface = QStringLiteral("app.quorvel.Quorvel1");

// What "quorvel status --json" says of the running program.
QJsonObject statusJson()
{
    return QJsonDocument::fromJson(
               runQuorvel({QStringLiteral("status"), QStringLiteral("--json")}).out.toUtf8())
        .object();
}

} // namespace

class TestHeadlessEndToEnd : public QObject
{
    Q_OBJECT

    DeviceSimulator m_sim;
    QString m_host;
    QList<std::pair<qint64, qint64>> m_rates;

    void writeSettings(QJsonObject settings = {})
    {
        settings.insert(QStringLiteral("customHost"), m_host);
        settings.insert(QStringLiteral("useCustomHost"), true);
        settings.insert(QStringLiteral("futureKey"), QJsonArray {1, 2});
        writeFile(settingsPath, QJsonDocument(settings).toJson());
    }

    static bool waitForLog(const QString &message)
    {
        return QTest::qWaitFor([&] { return logMessages().contains(message); }, 15000);
    }

public Q_SLOTS:
    void rateChanged(qint64 from, qint64 to) { m_rates.append({from, to}); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_sim.listen());
        m_host = QStringLiteral("127.0.0.1:%1").arg(m_sim.port());
        writeSettings(); // the engine polls only the simulator: never the default address
    }

    void testConnectionTouchesNeitherLogNorSettings()
    {
        const Run version = runQuorvel({QStringLiteral("--version")});
        QVERIFY(version.exitCode == 0 && version.out.startsWith(QStringLiteral("Quorvel ")));
        const Run help = runQuorvel({QStringLiteral("--help")});
        QVERIFY(help.exitCode == 0 && help.out.contains(QStringLiteral("--test-connection HOST")));
        const Run wrong = runQuorvel({QStringLiteral("--frobnicate")});
        QVERIFY(wrong.exitCode == 2 && wrong.err.contains(QStringLiteral("--frobnicate")));
        QFile::remove(logPath);
        const QByteArray settingsBefore = readAll(settingsPath);
        const Run ok = runQuorvel({QStringLiteral("--test-connection"), m_host});
        QCOMPARE(ok.exitCode, 0);
        QCOMPARE(ok.out, QStringLiteral("✓ Connected. Device rate: 48000 Hz\n"));
        const Run failed = runQuorvel({QStringLiteral("--test-connection"), QStringLiteral("m1620 local")});
        QVERIFY2(failed.exitCode == 1 && failed.out.startsWith(QStringLiteral("✗ ")), qPrintable(failed.out));
        QVERIFY(!QFile::exists(logPath));
        QCOMPARE(readAll(settingsPath), settingsBefore);
    }

    // Follows the device; scripts and status bars see and steer it on the session bus.
    void followsTheDeviceOnTheSessionBus()
    {
        QFile::remove(logPath);
        QProcess quorvel;
        quorvel.start(binary(QStringLiteral("quorvel")), {QStringLiteral("--headless")});
        QVERIFY2(waitForLog(QStringLiteral("[INFO] Connected to ") + m_host),
                 qPrintable(logMessages().join('\n')));
        // One engine per user: a second headless start refuses and says why.
        const Run second = runQuorvel({QStringLiteral("--headless")});
        QVERIFY(second.exitCode != 0);
        QVERIFY2(second.err.contains(QStringLiteral("already running")), qPrintable(second.err));
        QVERIFY(QDBusConnection::sessionBus().connect(busName, busPath, busInterface,
                                                      QStringLiteral("RateChanged"), this,
                                                      SLOT(rateChanged(qint64, qint64))));
        QProcess watch;
        watch.start(binary(QStringLiteral("quorvel")), {QStringLiteral("watch")});
        QVERIFY(watch.waitForStarted());

        m_sim.setMadiRate(96000);
        QVERIFY2(waitForLog(QStringLiteral("[INFO] Set rate to 96000 Hz")),
                 qPrintable(logMessages().join('\n')));
        QTRY_COMPARE_WITH_TIMEOUT(m_rates.size(), 1, 10000);
        QCOMPARE(m_rates.first(), std::make_pair(qint64(48000), qint64(96000)));
        // Pause is idempotent, unlike the panel's toggle, and stops following.
        QCOMPARE(runQuorvel({QStringLiteral("pause")}).exitCode, 0);
        QCOMPARE(runQuorvel({QStringLiteral("pause")}).exitCode, 0);
        QTRY_VERIFY(statusJson().value(u"paused").toBool());
        m_sim.setMadiRate(44100);
        QTest::qWait(1200); // two polls at the connected interval
        QCOMPARE(m_sim.setRateRequests().size(), 1);
        QCOMPARE(runQuorvel({QStringLiteral("resume")}).exitCode, 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_rates.size(), 2, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(statusJson().value(u"deviceRate").toInteger(), 44100, 10000);

        QJsonObject json = statusJson();
        const QJsonArray history = json.take(u"history").toArray();
        QCOMPARE(history.size(), 2);
        QCOMPARE(history.at(0).toObject().value(u"from").toInteger(), 96000);
        QCOMPARE(history.at(0).toObject().value(u"to").toInteger(), 44100);
        json.remove(u"legacyToolDetected"); // another test's stand-in old script may be running
        const QString expected = QStringLiteral(R"({"running":true,"connectionState":"connected","host":"%1",
            "error":"","deviceRate":44100,"madiRate":44100,"madiSync":"locked","paused":false,"rateMismatch":false})");
        QCOMPARE(json, QJsonDocument::fromJson(expected.arg(m_host).toUtf8()).object());

        quorvel.terminate(); // SIGTERM, by its own id
        QTRY_VERIFY_WITH_TIMEOUT(quorvel.state() == QProcess::NotRunning, 10000);
        QCOMPARE(quorvel.exitStatus(), QProcess::NormalExit);
        QCOMPARE(quorvel.exitCode(), 0);
        const QStringList log = logMessages();
        QVERIFY(log.size() >= 6 && log[0].startsWith(QStringLiteral("[INFO] Quorvel launched — version ")));
        QCOMPARE(log.mid(1, 5),
                 (QStringList {QStringLiteral("[INFO] Sync starting (host: %1)").arg(m_host),
                               QStringLiteral("[INFO] Connected to ") + m_host,
                               QStringLiteral("[INFO] MADI input rate changed: 48000 → 96000 Hz"),
                               QStringLiteral("[INFO] Syncing 48000 → 96000 Hz"),
                               QStringLiteral("[INFO] Set rate to 96000 Hz")}));
        QVERIFY(readAll(settingsPath).contains("futureKey")); // unknown keys survive a run
        const Run stopped = runQuorvel({QStringLiteral("status")});
        QVERIFY(stopped.exitCode == 4 && stopped.err.contains(QStringLiteral("not running")));

        // The watcher (on PropertiesChanged) printed one line per change: both rates in order, then
        // the end.
        QByteArray printed;
        QTRY_VERIFY((printed += watch.readAllStandardOutput()).contains(R"({"running":false})"));
        watch.terminate();
        QTRY_VERIFY(watch.state() == QProcess::NotRunning);
        QCOMPARE(watch.exitCode(), 0);
        const qsizetype at96 = printed.indexOf("\"deviceRate\":96000"),
                        at44 = printed.indexOf("\"deviceRate\":44100");
        QVERIFY(at96 >= 0 && at96 < at44);
    }

    // The computer follows too: PipeWire's graph rate pinned to the device's and let go on pause,
    // and the user's command run after each change (its rules: the engine's tests).
    void keepsTheComputerInStep()
    {
        if (!PipeWireDaemon::installed())
            QSKIP("pipewire and pw-metadata are not installed (scripts/install-deps.sh installs them)");
        PipeWireDaemon pipewire;
        QVERIFY(pipewire.start());
        m_sim.reset();
        QFile::remove(logPath);
        const QString record = qEnvironmentVariable("QUORVEL_TEST_ROOT") + QStringLiteral("/rate env");
        // Split as a desktop entry's Exec line: sh, -c, the script, and the file as $0.
        const QString command = QStringLiteral(
            "sh -c \"env | grep -E '^QUORVEL_(HOST|RATE|PREVIOUS_RATE)=' | sort > \\\"$0\\\"\" \"%1\"");
        writeSettings({{QStringLiteral("matchPipeWireRate"), true},
                       {QStringLiteral("rateChangeCommand"), command.arg(record)}});
        QProcess quorvel;
        quorvel.start(binary(QStringLiteral("quorvel")), {QStringLiteral("--headless")});
        QVERIFY2(waitForLog(QStringLiteral("[INFO] PipeWire graph rate set to 48000 Hz")),
                 qPrintable(logMessages().join('\n')));
        m_sim.setMadiRate(96000);
        QVERIFY(waitForLog(QStringLiteral("[INFO] Rate-change command exited with status 0")));
        QCOMPARE(PipeWireDaemon::forcedRate(), 96000);
        QCOMPARE(readAll(record),
                 QStringLiteral("QUORVEL_HOST=%1\nQUORVEL_PREVIOUS_RATE=48000\nQUORVEL_RATE=96000\n")
                     .arg(m_host)
                     .toUtf8());
        // Let go on pause, pinned again on resume; a pin made by hand meanwhile is the user's,
        // and quitting leaves it.
        QCOMPARE(runQuorvel({QStringLiteral("pause")}).exitCode, 0);
        QVERIFY(waitForLog(QStringLiteral("[INFO] PipeWire graph rate released")));
        QCOMPARE(PipeWireDaemon::forcedRate(), 0);
        QCOMPARE(runQuorvel({QStringLiteral("resume")}).exitCode, 0);
        QTRY_COMPARE_WITH_TIMEOUT(PipeWireDaemon::forcedRate(), 96000, 10000);
        PipeWireDaemon::forceRate(44100);
        quorvel.terminate(); // SIGTERM, by its own id
        QTRY_VERIFY_WITH_TIMEOUT(quorvel.state() == QProcess::NotRunning, 10000);
        QCOMPARE(quorvel.exitCode(), 0);
        QCOMPARE(PipeWireDaemon::forcedRate(), 44100);
        QVERIFY(logMessages().contains(
            QStringLiteral("[INFO] PipeWire graph rate left at 44100 Hz, set outside Quorvel")));
        writeSettings();
    }
};

QTEST_GUILESS_MAIN(TestHeadlessEndToEnd)
#include "tst_HeadlessEndToEnd.moc"
