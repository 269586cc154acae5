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

// The log as (timestamp, event) pairs.
QList<std::pair<double, QString>> readLog(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<std::pair<double, QString>> lines;
    const QRegularExpression shape(QStringLiteral(R"(^(\d+\.\d{6}) (.+)$)"));
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        const auto match = shape.match(QString::fromUtf8(line));
        lines.append({match.hasMatch() ? match.captured(1).toDouble() : -1.0, match.captured(2)});
    }
    return lines;
}
} // namespace

class TestSimulatorProgram : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

    // Starts the program and reads its port from the first line it prints.
    quint16 start(QProcess &process, const QStringList &arguments)
    {
        process.start(program(), arguments);
        if (!process.waitForStarted(10000))
            return 0;
        for (int i = 0; i < 100 && !process.canReadLine(); ++i)
            process.waitForReadyRead(100);
        const QByteArray line = process.readLine();
        const auto match = QRegularExpression(QStringLiteral(R"(^listening on 127\.0\.0\.1:(\d+)\n$)"))
                               .match(QString::fromUtf8(line));
        return match.hasMatch() ? quint16(match.captured(1).toUInt()) : 0;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(!qEnvironmentVariable("QUORVEL_BIN_DIR").isEmpty());
        QVERIFY(QFile::exists(program()));
        QVERIFY(dir.isValid());
    }

    void printsItsPortAnswersLogsAndStopsOnSigterm()
    {
        const QString log = dir.filePath(QStringLiteral("sim.log"));
        const QString portFile = dir.filePath(QStringLiteral("port"));
        QProcess process;
        const quint16 port
            = start(process, {QStringLiteral("--log"), log, QStringLiteral("--port-file"), portFile});
        QVERIFY(port != 0);
        QFile file(portFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().trimmed().toUInt(), port);

        SimHttp http(port);
        const double before = monotonicNow();
        const SimReply reply = http.post(QStringLiteral("/api/v2/self"), SimHttp::statusQuery());
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.object()["clock"].toObject()["sampling_rate"].toInteger(), 48000);
        QCOMPARE(http.post(QStringLiteral("/sim/state?madi=96000"), {}).status, 200);
        QCOMPARE(http.post(QStringLiteral("/api/v2/self"), SimHttp::setRate(96000)).status, 200);
        const double after = monotonicNow();

        process.terminate(); // SIGTERM to this very process
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);

        const auto lines = readLog(log);
        QStringList events;
        for (const auto &[stamp, event] : lines) {
            QVERIFY2(stamp > 0, qPrintable(event));
            events << event;
        }
        QCOMPARE(events,
                 (QStringList {QStringLiteral("listening 127.0.0.1:") + QString::number(port),
                               QStringLiteral("request status"),
                               QStringLiteral("control POST /sim/state?madi=96000"),
                               QStringLiteral("state madi=96000"), QStringLiteral("request set-rate 96000"),
                               QStringLiteral("state device=96000"), QStringLiteral("stopped SIGTERM")}));
        // Same clock as ours: the request lines fall inside the window we measured.
        for (qsizetype i = 1; i < 6; ++i)
            QVERIFY(lines[i].first >= before - 1e-6 && lines[i].first <= after + 1e-6);
    }

    void startOptionsAndLogOnStderrAndSigint()
    {
        QProcess process;
        const quint16 port
            = start(process,
                    {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--device"),
                     QStringLiteral("44100"), QStringLiteral("--madi"), QStringLiteral("96000"),
                     QStringLiteral("--sync"), QStringLiteral("false")});
        QVERIFY(port != 0);
        SimHttp http(port);
        QCOMPARE(
            http.post(QStringLiteral("/api/v2/self"), SimHttp::statusQuery()).object(),
            QJsonDocument::fromJson(
                R"({"clock":{"sampling_rate":44100,"sources":{"madi_coaxial":{"rate":96000,"sync":false}}}})")
                .object());
        QVERIFY(::kill(pid_t(process.processId()), SIGINT) == 0);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        const QByteArray errors = process.readAllStandardError();
        QVERIFY(errors.contains(" request status\n"));
        QVERIFY(errors.contains(" stopped SIGINT\n"));
    }

    void fixedPortIsUsed()
    {
        // Find a free port first, then ask for it.
        QProcess first;
        const quint16 port = start(first, {});
        QVERIFY(port != 0);
        first.terminate();
        QVERIFY(first.waitForFinished(10000));
        QProcess process;
        QCOMPARE(start(process, {QStringLiteral("--port"), QString::number(port)}), port);
        // A second one on the same port fails plainly.
        QProcess clash;
        clash.start(program(), {QStringLiteral("--port"), QString::number(port)});
        QVERIFY(clash.waitForFinished(10000));
        QCOMPARE(clash.exitCode(), 2);
        QVERIFY(clash.readAllStandardError().contains("cannot listen on 127.0.0.1:"));
        process.terminate();
        QVERIFY(process.waitForFinished(10000));
    }

    void helpExplainsEverything()
    {
        QProcess process;
        process.start(program(), {QStringLiteral("--help")});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 0);
        const QByteArray text = process.readAllStandardOutput();
        for (const char *needle : {"--port N",
                                   "--port-file FILE",
                                   "--log FILE",
                                   "--follow-delay MS",
                                   "listening on 127.0.0.1:PORT",
                                   "/api/v2/self",
                                   "GET  /sim/state",
                                   "POST /sim/fault",
                                   "POST /sim/reset",
                                   "report-madi=BOOL",
                                   "CLOCK_MONOTONIC",
                                   "request set-rate HZ",
                                   "44100, 48000, 88200",
                                   "hang-headers",
                                   "trickle",
                                   "status code=N",
                                   "not-json",
                                   "array",
                                   "huge bytes=N",
                                   "close-mid-body",
                                   "garbage",
                                   "reset",
                                   "delay ms=N",
                                   "SIGTERM",
                                   "curl"})
            QVERIFY2(text.contains(needle), needle);
    }

    void versionAndBadArguments()
    {
        QProcess version;
        version.start(program(), {QStringLiteral("--version")});
        QVERIFY(version.waitForFinished(10000));
        QCOMPARE(version.exitCode(), 0);
        QVERIFY(version.readAllStandardOutput().startsWith("m1620-sim "));

        for (const QStringList &arguments :
             {QStringList {QStringLiteral("--port"), QStringLiteral("70000")},
              QStringList {QStringLiteral("--bogus")},
              QStringList {QStringLiteral("--sync"), QStringLiteral("maybe")}}) {
            QProcess bad;
            bad.start(program(), arguments);
            QVERIFY(bad.waitForFinished(10000));
            QCOMPARE(bad.exitCode(), 2);
            QVERIFY(bad.readAllStandardOutput().isEmpty());
            QVERIFY(bad.readAllStandardError().startsWith("m1620-sim: "));
        }
    }
};

QTEST_GUILESS_MAIN(TestSimulatorProgram)
#include "tst_SimulatorProgram.moc"
