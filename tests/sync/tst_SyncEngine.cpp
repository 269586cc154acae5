// The engine on a virtual clock against a simulator on loopback; the user's command for real.
#include "DeviceSimulator.h"
#include "Stage.h"
#include "TestFiles.h"

#include "platform/QProcessRunner.h"
#include "sync/GraphRateFollower.h"
#include "sync/RateChangeCommand.h"

#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <qcoro/qcorotask.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using Waits = QList<std::chrono::milliseconds>;

namespace {
struct FakeLegacyDetector final : LegacyScriptDetector
{
    FakeLegacyDetector()
        : LegacyScriptDetector(u"/nonexistent"_s)
    { }
    QCoro::Task<bool> detect() const override { co_return present; }
    bool present = false;
};

// Fails as told, else pins whatever it is asked.
struct FakeGraph final : AudioGraph
{
    Result::Failure failure = Result::Failure::NotRunning;
    qint64 pinned = 0;
    QCoro::Task<Result> forcedRate() override { co_return Result {failure, pinned}; }
    QCoro::Task<Result> forceRate(qint64 hertz) override
    {
        if (failure == Result::Failure::None)
            pinned = hertz;
        co_return Result {failure, pinned};
    }
};

// The stage, with an engine that polls a simulator and asks a fake whether the old script is there.
struct EngineHarness : Stage
{
    DeviceSimulator device;
    FakeLegacyDetector oldScript;
    std::unique_ptr<QSignalSpy> polls;
    QList<ConnectionState> connectionStates;

    EngineHarness()
    {
        if (!device.listen())
            qFatal("simulator could not listen");
        settings.setCustomHost(host()); // loopback, as everywhere here
        client.updateHost(settings.effectiveHost());
        QObject::connect(&state, &AppState::connectionStateChanged,
                         [this] { connectionStates.append(state.connectionState()); });
        engine = std::make_unique<SyncEngine>(
            state, settings, SyncEngine::Services {&client, &clock, &notifier, &logger, &oldScript});
        polls = std::make_unique<QSignalSpy>(engine.get(), &SyncEngine::pollFinished);
    }

    ~EngineHarness()
    {
        // Let the loop reach a wait before the engine goes, so no request is cut off.
        if (engine->isStarted())
            waitForPollSleep();
        engine.reset();
    }

    QString host() const { return u"127.0.0.1:%1"_s.arg(device.port()); }

    bool waitForPollSleep()
    {
        return QTest::qWaitFor([this] { return clock.sleepersUpTo(SyncEngine::disconnectedInterval) > 0; },
                               10000);
    }

    void start()
    {
        engine->start();
        nextPolls();
    }

    // Lets the loop's waits pass until n more readings are handled, events as they come.
    void nextPolls(int n = 1)
    {
        QTimer tick; // wakes the loop when nothing else would, so the deadline is seen
        tick.start(50);
        for (const qsizetype until = polls->count() + n; polls->count() < until;) {
            const QDeadlineTimer deadline(10000);
            const qsizetype before = polls->count();
            while (polls->count() == before && !deadline.hasExpired()) {
                if (clock.sleepersUpTo(SyncEngine::disconnectedInterval) > 0)
                    clock.advanceToNextWake(SyncEngine::disconnectedInterval);
                else
                    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
                QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            }
            QVERIFY2(polls->count() > before, "no poll was handled");
        }
    }

    QStringList log(const QString &needle = {}) { return logLines(logger).filter(needle); }

    // The waits the polling loop asked for, without the legacy watch's.
    QList<std::chrono::milliseconds> pollWaits() const
    {
        QList<std::chrono::milliseconds> waits = clock.requestedSleeps();
        waits.removeAll(SyncEngine::legacyCheckInterval);
        return waits;
    }
};
} // namespace

class TestSyncEngine : public QObject
{
    Q_OBJECT

    QProcessRunner m_runner;
    QTemporaryDir m_dir;

