#include "VirtualClock.h"
#include "device/ScriptedHttpServer.h"
#include "platform/Notifier.h"
#include "platform/SystemLog.h"
#include "services/Logger.h"
#include "services/SettingsStore.h"
#include "services/UpdateController.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;
using Kind = UpdateController::Outcome::Kind;

namespace {

// Records what would have been shown on the desktop.
class RecordingNotifier final : public Notifier
{
public:
    QCoro::Task<> post(const QString &title, const QString &body) override
    {
        titles.append(title);
        bodies.append(body);
        co_return;
    }

    QStringList titles;
    QStringList bodies;
};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// An appcast whose items have these display versions, each with its notes and page.
QByteArray appcast(const QList<QByteArray> &versions)
{
    QByteArray items;
    for (const QByteArray &version : versions)
        items += "<item><title>Quorvel " + version + "</title><sparkle:version>" + version
            + "</sparkle:version><sparkle:shortVersionString>" + version
            + "</sparkle:shortVersionString><sparkle:releaseNotesLink>notes/" + version
            + ".html</sparkle:releaseNotesLink><link>/download/" + version
            + "</link><enclosure url=\"/files/quorvel-" + version
            + ".tar.gz\" length=\"1\" "
              "type=\"application/octet-stream\"/></item>\n";
    return R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel><title>Quorvel</title>
)" + items
        + "</channel></rss>\n";
}

ScriptedAnswer feedAnswer(const QList<QByteArray> &versions)
{
    return ScriptedAnswer::http(200, appcast(versions), "application/rss+xml");
}

// A controller with everything it reaches replaced: a feed served on loopback, a clock that
// moves on command, a notifier that records, a log and a settings file of its own.
struct Rig
{
    QTemporaryDir dir;
    Logger logger {dir.path() + QStringLiteral("/log"), nullptr};
    VirtualClock clock;
    RecordingNotifier notifier;
    ScriptedHttpServer server;
    std::unique_ptr<SettingsStore> store;
    std::unique_ptr<UpdateController> updates; // last, so it goes before the clock wakes its loop
    QList<UpdateController::Outcome> userOutcomes;
    QList<UpdateController::Outcome> scheduledOutcomes;

    Rig()
        : store(std::make_unique<SettingsStore>(settingsPath()))
    {
        server.listen(QHostAddress::LocalHost);
    }

    QString settingsPath() const { return dir.path() + QStringLiteral("/settings.json"); }
    QUrl feedUrl() const
    {
        return QUrl(QStringLiteral("http://") + server.hostText() + QStringLiteral("/appcast.xml"));
    }

    UpdateController &start(const QUrl &feed, const QString &version = QStringLiteral("1.2.0"),
                            std::chrono::milliseconds timeout = UpdateController::defaultTimeout)
    {
        UpdateController::Config config;
        config.feedUrl = feed;
        config.currentVersion = version;
        config.systemVersion = QStringLiteral("6.1.0");
        config.timeout = timeout;
        updates = std::make_unique<UpdateController>(config, *store,
                                                     UpdateController::Services {&clock, &notifier, &logger});
        QObject::connect(updates.get(), &UpdateController::userCheckFinished,
                         [this](const UpdateController::Outcome &outcome) { userOutcomes.append(outcome); });
        QObject::connect(
            updates.get(), &UpdateController::scheduledCheckFinished,
            [this](const UpdateController::Outcome &outcome) { scheduledOutcomes.append(outcome); });
        return *updates;
    }

    // The log without time stamps: "[INFO] Update check failed: …".
    QStringList logLines()
    {
        logger.flush();
        static const QRegularExpression stamp(QStringLiteral(R"(^\[[^\]]+\] )"));
        QStringList lines;
        for (const QByteArray &line : readAll(logger.logFile()).split('\n')) {
            if (!line.isEmpty())
                lines.append(QString::fromUtf8(line).remove(stamp));
        }
        return lines;
    }

    // A user check, run to its end.
    UpdateController::Outcome check()
    {
        const qsizetype before = userOutcomes.size();
        updates->checkForUpdates();
        if (!QTest::qWaitFor([&] { return userOutcomes.size() > before; }, 20000))
            return {};
        return userOutcomes.last();
    }
};

} // namespace

