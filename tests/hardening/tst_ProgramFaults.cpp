// The real program, headless, when things around it fail: the device restarting in the middle of
// a set-rate or never answering, the session bus gone. It must keep following the device. The device is the
// simulator, in this process, on loopback (tests/netns.sh, tests/isolated.sh). A log folder that
// fails is the logger's own test.
#include "DeviceSimulator.h"
#include "FakeNotificationServer.h"
#include "PrivateBus.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>

namespace {

QByteArray logBytes()
{
    QFile file(qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/Quorvel/sync.log"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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
    void keepsFollowingThroughFaults()
    {
        QVERIFY(m_sim.listen());
        // The program polls only the simulator: never the default address.
        const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Quorvel");
        QVERIFY(QDir().mkpath(config));
        QFile settings(config + QStringLiteral("/settings.json"));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write(QStringLiteral(R"({"customHost":"127.0.0.1:%1","useCustomHost":true})")
                           .arg(m_sim.port())
                           .toUtf8());
        settings.close();
        PrivateBus bus; // one the test can take away
        std::unique_ptr<FakeNotificationServer> notifications;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (!bus.address().isEmpty()) {
            notifications = std::make_unique<FakeNotificationServer>(bus.address());
            QVERIFY(notifications->isRegistered());
            environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        }
        QProcess quorvel;
        quorvel.setProcessEnvironment(environment);
        quorvel.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        quorvel.start(qEnvironmentVariable("QUORVEL_BIN_DIR") + QStringLiteral("/quorvel"),
                      {QStringLiteral("--headless")});
        QVERIFY(quorvel.waitForStarted());

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
        QVERIFY(QTest::qWaitFor(
            [] { return logBytes().contains("[WARN] Lost connection: The request timed out"); }, 10000));
        QVERIFY2(clock.elapsed() < 3500,
                 qPrintable(QStringLiteral("held on for %1 ms").arg(clock.elapsed())));
        QVERIFY(follows(44100));

        if (notifications) {
            QVERIFY(QTest::qWaitFor([&] { return !notifications->notifications().isEmpty(); }, 10000));
            bus.stop();
        } else {
            qInfo("dbus-daemon is not available: the bus stays");
        }
        QVERIFY(follows(48000));
        QVERIFY(QTest::qWaitFor([] { return logBytes().contains("[INFO] Set rate to 48000 Hz"); }, 10000));
        quorvel.terminate(); // SIGTERM, by its own id
        QVERIFY(quorvel.waitForFinished(10000));
        QCOMPARE(quorvel.exitStatus(), QProcess::NormalExit);
        QCOMPARE(quorvel.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestProgramFaults)
#include "tst_ProgramFaults.moc"
