// What follows the device's rate besides the device: the computer's audio graph (a real
// PipeWire) and the user's command (real child processes), driven by the real engine.
#include "EngineHarness.h"
#include "PipeWireDaemon.h"

#include "platform/PwMetadataAudioGraph.h"
#include "platform/QProcessRunner.h"
#include "sync/GraphRateFollower.h"
#include "sync/RateChangeCommand.h"

using namespace std::chrono;

class TestRateFollowers : public QObject
{
    Q_OBJECT

private:
    QProcessRunner m_runner;

    // A script that appends its argument and the rates it was given to a file, after a nap.
    QString recorder(const QTemporaryDir &dir, double nap = 0)
    {
        const QString path = dir.path() + QStringLiteral("/record rate.sh");
        QFile script(path);
        if (!script.open(QIODevice::WriteOnly))
            return {};
        script.write(QStringLiteral("#!/bin/sh\nsleep %1\necho \"$1 $QUORVEL_PREVIOUS_RATE>$QUORVEL_RATE "
                                    "$QUORVEL_HOST\" >> \"%2/runs\"\nexit ${2:-0}\n")
                         .arg(nap)
                         .arg(dir.path())
                         .toUtf8());
        script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
        return path;
    }

    static QStringList runs(const QTemporaryDir &dir)
    {
        QFile file(dir.path() + QStringLiteral("/runs"));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    static bool waitIdle(RateChangeCommand &command)
    {
        return QTest::qWaitFor([&] { return !command.isRunning(); }, 15000);
    }

private Q_SLOTS:
    void splitsLikeADesktopEntry_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<bool>("malformed");
        QTest::newRow("blank") << QStringLiteral("  \t ") << QStringList {} << false;
        QTest::newRow("words") << QStringLiteral(" jack_control  restart ")
                               << QStringList {QStringLiteral("jack_control"), QStringLiteral("restart")}
                               << false;
        QTest::newRow("quoted") << QStringLiteral(R"(sh -c "echo \"$QUORVEL_RATE\" \\ \`x\`")")
                                << QStringList {QStringLiteral("sh"), QStringLiteral("-c"),
                                                QStringLiteral(R"(echo "$QUORVEL_RATE" \ `x`)")}
                                << false;
        QTest::newRow("empty quotes")
            << QStringLiteral(R"(a "" b)")
            << QStringList {QStringLiteral("a"), QString(), QStringLiteral("b")} << false;
        QTest::newRow("joined") << QStringLiteral(R"(--name="a b"c)")
                                << QStringList {QStringLiteral("--name=a bc")} << false;
        QTest::newRow("unclosed") << QStringLiteral(R"(sh -c "echo)") << QStringList {} << true;
    }

    void splitsLikeADesktopEntry()
    {
        QFETCH(QString, line);
        QFETCH(QStringList, words);
        QFETCH(bool, malformed);
        const RateChangeCommand::Words split = RateChangeCommand::split(line);
        QCOMPARE(split.words, words);
        QCOMPARE(!split.error.isEmpty(), malformed);
    }

    // After each rate the engine sets, with the rates and host in the environment; one at a time,
    // and of the changes that came meanwhile only the newest.
    void commandRunsAfterEachChangeNewestNext()
    {
        EngineHarness h;
        QTemporaryDir dir;
        h.settings.setRateChangeCommand(QLatin1Char('"') + recorder(dir, 0.4) + QStringLiteral("\" engine"));
        RateChangeCommand command(h.settings, m_runner, h.logger);
        connect(h.engine.get(), &SyncEngine::rateSet, &command, &RateChangeCommand::rateSet);
        h.start();
        h.device.setMadiRate(96000);
        h.nextPoll();
        QVERIFY(command.isRunning());
        QVERIFY(waitIdle(command));
        QCOMPARE(runs(dir), QStringList {QStringLiteral("engine 48000>96000 ") + h.host()});
        QVERIFY(h.log().contains(QStringLiteral("[INFO] Rate-change command exited with status 0")));

        command.rateSet(96000, 44100, QStringLiteral("a"));
        command.rateSet(44100, 88200, QStringLiteral("b"));
        command.rateSet(88200, 192000, QStringLiteral("c"));
        command.rateSet(std::nullopt, 48000, QStringLiteral("d"));
        QVERIFY(waitIdle(command));
        QCOMPARE(runs(dir).mid(1),
                 (QStringList {QStringLiteral("engine 96000>44100 a"), QStringLiteral("engine >48000 d")}));
    }

