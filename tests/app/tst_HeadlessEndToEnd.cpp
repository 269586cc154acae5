// The real program, headless, against the real simulator program, in this test's own
// temporary XDG tree (tests/isolated.sh) and, where the machine allows, its own network
// namespace (tests/netns.sh).
#include "FakeNotificationServer.h"
#include "PipeWireDaemon.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

namespace {

QString binary(const QString &name)
{
    return qEnvironmentVariable("QUORVEL_BIN_DIR") + QLatin1Char('/') + name;
}

QString configHome()
{
    return qEnvironmentVariable("XDG_CONFIG_HOME");
}

QString logPath()
{
    return qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/Quorvel/sync.log");
}

QString settingsPath()
{
    return configHome() + QStringLiteral("/Quorvel/settings.json");
}

// Log messages without their timestamps.
QStringList logMessages()
{
    QFile file(logPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    static const QRegularExpression stamp(QStringLiteral(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] )"));
    for (QString &line : lines) {
        if (!line.contains(stamp))
            return {QStringLiteral("malformed line: ") + line};
        line.remove(stamp);
    }
    return lines;
}

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run runQuorvel(const QStringList &arguments)
{
    QProcess process;
    process.start(binary(QStringLiteral("quorvel")), arguments);
    Run run;
    if (!process.waitForFinished(15000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

const QString busName = QStringLiteral("app.quorvel.Quorvel");
const QString busPath = QStringLiteral("/app/quorvel/Quorvel");
const QString busInterface = QStringLiteral("app.quorvel.Quorvel1");

QDBusMessage busCall(const QString &method)
{
    return QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(busName, busPath, busInterface, method), QDBus::Block, 5000);
}

QVariant busProperty(const QString &name)
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        busName, busPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << busInterface << name;
    const QDBusReply<QVariant> reply = QDBusConnection::sessionBus().call(get, QDBus::Block, 5000);
    return reply.isValid() ? reply.value() : QVariant();
}

// What the program announces on the bus, as it comes.
class BusListener : public QObject
{
    Q_OBJECT

public:
    QList<QVariantMap> changes;
    QList<std::pair<qint64, qint64>> rates;

    bool saw(const QString &property, const QVariant &value) const
    {
        return std::any_of(changes.begin(), changes.end(),
                           [&](const QVariantMap &change) { return change.value(property) == value; });
    }

public Q_SLOTS:
    void propertiesChanged(const QDBusMessage &message)
    {
        changes.append(qdbus_cast<QVariantMap>(message.arguments().at(1)));
    }
    void rateChanged(qint64 from, qint64 to) { rates.append({from, to}); }
};

} // namespace

class TestHeadlessEndToEnd : public QObject
{
    Q_OBJECT

private:
    QProcess m_sim;
    QString m_host;
    QNetworkAccessManager m_network;

    void control(const QString &pathAndQuery)
    {
        QNetworkRequest request(QUrl(QStringLiteral("http://%1%2").arg(m_host, pathAndQuery)));
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QStringLiteral("application/x-www-form-urlencoded"));
        QNetworkReply *reply = m_network.post(request, QByteArray());
        QVERIFY(QTest::qWaitFor([reply] { return reply->isFinished(); }, 5000));
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
        reply->deleteLater();
    }

    void writeSettings(QJsonObject settings = {})
    {
        settings.insert(QStringLiteral("customHost"), m_host);
        settings.insert(QStringLiteral("useCustomHost"), true);
        settings.insert(QStringLiteral("futureKey"), QJsonArray {1, 2});
        QFile file(settingsPath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QJsonDocument(settings).toJson());
    }

    bool waitForLog(const QString &message, int timeoutMs = 15000)
    {
        return QTest::qWaitFor([&] { return logMessages().contains(message); }, timeoutMs);
    }

    QJsonObject simState()
    {
        QNetworkReply *reply
            = m_network.get(QNetworkRequest(QUrl(QStringLiteral("http://%1/sim/state").arg(m_host))));
        if (!QTest::qWaitFor([reply] { return reply->isFinished(); }, 5000))
            return {};
        reply->deleteLater();
        return QJsonDocument::fromJson(reply->readAll()).object();
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_network.setProxy(QNetworkProxy::NoProxy);
        QVERIFY2(QFileInfo::exists(binary(QStringLiteral("quorvel"))), "build the quorvel program first");
        m_sim.start(binary(QStringLiteral("m1620-sim")), {});
        QVERIFY(m_sim.waitForStarted());
        QVERIFY(m_sim.waitForReadyRead(10000));
        const QString line = QString::fromUtf8(m_sim.readLine()).trimmed();
        QVERIFY2(line.startsWith(QStringLiteral("listening on 127.0.0.1:")), qPrintable(line));
        m_host = line.mid(int(qstrlen("listening on ")));

        // The engine polls only the simulator: never the default address.
        QVERIFY(QDir().mkpath(configHome() + QStringLiteral("/Quorvel")));
        writeSettings();
    }

    void cleanupTestCase()
    {
        m_sim.terminate(); // by its own id
        m_sim.waitForFinished(5000);
    }

    void commandLine()
    {
        const Run version = runQuorvel({QStringLiteral("--version")});
        QCOMPARE(version.exitCode, 0);
        QVERIFY(version.out.startsWith(QStringLiteral("Quorvel ")));
        const Run help = runQuorvel({QStringLiteral("--help")});
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.contains(QStringLiteral("--test-connection HOST")));
        const Run wrong = runQuorvel({QStringLiteral("--frobnicate")});
        QCOMPARE(wrong.exitCode, 2);
        QVERIFY(wrong.err.contains(QStringLiteral("--frobnicate")));
    }

