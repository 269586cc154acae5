#include "TestFiles.h"
#include "VirtualClock.h"
#include "device/ScriptedHttpServer.h"
#include "platform/Notifier.h"
#include "services/SettingsStore.h"
#include "services/UpdateController.h"

#include <QSignalSpy>
#include <QTemporaryDir>

using namespace std::chrono_literals;
using Kind = UpdateController::Outcome::Kind;
using Outcomes = QList<UpdateController::Outcome>;
Q_DECLARE_METATYPE(ScriptedAnswer)

namespace {

class RecordingNotifier final : public Notifier
{
public:
    QCoro::Task<> post(const QString &title, const QString &) override
    {
        titles.append(title);
        co_return;
    }
    QStringList titles;
};

// An appcast whose items have these versions, each with relative links to its notes and page.
QByteArray feed(const QList<QByteArray> &versions)
{
    QByteArray items;
    for (const QByteArray &version : versions)
        items += "<item><sparkle:version>" + version + "</sparkle:version><sparkle:releaseNotesLink>notes/"
            + version + ".html</sparkle:releaseNotesLink><link>/download/" + version + "</link></item>\n";
    return "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">"
           "<channel>"
        + items + "</channel></rss>\n";
}

ScriptedAnswer feedAnswer(const QList<QByteArray> &versions)
{
    return ScriptedAnswer::http(200, feed(versions), "application/rss+xml");
}

// A controller on a feed served on loopback, a clock that moves on command, a notifier that
// records, and a log and settings file of its own.
struct Rig
{
    QTemporaryDir dir;
    Logger logger {dir.path() + QStringLiteral("/log"), nullptr};
    VirtualClock clock;
    RecordingNotifier notifier;
    ScriptedHttpServer server;
    std::unique_ptr<SettingsStore> store;
    std::unique_ptr<UpdateController> updates; // goes before the clock that wakes its loop
    Outcomes user, scheduled;

    Rig() { server.listen(QHostAddress::LocalHost); }
    QString settingsPath() const { return dir.path() + QStringLiteral("/settings.json"); }
    QUrl feedUrl() const { return QUrl(QStringLiteral("http://%1/appcast.xml").arg(server.hostText())); }

    // As at launch, on a freshly read settings file.
    UpdateController &start(const QUrl &feed,
                            std::chrono::milliseconds timeout = UpdateController::defaultTimeout)
    {
        updates.reset();
        store = std::make_unique<SettingsStore>(settingsPath());
        updates = std::make_unique<UpdateController>(
            UpdateController::Config {feed, QStringLiteral("1.2.0"), QStringLiteral("6.1.0"), timeout},
            *store, UpdateController::Services {&clock, &notifier, &logger});
        QObject::connect(updates.get(), &UpdateController::userCheckFinished,
                         [this](auto o) { user.append(o); });
        QObject::connect(updates.get(), &UpdateController::scheduledCheckFinished,
                         [this](auto o) { scheduled.append(o); });
        return *updates;
    }

    UpdateController::Outcome check()
    {
        const qsizetype before = user.size();
        updates->checkForUpdates();
        return QTest::qWaitFor([&] { return user.size() > before; }, 20000) ? user.last()
                                                                            : UpdateController::Outcome();
    }
};

} // namespace