    void commandFailuresAreLoggedAndNothingStalls()
    {
        EngineHarness h;
        QTemporaryDir dir;
        RateChangeCommand command(h.settings, m_runner, h.logger, milliseconds(300));

        h.settings.setRateChangeCommand(QStringLiteral("\"%1\" x 3").arg(recorder(dir)));
        command.rateSet(48000, 96000, h.host());
        QVERIFY(waitIdle(command));
        h.settings.setRateChangeCommand(QLatin1Char('"') + recorder(dir, 5) + QLatin1Char('"'));
        command.rateSet(48000, 96000, h.host());
        QVERIFY(waitIdle(command));
        h.settings.setRateChangeCommand(QStringLiteral("/nonexistent/quorvel-hook --now"));
        command.rateSet(48000, 96000, h.host());
        QVERIFY(waitIdle(command));
        h.settings.setRateChangeCommand(QStringLiteral("sh -c \"echo"));
        command.rateSet(48000, 96000, h.host());
        QVERIFY(waitIdle(command));

        const QStringList warnings = h.logMatching(QStringLiteral("[WARN] Rate-change command"));
        QCOMPARE(warnings.size(), 4);
        QCOMPARE(warnings[0], QStringLiteral("[WARN] Rate-change command exited with status 3"));
        QCOMPARE(warnings[1], QStringLiteral("[WARN] Rate-change command killed after 0.3 s"));
        QVERIFY2(warnings[2].startsWith(QStringLiteral(
                     "[WARN] Rate-change command could not start: /nonexistent/quorvel-hook — ")),
                 qPrintable(warnings[2]));
        QCOMPARE(warnings[3],
                 QStringLiteral("[WARN] Rate-change command not run: a double quote is not closed"));
    }

    // Pinned at connect and after each change, let go when turned off or paused, and a pin made
    // by hand is not undone.
    void graphFollowsTheDevice()
    {
        if (!PipeWireDaemon::installed())
            QSKIP("pipewire and pw-metadata are not installed (scripts/install-deps.sh installs them)");
        PipeWireDaemon pipewire;
        QVERIFY(pipewire.start());
        EngineHarness h;
        PwMetadataAudioGraph graph(m_runner);
        GraphRateFollower follower(h.state, h.settings, graph, h.logger);
        connect(h.engine.get(), &SyncEngine::rateSet, &follower,
                [&](std::optional<qint64>, qint64 to, const QString &) { follower.deviceRateSet(to); });
        const auto pinned = [&](qint64 hertz) {
            return QTest::qWaitFor(
                [&] { return follower.pinnedRate() == hertz && PipeWireDaemon::forcedRate() == hertz; },
                10000);
        };

        h.start();
        h.nextPoll();
        QCOMPARE(PipeWireDaemon::forcedRate(), 0); // off by default
        h.settings.setMatchPipeWireRate(true);
        QVERIFY(pinned(48000));
        h.device.setMadiRate(96000);
        h.nextPoll();
        QVERIFY(pinned(96000)); // straight after the set-rate, before the next reading

        h.settings.setMatchPipeWireRate(false);
        QVERIFY(QTest::qWaitFor([&] { return !follower.pinnedRate(); }, 10000));
        QCOMPARE(PipeWireDaemon::forcedRate(), 0);
        h.settings.setMatchPipeWireRate(true);
        QVERIFY(pinned(96000));
        h.engine->togglePause();
        QVERIFY(QTest::qWaitFor([&] { return !follower.pinnedRate(); }, 10000));
        QCOMPARE(PipeWireDaemon::forcedRate(), 0);
        h.engine->togglePause();
        QVERIFY(pinned(96000));

        PipeWireDaemon::forceRate(44100);
        QCoro::waitFor(follower.finish());
        QCOMPARE(PipeWireDaemon::forcedRate(), 44100);
        QCOMPARE(h.logMatching(QStringLiteral("[INFO] PipeWire graph rate released")).size(), 2);
        QCOMPARE(h.log().last(),
                 QStringLiteral("[INFO] PipeWire graph rate left at 44100 Hz, set outside Quorvel"));
    }

    // No PipeWire, or no tool: one warning per kind until it works, and the polls go on.
    void graphFailuresWarnOncePerKind()
    {
        EngineHarness h;
        PipeWireDaemon absent; // its runtime folder, with no daemon in it
        PwMetadataAudioGraph graph(m_runner);
        PwMetadataAudioGraph noTool(m_runner, QStringLiteral("/nonexistent/pw-metadata"));
        GraphRateFollower follower(h.state, h.settings, graph, h.logger);
        GraphRateFollower toolless(h.state, h.settings, noTool, h.logger);
        connect(h.engine.get(), &SyncEngine::rateSet, &follower,
                [&](std::optional<qint64>, qint64 to, const QString &) { follower.deviceRateSet(to); });
        h.settings.setMatchPipeWireRate(true);
        h.start();
        for (const qint64 rate : {96000, 44100, 48000}) {
            h.device.setMadiRate(rate);
            h.nextPolls(2);
            QVERIFY(
                QTest::qWaitFor([&] { return h.logMatching(QStringLiteral("[WARN]")).size() >= 2; }, 10000));
        }
        QCOMPARE(h.device.setRateRequests(), (QList<qint64> {96000, 44100, 48000}));
        const QStringList warnings = h.logMatching(QStringLiteral("[WARN]"));
        QCOMPARE(warnings.size(), 2);
        QVERIFY(warnings.contains(
            QStringLiteral("[WARN] PipeWire graph rate unchanged — PipeWire is not running")));
        QVERIFY2(warnings.filter(QStringLiteral("pw-metadata could not start")).size() == 1,
                 qPrintable(warnings.join('\n')));
        QVERIFY(!follower.pinnedRate());
        QCoro::waitFor(follower.finish());
        QCoro::waitFor(toolless.finish());
    }
};

QTEST_GUILESS_MAIN(TestRateFollowers)
#include "tst_RateFollowers.moc"
