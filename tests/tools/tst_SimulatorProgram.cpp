#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString program()
{
    return QDir(qEnvironmentVariable("QUORVEL_BIN_DIR")).filePath(QStringLiteral("m1620-sim"));
}

// The body of the answer to one status query.
QByteArray statusOn(quint16 port)
{
    const QByteArray query
        = R"({"clock":{"sampling_rate":null,"sources":{"madi_coaxial":{"rate":null,"sync":null}}}})";
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write("POST /api/v2/self HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Type: "
                 "application/json\r\nContent-Length: "
                 + QByteArray::number(query.size()) + "\r\n\r\n" + query);
    QByteArray bytes;
    static_cast<void>(QTest::qWaitFor( // the caller checks the body
        [&] {
            bytes += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        10000));
    return bytes.mid(bytes.indexOf("\r\n\r\n") + 4);
}

} // namespace

class TestSimulatorProgram : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    void startsAsToldLogsAndStopsOnSigterm()
    {
        const QString log = m_dir.filePath(QStringLiteral("sim.log"));
        const QString portFile = m_dir.filePath(QStringLiteral("port"));
        QProcess process;
        process.start(program(),
                      {"--log", log, "--port-file", portFile, "--device", "44100", "--madi", "96000",
                       "--sync", "false", "--follow-delay", "5"});
        QVERIFY(QTest::qWaitFor([&] { return process.canReadLine(); }, 10000));
        const auto match = QRegularExpression(QStringLiteral(R"(^listening on 127\.0\.0\.1:(\d+)\n$)"))
                               .match(QString::fromUtf8(process.readLine()));
        QVERIFY(match.hasMatch());
        const quint16 port = quint16(match.captured(1).toUInt());
        QFile file(portFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray::number(port) + '\n');

        QCOMPARE(
            QJsonDocument::fromJson(statusOn(port)).object(),
            QJsonDocument::fromJson(
                R"({"clock":{"sampling_rate":44100,"sources":{"madi_coaxial":{"rate":96000,"sync":false}}}})")
                .object());
        process.terminate(); // SIGTERM to this very process
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QFile logFile(log);
        QVERIFY(logFile.open(QIODevice::ReadOnly));
        const QByteArray lines = logFile.readAll();
        QVERIFY2(lines.contains(" state follow-delay=5\n") && lines.contains(" request status\n")
                     && lines.endsWith(" stopped SIGTERM\n"),
                 lines.constData());
    }

    void badArgumentsFailPlainly()
    {
        QProcess first;
        first.start(program(), {});
        QVERIFY(QTest::qWaitFor([&] { return first.canReadLine(); }, 10000));
        const QString taken = QString::fromUtf8(first.readLine()).section(u':', 1).trimmed();
        for (const QStringList &arguments :
             {QStringList {"--port", taken}, QStringList {"--port", "70000"}, QStringList {"--bogus"},
              QStringList {"--sync", "maybe"}, QStringList {"stray"},
              // never an address a real network carries
              QStringList {"--address", "192.168.1.5"}}) {
            QProcess process;
            process.start(program(), arguments);
            QVERIFY(process.waitForFinished(10000));
            QCOMPARE(process.exitCode(), 2);
            QVERIFY(process.readAllStandardOutput().isEmpty());
            QVERIFY(process.readAllStandardError().startsWith("m1620-sim: "));
        }
        first.terminate();
        QVERIFY(first.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(TestSimulatorProgram)
#include "tst_SimulatorProgram.moc"
