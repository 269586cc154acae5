// What follows the device's rate besides the device: the computer's audio graph and the user's
// command (real child processes). How they work together with a real PipeWire: the headless
// end-to-end test.
#include "EngineHarness.h"
#include "PipeWireDaemon.h"

#include "platform/PwMetadataAudioGraph.h"
#include "platform/QProcessRunner.h"
#include "sync/GraphRateFollower.h"
#include "sync/RateChangeCommand.h"

using namespace Qt::StringLiterals;

class TestRateFollowers : public QObject
{
    Q_OBJECT

    QProcessRunner m_runner;
    QTemporaryDir m_dir;

    // A script that appends its argument and the rates it was given to a file, after a nap, and
    // exits with its second argument.
    QString recorder(double nap = 0)
    {
        const QString path = m_dir.filePath(u"record rate %1.sh"_s.arg(nap));
        QFile script(path);
        if (!script.open(QIODevice::WriteOnly))
            return {};
        script.write(u"#!/bin/sh\nsleep %1\necho \"$1 $QUORVEL_PREVIOUS_RATE>$QUORVEL_RATE "
                     "$QUORVEL_HOST\" >> \"%2/runs\"\nexit ${2:-0}\n"_s.arg(nap)
                         .arg(m_dir.path())
                         .toUtf8());
        script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
        return QLatin1Char('"') + path + QLatin1Char('"');
    }

    QStringList runs() const
    {
        QFile file(m_dir.filePath(u"runs"_s));
        return file.open(QIODevice::ReadOnly)
            ? QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)
            : QStringList();
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
        QTest::newRow("blank") << u"  \t "_s << QStringList {} << false;
        QTest::newRow("words") << u" jack_control  restart "_s << QStringList {"jack_control", "restart"}
                               << false;
        QTest::newRow("quoted") << QStringLiteral(R"(sh -c "echo \"$QUORVEL_RATE\" \\ \`x\`")")
                                << QStringList {"sh", "-c", R"(echo "$QUORVEL_RATE" \ `x`)"} << false;
        QTest::newRow("empty quotes") << QStringLiteral(R"(a "" b)") << QStringList {"a", "", "b"} << false;
        QTest::newRow("joined") << QStringLiteral(R"(--name="a b"c)") << QStringList {"--name=a bc"} << false;
        QTest::newRow("unclosed") << QStringLiteral(R"(sh -c "echo)") << QStringList {} << true;
    }

    void splitsLikeADesktopEntry()
    {
        QFETCH(QString, line);
        QFETCH(bool, malformed);
        const RateChangeCommand::Words split = RateChangeCommand::split(line);
        QTEST(split.words, "words");
        QCOMPARE(!split.error.isEmpty(), malformed);
    }

    // After each rate the engine sets, with the rates and host in the environment; one at a time,
    // and of the changes that came meanwhile only the newest.
    void commandRunsAfterEachChangeNewestNext()
    {
        EngineHarness h;
        h.settings.setRateChangeCommand(recorder(0.4) + u" engine"_s);
        RateChangeCommand command(h.settings, m_runner, h.logger);
        connect(h.engine.get(), &SyncEngine::rateSet, &command, &RateChangeCommand::rateSet);
        h.start();
        h.device.setMadiRate(96000);
        h.nextPoll();
        QVERIFY(command.isRunning());
        QVERIFY(waitIdle(command));
        QCOMPARE(runs(), QStringList {u"engine 48000>96000 "_s + h.host()});
        QVERIFY(h.log().contains(u"[INFO] Rate-change command exited with status 0"_s));

        command.rateSet(96000, 44100, u"a"_s);
        command.rateSet(44100, 88200, u"b"_s);
        command.rateSet(std::nullopt, 48000, u"c"_s);
        QVERIFY(waitIdle(command));
        QCOMPARE(runs().mid(1), (QStringList {"engine 96000>44100 a", "engine >48000 c"}));
    }

    void commandFailuresAreLoggedAndNothingStalls()
    {
        EngineHarness h;
        RateChangeCommand command(h.settings, m_runner, h.logger, std::chrono::milliseconds(300));
        for (const QString &line : QStringList {recorder() + u" x 3"_s, recorder(5),
                                                u"/nonexistent/quorvel-hook --now"_s, u"sh -c \"echo"_s}) {
            h.settings.setRateChangeCommand(line);
            command.rateSet(48000, 96000, h.host());
            QVERIFY(waitIdle(command));
        }
        const QStringList warnings = h.log(u"[WARN] Rate-change command"_s);
        QCOMPARE(warnings.size(), 4);
        QCOMPARE(warnings[0], u"[WARN] Rate-change command exited with status 3"_s);
        QCOMPARE(warnings[1], u"[WARN] Rate-change command killed after 0.3 s"_s);
        QVERIFY2(warnings[2].startsWith(
                     "[WARN] Rate-change command could not start: /nonexistent/quorvel-hook — "),
                 qPrintable(warnings[2]));
        QCOMPARE(warnings[3], u"[WARN] Rate-change command not run: a double quote is not closed"_s);
    }

    // No PipeWire, or no tool: one warning per kind until it works, and the polls go on.
    void graphFailuresWarnOncePerKind()
    {
        EngineHarness h;
        PipeWireDaemon absent; // its runtime folder, with no daemon in it
        PwMetadataAudioGraph graph(m_runner);
        PwMetadataAudioGraph noTool(m_runner, u"/nonexistent/pw-metadata"_s);
        GraphRateFollower follower(h.state, h.settings, graph, h.logger);
        GraphRateFollower toolless(h.state, h.settings, noTool, h.logger);
        connect(h.engine.get(), &SyncEngine::rateSet, &follower,
                [&](std::optional<qint64>, qint64 to, const QString &) { follower.deviceRateSet(to); });
        h.settings.setMatchPipeWireRate(true);
        h.start();
        for (const qint64 rate : {96000, 44100, 48000}) {
            h.device.setMadiRate(rate);
            h.nextPolls(2);
            QVERIFY(QTest::qWaitFor([&] { return h.log(u"[WARN]"_s).size() >= 2; }, 10000));
        }
        QCOMPARE(h.device.setRateRequests(), (QList<qint64> {96000, 44100, 48000}));
        const QStringList warnings = h.log(u"[WARN]"_s);
        QCOMPARE(warnings.size(), 2);
        QVERIFY(warnings.contains(u"[WARN] PipeWire graph rate unchanged — PipeWire is not running"_s));
        QVERIFY2(warnings.filter(u"pw-metadata could not start"_s).size() == 1,
                 qPrintable(warnings.join('\n')));
        QCoro::waitFor(follower.finish());
        QCoro::waitFor(toolless.finish());
    }
};

QTEST_GUILESS_MAIN(TestRateFollowers)
#include "tst_RateFollowers.moc"
