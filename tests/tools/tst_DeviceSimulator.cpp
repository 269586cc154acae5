#include "DeviceSimulator.h"
#include "RawClient.h"
#include "SimHttp.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <ctime>
#include <memory>

namespace {

QJsonObject parse(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

qint64 rateIn(const QJsonObject &answer)
{
    return answer["clock"].toObject()["sampling_rate"].toInteger(-1);
}

} // namespace

// The device API and the control API under /sim/, over real HTTP on loopback.
class TestDeviceSimulator : public QObject
{
    Q_OBJECT

    std::unique_ptr<DeviceSimulator> sim;
    std::unique_ptr<SimHttp> http;

    SimReply device(const QByteArray &body) { return http->post(QStringLiteral("/api/v2/self"), body); }
    SimReply control(const QString &target, const QByteArray &form = {})
    {
        return http->post(target, form, "application/x-www-form-urlencoded");
    }

private Q_SLOTS:
    void init()
    {
        sim = std::make_unique<DeviceSimulator>();
        QVERIFY(sim->listen());
        http = std::make_unique<SimHttp>(sim->port());
    }

    void cleanup()
    {
        http.reset();
        sim.reset();
    }

    void queryFillsInWhatIsAsked_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("statusQueries");
        QTest::newRow("status")
            << SimHttp::statusQuery()
            << QByteArray(
                   R"({"clock":{"sampling_rate":48000,"sources":{"madi_coaxial":{"rate":48000,"sync":true}}}})")
            << 1;
        QTest::newRow("device rate") << QByteArray(R"({"clock":{"sampling_rate":null}})")
                                     << QByteArray(R"({"clock":{"sampling_rate":48000}})") << 1;
        QTest::newRow("madi rate, other members echoed")
            << QByteArray(R"({"x":1,"clock":{"y":"z","sources":{"madi_coaxial":{"rate":null}}}})")
            << QByteArray(R"({"x":1,"clock":{"y":"z","sources":{"madi_coaxial":{"rate":48000}}}})") << 1;
        QTest::newRow("nothing known asked: echoed")
            << QByteArray(R"({"network":{"ip":null}})") << QByteArray(R"({"network":{"ip":null}})") << 0;
    }

