#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

// The simulator program as scripts start it: its options, port file and log, a plain refusal.
class TestSimulatorProgram : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startsAsToldAndRefusesPlainly()
    {
        const QString program
            = QDir(qEnvironmentVariable("QUORVEL_BIN_DIR")).filePath(QStringLiteral("m1620-sim"));
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("sim.log"));
        const QString portFile = dir.filePath(QStringLiteral("port"));
        QProcess process;
        process.start(program,
                      {"--log", log, "--port-file", portFile, "--device", "44100", "--madi", "96000",
                       "--sync", "false", "--follow-delay", "5"});
        QVERIFY(QTest::qWaitFor([&] { return process.canReadLine(); }, 10000));
        const auto match = QRegularExpression(QStringLiteral(R"(^listening on 127\.0\.0\.1:(\d+)\n$)"))
                               .match(QString::fromUtf8(process.readLine()));
        QVERIFY(match.hasMatch());
        const QString port = match.captured(1);
        QFile file(portFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), port.toUtf8() + '\n');

        const QByteArray query
            = R"({"clock":{"sampling_rate":null,"sources":{"madi_coaxial":{"rate":null,"sync":null}}}})";
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port.toUShort());
        socket.write("POST /api/v2/self HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Type: "
                     "application/json\r\nContent-Length: "
                     + QByteArray::number(query.size()) + "\r\n\r\n" + query);
        QByteArray bytes;
        QVERIFY(QTest::qWaitFor(
            [&] {
                bytes += socket.readAll();
                return socket.state() == QAbstractSocket::UnconnectedState;
            },
            10000));
        QCOMPARE(
            QJsonDocument::fromJson(bytes.mid(bytes.indexOf("\r\n\r\n") + 4)).object(),
            QJsonDocument::fromJson(
                R"({"clock":{"sampling_rate":44100,"sources":{"madi_coaxial":{"rate":96000,"sync":false}}}})")
                .object());

        for (const QStringList &arguments :
             {QStringList {"--port", port}, QStringList {"--port", "70000"}, QStringList {"--bogus"},
              QStringList {"--sync", "maybe"}, QStringList {"stray"},
              // never an address a real network carries
              QStringList {"--address", "192.168.1.5"}}) {
            QProcess refused;
            refused.start(program, arguments);
            QVERIFY(refused.waitForFinished(10000));
            QCOMPARE(refused.exitCode(), 2);
            QVERIFY(refused.readAllStandardOutput().isEmpty());
            QVERIFY(refused.readAllStandardError().startsWith("m1620-sim: "));
        }

        process.terminate(); // SIGTERM to this very process
        QVERIFY(process.waitForFinished(10000));
        QVERIFY(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0);
        QFile logFile(log);
        QVERIFY(logFile.open(QIODevice::ReadOnly));
        const QByteArray lines = logFile.readAll();
        QVERIFY2(lines.contains(" state follow-delay=5\n") && lines.contains(" request status\n")
                     && lines.endsWith(" stopped SIGTERM\n"),
                 lines.constData());
    }
};

QTEST_GUILESS_MAIN(TestSimulatorProgram)
#include "tst_SimulatorProgram.moc"