    // A script that appends its argument and the rates and host it was given to a file, after a
    // nap, and exits with its second argument.
    QString recorder(double nap = 0)
    {
        QFile script(m_dir.filePath(u"record rate %1.sh"_s.arg(nap)));
        script.open(QIODevice::WriteOnly);
        script.write("#!/bin/sh\nsleep " + QByteArray::number(nap)
                     + "\necho \"$1 $QUORVEL_PREVIOUS_RATE>$QUORVEL_RATE "
                       "$QUORVEL_HOST\" >> \""
                     + m_dir.path().toUtf8() + "/runs\"\nexit ${2:-0}\n");
        script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
        return QLatin1Char('"') + script.fileName() + QLatin1Char('"');
    }

private Q_SLOTS:
    // Unreachable from the start is neither a connection nor a loss. Connected, it follows each
    // supported rate once and notifies. A loss after a connection is logged and notified.
    void followsTheMadiRate()
    {
        EngineHarness h;
        const ConnectionState error = ConnectionState::error(u"Unexpected response from device"_s);
        h.device.setFault(SimFault::Mode::Status, -1, 503);
        h.start();
        h.nextPolls();
        h.device.clearFault();
        h.nextPolls(2);
        QCOMPARE(h.connectionStates,
                 (QList {ConnectionState::connecting(), error, ConnectionState::connected(h.host())}));
        QCOMPARE(h.log().size(), 2); // starting, connected

        h.device.setMadiRate(96000);
        h.nextPolls();
        QCOMPARE(h.device.setRateRequests(), QList<qint64> {96000});
        // The reading that triggered the change still shows the old device rate.
        QCOMPARE(h.state.deviceRate(), std::optional<qint64>(48000));
        QCOMPARE(h.notifier.posted, QStringList {u"Sample rate changed: M-1620 set to 96.0 kHz"_s});
        h.nextPolls();
        QCOMPARE(h.state.deviceRate(), std::optional<qint64>(96000));
        // Waits of 3 s while unreachable, 2 s to settle after a change, else 0.5 s.
        QCOMPARE(h.pollWaits(), (Waits {3000ms, 3000ms, 500ms, 500ms, 2000ms, 500ms, 500ms}));
        h.device.setMadiRate(44100);
        h.nextPolls(2);
        QCOMPARE(h.notifier.posted.last(), u"Sample rate changed: M-1620 set to 44.1 kHz"_s);
        h.settings.setNotifyOnRateChange(false);
        h.device.setMadiRate(88200);
        h.nextPolls(2);
        QCOMPARE(h.device.setRateRequests(), (QList<qint64> {96000, 44100, 88200}));
        QCOMPARE(h.notifier.posted.size(), 2);

        h.device.setFault(SimFault::Mode::Status, -1, 503);
        h.nextPolls(2);
        QCOMPARE(h.state.connectionState(), error);
        QCOMPARE(h.log(u"Lost"_s),
                 QStringList {u"[WARN] Lost connection: Unexpected response from device"_s});
        QCOMPARE(h.state.madiRate(), std::optional<qint64>(88200)); // the last reading stays on show
        QCOMPARE(h.notifier.posted.last(), u"M-1620 disconnected: Unexpected response from device"_s);
        QCOMPARE(h.pollWaits().last(), 3000ms);

        // Back, then lost again with the notification off; then another host while connected.
        h.settings.setNotifyOnDisconnect(false);
        h.device.clearFault();
        h.nextPolls();
        h.device.setFault(SimFault::Mode::Status, -1, 503);
        h.nextPolls();
        QCOMPARE(h.log(u"Lost"_s).size(), 2);
        QCOMPARE(h.notifier.posted.size(), 3);
        DeviceSimulator other;
        QVERIFY(other.listen());
        h.settings.setCustomHost(u"127.0.0.1:%1"_s.arg(other.port()));
        h.nextPolls(2);
        QCOMPARE(h.state.connectionState(), ConnectionState::connected(u"127.0.0.1:%1"_s.arg(other.port())));
    }

    // A set-rate the device refuses is warned of and tried again at the next reading, without
    // the settle wait, while the mismatch builds up.
    void refusedSetRateRetriedEachPoll()
    {
        EngineHarness h;
        h.device.setFollowDelay(60 * 60 * 1000);
        QObject::connect(
            &h.device, &DeviceSimulator::requestReceived, &h.device, [&h](const QJsonObject &body) {
                if (body.value(u"clock"_s).toObject().value(u"sampling_rate"_s).isNull()) // a reading: fail
                                                                                          // what follows
                    QMetaObject::invokeMethod(
                        &h.device, [&h] { h.device.setFault(SimFault::Mode::Status, 1, 500); },
                        Qt::QueuedConnection);
            });
        h.device.setMadiRate(96000);
        h.start();
        h.nextPolls(6); // readings at 0 … 3.0 s
        const QStringList failures = h.log(u"Set rate failed"_s);
        QCOMPARE(failures.size(), 7);
        QCOMPARE(failures.first(), u"[WARN] Set rate failed: Unexpected response from device"_s);
        QVERIFY(h.state.history().isEmpty() && h.state.rateMismatch());
        QCOMPARE(h.state.connectionState(), ConnectionState::connected(h.host()));
        QCOMPARE(h.pollWaits().count(2000ms), 0);
    }