class TestUpdateController : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void newerVersionIsShownWithItsLinks()
    {
        Rig rig;
        rig.server.answerWith(feedAnswer({"1.1.0", "1.3.0", "1.2.5"}));
        UpdateController &updates = rig.start(rig.feedUrl());
        QVERIFY(updates.canCheckForUpdates());
        QList<bool> canCheck;
        connect(&updates, &UpdateController::canCheckForUpdatesChanged, this,
                [&] { canCheck.append(updates.canCheckForUpdates()); });

        updates.checkForUpdates();
        QVERIFY(!updates.canCheckForUpdates()); // one check at a time
        QTRY_COMPARE_WITH_TIMEOUT(rig.userOutcomes.size(), 1, 20000);
        const UpdateController::Outcome outcome = rig.userOutcomes.first();
        QCOMPARE(outcome.kind, Kind::NewerVersion);
        QCOMPARE(outcome.version, QStringLiteral("1.3.0"));
        const QString base = QStringLiteral("http://") + rig.server.hostText();
        QCOMPARE(outcome.releaseNotes, QUrl(base + QStringLiteral("/notes/1.3.0.html")));
        QCOMPARE(outcome.downloadPage, QUrl(base + QStringLiteral("/download/1.3.0")));
        QVERIFY(outcome.errorMessage.isEmpty());
        QCOMPARE(canCheck, (QList<bool> {false, true}));
        QVERIFY(updates.canCheckForUpdates());

        QCOMPARE(rig.server.requests().size(), 1);
        const ReceivedRequest &request = rig.server.requests().first();
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.target, QByteArray("/appcast.xml"));
        QVERIFY(request.header("User-Agent").startsWith("Quorvel/1.2.0"));
        QVERIFY(rig.notifier.titles.isEmpty()); // the user sees the outcome in the window
        QVERIFY(rig.scheduledOutcomes.isEmpty());
    }

    void sameOrOlderIsUpToDate_data()
    {
        QTest::addColumn<QList<QByteArray>>("versions");
        QTest::newRow("same") << QList<QByteArray> {"1.2.0", "1.1"};
        QTest::newRow("same, written shorter") << QList<QByteArray> {"1.2"};
        QTest::newRow("older") << QList<QByteArray> {"1.1.9", "1.0"};
        QTest::newRow("only a pre-release of ours") << QList<QByteArray> {"1.2.0-rc2"};
        QTest::newRow("no items") << QList<QByteArray> {};
    }

    void sameOrOlderIsUpToDate()
    {
        QFETCH(QList<QByteArray>, versions);
        Rig rig;
        rig.server.answerWith(feedAnswer(versions));
        rig.start(rig.feedUrl());
        const UpdateController::Outcome outcome = rig.check();
        QCOMPARE(outcome.kind, Kind::UpToDate);
        QVERIFY(outcome.version.isEmpty());
        QVERIFY(rig.logLines().isEmpty());
    }

    void failuresAreReadable_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("message");
        QTest::newRow("malformed") << QByteArray(
            ScriptedAnswer::http(200, appcast({"1.3"}).left(150), "application/xml").bytes)
                                   << QStringLiteral("The update feed is not valid XML");
        QTest::newRow("not a feed") << QByteArray(
            ScriptedAnswer::http(200, "<html><p>Hi</p></html>", "text/html").bytes)
                                    << QStringLiteral("The update feed is not an RSS feed.");
        QTest::newRow("empty") << QByteArray(ScriptedAnswer::http(200, "", "application/xml").bytes)
                               << QStringLiteral("The update feed is empty.");
        QTest::newRow("404") << QByteArray(ScriptedAnswer::http(404, "missing", "text/plain").bytes)
                             << QStringLiteral("The update server answered with HTTP status 404 (Scripted).");
        QTest::newRow("500") << QByteArray(ScriptedAnswer::http(500, "", "text/plain").bytes)
                             << QStringLiteral("The update server answered with HTTP status 500 (Scripted).");
        QTest::newRow("announced too large")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Type: application/xml\r\nContent-Length: 1048577\r\n"
                          "Connection: close\r\n\r\n<rss>")
            << QStringLiteral("The update feed is larger than 1 MiB.");
        QTest::newRow("too large, no length")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Type: application/xml\r\nConnection: close\r\n\r\n")
                + QByteArray(2 * 1024 * 1024, ' ')
            << QStringLiteral("The update feed is larger than 1 MiB.");
    }

    void failuresAreReadable()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, message);
        Rig rig;
        ScriptedAnswer scripted;
        scripted.bytes = answer;
        rig.server.answerWith(scripted);
        UpdateController &updates = rig.start(rig.feedUrl());
        const UpdateController::Outcome outcome = rig.check();
        QCOMPARE(outcome.kind, Kind::Failed);
        QVERIFY2(outcome.errorMessage.startsWith(message), qPrintable(outcome.errorMessage));
        QVERIFY(!outcome.errorMessage.contains(u'\n'));
        QVERIFY(updates.canCheckForUpdates()); // ready for another try
        QCOMPARE(rig.logLines(),
                 QStringList {QStringLiteral("[INFO] Update check failed: ") + outcome.errorMessage});
    }

    void endlessFeedIsCutOffAtTheLimit()
    {
        // More than a feed can be, on a connection that stays open: the check must end at the
        // limit, not wait for the end or the time-out while the bytes pile up.
        Rig rig;
        ScriptedAnswer endless;
        endless.bytes = QByteArray("HTTP/1.1 200 OK\r\nContent-Type: application/xml\r\n\r\n")
            + QByteArray(3 * 1024 * 1024, ' ');
        endless.closeAfter = false;
        rig.server.answerWith(endless);
        rig.start(rig.feedUrl(), QStringLiteral("1.2.0"), 60s);
        const UpdateController::Outcome outcome = rig.check();
        QCOMPARE(outcome.kind, Kind::Failed);
        QCOMPARE(outcome.errorMessage, QStringLiteral("The update feed is larger than 1 MiB."));
    }

    void unreachableServerFails()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close(); // nobody listens there now
        Rig rig;
        rig.start(QUrl(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(port)));
        const UpdateController::Outcome outcome = rig.check();
        QCOMPARE(outcome.kind, Kind::Failed);
        QVERIFY2(outcome.errorMessage.startsWith(QStringLiteral("Could not reach the update server: ")),
                 qPrintable(outcome.errorMessage));
        QVERIFY(outcome.errorMessage.size() > QStringLiteral("Could not reach the update server: ").size());
    }

    void silentServerTimesOut()
    {
        Rig rig;
        ScriptedAnswer hang;
        hang.hang = true;
        rig.server.answerWith(hang);
        UpdateController &updates = rig.start(rig.feedUrl(), QStringLiteral("1.2.0"), 300ms);
        const UpdateController::Outcome outcome = rig.check();
        QCOMPARE(outcome.kind, Kind::Failed);
        QCOMPARE(outcome.errorMessage, QStringLiteral("The update server did not answer in time."));
        QVERIFY(updates.canCheckForUpdates());
    }

    void withoutFeedNothingIsPossible()
    {
        Rig rig;
        UpdateController &updates = rig.start(QUrl());
        QVERIFY(!updates.hasFeed());
        QVERIFY(!updates.canCheckForUpdates());
        QSignalSpy canCheck(&updates, &UpdateController::canCheckForUpdatesChanged);
        updates.checkForUpdates();
        QVERIFY(!updates.isChecking());
        QTest::qWait(200);
        QCOMPARE(canCheck.count(), 0);
        QVERIFY(rig.userOutcomes.isEmpty());
        // The switch can be set, but no schedule runs without a feed.
        updates.setAutomaticallyChecksForUpdates(true);
        QVERIFY(updates.automaticallyChecksForUpdates());
        QVERIFY(rig.clock.requestedSleeps().isEmpty());
        QVERIFY(rig.logLines().isEmpty());
    }

    void unusableFeedUrlIsNoFeed()
    {
        Rig rig;
        UpdateController &updates = rig.start(QUrl(QStringLiteral("file:///tmp/appcast.xml")));
        QVERIFY(!updates.canCheckForUpdates());
        updates.checkForUpdates();
        QVERIFY(!updates.isChecking());
        QCOMPARE(
            rig.logLines(),
            QStringList {QStringLiteral("[WARN] Update feed URL is not usable: file:///tmp/appcast.xml")});
    }

    void switchIsOffByDefaultAndPersists()
    {
        Rig rig;
        {
            UpdateController &updates = rig.start(rig.feedUrl());
            QVERIFY(!updates.automaticallyChecksForUpdates());
            QSignalSpy changed(&updates, &UpdateController::automaticallyChecksForUpdatesChanged);
            updates.setAutomaticallyChecksForUpdates(true);
            updates.setAutomaticallyChecksForUpdates(true);
            QCOMPARE(changed.count(), 1); // only real changes
            QVERIFY(updates.automaticallyChecksForUpdates());
        }
        const QJsonObject file = QJsonDocument::fromJson(readAll(rig.settingsPath())).object();
        QCOMPARE(file.value(QStringLiteral("automaticallyChecksForUpdates")), QJsonValue(true));

        // A restart: a new store and controller on the same file.
        rig.updates.reset();
        rig.store = std::make_unique<SettingsStore>(rig.settingsPath());
        UpdateController &again = rig.start(rig.feedUrl());
        QVERIFY(again.automaticallyChecksForUpdates());
        again.setAutomaticallyChecksForUpdates(false);
        rig.updates.reset();
        rig.store = std::make_unique<SettingsStore>(rig.settingsPath());
        QVERIFY(!rig.start(rig.feedUrl()).automaticallyChecksForUpdates());
    }

    void scheduledChecksStartSoonAfterLaunch()
    {
        Rig rig;
        rig.store->setValue(UpdateController::automaticallyChecksKey, true);
        rig.server.answerWith(feedAnswer({"1.2.0"}));
        rig.start(rig.feedUrl());
        // Start-up is not held up: the first check waits a minute.
        QCOMPARE(rig.clock.requestedSleeps(),
                 QList<std::chrono::milliseconds> {UpdateController::firstScheduledCheckDelay});
        QCOMPARE(UpdateController::firstScheduledCheckDelay, 60s);
        QTest::qWait(100);
        QVERIFY(rig.server.requests().isEmpty());
        rig.clock.advance(60s);
        QTRY_COMPARE_WITH_TIMEOUT(rig.scheduledOutcomes.size(), 1, 20000);
        QCOMPARE(rig.scheduledOutcomes.first().kind, Kind::UpToDate);
        QCOMPARE(rig.server.requests().size(), 1);
        QCOMPARE(rig.clock.requestedSleeps().last(), UpdateController::scheduledCheckInterval);
        QCOMPARE(UpdateController::scheduledCheckInterval, 24h);
    }

    void scheduledCheckRemindsOncePerVersion()
    {
        Rig rig;
        rig.server.answerWith(feedAnswer({"1.3.0"}));
        UpdateController &updates = rig.start(rig.feedUrl());
        updates.setAutomaticallyChecksForUpdates(true);
        rig.clock.advance(60s);
        QTRY_COMPARE_WITH_TIMEOUT(rig.scheduledOutcomes.size(), 1, 20000);
        QCOMPARE(rig.scheduledOutcomes.first().kind, Kind::NewerVersion);
        QCOMPARE(rig.notifier.titles, QStringList {QStringLiteral("Quorvel 1.3.0 is available")});
        QVERIFY(!rig.notifier.bodies.first().isEmpty());

        // A day later the same version: no second reminder.
        rig.clock.advance(24h);
        QTRY_COMPARE_WITH_TIMEOUT(rig.scheduledOutcomes.size(), 2, 20000);
        QCOMPARE(rig.scheduledOutcomes.last().kind, Kind::NewerVersion);
        QCOMPARE(rig.notifier.titles.size(), 1);

        // A newer one is worth a reminder again.
        rig.server.answerWith(feedAnswer({"1.3.0", "1.4.0"}));
        rig.clock.advance(24h);
        QTRY_COMPARE_WITH_TIMEOUT(rig.scheduledOutcomes.size(), 3, 20000);
        QCOMPARE(rig.notifier.titles,
                 (QStringList {QStringLiteral("Quorvel 1.3.0 is available"),
                               QStringLiteral("Quorvel 1.4.0 is available")}));
        QVERIFY(rig.userOutcomes.isEmpty()); // never a window of its own
        QCOMPARE(rig.server.requests().size(), 3);
        QCOMPARE(rig.logLines(),
                 (QStringList {QStringLiteral("[INFO] Update available: Quorvel 1.3.0"),
                               QStringLiteral("[INFO] Update available: Quorvel 1.4.0")}));
    }

    void versionTheUserSawIsNotRemindedOf()
    {
        Rig rig;
        rig.server.answerWith(feedAnswer({"1.3.0"}));
        UpdateController &updates = rig.start(rig.feedUrl());
        QCOMPARE(rig.check().kind, Kind::NewerVersion);
        updates.setAutomaticallyChecksForUpdates(true);
        rig.clock.advance(60s);
        QTRY_COMPARE_WITH_TIMEOUT(rig.scheduledOutcomes.size(), 1, 20000);
        QVERIFY(rig.notifier.titles.isEmpty());
    }

    void scheduledFailuresAreQuiet()
    {
        Rig rig;
        rig.server.answerWith(ScriptedAnswer::http(404, "gone", "text/plain"));
        rig.store->setValue(UpdateController::automaticallyChecksKey, true);
        rig.start(rig.feedUrl());
        rig.clock.advance(60s);
        QTRY_COMPARE_WITH_TIMEOUT(rig.scheduledOutcomes.size(), 1, 20000);
        QCOMPARE(rig.scheduledOutcomes.first().kind, Kind::Failed);
        QVERIFY(rig.notifier.titles.isEmpty());
        QVERIFY(rig.userOutcomes.isEmpty());
        QCOMPARE(
            rig.logLines(),
            QStringList {QStringLiteral(
                "[INFO] Update check failed: The update server answered with HTTP status 404 (Scripted).")});
    }

    void switchingOffStopsTheSchedule()
    {
        Rig rig;
        rig.server.answerWith(feedAnswer({"1.3.0"}));
        UpdateController &updates = rig.start(rig.feedUrl());
        updates.setAutomaticallyChecksForUpdates(true);
        rig.clock.advance(60s);
        QTRY_COMPARE_WITH_TIMEOUT(rig.scheduledOutcomes.size(), 1, 20000);
        updates.setAutomaticallyChecksForUpdates(false);
        rig.clock.advance(72h);
        QTest::qWait(200);
        QCOMPARE(rig.server.requests().size(), 1);
        QCOMPARE(rig.scheduledOutcomes.size(), 1);
        QCOMPARE(rig.clock.sleepersUpTo(24h), 0);
    }

    void togglingTheSwitchNeverDoublesTheChecks()
    {
        Rig rig;
        rig.server.answerWith(feedAnswer({"1.2.0"}));
        UpdateController &updates = rig.start(rig.feedUrl());
        updates.setAutomaticallyChecksForUpdates(true);
        rig.clock.advance(30s);
        updates.setAutomaticallyChecksForUpdates(false);
        updates.setAutomaticallyChecksForUpdates(true); // a minute from now, not from the first
        rig.clock.advance(30s);
        QTest::qWait(200);
        QVERIFY(rig.server.requests().isEmpty());
        rig.clock.advance(30s);
        QTRY_COMPARE_WITH_TIMEOUT(rig.scheduledOutcomes.size(), 1, 20000);
        QTest::qWait(200);
        QCOMPARE(rig.server.requests().size(), 1);
        QCOMPARE(rig.clock.sleepersUpTo(24h), 1);
    }

    void userCheckDuringAScheduledOneGetsItsOutcome()
    {
        Rig rig;
        ScriptedAnswer slow = feedAnswer({"1.3.0"});
        slow.delayMs = 300;
        rig.server.answerWith(slow);
        UpdateController &updates = rig.start(rig.feedUrl());
        updates.setAutomaticallyChecksForUpdates(true);
        rig.clock.advance(60s);
        QVERIFY(updates.isChecking());
        QVERIFY(!updates.canCheckForUpdates());
        updates.checkForUpdates();
        QTRY_COMPARE_WITH_TIMEOUT(rig.userOutcomes.size(), 1, 20000);
        QCOMPARE(rig.userOutcomes.first().kind, Kind::NewerVersion);
        QVERIFY(rig.scheduledOutcomes.isEmpty());
        QVERIFY(rig.notifier.titles.isEmpty()); // the user sees it in the window instead
        QCOMPARE(rig.server.requests().size(), 1);
    }

    void kernelVersionIsAVersion()
    {
        const QString version = UpdateController::kernelVersion();
        QVERIFY2(QRegularExpression(QStringLiteral(R"(^\d+(\.\d+)*$)")).match(version).hasMatch(),
                 qPrintable(version));
    }
};

QTEST_GUILESS_MAIN(TestUpdateController)
#include "tst_UpdateController.moc"
