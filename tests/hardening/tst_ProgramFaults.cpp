// The real program, headless, when things around it fail: its log folder full or read-only,
// the session bus gone, the device restarting in the middle of a set-rate. It must keep
// following the device and lose nothing it had written. The device is the simulator, in
// this process, on loopback; the test has its own network and mount namespaces where the
// machine allows (tests/netns.sh) and its own XDG tree (tests/isolated.sh).
#include "DeviceSimulator.h"
#include "FakeNotificationServer.h"
#include "PrivateBus.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

#include <unistd.h>

namespace {

QString logDir()
{
    return qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/Quorvel");
}

QByteArray logBytes()
{
    QFile file(logDir() + QStringLiteral("/sync.log"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every line whole and in the log's form, the last one ended.
bool wellFormed(const QByteArray &log)
{
    static const QRegularExpression line(
        QStringLiteral(R"(^(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] \[(INFO|WARN|ERROR)\] .+\n)*$)"));
    return line.match(QString::fromUtf8(log)).hasMatch();
}

// Messages with their level, without the time stamps.
QStringList logMessages()
{
    QStringList lines = QString::fromUtf8(logBytes()).split(u'\n', Qt::SkipEmptyParts);
    for (QString &line : lines)
        line = line.mid(22);
    return lines;
}

// True when `wanted` appear in this order, each as the start of some line.
bool inOrder(const QStringList &lines, const QStringList &wanted)
{
    qsizetype next = 0;
    for (const QString &line : lines)
        next += next < wanted.size() && line.startsWith(wanted[next]);
    return next == wanted.size();
}

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

} // namespace

class TestProgramFaults : public QObject
{
    Q_OBJECT

    DeviceSimulator m_sim;
    QString m_host;

    bool start(QProcess &quorvel,
               const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
    {
        quorvel.setProcessEnvironment(environment);
        quorvel.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        quorvel.start(qEnvironmentVariable("QUORVEL_BIN_DIR") + QStringLiteral("/quorvel"),
                      {QStringLiteral("--headless")});
        return quorvel.waitForStarted() && waitForLog(QStringLiteral("[INFO] Connected to ") + m_host);
    }

    // A clean quit: SIGTERM (by the process's own id) ends it with status 0.
    static bool stop(QProcess &quorvel)
    {
        if (quorvel.state() != QProcess::Running)
            return false;
        quorvel.terminate();
        return quorvel.waitForFinished(10000) && quorvel.exitStatus() == QProcess::NormalExit
            && quorvel.exitCode() == 0;
    }

    bool waitForLog(const QString &message, int timeoutMs = 20000)
    {
        return QTest::qWaitFor([&] { return logMessages().contains(message); }, timeoutMs);
    }

    // A new MADI rate, and the program switches the device to it.
    bool follows(qint64 rate)
    {
        m_sim.setMadiRate(rate);
        return QTest::qWaitFor([&] { return m_sim.deviceRate() == rate; }, 20000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_sim.listen());
        m_host = QStringLiteral("127.0.0.1:") + QString::number(m_sim.port());
        // The program polls only the simulator: never the default address.
        const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Quorvel");
        QVERIFY(QDir().mkpath(config));
        QFile settings(config + QStringLiteral("/settings.json"));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write(QStringLiteral(R"({"customHost":"%1","useCustomHost":true})").arg(m_host).toUtf8());
    }

    void init()
    {
        m_sim.reset();
        QFile::remove(logDir() + QStringLiteral("/sync.log"));
    }

    void deviceRestartsDuringASetRate()
    {
        QProcess quorvel;
        QVERIFY(start(quorvel));
        m_sim.setFault(SimFault::Mode::Reboot, 1, 1000);
        QElapsedTimer clock;
        clock.start();
        m_sim.setMadiRate(96000);
        QVERIFY2(waitForLog(QStringLiteral("[INFO] Set rate to 96000 Hz"), 30000), logBytes());
        qInfo("device set again %lld ms after the MADI change (1000 ms of it restarting)", clock.elapsed());
        QCOMPARE(m_sim.deviceRate(), 96000);
        QVERIFY2(
            inOrder(logMessages(),
                    {QStringLiteral("[INFO] Syncing 48000 → 96000 Hz"),
                     QStringLiteral("[WARN] Set rate failed: "), QStringLiteral("[WARN] Lost connection: "),
                     QStringLiteral("[INFO] Connected to ") + m_host,
                     QStringLiteral("[INFO] Syncing 48000 → 96000 Hz"),
                     QStringLiteral("[INFO] Set rate to 96000 Hz")}),
            logBytes());
        QVERIFY(follows(44100)); // and on as usual
        QVERIFY(stop(quorvel));
        QVERIFY(wellFormed(logBytes()));
    }

    void sessionBusGoesAway()
    {
        PrivateBus bus;
        if (bus.address().isEmpty())
            QSKIP("dbus-daemon is not available");
        FakeNotificationServer notifications(bus.address());
        QVERIFY(notifications.isRegistered());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        QProcess quorvel;
        QVERIFY(start(quorvel, environment));

        QVERIFY(follows(96000));
        QVERIFY(QTest::qWaitFor([&] { return notifications.notifications().size() == 1; }, 10000));
        bus.stop();
        QVERIFY(follows(44100));
        QVERIFY(follows(48000));
        QVERIFY(waitForLog(QStringLiteral("[INFO] Set rate to 48000 Hz")));
        QVERIFY(stop(quorvel));
        QVERIFY(wellFormed(logBytes()));
    }

    void logFolderFails_data()
    {
        QTest::addColumn<bool>("full");
        QTest::newRow("full file system") << true;
        QTest::newRow("read-only file system") << false;
    }

    void logFolderFails()
    {
        QFETCH(bool, full);
        if (qEnvironmentVariableIsEmpty("QUORVEL_IN_MOUNTNS"))
            QSKIP("needs a mount namespace of its own (tests/netns.sh, as root)");
        const QString dir = logDir();
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(run(QStringLiteral("mount"),
                    {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                     QStringLiteral("size=64k"), QStringLiteral("quorvel-test"), dir}));
        const auto unmount = qScopeGuard([&] { run(QStringLiteral("umount"), {QStringLiteral("-l"), dir}); });

        QProcess quorvel;
        QVERIFY(start(quorvel));
        const QString filler = dir + QStringLiteral("/filler");
        if (full) {
            // Earlier lines, ending just short of a page, so that the next line finds room for
            // its start but not its end once the disk is full.
            QFile log(dir + QStringLiteral("/sync.log"));
            QVERIFY(log.open(QIODevice::Append));
            const qint64 page = ::sysconf(_SC_PAGESIZE);
            const QByteArray stamp = "[2026-01-01 00:00:00] [INFO] earlier ";
            qint64 room = page - log.size() % page - 30;
            if (room < stamp.size() + 1)
                room += page;
            QVERIFY(log.write(stamp + QByteArray(room - stamp.size() - 1, 'x') + '\n') > 0);
            log.close();

            QFile space(filler);
            QVERIFY(space.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            const QByteArray block(4096, 'f');
            while (space.write(block) == block.size()) { }
        } else {
            QVERIFY(run(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("remount,ro"), dir}));
        }
        const QByteArray before = logBytes();

        QVERIFY(follows(96000));
        QVERIFY(follows(44100));
        QCOMPARE(quorvel.state(), QProcess::Running);
        // Nothing could be added; nothing written before was lost or left cut off.
        QCOMPARE(logBytes(), before);

        if (full)
            QVERIFY(QFile::remove(filler));
        else
            QVERIFY(run(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("remount,rw"), dir}));
        QVERIFY(follows(48000));
        QVERIFY(waitForLog(QStringLiteral("[INFO] Set rate to 48000 Hz")));
        QVERIFY(stop(quorvel));
        const QByteArray after = logBytes();
        QVERIFY(after.startsWith(before));
        QVERIFY2(wellFormed(after), after.mid(before.size()));
    }
};

QTEST_GUILESS_MAIN(TestProgramFaults)
#include "tst_ProgramFaults.moc"
