// The real program, headless, against a device that misbehaves for one status query and then
// behaves again, in this test's own network namespace (tests/netns.sh). Only what needs the whole
// program: its deadline and recovery, its memory under a flood. The wrong answers of the client's
// failure table are not repeated here: each costs seconds.
#include "ProcessStatus.h"
#include "device/ScriptedHttpServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>

namespace {

QStringList logLines(const QString &needle)
{
    QFile file(qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/Quorvel/sync.log"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList found;
    for (const QString &line : QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)) {
        if (line.contains(needle))
            found << line.mid(line.indexOf(needle) + needle.size());
    }
    return found;
}

const QByteArray statusJson
    = R"({"clock":{"sampling_rate":48000,"sources":{"madi_coaxial":{"rate":48000,"sync":true}}}})";

} // namespace

Q_DECLARE_METATYPE(ScriptedAnswer)

class TestHostileDevice : public QObject
{
    Q_OBJECT

    ScriptedHttpServer m_device;
    QProcess m_quorvel;
    qint64 m_rssBefore = -1;

    // Answers the next status query with this, once; true when the program has read it.
    bool arm(const ScriptedAnswer &answer)
    {
        const qsizetype before = m_device.requests().size();
        m_device.answerNext(answer);
        return QTest::qWaitFor([&] { return m_device.requests().size() > before; }, 5000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_device.answerWith(ScriptedAnswer::keepAlive(200, statusJson));
        QVERIFY(m_device.listen());
        // The program polls only this server: never the default address.
        const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Quorvel");
        QVERIFY(QDir().mkpath(config));
        QFile settings(config + QStringLiteral("/settings.json"));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write(
            QStringLiteral(R"({"customHost":"%1","useCustomHost":true})").arg(m_device.hostText()).toUtf8());
        settings.close();

        m_quorvel.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_quorvel.start(qEnvironmentVariable("QUORVEL_BIN_DIR") + QStringLiteral("/quorvel"),
                        {QStringLiteral("--headless")});
        // A few good polls first, so that what start-up allocates is not counted as growth.
        QVERIFY(QTest::qWaitFor([&] { return m_device.requests().size() >= 5; }, 15000));
        QCOMPARE(logLines(QStringLiteral("Connected to ")).size(), 1);
        m_rssBefore = residentKiB(QString::number(m_quorvel.processId()));
        QVERIFY(m_rssBefore > 0);
    }

    void cleanupTestCase()
    {
        const qint64 rssAfter = residentKiB(QString::number(m_quorvel.processId()));
        qInfo("VmRSS of quorvel: %lld KiB before the hostile cases, %lld KiB after", m_rssBefore, rssAfter);
        m_quorvel.terminate(); // SIGTERM, by its own id
        QVERIFY(m_quorvel.waitForFinished(10000));
        QCOMPARE(m_quorvel.exitCode(), 0);
        QVERIFY2(rssAfter - m_rssBefore < 30 * 1024, "memory grew by more than 30 MB");
        QCOMPARE(logLines(QStringLiteral("Syncing")).size(), 0);
    }

    void givesUpAndComesBack_data()
    {
        QTest::addColumn<ScriptedAnswer>("answer");
        QTest::addColumn<QString>("error");
        ScriptedAnswer hang;
        hang.hang = true;
        QTest::newRow("hang after the request") << hang << QStringLiteral("The request timed out");
        ScriptedAnswer flood; // no length: the body runs until the close
        flood.bytes = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n{\"a\":\"" + QByteArray(64 << 20, 'a');
        QTest::newRow("64 MB streamed")
            << flood << QStringLiteral("The device’s response is larger than 1 MiB");
    }

    void givesUpAndComesBack()
    {
        QFETCH(ScriptedAnswer, answer);
        QFETCH(QString, error);
        const qsizetype lost = logLines(QStringLiteral("Lost connection: ")).size();
        const qsizetype connected = logLines(QStringLiteral("Connected to ")).size();
        QElapsedTimer clock;
        QVERIFY(arm(answer));
        clock.start();
        QVERIFY(QTest::qWaitFor([&] { return logLines(QStringLiteral("Lost connection: ")).size() > lost; },
                                10000));
        const qint64 heldOn = clock.elapsed();
        QCOMPARE(logLines(QStringLiteral("Lost connection: ")).last(), error);
        // The device behaves again: the next poll, one disconnected interval (3 s) on, connects.
        QVERIFY(QTest::qWaitFor(
            [&] { return logLines(QStringLiteral("Connected to ")).size() == connected + 1; }, 10000));
        qInfo("held on %lld ms, recovered %lld ms later", heldOn, clock.elapsed() - heldOn);
        QVERIFY2(heldOn < 3500, qPrintable(QStringLiteral("held on for %1 ms").arg(heldOn)));
        QVERIFY2(clock.elapsed() - heldOn < 6500, "recovered too late");
    }
};

QTEST_GUILESS_MAIN(TestHostileDevice)
#include "tst_HostileDevice.moc"
