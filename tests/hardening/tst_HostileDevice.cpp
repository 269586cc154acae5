// The real program, headless, against a device that floods it with an answer without end, in
// this test's own network namespace (tests/netns.sh): it gives up at 1 MiB, keeps its memory and
// connects again when the device behaves. The other wrong answers are the client's failure table;
// a silent device is in tst_ProgramFaults.
#include "ProcessStatus.h"
#include "device/ScriptedHttpServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

namespace {

QByteArray logBytes()
{
    QFile file(qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/Quorvel/sync.log"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestHostileDevice : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void survivesAFlood()
    {
        ScriptedHttpServer device;
        device.answerWith(ScriptedAnswer::keepAlive(
            200,
            R"({"clock":{"sampling_rate":48000,"sources":{"madi_coaxial":{"rate":48000,"sync":true}}}})"));
        QVERIFY(device.listen());
        // The program polls only this server: never the default address.
        const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Quorvel");
        QVERIFY(QDir().mkpath(config));
        QFile settings(config + QStringLiteral("/settings.json"));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write(
            QStringLiteral(R"({"customHost":"%1","useCustomHost":true})").arg(device.hostText()).toUtf8());
        settings.close();
        QProcess quorvel;
        quorvel.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        quorvel.start(qEnvironmentVariable("QUORVEL_BIN_DIR") + QStringLiteral("/quorvel"),
                      {QStringLiteral("--headless")});
        // A few good polls first, so that what start-up allocates is not counted as growth.
        QVERIFY(QTest::qWaitFor([&] { return device.requests().size() >= 5; }, 15000));
        const QString pid = QString::number(quorvel.processId());
        const qint64 rssBefore = residentKiB(pid);

        ScriptedAnswer flood; // no length: the body runs until the close
        flood.bytes = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n{\"a\":\"" + QByteArray(64 << 20, 'a');
        device.answerNext(flood);
        QVERIFY(QTest::qWaitFor(
            [] { return logBytes().contains("Lost connection: The device’s response is larger than 1 MiB"); },
            10000));
        QVERIFY(QTest::qWaitFor([] { return logBytes().count("Connected to ") == 2; }, 10000));
        const qint64 rssAfter = residentKiB(pid);
        qInfo("VmRSS of quorvel: %lld KiB before the flood, %lld KiB after", rssBefore, rssAfter);
        QVERIFY2(rssBefore > 0 && rssAfter - rssBefore < 30 * 1024, "memory grew by more than 30 MB");
        quorvel.terminate(); // SIGTERM, by its own id
        QVERIFY(quorvel.waitForFinished(10000));
        QCOMPARE(quorvel.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestHostileDevice)
#include "tst_HostileDevice.moc"
