// The real program, headless, when things around it fail: a device that floods it, restarts in
// the middle of a set-rate or never answers, the session bus gone. It must keep its memory and
// keep following the device. The devices are this process's own, on loopback, in this test's own
// network namespace (tests/netns.sh, tests/isolated.sh). The other wrong answers are the client's
// failure table; a log folder that fails is the logger's own test.
#include "DeviceSimulator.h"
#include "FakeNotificationServer.h"
#include "PrivateBus.h"
#include "ProcessStatus.h"
#include "TestFiles.h"
#include "device/ScriptedHttpServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>

namespace {

QByteArray logBytes()
{
    return readAll(qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/Quorvel/sync.log"));
}

bool logShows(const QByteArray &text, int timeoutMs = 10000)
{
    return QTest::qWaitFor([&] { return logBytes().contains(text); }, timeoutMs);
}

// Starts the program polling only this host: never the default address.
bool start(QProcess &quorvel, const QString &host,
           const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Quorvel");
    QFile settings(config + QStringLiteral("/settings.json"));
    if (!QDir().mkpath(config) || !settings.open(QIODevice::WriteOnly))
        return false;
    settings.write(QStringLiteral(R"({"customHost":"%1","useCustomHost":true})").arg(host).toUtf8());
    settings.close();
    quorvel.setProcessEnvironment(environment);
    quorvel.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    quorvel.start(qEnvironmentVariable("QUORVEL_BIN_DIR") + QStringLiteral("/quorvel"),
                  {QStringLiteral("--headless")});
    return quorvel.waitForStarted();
}

// A clean quit: SIGTERM (by the process's own id) ends it with status 0.
bool stop(QProcess &quorvel)
{
    quorvel.terminate();
    return quorvel.waitForFinished(10000) && quorvel.exitStatus() == QProcess::NormalExit
        && quorvel.exitCode() == 0;
}

} // namespace

class TestProgramFaults : public QObject
{
    Q_OBJECT

    DeviceSimulator m_sim;

    // A new MADI rate, and the program switches the device to it.
    bool follows(qint64 rate)
    {
        m_sim.setMadiRate(rate);
        return QTest::qWaitFor([&] { return m_sim.deviceRate() == rate; }, 20000);
    }

private Q_SLOTS:
    void survivesAFlood()
    {
        ScriptedHttpServer device;
        device.answerWith(ScriptedAnswer::keepAlive(
            200,
            R"({"clock":{"sampling_rate":48000,"sources":{"madi_coaxial":{"rate":48000,"sync":true}}}})"));
        QVERIFY(device.listen());
        QProcess quorvel;
        QVERIFY(start(quorvel, device.hostText()));
        // A few good polls first, so that what start-up allocates is not counted as growth.
        QVERIFY(QTest::qWaitFor([&] { return device.requests().size() >= 5; }, 15000));
        const QString pid = QString::number(quorvel.processId());
        const qint64 rssBefore = residentKiB(pid);
        ScriptedAnswer flood; // no length: the body runs until the close
        flood.bytes = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n{\"a\":\"" + QByteArray(64 << 20, 'a');
        device.answerNext(flood);
        QVERIFY(logShows("Lost connection: The device’s response is larger than 1 MiB"));
        QVERIFY(QTest::qWaitFor([] { return logBytes().count("Connected to ") == 2; }, 10000));
        const qint64 rssAfter = residentKiB(pid);
        QVERIFY2(rssBefore > 0 && rssAfter - rssBefore < 30 * 1024, "memory grew by more than 30 MB");
        QVERIFY(stop(quorvel));
    }

    void keepsFollowingThroughFaults()
    {
        QVERIFY(m_sim.listen());
        PrivateBus bus; // one the test can take away
        std::unique_ptr<FakeNotificationServer> notifications;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (!bus.address().isEmpty()) {
            notifications = std::make_unique<FakeNotificationServer>(bus.address());
            QVERIFY(notifications->isRegistered());
            environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        }
        QProcess quorvel;
        QVERIFY(start(quorvel, QStringLiteral("127.0.0.1:%1").arg(m_sim.port()), environment));

        // The device restarts in the middle of the set-rate and forgets it: set again once it is back.
        m_sim.setFault(SimFault::Mode::Reboot, 1, 1000);
        QVERIFY2(follows(96000), logBytes());
        QVERIFY2(logBytes().contains("[WARN] Set rate failed: "), logBytes());

        // A device that takes a request and never answers: given up on at the deadline, and
        // followed again once it behaves.
        m_sim.setFault(SimFault::Mode::Hang, 1, 0);
        QVERIFY(QTest::qWaitFor([&] { return !m_sim.fault().active(); }, 10000)); // the request came
        QElapsedTimer clock;
        clock.start();
        QVERIFY(logShows("[WARN] Lost connection: The request timed out"));
        QVERIFY2(clock.elapsed() < 3500,
                 qPrintable(QStringLiteral("held on for %1 ms").arg(clock.elapsed())));
        QVERIFY(follows(44100));

        if (notifications) {
            QVERIFY(QTest::qWaitFor([&] { return !notifications->notifications().isEmpty(); }, 10000));
            bus.stop();
        }
        QVERIFY(follows(48000));
        QVERIFY(logShows("[INFO] Set rate to 48000 Hz"));
        QVERIFY(stop(quorvel));
    }
};

QTEST_GUILESS_MAIN(TestProgramFaults)
#include "tst_ProgramFaults.moc"