    void followingRules_data()
    {
        QTest::addColumn<qint64>("settleMs");
        QTest::addColumn<bool>("onlyLocked");
        QTest::addColumn<bool>("locked");
        QTest::addColumn<bool>("deviceRateShown");
        QTest::addColumn<QList<qint64>>("madiReadings"); // one per poll
        QTest::addColumn<QList<qint64>>("setRates");
        const auto row = [](const char *name, qint64 settleMs, bool onlyLocked, bool locked,
                            bool deviceRateShown, const QList<qint64> &madi, const QList<qint64> &set) {
            QTest::newRow(name) << settleMs << onlyLocked << locked << deviceRateShown << madi << set;
        };
        const QList<qint64> flapping {96000, 48000, 96000, 48000, 96000, 96000, 96000};
        row("flapping, followed at once", 0, false, true, true, flapping,
            {96000, 48000, 96000, 48000, 96000});
        // Each return to 96 kHz starts the wait over; it ends on the third reading of 1 s.
        row("flapping, settle time", 1000, false, true, true, flapping, {96000});
        // Six seconds of each: neither a request nor a warning.
        row("unlocked, only locked followed", 0, true, false, true, QList<qint64>(13, 96000), {});
        row("unsupported rate", 0, false, true, true, QList<qint64>(13, 32000), {});
        row("no device rate", 0, false, true, false, QList<qint64>(13, 96000), {});
    }

    void followingRules()
    {
        QFETCH(qint64, settleMs);
        QFETCH(bool, onlyLocked);
        QFETCH(bool, locked);
        QFETCH(bool, deviceRateShown);
        QFETCH(QList<qint64>, madiReadings);
        EngineHarness h;
        h.settings.setSettleMilliseconds(settleMs);
        h.settings.setFollowOnlyWhenLocked(onlyLocked);
        h.device.setMadiSync(locked);
        h.device.setReported(DeviceSimulator::Member::DeviceRate, deviceRateShown);
        h.device.setMadiRate(madiReadings.takeFirst());
        h.start();
        for (qint64 madi : madiReadings) {
            h.device.setMadiRate(madi);
            h.nextPolls();
        }
        QTEST(h.device.setRateRequests(), "setRates");
        if (settleMs > 0)
            QVERIFY(h.log().contains(u"[INFO] MADI input at 96000 Hz — waiting 1000 ms for it to settle"_s));
        QVERIFY(h.log(u"[WARN]"_s).isEmpty());
        QVERIFY(!h.state.rateMismatch());
    }

    // On the monotonic clock: jumps of the wall clock neither raise the warning early nor hide it.
    // The old script is looked for at the start and then now and again, paused or not.
    void pausedMismatchAndTheOldScript()
    {
        EngineHarness h;
        h.oldScript.present = true;
        h.device.setMadiRate(96000);
        h.engine->togglePause();
        h.start(); // reading 1 at t = 0 s: the mismatch starts
        QVERIFY(h.engine->mismatchPending());
        h.clock.jumpWallClock(2h);
        h.nextPolls(5); // readings at 0.5 … 2.5 s
        QVERIFY(!h.state.rateMismatch());
        h.clock.jumpWallClock(-4h);
        h.nextPolls(); // reading 7 at exactly 3.0 s
        QVERIFY(h.state.rateMismatch());
        QVERIFY(h.device.setRateRequests().isEmpty());
        h.engine->togglePause();
        QCOMPARE(h.log(u"] Sync "_s),
                 (QStringList {u"[INFO] Sync paused"_s, u"[INFO] Sync starting (host: "_s + h.host() + u')',
                               u"[INFO] Sync resumed"_s}));
        QVERIFY(!h.state.isPaused());

        QVERIFY(QTest::qWaitFor([&] { return h.state.legacyScriptDetected(); }, 5000));
        for (const bool present : {false, true}) {
            h.oldScript.present = present;
            QVERIFY(h.waitForPollSleep());
            QVERIFY(QTest::qWaitFor(
                [&] { return h.clock.sleepersUpTo(SyncEngine::legacyCheckInterval) == 2; }, 5000));
            h.clock.advance(SyncEngine::legacyCheckInterval);
            QVERIFY(QTest::qWaitFor([&] { return h.state.legacyScriptDetected() == present; }, 5000));
        }
        const QString found = u"[WARN] Old M-1620 Rate Sync script detected — it also sets the sample rate"_s;
        QCOMPARE(h.log(u"Old M-1620"_s),
                 (QStringList {found, u"[INFO] Old M-1620 Rate Sync script no longer detected"_s, found}));
        QCOMPARE(h.notifier.posted.filter(u"Old M-1620"_s),
                 QStringList {
                     u"Old M-1620 Rate Sync is still installed: It changes the sample rate on its own and "
                     "can fight Quorvel. Open Quorvel for how to remove it."_s});
    }

