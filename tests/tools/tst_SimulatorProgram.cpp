#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

// The simulator program as scripts start it: its options, port file and log, a plain refusal.
// What it answers is the simulator's own test.
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
        for (const char *line : {" state device=44100\n", " state madi=96000\n", " state sync=false\n",
                                 " state follow-delay=5\n"})
            QVERIFY2(lines.contains(line), lines.constData());
        QVERIFY2(lines.endsWith(" stopped SIGTERM\n"), lines.constData());
    }
};

QTEST_GUILESS_MAIN(TestSimulatorProgram)
#include "tst_SimulatorProgram.moc"