class TestUpdateController : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The same version written shorter, older ones, a pre-release of ours, nothing at all.
    void upToDate()
    {
        const UpdateController::Config config {
            QUrl(QStringLiteral("http://127.0.0.1/")), QStringLiteral("1.2.0"), {}};
        for (const QList<QByteArray> &versions : {QList<QByteArray> {"1.2", "1.1"}, {"1.2.0-rc2"}, {}})
            QCOMPARE(UpdateController::evaluate(feed(versions), config).kind, Kind::UpToDate);
        QCOMPARE(UpdateController::kernelVersion(QStringLiteral("6.1.0-18-amd64")), QStringLiteral("6.1.0"));
    }

    void failuresAreReadable_data()
    {
        QTest::addColumn<ScriptedAnswer>("answer"); // default: nobody listens on the port
        QTest::addColumn<QString>("message");
        QTest::newRow("404") << ScriptedAnswer::http(404, "missing", "text/plain")
                             << "The update server answered with HTTP status 404 (Scripted).";
        // On a connection that stays open, the check ends at the limit, not at the time-out.
        ScriptedAnswer endless;
        endless.bytes = "HTTP/1.1 200 OK\r\n\r\n" + QByteArray(3 * 1024 * 1024, ' ');
        endless.closeAfter = false;
        QTest::newRow("endless") << endless << "The update feed is larger than 1 MiB.";
        ScriptedAnswer hang;
        hang.hang = true;
        QTest::newRow("silent") << hang << "The update server did not answer in time.";
        QTest::newRow("unreachable") << ScriptedAnswer() << "Could not reach the update server: ";
    }

    void failuresAreReadable()
    {
        QFETCH(ScriptedAnswer, answer);
        QFETCH(QString, message);
        Rig rig;
        rig.server.answerWith(answer);
        QUrl feed = rig.feedUrl();
        if (answer.bytes.isEmpty() && !answer.hang)
            feed.setPort(1); // nothing listens there
        UpdateController &updates = rig.start(feed, answer.hang ? 300ms : UpdateController::defaultTimeout);
        const UpdateController::Outcome outcome = rig.check();
        QCOMPARE(outcome.kind, Kind::Failed);
        // A whole sentence, or its start followed by the reason.
        QVERIFY2(message.endsWith(u'.') ? outcome.errorMessage == message
                                        : outcome.errorMessage.startsWith(message)
                         && outcome.errorMessage.size() > message.size() + 4
                         && !outcome.errorMessage.contains(u'\n'),
                 qPrintable(outcome.errorMessage));
        QVERIFY(updates.canCheckForUpdates()); // ready for another try
        QCOMPARE(logLines(rig.logger), QStringList {"[INFO] Update check failed: " + outcome.errorMessage});
    }

    // Start-up is never held up by a check; the switch is kept in the settings, and turning it
    // off and on restarts the wait without doubling the checks. Scheduled checks put nothing
    // on screen but a notification, once, for a version the user has not seen; what the user
    // asked for is shown in the window alone.
    void scheduledChecksStartAMinuteAfterLaunchThenDaily()
    {
        Rig rig;
        ScriptedAnswer slow = feedAnswer({"1.1.0", "1.3.0", "1.2.5"});
        slow.delayMs = 300;
        rig.server.answerNext(slow);
        rig.server.answerNext(ScriptedAnswer::http(404, "gone", "text/plain"));
        rig.server.answerWith(feedAnswer({"1.3.0"}));
        SettingsStore(rig.settingsPath()).setValue(UpdateController::automaticallyChecksKey, true);
        UpdateController &updates = rig.start(rig.feedUrl());
        QCOMPARE(rig.clock.requestedSleeps(), QList<std::chrono::milliseconds> {60s});
        rig.clock.advance(30s);
        QSignalSpy switched(&updates, &UpdateController::automaticallyChecksForUpdatesChanged);
        updates.setAutomaticallyChecksForUpdates(false);
        QCOMPARE(objectIn(rig.settingsPath()),
                 QJsonObject({{UpdateController::automaticallyChecksKey, false}}));
        updates.setAutomaticallyChecksForUpdates(true);
        updates.setAutomaticallyChecksForUpdates(true);
        QCOMPARE(switched.count(), 2);
        rig.clock.advance(30s);
        QTest::qWait(200);
        QVERIFY(rig.server.requests().isEmpty());
        rig.clock.advance(30s);
        QVERIFY(updates.isChecking() && !updates.canCheckForUpdates());
        updates.checkForUpdates(); // joins the scheduled check, and the user sees its outcome
        QTRY_COMPARE_WITH_TIMEOUT(rig.user.size(), 1, 20000);
        const UpdateController::Outcome newer = rig.user.first();
        const QString base = QStringLiteral("http://") + rig.server.hostText();
        QCOMPARE(newer.version, QStringLiteral("1.3.0"));
        QCOMPARE(newer.releaseNotes, QUrl(base + QStringLiteral("/notes/1.3.0.html")));
        QCOMPARE(newer.downloadPage, QUrl(base + QStringLiteral("/download/1.3.0")));
        QVERIFY(rig.server.requests().first().header("User-Agent").startsWith("Quorvel/1.2.0"));
        QVERIFY(rig.scheduled.isEmpty());
        for (int day = 1; day <= 4; ++day) { // failed, the same version, then a newer one twice
            if (day == 3)
                rig.server.answerWith(feedAnswer({"1.3.0", "1.4.0"}));
            rig.clock.advance(24h);
            QTRY_COMPARE_WITH_TIMEOUT(rig.scheduled.size(), day, 20000);
        }
        QCOMPARE(rig.scheduled.first().kind, Kind::Failed);
        QCOMPARE(rig.clock.sleepersUpTo(24h), 1);
        QCOMPARE(rig.server.requests().size(), 5);
        QCOMPARE(rig.user.size(), 1);
        QCOMPARE(rig.notifier.titles, QStringList {"Quorvel 1.4.0 is available"});
        QCOMPARE(
            logLines(rig.logger),
            (QStringList {
                "[INFO] Update available: Quorvel 1.3.0",
                "[INFO] Update check failed: The update server answered with HTTP status 404 (Scripted).",
                "[INFO] Update available: Quorvel 1.4.0"}));
    }
};

QTEST_GUILESS_MAIN(TestUpdateController)
#include "tst_UpdateController.moc"