    // A graph that cannot be pinned is warned of once per kind of failure, not at every change.
    void graphFailuresWarnOncePerKind()
    {
        EngineHarness h;
        FakeGraph graph;
        h.settings.setMatchPipeWireRate(true);
        h.state.setConnectionState(ConnectionState::connected(h.host()));
        GraphRateFollower follower(h.state, h.settings, graph, h.logger);
        QSignalSpy idle(&follower, &GraphRateFollower::idle);
        const auto change = [&](qint64 hertz) {
            const qsizetype before = idle.count();
            follower.deviceRateSet(hertz);
            QTRY_VERIFY(idle.count() > before);
        };
        for (const qint64 hertz : {48000, 96000, 44100})
            change(hertz);
        graph.failure = AudioGraph::Result::Failure::None;
        change(48000);
        graph.failure = AudioGraph::Result::Failure::NotRunning;
        change(96000);
        QCOMPARE(h.log(u"PipeWire"_s),
                 (QStringList {u"[WARN] PipeWire graph rate unchanged — PipeWire is not running"_s,
                               u"[INFO] PipeWire graph rate set to 48000 Hz"_s,
                               u"[WARN] PipeWire graph rate unchanged — PipeWire is not running"_s}));
        QCOMPARE(follower.pinnedRate(), std::optional<qint64>(48000));
    }

    void commandLineSplitsLikeADesktopEntry()
    {
        const RateChangeCommand::Words split = RateChangeCommand::split(
            u" sh -c \"echo \\\"$QUORVEL_RATE\\\" \\\\ \\`x\\`\" \"\"  --n=\"a b\"c"_s);
        QCOMPARE(split.words, (QStringList {"sh", "-c", "echo \"$QUORVEL_RATE\" \\ `x`", "", "--n=a bc"}));
        QVERIFY(split.error.isEmpty());
    }

    // One at a time, and of the changes that came meanwhile only the newest; failures are
    // logged and stall nothing.
    void commandRunsNewestNextAndFailsLoudly()
    {
        EngineHarness h;
        RateChangeCommand command(h.settings, m_runner, h.logger, 300ms);
        const auto waitIdle = [&] { return QTest::qWaitFor([&] { return !command.isRunning(); }, 15000); };
        h.settings.setRateChangeCommand(recorder(0.1) + u" x"_s);
        command.rateSet(96000, 44100, u"a"_s);
        command.rateSet(44100, 88200, u"b"_s);
        command.rateSet(std::nullopt, 48000, u"c"_s);
        QVERIFY(waitIdle());
        QCOMPARE(readAll(m_dir.filePath(u"runs"_s)), QByteArray("x 96000>44100 a\nx >48000 c\n"));
        QCOMPARE(h.log(u"exited"_s), (QStringList(2, u"[INFO] Rate-change command exited with status 0"_s)));

        for (const QString &line : QStringList {recorder() + u" x 3"_s, recorder(1),
                                                u"/nonexistent/quorvel-hook --now"_s, u"sh -c \"echo"_s}) {
            h.settings.setRateChangeCommand(line);
            command.rateSet(48000, 96000, h.host());
            QVERIFY(waitIdle());
        }
        QStringList warnings = h.log(u"[WARN] Rate-change command"_s);
        if (warnings.size() > 2) // then the system's reason
            warnings[2].truncate(warnings[2].indexOf(u'—') + 1);
        QCOMPARE(warnings,
                 (QStringList {u"[WARN] Rate-change command exited with status 3"_s,
                               u"[WARN] Rate-change command killed after 0.3 s"_s,
                               u"[WARN] Rate-change command could not start: /nonexistent/quorvel-hook —"_s,
                               u"[WARN] Rate-change command not run: a double quote is not closed"_s}));
    }
};

QTEST_GUILESS_MAIN(TestSyncEngine)
#include "tst_SyncEngine.moc"
