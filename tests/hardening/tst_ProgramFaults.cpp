// The real program, headless, when things around it fail: the session bus gone, the device
// restarting in the middle of a set-rate. It must keep following the device. The device is the
// simulator, in this process, on loopback (tests/netns.sh, tests/isolated.sh). A log folder that
// fails is the logger's own test.
#include "DeviceSimulator.h"
#include "FakeNotificationServer.h"
#include "PrivateBus.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace {

const QString logPath = qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/Quorvel/sync.log");

QByteArray logBytes()
{
    QFile file(logPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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
        QFile::remove(logPath);
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
    }
};

QTEST_GUILESS_MAIN(TestProgramFaults)
#include "tst_ProgramFaults.moc"