    void queryFillsInWhatIsAsked()
    {
        QFETCH(QByteArray, query);
        QFETCH(QByteArray, answer);
        QSignalSpy received(sim.get(), &DeviceSimulator::requestReceived);
        const SimReply reply = device(query);
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.contentType, QByteArray("application/json"));
        QCOMPARE(reply.object(), parse(answer));
        QTEST(sim->statusQueryCount(), "statusQueries");
        QCOMPARE(sim->requestCount(), 1);
        QCOMPARE(received.count(), 1);
        QCOMPARE(received.first().first().toJsonObject(), parse(query));
    }

    // State set over /sim/state, as a query or as a form body (curl -d), shows in the answers.
    void answersFollowTheState()
    {
        QCOMPARE(control(QStringLiteral("/sim/state?madi=96000&sync=false&device=44100")).status, 200);
        QCOMPARE(sim->madiRate(), 96000);
        QCOMPARE(
            device(SimHttp::statusQuery()).object(),
            parse(
                R"({"clock":{"sampling_rate":44100,"sources":{"madi_coaxial":{"rate":96000,"sync":false}}}})"));
        QCOMPARE(control(QStringLiteral("/sim/state"), "report-device=false&report-sync=off").status, 200);
        QCOMPARE(device(SimHttp::statusQuery()).object(),
                 parse(R"({"clock":{"sources":{"madi_coaxial":{"rate":96000}}}})"));
        QCOMPARE(control(QStringLiteral("/sim/state?report-device=true&report-madi=0")).status, 200);
        QCOMPARE(device(SimHttp::statusQuery()).object(),
                 parse(R"({"clock":{"sampling_rate":44100,"sources":{"madi_coaxial":{}}}})"));
    }

    void setRateChangesTheRate()
    {
        QSignalSpy changed(sim.get(), &DeviceSimulator::deviceRateChanged);
        const QList<qint64> rates {44100, 48000, 88200, 96000, 176400, 192000};
        for (qint64 rate : rates) {
            const SimReply reply = device(SimHttp::setRate(rate));
            QCOMPARE(reply.status, 200);
            QCOMPARE(reply.object(), parse(SimHttp::setRate(rate)));
            QCOMPARE(rateIn(device(SimHttp::statusQuery()).object()), rate);
        }
        QCOMPARE(changed.count(), 6);
        QCOMPARE(sim->setRateRequests(), rates);
        QCOMPARE(sim->statusQueryCount(), 6);
    }

    void badRequestsChangeNothing_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("setRates"); // recorded, rejected ones too
        const auto row = [](const char *name, const char *method, const char *path, const QByteArray &body,
                            int status, int setRates = 0) {
            QTest::newRow(name) << QByteArray(method) << QString::fromUtf8(path) << body << status
                                << setRates;
        };
        const char *self = "/api/v2/self";
        row("unsupported rate", "POST", self, SimHttp::setRate(44000), 400, 1);
        row("negative rate", "POST", self, SimHttp::setRate(-96000), 400, 1);
        row("rate as text", "POST", self, R"({"clock":{"sampling_rate":"96000"}})", 400);
        row("fractional rate", "POST", self, R"({"clock":{"sampling_rate":96000.5}})", 400);
        row("madi is read-only", "POST", self, R"({"clock":{"sources":{"madi_coaxial":{"rate":96000}}}})",
            400);
        row("broken JSON", "POST", self, "{\"clock\":", 400);
        row("empty body", "POST", self, "", 400);
        row("array", "POST", self, "[1,2]", 400);
        row("other path", "POST", "/api/v2/other", SimHttp::statusQuery(), 404);
        row("GET", "GET", self, "", 405);
        row("bad bool", "POST", "/sim/state?madi=96000&sync=maybe", "", 400);
        row("unknown key", "POST", "/sim/state?madi=96000&colour=red", "", 400);
        row("unknown mode", "POST", "/sim/fault?mode=explode", "", 400);
        row("status needs code", "POST", "/sim/fault?mode=status", "", 400);
        row("code out of range", "POST", "/sim/fault?mode=status&code=99", "", 400);
        row("count zero", "POST", "/sim/fault?mode=hang&count=0", "", 400);
        row("value for another mode", "POST", "/sim/fault?mode=hang&ms=5", "", 400);
        row("unknown control path", "GET", "/sim/nothing", "", 404);
        row("GET a fault", "GET", "/sim/fault", "", 405);
        row("DELETE the state", "DELETE", "/sim/state", "", 405);
    }

    void badRequestsChangeNothing()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        const SimReply reply = method == "POST" ? http->post(path, body) : http->send(method, path);
        QTEST(reply.status, "status");
        QVERIFY(!reply.object()["error"].toString().isEmpty());
        QCOMPARE(sim->stateObject()["device_rate"].toInteger(), 48000);
        QCOMPARE(sim->madiRate(), 48000);
        QCOMPARE(sim->fault(), SimFault {});
        QTEST(int(sim->setRateRequests().size()), "setRates");
    }

    void followDelayPostponesTheNewRate()
    {
        QCOMPARE(control(QStringLiteral("/sim/state?follow-delay=400")).status, 200);
        QSignalSpy changed(sim.get(), &DeviceSimulator::deviceRateChanged);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(device(SimHttp::setRate(96000)).object(), parse(SimHttp::setRate(96000)));
        QCOMPARE(http->send("GET", QStringLiteral("/sim/state")).object()["pending_rate"].toInteger(), 96000);
        QCOMPARE(rateIn(device(SimHttp::statusQuery()).object()), 48000);
        QVERIFY(changed.wait(10000));
        QVERIFY(clock.elapsed() >= 399);
        QCOMPARE(sim->deviceRate(), 96000);
        QVERIFY(sim->stateObject()["pending_rate"].isNull());

        // Setting the rate directly cancels a change still waiting.
        QCOMPARE(device(SimHttp::setRate(192000)).status, 200);
        sim->setDeviceRate(44100);
        QTest::qWait(600);
        QCOMPARE(sim->deviceRate(), 44100);
    }

    void faultsResetAndCountersOverHttp()
    {
        QSignalSpy faultChanged(sim.get(), &DeviceSimulator::faultChanged);
        SimReply reply = control(QStringLiteral("/sim/fault?mode=status&code=503&count=2"));
        QCOMPARE(reply.object()["fault"].toObject(), parse(R"({"mode":"status","code":503,"count":2})"));
        QCOMPARE(device(SimHttp::setRate(96000)).status, 503); // carried out all the same
        QCOMPARE(sim->deviceRate(), 96000);
        // Control requests are never faulted nor counted.
        const SimReply state = http->send("GET", QStringLiteral("/sim/state"));
        QCOMPARE(state.status, 200);
        QCOMPARE(state.object()["requests"].toInt(), 1);
        QCOMPARE(state.object()["set_rates"].toArray(), QJsonArray {96000});
        QCOMPARE(state.object()["fault"].toObject()["count"].toInt(), 1);
        QCOMPARE(control(QStringLiteral("/sim/fault?mode=none")).status, 200);
        QCOMPARE(device(SimHttp::statusQuery()).status, 200);
        QCOMPARE(faultChanged.count(), 3);

        QCOMPARE(control(QStringLiteral("/sim/state?madi=96000&report-madi=false&follow-delay=50")).status,
                 200);
        QCOMPARE(control(QStringLiteral("/sim/fault?mode=hang")).status, 200);
        reply = control(QStringLiteral("/sim/reset"));
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.object(), parse(R"({"device_rate":48000,"madi_rate":48000,"madi_sync":true,
            "report":{"device_rate":true,"madi_rate":true,"madi_sync":true},"follow_delay_ms":0,
            "pending_rate":null,"fault":{"mode":"none"},"requests":0,"status_queries":0,"set_rates":[]})"));
    }

    void bytesThatAreNotHttpAreAnswered()
    {
        RawClient client(sim->port());
        QVERIFY(client.send("hello device\r\n\r\n"));
        QTRY_VERIFY_WITH_TIMEOUT(client.poll().ended(), 10000);
        QVERIFY(client.received().startsWith("HTTP/1.1 400 Bad Request\r\n"));
        QCOMPARE(sim->requestCount(), 1);
    }

    // One line per event, CLOCK_MONOTONIC first, so benchmarks can time how fast the device
    // was followed; state lines only on a real change.
    void logLinesCarryMonotonicTimestamps()
    {
        QSignalSpy lines(sim.get(), &DeviceSimulator::logLine);
        const auto monotonicNow = [] {
            timespec now {};
            clock_gettime(CLOCK_MONOTONIC, &now);
            return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
        };
        const double before = monotonicNow();
        device(SimHttp::statusQuery());
        device(SimHttp::setRate(96000));
        device(SimHttp::setRate(12345));
        control(QStringLiteral("/sim/state?madi=48000&sync=true")); // no change
        control(QStringLiteral("/sim/fault?mode=trickle&count=3"));
        sim->setMadiRate(88200);
        RawClient raw(sim->port());
        QVERIFY(raw.send("hello\r\n\r\n"));
        QTRY_COMPARE(lines.count(), 9);
        const double after = monotonicNow();

        QStringList events;
        const QRegularExpression shape(QStringLiteral(R"(^(\d+\.\d{6}) (.+)$)"));
        double previous = before - 1e-6;
        for (const QList<QVariant> &arguments : lines) {
            const auto match = shape.match(arguments.first().toString());
            QVERIFY2(match.hasMatch(), qPrintable(arguments.first().toString()));
            const double stamp = match.captured(1).toDouble();
            QVERIFY(stamp >= previous && stamp <= after + 1e-6);
            previous = stamp;
            events << match.captured(2);
        }
        QCOMPARE(
            events,
            (QStringList {"request status", "request set-rate 96000", "state device=96000",
                          "request set-rate 12345 rejected", "control POST /sim/state?madi=48000&sync=true",
                          "control POST /sim/fault?mode=trickle&count=3", "state fault=trickle count=3",
                          "state madi=88200", "request bad-http 400"}));
    }
};

QTEST_GUILESS_MAIN(TestDeviceSimulator)
#include "tst_DeviceSimulator.moc"
