#include "SimHttp.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <ctime>

namespace {

double monotonicNow()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

QString program()
{
    return QDir(qEnvironmentVariable("QUORVEL_BIN_DIR")).filePath(QStringLiteral("m1620-sim"));
}

// Starts the program and reads its port from the first line it prints; 0 when there is none.
quint16 start(QProcess &process, const QStringList &arguments)
{
    process.start(program(), arguments);
    if (!QTest::qWaitFor([&] { return process.canReadLine(); }, 10000))
        return 0;
    const auto match = QRegularExpression(QStringLiteral(R"(^listening on 127\.0\.0\.1:(\d+)\n$)"))
                           .match(QString::fromUtf8(process.readLine()));
    return match.hasMatch() ? quint16(match.captured(1).toUInt()) : 0;
}

// Runs the program to its end: exit code, stdout, stderr.
std::tuple<int, QByteArray, QByteArray> runToEnd(const QStringList &arguments)
{
    QProcess process;
    process.start(program(), arguments);
    if (!process.waitForFinished(10000))
        return {-1, {}, {}};
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

} // namespace

class TestSimulatorProgram : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    void printsItsPortAnswersLogsAndStopsOnSigterm()
    {
        const QString log = m_dir.filePath(QStringLiteral("sim.log"));
        const QString portFile = m_dir.filePath(QStringLiteral("port"));
        QProcess process;
        const quint16 port
            = start(process, {QStringLiteral("--log"), log, QStringLiteral("--port-file"), portFile});
        QVERIFY(port != 0);
        QFile file(portFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray::number(port) + '\n');

        SimHttp http(port);
        const double before = monotonicNow();
        QCOMPARE(http.post(QStringLiteral("/api/v2/self"), SimHttp::statusQuery()).status, 200);
        QCOMPARE(http.post(QStringLiteral("/sim/state?madi=96000"), {}).status, 200);
        QCOMPARE(http.post(QStringLiteral("/api/v2/self"), SimHttp::setRate(96000)).status, 200);
        const double after = monotonicNow();
        process.terminate(); // SIGTERM to this very process
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);

        QFile logFile(log);
        QVERIFY(logFile.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(logFile.readAll()).split(u'\n', Qt::SkipEmptyParts);
        QStringList events;
        for (const QString &line : lines)
            events << line.section(u' ', 1);
        QCOMPARE(events,
                 (QStringList {QStringLiteral("listening 127.0.0.1:") + QString::number(port),
                               "request status", "control POST /sim/state?madi=96000", "state madi=96000",
                               "request set-rate 96000", "state device=96000", "stopped SIGTERM"}));
        // The clock any other process reads: the request lines fall inside the window we measured.
        for (qsizetype i = 1; i < 6; ++i) {
            const double stamp = lines[i].section(u' ', 0, 0).toDouble();
            QVERIFY2(stamp >= before - 1e-6 && stamp <= after + 1e-6, qPrintable(lines[i]));
        }
    }

    void startOptionsLogOnStderrAndSigint()
    {
        QProcess process;
        const quint16 port
            = start(process,
                    {QStringLiteral("--device"), QStringLiteral("44100"), QStringLiteral("--madi"),
                     QStringLiteral("96000"), QStringLiteral("--sync"), QStringLiteral("false")});
        QVERIFY(port != 0);
        QCOMPARE(
            SimHttp(port).post(QStringLiteral("/api/v2/self"), SimHttp::statusQuery()).object(),
            QJsonDocument::fromJson(
                R"({"clock":{"sampling_rate":44100,"sources":{"madi_coaxial":{"rate":96000,"sync":false}}}})")
                .object());
        QCOMPARE(::kill(pid_t(process.processId()), SIGINT), 0);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 0);
        const QByteArray errors = process.readAllStandardError();
        QVERIFY(errors.contains(" request status\n") && errors.contains(" stopped SIGINT\n"));
    }

    void fixedPortIsUsedAndAClashFailsPlainly()
    {
        QProcess first;
        const quint16 port = start(first, {});
        QVERIFY(port != 0);
        first.terminate();
        QVERIFY(first.waitForFinished(10000));
        QProcess process;
        QCOMPARE(start(process, {QStringLiteral("--port"), QString::number(port)}), port);
        const auto [code, out, errors] = runToEnd({QStringLiteral("--port"), QString::number(port)});
        QCOMPARE(code, 2);
        QVERIFY(errors.startsWith("m1620-sim: cannot listen on 127.0.0.1:"));
    }

    void helpExplainsEverything()
    {
        const auto [code, text, errors] = runToEnd({QStringLiteral("--help")});
        QCOMPARE(code, 0);
        const QByteArrayList needles
            = QByteArray("--port N|--port-file FILE|--log FILE|--follow-delay MS|--advertise NAME|--address "
                         "A|listening "
                         "on 127.0.0.1:PORT|"
                         "POST /api/v2/self|GET  /sim/state|POST /sim/fault|POST "
                         "/sim/reset|report-madi=BOOL|CLOCK_MONOTONIC|"
                         "request set-rate HZ|44100, 48000, 88200|delay ms=N|hang-headers|trickle|status "
                         "code=N|empty|not-json|"
                         "array|huge bytes=N|close-mid-body|garbage|reset|reboot ms=N|SIGTERM|curl")
                  .split('|');
        for (const QByteArray &needle : needles)
            QVERIFY2(text.contains(needle), needle.constData());
    }

    void versionAndBadArguments()
    {
        const auto [code, version, errors] = runToEnd({QStringLiteral("--version")});
        QCOMPARE(code, 0);
        QVERIFY(version.startsWith("m1620-sim "));
        for (const QStringList &arguments : {QStringList {"--port", "70000"}, QStringList {"--bogus"},
                                             QStringList {"--sync", "maybe"}, QStringList {"stray"},
                                             // never an address a real network carries
                                             QStringList {"--address", "192.168.1.5"}}) {
            const auto [badCode, out, message] = runToEnd(arguments);
            QCOMPARE(badCode, 2);
            QVERIFY(out.isEmpty());
            QVERIFY2(message.startsWith("m1620-sim: "), message.constData());
        }
    }
};

QTEST_GUILESS_MAIN(TestSimulatorProgram)
#include "tst_SimulatorProgram.moc"