    void testConnectionTouchesNeitherLogNorSettings()
    {
        QFile::remove(logPath());
        const QByteArray settingsBefore = [] {
            QFile f(settingsPath());
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();

        const Run ok = runQuorvel({QStringLiteral("--test-connection"), m_host});
        QCOMPARE(ok.exitCode, 0);
        QCOMPARE(ok.out, QStringLiteral("✓ Connected. Device rate: 48000 Hz\n"));

        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QString deadHost = QStringLiteral("127.0.0.1:%1").arg(closed.serverPort());
        closed.close();
        const Run dead = runQuorvel({QStringLiteral("--test-connection"), deadHost});
        QCOMPARE(dead.exitCode, 1);
        QVERIFY2(dead.out.startsWith(QStringLiteral("✗ ")), qPrintable(dead.out));

        const Run malformed
            = runQuorvel({QStringLiteral("--test-connection"), QStringLiteral("m1620 local")});
        QCOMPARE(malformed.exitCode, 1);
        QVERIFY(malformed.out.startsWith(QStringLiteral("✗ ")));

        QVERIFY(!QFileInfo::exists(logPath()));
        QFile after(settingsPath());
        QVERIFY(after.open(QIODevice::ReadOnly));
        QCOMPARE(after.readAll(), settingsBefore);
    }

    void followsTheDeviceAndQuitsCleanly()
    {
        FakeNotificationServer notifications;
        QFile::remove(logPath());

        QProcess quorvel;
        quorvel.start(binary(QStringLiteral("quorvel")), {QStringLiteral("--headless")});
        QVERIFY(quorvel.waitForStarted());
        QVERIFY2(waitForLog(QStringLiteral("[INFO] Connected to ") + m_host),
                 qPrintable(logMessages().join('\n')));

        // One engine per user: a second headless start refuses and says why.
        const Run second = runQuorvel({QStringLiteral("--headless")});
        QVERIFY(second.exitCode != 0);
        QVERIFY2(second.err.contains(QStringLiteral("already running")), qPrintable(second.err));

        control(QStringLiteral("/sim/state?madi=96000"));
        QVERIFY2(waitForLog(QStringLiteral("[INFO] Set rate to 96000 Hz")),
                 qPrintable(logMessages().join('\n')));
        if (notifications.isRegistered()) {
            QVERIFY(QTest::qWaitFor([&] { return !notifications.notifications().isEmpty(); }, 5000));
            QCOMPARE(notifications.notifications().first().summary, QStringLiteral("Sample rate changed"));
            QCOMPARE(notifications.notifications().first().body, QStringLiteral("M-1620 set to 96.0 kHz"));
        }

        quorvel.terminate(); // SIGTERM, by its own id
        QVERIFY(quorvel.waitForFinished(10000));
        QCOMPARE(quorvel.exitStatus(), QProcess::NormalExit);
        QCOMPARE(quorvel.exitCode(), 0);

        const QStringList log = logMessages();
        QVERIFY(log.size() >= 6);
        QVERIFY(log[0].startsWith(QStringLiteral("[INFO] Quorvel launched — version ")));
        QCOMPARE(log.mid(1, 5),
                 (QStringList {QStringLiteral("[INFO] Sync starting (host: %1)").arg(m_host),
                               QStringLiteral("[INFO] Connected to ") + m_host,
                               QStringLiteral("[INFO] MADI input rate changed: 48000 → 96000 Hz"),
                               QStringLiteral("[INFO] Syncing 48000 → 96000 Hz"),
                               QStringLiteral("[INFO] Set rate to 96000 Hz")}));

        // Unknown keys in the settings file survive a run.
        QFile settings(settingsPath());
        QVERIFY(settings.open(QIODevice::ReadOnly));
        QVERIFY(settings.readAll().contains("futureKey"));

        // The lock is free again once the first instance has ended.
        QProcess again;
        again.start(binary(QStringLiteral("quorvel")), {QStringLiteral("--headless")});
        QVERIFY(again.waitForStarted());
        QVERIFY(QTest::qWaitFor(
            [&] { return logMessages().count(QStringLiteral("[INFO] Connected to ") + m_host) == 2; },
            15000));
        again.terminate();
        QVERIFY(again.waitForFinished(10000));
        QCOMPARE(again.exitCode(), 0);
    }

    // Scripts and status bars see and steer the running program on the session bus.
    void answersOnTheSessionBus()
    {
        control(QStringLiteral("/sim/reset"));
        QProcess quorvel;
        quorvel.start(binary(QStringLiteral("quorvel")), {QStringLiteral("--headless")});
        QVERIFY(quorvel.waitForStarted());
        QDBusConnection bus = QDBusConnection::sessionBus();
        QTRY_VERIFY_WITH_TIMEOUT(bus.interface()->isServiceRegistered(busName).value(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(busProperty(QStringLiteral("ConnectionState")).toString(),
                                  QStringLiteral("connected"), 10000);
        QCOMPARE(busProperty(QStringLiteral("Host")).toString(), m_host);

        BusListener listener;
        QVERIFY(bus.connect(busName, busPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                            QStringLiteral("PropertiesChanged"), &listener,
                            SLOT(propertiesChanged(QDBusMessage))));
        QVERIFY(bus.connect(busName, busPath, busInterface, QStringLiteral("RateChanged"), &listener,
                            SLOT(rateChanged(qint64, qint64))));
        QProcess watch;
        watch.start(binary(QStringLiteral("quorvel")), {QStringLiteral("watch")});
        QVERIFY(watch.waitForStarted());

        control(QStringLiteral("/sim/state?madi=96000"));
        QTRY_COMPARE_WITH_TIMEOUT(listener.rates.size(), 1, 10000);
        QCOMPARE(listener.rates.first(), std::make_pair(qint64(48000), qint64(96000)));
        QTRY_VERIFY_WITH_TIMEOUT(listener.saw(QStringLiteral("DeviceRate"), qint64(96000)), 10000);

        // Pause is idempotent, unlike the panel's toggle, and stops following.
        QCOMPARE(busCall(QStringLiteral("Pause")).type(), QDBusMessage::ReplyMessage);
        QCOMPARE(busCall(QStringLiteral("Pause")).type(), QDBusMessage::ReplyMessage);
        QTRY_VERIFY(busProperty(QStringLiteral("Paused")).toBool());
        control(QStringLiteral("/sim/state?madi=44100"));
        QTest::qWait(2000);
        QCOMPARE(simState().value(u"set_rates").toArray().size(), 1);
        QCOMPARE(busCall(QStringLiteral("Resume")).type(), QDBusMessage::ReplyMessage);
        QTRY_COMPARE_WITH_TIMEOUT(listener.rates.size(), 2, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(listener.saw(QStringLiteral("DeviceRate"), qint64(44100)), 10000);
        QCOMPARE(busCall(QStringLiteral("ShowPanel")).type(), QDBusMessage::ErrorMessage); // headless

        const Run status = runQuorvel({QStringLiteral("status"), QStringLiteral("--json")});
        QCOMPARE(status.exitCode, 0);
        const QJsonObject json = QJsonDocument::fromJson(status.out.toUtf8()).object();
        QCOMPARE(json.value(u"connectionState").toString(), QStringLiteral("connected"));
        QCOMPARE(json.value(u"host").toString(), m_host);
        QCOMPARE(json.value(u"deviceRate").toInteger(), 44100);
        QCOMPARE(json.value(u"madiRate").toInteger(), 44100);
        QCOMPARE(json.value(u"madiSync").toString(), QStringLiteral("locked"));
        QCOMPARE(json.value(u"paused").toBool(), false);
        const QJsonArray history = json.value(u"history").toArray();
        QCOMPARE(history.size(), 2);
        QCOMPARE(history.at(0).toObject().value(u"from").toInteger(), 96000);
        QCOMPARE(history.at(0).toObject().value(u"to").toInteger(), 44100);

        // A client that leaves in the middle of a call harms nothing.
        {
            QDBusConnection leaver
                = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("leaver"));
            leaver.asyncCall(
                QDBusMessage::createMethodCall(busName, busPath, busInterface, QStringLiteral("Resume")));
            QDBusConnection::disconnectFromBus(QStringLiteral("leaver"));
        }
        QCOMPARE(busProperty(QStringLiteral("DeviceRate")).toLongLong(), 44100);

        quorvel.terminate();
        QVERIFY(quorvel.waitForFinished(10000));
        QCOMPARE(quorvel.exitCode(), 0);
        const Run stopped = runQuorvel({QStringLiteral("status")});
        QCOMPARE(stopped.exitCode, 4);
        QVERIFY(stopped.err.contains(QStringLiteral("not running")));

        // The watcher printed one line per change: both rates in order, then the end.
        QByteArray printed;
        QTRY_VERIFY((printed += watch.readAllStandardOutput()).contains(R"({"running":false})"));
        watch.terminate();
        QVERIFY(watch.waitForFinished(5000));
        QCOMPARE(watch.exitCode(), 0);
        QList<QJsonObject> lines;
        for (const QByteArray &line : printed.split('\n'))
            if (!line.isEmpty())
                lines.append(QJsonDocument::fromJson(line).object());
        QVERIFY(lines.size() >= 3);
        const auto firstWith = [&](qint64 rate) {
            return std::find_if(lines.begin(), lines.end(), [rate](const QJsonObject &line) {
                return line.value(u"deviceRate").toInteger() == rate;
            });
        };
        QVERIFY(firstWith(96000) < firstWith(44100) && firstWith(44100) != lines.end());
        QCOMPARE(lines.last(), QJsonObject({{QStringLiteral("running"), false}}));
    }

    // The computer follows too: PipeWire's graph rate pinned to the device's and let go on pause
    // and quit (unless pinned by hand since), and the user's command run after each change.
    void keepsTheComputerInStep()
    {
        if (!PipeWireDaemon::installed())
            QSKIP("pipewire and pw-metadata are not installed (scripts/install-deps.sh installs them)");
        PipeWireDaemon pipewire;
        QVERIFY(pipewire.start());
        control(QStringLiteral("/sim/reset"));
        QFile::remove(logPath());
        const QString root = qEnvironmentVariable("QUORVEL_TEST_ROOT");
        const QString record = root + QStringLiteral("/rate env");
        // Split as a desktop entry's Exec line: sh, -c, the script, and the file as $0.
        const QString command = QStringLiteral(
            "sh -c \"env | grep -E '^QUORVEL_(HOST|RATE|PREVIOUS_RATE)=' | sort > \\\"$0\\\"\" \"%1\"");
        writeSettings({{QStringLiteral("matchPipeWireRate"), true},
                       {QStringLiteral("rateChangeCommand"), command.arg(record)}});
        const auto pipewireLog = [] { return logMessages().filter(QStringLiteral("PipeWire graph rate")); };

        QProcess quorvel;
        quorvel.start(binary(QStringLiteral("quorvel")), {QStringLiteral("--headless")});
        QVERIFY(quorvel.waitForStarted());
        QVERIFY2(waitForLog(QStringLiteral("[INFO] PipeWire graph rate set to 48000 Hz")),
                 qPrintable(logMessages().join('\n')));
        QCOMPARE(PipeWireDaemon::forcedRate(), 48000);
        control(QStringLiteral("/sim/state?madi=96000"));
        QVERIFY(waitForLog(QStringLiteral("[INFO] PipeWire graph rate set to 96000 Hz")));
        QCOMPARE(PipeWireDaemon::forcedRate(), 96000);
        QVERIFY(waitForLog(QStringLiteral("[INFO] Rate-change command exited with status 0")));
        QFile recorded(record);
        QVERIFY(recorded.open(QIODevice::ReadOnly));
        QCOMPARE(
            QString::fromUtf8(recorded.readAll()),
            QStringLiteral("QUORVEL_HOST=%1\nQUORVEL_PREVIOUS_RATE=48000\nQUORVEL_RATE=96000\n").arg(m_host));

        QTRY_VERIFY_WITH_TIMEOUT(
            QDBusConnection::sessionBus().interface()->isServiceRegistered(busName).value(), 10000);
        QCOMPARE(busCall(QStringLiteral("Pause")).type(), QDBusMessage::ReplyMessage);
        QVERIFY(waitForLog(QStringLiteral("[INFO] PipeWire graph rate released")));
        QCOMPARE(PipeWireDaemon::forcedRate(), 0);
        QCOMPARE(busCall(QStringLiteral("Resume")).type(), QDBusMessage::ReplyMessage);
        QTRY_COMPARE_WITH_TIMEOUT(pipewireLog().size(), 4, 10000);
        QCOMPARE(PipeWireDaemon::forcedRate(), 96000);
        quorvel.terminate(); // SIGTERM, by its own id
        QVERIFY(quorvel.waitForFinished(10000));
        QCOMPARE(quorvel.exitCode(), 0);
        QCOMPARE(PipeWireDaemon::forcedRate(), 0);

        // A pin made by hand while it runs is the user's: quitting leaves it.
        quorvel.start(binary(QStringLiteral("quorvel")), {QStringLiteral("--headless")});
        QVERIFY(quorvel.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(pipewireLog().size(), 6, 15000);
        PipeWireDaemon::forceRate(44100);
        quorvel.terminate();
        QVERIFY(quorvel.waitForFinished(10000));
        QCOMPARE(PipeWireDaemon::forcedRate(), 44100);
        QCOMPARE(pipewireLog(),
                 (QStringList {
                     QStringLiteral("[INFO] PipeWire graph rate set to 48000 Hz"),
                     QStringLiteral("[INFO] PipeWire graph rate set to 96000 Hz"),
                     QStringLiteral("[INFO] PipeWire graph rate released"),
                     QStringLiteral("[INFO] PipeWire graph rate set to 96000 Hz"),
                     QStringLiteral("[INFO] PipeWire graph rate released"),
                     QStringLiteral("[INFO] PipeWire graph rate set to 96000 Hz"),
                     QStringLiteral("[INFO] PipeWire graph rate left at 44100 Hz, set outside Quorvel")}));
        writeSettings();
    }
};

QTEST_GUILESS_MAIN(TestHeadlessEndToEnd)
#include "tst_HeadlessEndToEnd.moc"
