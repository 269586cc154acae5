#include "FakeNotificationServer.h"
#include "TestFiles.h"
#include "VirtualClock.h"
#include "device/ScriptedHttpServer.h"
#include "platform/DBusNotifier.h"
#include "services/SettingsStore.h"
#include "services/UpdateController.h"

#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSslKey>
#include <QSslServer>
#include <QTemporaryDir>

using namespace std::chrono_literals;
using Kind = UpdateController::Outcome::Kind;

namespace {

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

// A controller on a feed served on loopback, a clock that moves on command, notifications to
// a server of its own, and a log and settings file of its own.
struct Rig
{
    QTemporaryDir dir;
    Logger logger {dir.path() + QStringLiteral("/log"), nullptr};
    VirtualClock clock;
    FakeNotificationServer notifications;
    DBusNotifier notifier;
    ScriptedHttpServer server;
    std::unique_ptr<SettingsStore> store;
    std::unique_ptr<UpdateController> updates; // goes before the clock that wakes its loop
    QList<UpdateController::Outcome> user, scheduled;

    Rig() { server.listen(QHostAddress::LocalHost); }
    QString settingsPath() const { return dir.path() + QStringLiteral("/settings.json"); }
    QUrl feedUrl() const { return QUrl(QStringLiteral("http://%1/appcast.xml").arg(server.hostText())); }

    // As at launch, on a freshly read settings file.
    UpdateController &start(const QUrl &feed,
                            std::chrono::milliseconds timeout = UpdateController::defaultTimeout)
    {
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

    // A whole sentence, the reason last; ready for another try.
    void failuresAreReadable()
    {
        ScriptedAnswer endless, hang; // an answer that stays open goes at the limit, not the time-out
        endless.bytes = "HTTP/1.1 200 OK\r\n\r\n" + QByteArray(3 * 1024 * 1024, ' ');
        endless.closeAfter = false;
        hang.hang = true;
        for (const auto &[answer, message] :
             {std::pair {endless, "The update feed is larger than 1 MiB."},
              {hang, "The update server did not answer in time."},
              {ScriptedAnswer(), "Could not reach the update server: Connection refused"}}) { // port 1
            Rig rig;
            rig.server.answerWith(answer);
            QUrl feed = rig.feedUrl();
            if (answer.bytes.isEmpty() && !answer.hang)
                feed.setPort(1);
            UpdateController &updates
                = rig.start(feed, answer.hang ? 300ms : UpdateController::defaultTimeout);
            updates.checkForUpdates();
            QTRY_COMPARE_WITH_TIMEOUT(rig.user.size(), 1, 20000);
            QCOMPARE(rig.user.first().errorMessage, QString::fromUtf8(message));
            QVERIFY(updates.canCheckForUpdates());
        }
    }

    // Redirects from https are followed to https only: over plain http anyone on the way could
    // answer. The https end has a throwaway certificate that only this process trusts.
    void redirectsNeverLeaveHttps()
    {
        QTemporaryDir keys;
        const QString key = keys.filePath(QStringLiteral("key.pem")),
                      cert = keys.filePath(QStringLiteral("cert.pem"));
        if (QProcess::execute(QStringLiteral("openssl"),
                              {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
                               "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key,
                               "-out", cert})
            != 0)
            QSKIP("needs the openssl command");
        qputenv("SSL_CERT_FILE", QFile::encodeName(cert));
        const auto untrust = qScopeGuard([] { qunsetenv("SSL_CERT_FILE"); });
        QSslConfiguration serving = QSslConfiguration::defaultConfiguration();
        serving.setLocalCertificate(QSslCertificate::fromPath(cert).first());
        QFile keyFile(key);
        QVERIFY(keyFile.open(QIODevice::ReadOnly));
        serving.setPrivateKey(QSslKey(&keyFile, QSsl::Rsa));
        QSslServer tls;
        tls.setSslConfiguration(serving);
        QVERIFY(tls.listen(QHostAddress::LocalHost));
        QByteArray location; // where any path but "/feed" redirects
        connect(&tls, &QSslServer::pendingConnectionAvailable, this, [&] {
            QTcpSocket *socket = tls.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [&location, socket] {
                if (!socket->peek(65536).contains("\r\n\r\n"))
                    return;
                socket->write(socket->readAll().startsWith("GET /feed ") ? feedAnswer({"1.3.0"}).bytes
                                                                         : "HTTP/1.1 302 Found\r\nLocation: "
                                      + location + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                socket->disconnectFromHost();
            });
        });
        Rig rig;
        rig.server.answerWith(feedAnswer({"1.4.0"}));
        UpdateController &updates
            = rig.start(QUrl(QStringLiteral("https://127.0.0.1:%1/appcast.xml").arg(tls.serverPort())));
        for (const QByteArray &to :
             QByteArrayList {"https://127.0.0.1:" + QByteArray::number(tls.serverPort()) + "/feed",
                             "http://" + rig.server.hostText().toUtf8() + "/appcast.xml"}) {
            location = to;
            const qsizetype seen = rig.user.size();
            updates.checkForUpdates();
            QTRY_COMPARE_WITH_TIMEOUT(rig.user.size(), seen + 1, 20000);
        }
        QCOMPARE(rig.user[0].version, QStringLiteral("1.3.0"));
        QCOMPARE(rig.user[1].kind, Kind::Failed);
        QVERIFY(rig.server.requests().isEmpty());
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
        QCOMPARE(rig.server.requests().size(), 5);
        QCOMPARE(rig.user.size(), 1);
        QTest::qWait(200); // a second notification would be in by now
        QTRY_COMPARE(rig.notifications.notifications().size(), 1);
        QCOMPARE(rig.notifications.notifications().first().summary, "Quorvel 1.4.0 is available");
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
