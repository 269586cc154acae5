#include "EngineHarness.h"

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using Waits = QList<std::chrono::milliseconds>;

class TestSyncEngine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void answeredFromTheStart()
    {
        EngineHarness h;
        QCOMPARE(h.state.connectionState(), ConnectionState::disconnected());
        h.start();
        h.engine->start(); // a second start starts nothing
        h.nextPolls(3);
        QCOMPARE(h.connectionStates,
                 (QList {ConnectionState::connecting(), ConnectionState::connected(h.host())}));
        QCOMPARE(h.log(),
                 (QStringList {u"[INFO] Sync starting (host: %1)"_s.arg(h.host()),
                               u"[INFO] Connected to %1"_s.arg(h.host())}));
        QCOMPARE(h.state.deviceRate(), std::optional<qint64>(48000));
        QCOMPARE(h.state.madiRate(), std::optional<qint64>(48000));
        QCOMPARE(h.state.madiSync(), std::optional<bool>(true));
        QVERIFY(h.device.setRateRequests().isEmpty());
        QCOMPARE(h.pollWaits(), (Waits {500ms, 500ms, 500ms, 500ms}));
        QCOMPARE(h.clock.requestedSleeps().count(SyncEngine::legacyCheckInterval), 1);
        QVERIFY(h.notifier.posted.isEmpty());

        DeviceSimulator other; // the host changed while connected
        QVERIFY(other.listen());
        h.settings.setCustomHost(loopback(other.port()));
        h.nextPolls(2);
        QCOMPARE(h.state.connectionState(), ConnectionState::connected(loopback(other.port())));
        QCOMPARE(h.log(u"Connected to"_s).last(), u"[INFO] Connected to "_s + loopback(other.port()));
    }

    void unreachableAtStart()
    {
        EngineHarness h;
        h.settings.setCustomHost(closedHost());
        h.start();
        h.nextPolls(2);
        QCOMPARE(h.connectionStates.size(), 2);
        QCOMPARE(h.connectionStates[1].kind(), ConnectionState::Kind::Error);
        QVERIFY(!h.connectionStates[1].message().isEmpty());
        QCOMPARE(h.log().size(), 1); // neither connected nor lost
        QVERIFY(h.notifier.posted.isEmpty());
        QCOMPARE(h.pollWaits(), (Waits {3000ms, 3000ms, 3000ms}));
    }

    void followsASupportedMadiRate()
    {
        EngineHarness h;
        h.start();
        h.device.setMadiRate(96000);
        h.nextPoll();
        QCOMPARE(h.device.setRateRequests(), QList<qint64> {96000});
        QCOMPARE(h.log().mid(2),
                 (QStringList {u"[INFO] MADI input rate changed: 48000 → 96000 Hz"_s,
                               u"[INFO] Syncing 48000 → 96000 Hz"_s, u"[INFO] Set rate to 96000 Hz"_s}));
        // The reading that triggered the change still shows the old device rate.
        QCOMPARE(h.state.deviceRate(), std::optional<qint64>(48000));
        QCOMPARE(h.notifier.posted, QStringList {u"Sample rate changed: M-1620 set to 96.0 kHz"_s});
        h.nextPoll();
        QCOMPARE(h.state.deviceRate(), std::optional<qint64>(96000));
        // 2 s to settle, then back to the plain interval.
        QCOMPARE(h.pollWaits(), (Waits {500ms, 2000ms, 500ms, 500ms}));

        h.device.setMadiRate(44100);
        h.nextPolls(2);
        QCOMPARE(h.notifier.posted.last(), u"Sample rate changed: M-1620 set to 44.1 kHz"_s);
        QCOMPARE(h.state.history()[0].from(), std::optional<qint64>(96000));
        QCOMPARE(h.state.history()[0].to(), 44100);
        QCOMPARE(h.state.history()[1].to(), 96000);

        h.settings.setNotifyOnRateChange(false);
        h.device.setMadiRate(88200);
        h.nextPolls(2);
        QCOMPARE(h.device.setRateRequests(), (QList<qint64> {96000, 44100, 88200}));
        QCOMPARE(h.notifier.posted.size(), 2);
        QVERIFY(!h.state.rateMismatch());
    }

    void followingRules_data()
    {
        QTest::addColumn<qint64>("settleMs");
        QTest::addColumn<bool>("onlyLocked");
        QTest::addColumn<bool>("locked");
        QTest::addColumn<bool>("deviceRateShown");
        QTest::addColumn<QList<qint64>>("madiReadings"); // one per poll
        QTest::addColumn<QList<qint64>>("setRates");
        QTest::addColumn<int>("waitLines");
        const auto row
            = [](const char *name, qint64 settleMs, bool onlyLocked, bool locked, bool deviceRateShown,
                 const QList<qint64> &madi, const QList<qint64> &set, int waitLines) {
                  QTest::newRow(name)
                      << settleMs << onlyLocked << locked << deviceRateShown << madi << set << waitLines;
              };
        const QList<qint64> flapping {96000, 48000, 96000, 48000, 96000, 96000, 96000};
        row("flapping, followed at once", 0, false, true, true, flapping, {96000, 48000, 96000, 48000, 96000},
            0);
        // Each return to 96 kHz starts the wait over; it ends on the third reading of 1 s.
        row("flapping, settle time", 1000, false, true, true, flapping, {96000}, 3);
        row("unlocked, followed by default", 0, false, false, true, {96000}, {96000}, 0);
        row("locked, only locked followed", 0, true, true, true, {96000}, {96000}, 0);
        // Six seconds of each: neither a request nor a warning.
        row("unlocked, only locked followed", 0, true, false, true, QList<qint64>(13, 96000), {}, 0);
        row("unsupported rate", 0, false, true, true, QList<qint64>(13, 32000), {}, 0);
        row("no device rate", 0, false, true, false, QList<qint64>(13, 96000), {}, 0);
    }

    void followingRules()
    {
        QFETCH(qint64, settleMs);
        QFETCH(bool, onlyLocked);
        QFETCH(bool, locked);
        QFETCH(bool, deviceRateShown);
        QFETCH(QList<qint64>, madiReadings);
        QFETCH(int, waitLines);
        EngineHarness h;
        h.settings.setSettleMilliseconds(settleMs);
        h.settings.setFollowOnlyWhenLocked(onlyLocked);
        h.device.setMadiSync(locked);
        h.device.setReported(DeviceSimulator::Member::DeviceRate, deviceRateShown);
        h.device.setMadiRate(madiReadings.takeFirst());
        h.start();
        for (qint64 madi : madiReadings) {
            h.device.setMadiRate(madi);
            h.nextPoll();
        }
        QTEST(h.device.setRateRequests(), "setRates");
        const QStringList waits = h.log(u"to settle"_s);
        QCOMPARE(waits.size(), waitLines);
        if (waitLines > 0)
            QCOMPARE(waits.first(), u"[INFO] MADI input at 96000 Hz — waiting 1000 ms for it to settle"_s);
        QVERIFY(h.log(u"[WARN]"_s).isEmpty());
        QVERIFY(!h.state.rateMismatch());
    }

    // On the monotonic clock: jumps of the wall clock neither raise the warning early nor hide it.
    void pausedMismatchRisesAtExactlyThreeSeconds()
    {
        EngineHarness h;
        h.device.setMadiRate(96000);
        h.engine->togglePause();
        h.start(); // reading 1 at t = 0 s: the mismatch starts
        QVERIFY(h.engine->mismatchPending());
        h.clock.jumpWallClock(std::chrono::hours(2));
        h.nextPolls(5); // readings at 0.5 … 2.5 s
        QVERIFY(!h.state.rateMismatch());
        h.clock.jumpWallClock(-std::chrono::hours(4));
        h.nextPoll(); // reading 7 at exactly 3.0 s
        QVERIFY(h.state.rateMismatch());
        QVERIFY(h.device.setRateRequests().isEmpty());
        h.engine->togglePause();
        QCOMPARE(h.log(u"Sync "_s),
                 (QStringList {u"[INFO] Sync paused"_s, u"[INFO] Sync starting (host: "_s + h.host() + u')',
                               u"[INFO] Sync resumed"_s}));
        QVERIFY(!h.state.isPaused());
    }

    void failingSetRateWarnsAndRetries()
    {
        EngineHarness h;
        h.device.setFollowDelay(60 * 60 * 1000);
        // Every request after a status query (the set-rate) fails.
        QObject::connect(&h.device, &DeviceSimulator::requestReceived, &h.device,
                         [&h](const QJsonObject &body) {
                             if (body.value(u"clock"_s).toObject().value(u"sampling_rate"_s).isNull())
                                 QMetaObject::invokeMethod(
                                     &h.device, [&h] { h.device.setFault(SimFault::Mode::Status, 1, 500); },
                                     Qt::QueuedConnection);
                         });
        h.device.setMadiRate(96000);
        h.start();
        h.nextPolls(6); // readings at 0 … 3.0 s; each one's set-rate fails
        const QStringList failures = h.log(u"Set rate failed"_s);
        QCOMPARE(failures.size(), 7);
        QCOMPARE(failures.first(), u"[WARN] Set rate failed: Unexpected response from device"_s);
        QVERIFY(h.state.history().isEmpty());
        QCOMPARE(h.connectionStates.size(), 2); // still connected
        QCOMPARE(h.pollWaits().count(2000ms), 0);
        QVERIFY(h.state.rateMismatch());
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
        QCOMPARE(h.state.connectionState(), ConnectionState::error(u"Unexpected response from device"_s));
        QCOMPARE(h.log(u"Lost connection"_s),
                 QStringList {u"[WARN] Lost connection: Unexpected response from device"_s});
        QVERIFY(!h.state.rateMismatch());
        QVERIFY(!h.engine->mismatchPending());
        QCOMPARE(h.state.madiRate(), std::optional<qint64>(96000)); // the last reading stays on show
        QCOMPARE(h.notifier.posted, QStringList {u"M-1620 disconnected: Unexpected response from device"_s});
        QCOMPARE(h.pollWaits().mid(h.pollWaits().size() - 3), (Waits {3000ms, 3000ms, 3000ms}));

        h.device.clearFault();
        h.nextPoll();
        QCOMPARE(h.state.connectionState(), ConnectionState::connected(h.host()));
        QCOMPARE(h.log(u"Connected to"_s).size(), 2);

        h.settings.setNotifyOnDisconnect(false);
        h.device.setFault(SimFault::Mode::Array);
        h.nextPoll();
        QCOMPARE(h.log(u"Lost connection"_s).size(), 2);
        QCOMPARE(h.notifier.posted.size(), 1);
    }

    void legacyScriptWatch()
    {
        EngineHarness h;
        h.legacy.present = true;
        h.start();
        QVERIFY(QTest::qWaitFor([&] { return h.state.legacyScriptDetected(); }, 5000));
        QCOMPARE(h.notifier.posted,
                 QStringList {
                     u"Old M-1620 Rate Sync is still installed: It changes the sample rate on its own and "
                     "can fight Quorvel. Open Quorvel for how to remove it."_s});
        for (const bool present : {false, true}) {
            h.legacy.present = present;
            QVERIFY(h.waitForPollSleep());
            QVERIFY(QTest::qWaitFor(
                [&] { return h.clock.sleepersUpTo(SyncEngine::legacyCheckInterval) == 2; }, 5000));
            h.clock.advance(SyncEngine::legacyCheckInterval);
            QVERIFY(QTest::qWaitFor([&] { return h.state.legacyScriptDetected() == present; }, 5000));
        }
        const QString found = u"[WARN] Old M-1620 Rate Sync script detected — it also sets the sample rate"_s;
        QCOMPARE(h.log(u"Old M-1620"_s),
                 (QStringList {found, u"[INFO] Old M-1620 Rate Sync script no longer detected"_s, found}));
        QCOMPARE(h.notifier.posted.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSyncEngine)
#include "tst_SyncEngine.moc"
