#include "AwaitTask.h"
#include "EngineHarness.h"

using namespace std::chrono_literals;

class TestSyncEngine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        FakeNotificationServer probe;
        if (!probe.isRegistered())
            QSKIP("no private session bus for the notification server (run under dbus-run-session)");
    }

    void answeredFromTheStart()
    {
        EngineHarness h;
        QCOMPARE(h.state.connectionState(), ConnectionState::disconnected());
        h.start();
        h.nextPolls(3);
        QCOMPARE(
            h.connectionStates,
            (QList<ConnectionState> {ConnectionState::connecting(), ConnectionState::connected(h.host())}));
        QCOMPARE(h.log(),
                 (QStringList {QStringLiteral("[INFO] Sync starting (host: %1)").arg(h.host()),
                               QStringLiteral("[INFO] Connected to %1").arg(h.host())}));
        QCOMPARE(h.state.deviceRate(), std::optional<qint64>(48000));
        QCOMPARE(h.state.madiRate(), std::optional<qint64>(48000));
        QCOMPARE(h.state.madiSync(), std::optional<bool>(true));
        QVERIFY(h.device.setRateRequests().isEmpty());
        QCOMPARE(h.pollWaits(), (QList<std::chrono::milliseconds> {500ms, 500ms, 500ms, 500ms}));
        QVERIFY(h.notifications.notifications().isEmpty());
    }

    void startTwiceStartsOnce()
    {
        EngineHarness h;
        h.start();
        h.engine->start();
        h.nextPolls(2);
        QCOMPARE(h.logMatching(QStringLiteral("Sync starting")).size(), 1);
        QCOMPARE(h.clock.requestedSleeps().count(SyncEngine::legacyCheckInterval), 1);
        QCOMPARE(h.clock.sleepersUpTo(SyncEngine::legacyCheckInterval), 2); // one poll wait, one legacy wait
    }

    void unreachableAtStart()
    {
        EngineHarness h;
        h.settings.setCustomHost(loopback(closedPort()));
        h.start();
        h.nextPolls(2);
        QCOMPARE(h.connectionStates.size(), 2);
        QCOMPARE(h.connectionStates[0], ConnectionState::connecting());
        QCOMPARE(h.connectionStates[1].kind(), ConnectionState::Kind::Error);
        QVERIFY(!h.connectionStates[1].message().isEmpty());
        QVERIFY(h.logMatching(QStringLiteral("Connected to")).isEmpty());
        QVERIFY(h.logMatching(QStringLiteral("Lost connection")).isEmpty());
        QVERIFY(h.notifications.notifications().isEmpty());
        QCOMPARE(h.pollWaits(), (QList<std::chrono::milliseconds> {3000ms, 3000ms, 3000ms}));
    }

    void hostSwitchedWhileConnected()
    {
        EngineHarness h;
        DeviceSimulator other;
        QVERIFY(other.listen());
        h.start();
        h.nextPolls(1);
        h.settings.setCustomHost(loopback(other.port()));
        h.nextPoll();
        h.nextPoll();
        QCOMPARE(h.state.connectionState(), ConnectionState::connected(loopback(other.port())));
        QCOMPARE(h.logMatching(QStringLiteral("Connected to")),
                 (QStringList {QStringLiteral("[INFO] Connected to ") + h.host(),
                               QStringLiteral("[INFO] Connected to ") + loopback(other.port())}));
        QVERIFY(other.statusQueryCount() >= 2);
    }

    void followsASupportedMadiRate()
    {
        EngineHarness h;
        h.start();
        h.device.setMadiRate(96000);
        h.nextPoll();
        QCOMPARE(h.device.setRateRequests(), QList<qint64> {96000});
        QCOMPARE(h.log().mid(2),
                 (QStringList {QStringLiteral("[INFO] MADI input rate changed: 48000 → 96000 Hz"),
                               QStringLiteral("[INFO] Syncing 48000 → 96000 Hz"),
                               QStringLiteral("[INFO] Set rate to 96000 Hz")}));
        QCOMPARE(h.state.history().size(), 1);
        QCOMPARE(h.state.history()[0].from(), std::optional<qint64>(48000));
        QCOMPARE(h.state.history()[0].to(), 96000);
        // The reading that triggered the change still shows the old device rate.
        QCOMPARE(h.state.deviceRate(), std::optional<qint64>(48000));
        QVERIFY(QTest::qWaitFor([&] { return h.notifications.notifications().size() == 1; }, 5000));
        QCOMPARE(h.notifications.notifications()[0].summary, QStringLiteral("Sample rate changed"));
        QCOMPARE(h.notifications.notifications()[0].body, QStringLiteral("M-1620 set to 96.0 kHz"));
        QCOMPARE(h.notifications.notifications()[0].appName, QStringLiteral("Quorvel"));
        QCOMPARE(h.notifications.notifications()[0].replacesId, 0u);

        h.nextPoll();
        QCOMPARE(h.state.deviceRate(), std::optional<qint64>(96000));
        // 2 s to settle, then the usual half second; then back to the plain interval.
        QCOMPARE(h.pollWaits(), (QList<std::chrono::milliseconds> {500ms, 2000ms, 500ms, 500ms}));
        QVERIFY(!h.state.rateMismatch());
    }

    void twoChangesGiveTwoNotifications()
    {
        EngineHarness h;
        h.start();
        h.device.setMadiRate(96000);
        h.nextPolls(2);
        h.device.setMadiRate(44100);
        h.nextPolls(2);
        QCOMPARE(h.device.setRateRequests(), (QList<qint64> {96000, 44100}));
        QVERIFY(QTest::qWaitFor([&] { return h.notifications.notifications().size() == 2; }, 5000));
        QCOMPARE(h.notifications.notifications()[1].body, QStringLiteral("M-1620 set to 44.1 kHz"));
        QCOMPARE(h.state.history()[0].to(), 44100);
        QCOMPARE(h.state.history()[1].to(), 96000);
    }

    void rateChangeNotificationCanBeTurnedOff()
    {
        EngineHarness h;
        h.settings.setNotifyOnRateChange(false);
        h.start();
        h.device.setMadiRate(88200);
        h.nextPolls(2);
        QCOMPARE(h.device.setRateRequests(), QList<qint64> {88200});
        QCOMPARE(h.logMatching(QStringLiteral("Set rate to")).size(), 1);
        QTest::qWait(100);
        QVERIFY(h.notifications.notifications().isEmpty());
    }

    void followingRules_data()
    {
        QTest::addColumn<qint64>("settleMs");
        QTest::addColumn<bool>("onlyLocked");
        QTest::addColumn<bool>("locked");
        QTest::addColumn<QList<qint64>>("madiReadings"); // one per poll
        QTest::addColumn<QList<qint64>>("setRates");
        QTest::addColumn<int>("waitLines");
        const QList<qint64> flapping {96000, 48000, 96000, 48000, 96000, 96000, 96000};
        QTest::newRow("flapping, followed at once")
            << 0LL << false << true << flapping << QList<qint64> {96000, 48000, 96000, 48000, 96000} << 0;
        // Each return to 96 kHz starts the wait over; it ends on the third reading of 1 s.
        QTest::newRow("flapping, settle time")
            << 1000LL << false << true << flapping << QList<qint64> {96000} << 3;
        QTest::newRow("unlocked, followed by default")
            << 0LL << false << false << QList<qint64> {96000} << QList<qint64> {96000} << 0;
        QTest::newRow("locked, only locked followed")
            << 0LL << true << true << QList<qint64> {96000} << QList<qint64> {96000} << 0;
        // Six seconds without lock: neither a request nor a warning.
        QTest::newRow("unlocked, only locked followed")
            << 0LL << true << false << QList<qint64>(13, 96000) << QList<qint64> {} << 0;
    }

    void followingRules()
    {
        QFETCH(qint64, settleMs);
        QFETCH(bool, onlyLocked);
        QFETCH(bool, locked);
        QFETCH(QList<qint64>, madiReadings);
        QFETCH(QList<qint64>, setRates);
        QFETCH(int, waitLines);
        EngineHarness h;
        h.settings.setSettleMilliseconds(settleMs);
        h.settings.setFollowOnlyWhenLocked(onlyLocked);
        h.device.setMadiSync(locked);
        h.device.setMadiRate(madiReadings.takeFirst());
        h.start();
        for (qint64 madi : madiReadings) {
            h.device.setMadiRate(madi);
            h.nextPoll();
        }
        QCOMPARE(h.device.setRateRequests(), setRates);
        const QStringList waits = h.logMatching(QStringLiteral("to settle"));
        QCOMPARE(waits.size(), waitLines);
        if (waitLines > 0)
            QCOMPARE(waits.first(),
                     QStringLiteral("[INFO] MADI input at 96000 Hz — waiting 1000 ms for it to settle"));
        QVERIFY(!h.state.rateMismatch());
    }

    void unsupportedRateIsIgnored()
    {
        EngineHarness h;
        h.device.setMadiRate(32000);
        h.start();
        h.nextPolls(10);
        QVERIFY(h.device.setRateRequests().isEmpty());
        QVERIFY(h.logMatching(QStringLiteral("Syncing")).isEmpty());
        QVERIFY(!h.state.rateMismatch());
        QVERIFY(!h.engine->mismatchPending());
    }

    void absentDeviceRateIsNeverActedOn()
    {
        EngineHarness h;
        h.device.setReported(DeviceSimulator::Member::DeviceRate, false);
        h.device.setMadiRate(96000);
        h.start();
        h.nextPolls(10);
        QVERIFY(!h.state.deviceRate());
        QVERIFY(h.device.setRateRequests().isEmpty());
        QVERIFY(!h.state.rateMismatch());
        QVERIFY(!h.engine->mismatchPending());
    }

    void pausedMismatchRisesAtExactlyThreeSeconds()
    {
        EngineHarness h;
        h.device.setMadiRate(96000);
        h.engine->togglePause();
        h.start(); // reading 1 at t = 0 s: the mismatch starts
        QVERIFY(h.engine->mismatchPending());
        h.nextPolls(5); // readings at 0.5 … 2.5 s
        QVERIFY(!h.state.rateMismatch());
        h.nextPoll(); // reading 7 at exactly 3.0 s
        QVERIFY(h.state.rateMismatch());
        QVERIFY(h.device.setRateRequests().isEmpty());
        QVERIFY(h.logMatching(QStringLiteral("Syncing")).isEmpty());
        h.engine->togglePause();
        QCOMPARE(h.log().filter(QRegularExpression(QStringLiteral("Sync (paused|resumed)"))),
                 (QStringList {QStringLiteral("[INFO] Sync paused"), QStringLiteral("[INFO] Sync resumed")}));
        QVERIFY(!h.state.isPaused());
    }

    void wallClockJumpNeitherRaisesNorHidesTheWarning()
    {
        EngineHarness h;
        h.engine->togglePause();
        h.device.setMadiRate(96000);
        h.start();
        h.clock.jumpWallClock(std::chrono::hours(2));
        h.nextPoll();
        QVERIFY(!h.state.rateMismatch());
        h.clock.jumpWallClock(-std::chrono::hours(4));
        h.nextPolls(5);
        QVERIFY(h.state.rateMismatch());
    }

    void failingSetRateWarnsAndRetries()
    {
        EngineHarness h;
        h.failSetRatesWith(500);
        h.device.setMadiRate(96000);
        h.start();
        h.nextPolls(6); // readings at 0 … 3.0 s; each one's set-rate fails
        const QStringList failures = h.logMatching(QStringLiteral("Set rate failed"));
        QCOMPARE(failures.size(), 7);
        QCOMPARE(failures.first(), QStringLiteral("[WARN] Set rate failed: Unexpected response from device"));
        QVERIFY(h.state.history().isEmpty());
        QCOMPARE(h.state.connectionState(), ConnectionState::connected(h.host()));
        QCOMPARE(h.pollWaits().count(2000ms), 0);
        QVERIFY(h.state.rateMismatch());
        QCOMPARE(h.logMatching(QStringLiteral("Connected to")).size(), 1);
    }

    void lostAndRegainedDevice()
    {
        EngineHarness h;
        h.start();
        h.device.setMadiRate(96000);
        h.device.setFollowDelay(60 * 60 * 1000);
        h.engine->togglePause();
        h.nextPolls(7);
        QVERIFY(h.state.rateMismatch());

        h.device.setFault(SimFault::Mode::Status, -1, 503);
        h.nextPolls(3);
        QCOMPARE(h.state.connectionState(),
                 ConnectionState::error(QStringLiteral("Unexpected response from device")));
        QCOMPARE(h.logMatching(QStringLiteral("Lost connection")),
                 QStringList {QStringLiteral("[WARN] Lost connection: Unexpected response from device")});
        QVERIFY(!h.state.rateMismatch());
        QVERIFY(!h.engine->mismatchPending());
        // The last reading stays on show.
        QCOMPARE(h.state.madiRate(), std::optional<qint64>(96000));
        QVERIFY(QTest::qWaitFor([&] { return h.notifications.notifications().size() == 1; }, 5000));
        QCOMPARE(h.notifications.notifications()[0].summary, QStringLiteral("M-1620 disconnected"));
        QCOMPARE(h.notifications.notifications()[0].body, QStringLiteral("Unexpected response from device"));
        QCOMPARE(h.pollWaits().mid(h.pollWaits().size() - 3),
                 (QList<std::chrono::milliseconds> {3000ms, 3000ms, 3000ms}));

        h.device.clearFault();
        h.nextPoll();
        QCOMPARE(h.state.connectionState(), ConnectionState::connected(h.host()));
        QCOMPARE(h.logMatching(QStringLiteral("Connected to")).size(), 2);
        QTest::qWait(50);
        QCOMPARE(h.notifications.notifications().size(), 1);
    }

    void disconnectNotificationCanBeTurnedOff()
    {
        EngineHarness h;
        h.settings.setNotifyOnDisconnect(false);
        h.start();
        h.device.setFault(SimFault::Mode::Array);
        h.nextPoll();
        QCOMPARE(h.logMatching(QStringLiteral("Lost connection")).size(), 1);
        QTest::qWait(100);
        QVERIFY(h.notifications.notifications().isEmpty());
    }

    void legacyScriptWatch()
    {
        EngineHarness h;
        h.legacy.present = true;
        h.start();
        QVERIFY(QTest::qWaitFor([&] { return h.state.legacyScriptDetected(); }, 5000));
        QVERIFY(QTest::qWaitFor([&] { return h.notifications.notifications().size() == 1; }, 5000));
        QCOMPARE(h.notifications.notifications()[0].summary,
                 QStringLiteral("Old M-1620 Rate Sync is still installed"));
        QCOMPARE(h.notifications.notifications()[0].body,
                 QStringLiteral("It changes the sample rate on its own and can fight Quorvel. "
                                "Open Quorvel for how to remove it."));

        const auto nextCheck = [&] {
            QVERIFY(h.waitForPollSleep());
            QVERIFY(QTest::qWaitFor(
                [&] { return h.clock.sleepersUpTo(SyncEngine::legacyCheckInterval) == 2; }, 5000));
            h.clock.advance(SyncEngine::legacyCheckInterval);
            QTest::qWait(20);
        };
        h.legacy.present = false;
        nextCheck();
        QVERIFY(!h.state.legacyScriptDetected());
        h.legacy.present = true;
        nextCheck();
        QVERIFY(h.state.legacyScriptDetected());
        QCOMPARE(
            h.log().filter(QStringLiteral("Old M-1620")),
            (QStringList {
                QStringLiteral("[WARN] Old M-1620 Rate Sync script detected — it also sets the sample rate"),
                QStringLiteral("[INFO] Old M-1620 Rate Sync script no longer detected"),
                QStringLiteral(
                    "[WARN] Old M-1620 Rate Sync script detected — it also sets the sample rate")}));
        QTest::qWait(50);
        QCOMPARE(h.notifications.notifications().size(), 1);
    }

    void testConnectionTouchesNothing()
    {
        EngineHarness h;
        const auto ok = awaitTask(SyncEngine::testConnection(h.host()));
        QVERIFY(ok.ok());
        QVERIFY(ok.value().deviceRate == 48000);
        const auto dead = awaitTask(SyncEngine::testConnection(loopback(closedPort())));
        QVERIFY(!dead.ok());
        QCOMPARE(h.state.connectionState(), ConnectionState::disconnected());
        QVERIFY(h.log().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSyncEngine)
#include "tst_SyncEngine.moc"
