#include "DeviceSimulator.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <memory>

namespace {

const QByteArray statusQuery
    = R"({"clock":{"sampling_rate":null,"sources":{"madi_coaxial":{"rate":null,"sync":null}}}})";

QByteArray setRate(qint64 rate)
{
    return R"({"clock":{"sampling_rate":)" + QByteArray::number(rate) + "}}";
}

QByteArray request(const QByteArray &method, const QByteArray &target, const QByteArray &body = statusQuery)
{
    return method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
        + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QJsonObject parse(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

// One connection to the simulator, read as the bytes arrive: the fault modes show only on the wire.
struct Wire
{
    std::unique_ptr<QTcpSocket> socket = std::make_unique<QTcpSocket>();
    QByteArray bytes;
    bool closed = false;

    Wire(quint16 port, const QByteArray &out)
    {
        socket->connectToHost(QHostAddress::LocalHost, port);
        socket->write(out);
    }
    Wire &poll()
    {
        bytes += socket->readAll();
        closed = socket->state() == QAbstractSocket::UnconnectedState;
        return *this;
    }
    qsizetype headEnd() const { return bytes.indexOf("\r\n\r\n"); }
    QByteArray body() const { return headEnd() < 0 ? QByteArray() : bytes.mid(headEnd() + 4); }
    int status() const { return bytes.startsWith("HTTP/1.1 ") ? bytes.mid(9, 3).toInt() : 0; }
    qsizetype declaredLength() const
    {
        const qsizetype at = bytes.indexOf("Content-Length: ") + 16;
        return at < 16 ? -1 : bytes.mid(at, bytes.indexOf('\r', at) - at).toLongLong();
    }
    bool complete() const
    {
        return closed || (status() > 0 && headEnd() > 0 && body().size() >= declaredLength());
    }
    Wire &wait(int ms = 10000)
    {
        static_cast<void>(QTest::qWaitFor([this] { return poll().complete(); }, ms));
        return *this;
    }
};

} // namespace

// What a faulty simulator would break silently: the product's tests would pass wrongly.
class TestDeviceSimulator : public QObject
{
    Q_OBJECT

    std::unique_ptr<DeviceSimulator> sim;

    Wire exchange(const QByteArray &bytes) { return std::move(Wire(sim->port(), bytes).wait()); }
    QJsonObject ask(const QByteArray &body = statusQuery)
    {
        return parse(exchange(request("POST", "/api/v2/self", body)).body());
    }
    int control(const QByteArray &target) { return exchange(request("POST", target, {})).status(); }

private Q_SLOTS:
    void init()
    {
        sim = std::make_unique<DeviceSimulator>();
        QVERIFY(sim->listen());
    }

    void answersFollowStateAndRate()
    {
        QCOMPARE(
            ask(),
            parse(
                R"({"clock":{"sampling_rate":48000,"sources":{"madi_coaxial":{"rate":48000,"sync":true}}}})"));
        QCOMPARE(ask(R"({"x":1,"clock":{"sources":{"madi_coaxial":{"rate":null}}}})"),
                 parse(R"({"x":1,"clock":{"sources":{"madi_coaxial":{"rate":48000}}}})"));
        QCOMPARE(control("/sim/state?madi=96000&sync=false&report-device=false"), 200);
        QCOMPARE(ask(), parse(R"({"clock":{"sources":{"madi_coaxial":{"rate":96000,"sync":false}}}})"));
        QCOMPARE(ask(setRate(192000)), parse(setRate(192000)));
        QCOMPARE(sim->deviceRate(), 192000);
        QCOMPARE(control("/sim/state?follow-delay=200"), 200);
        QSignalSpy changed(sim.get(), &DeviceSimulator::deviceRateChanged);
        QCOMPARE(ask(setRate(44100)), parse(setRate(44100)));
        QCOMPARE(sim->deviceRate(), 192000);
        QVERIFY(changed.wait(5000));
        QCOMPARE(sim->deviceRate(), 44100);

        QCOMPARE(control("/sim/fault?mode=hang"), 200);
        const Wire reset = exchange(request("POST", "/sim/reset", {}));
        QCOMPARE(parse(reset.body()), parse(R"({"device_rate":48000,"madi_rate":48000,"madi_sync":true,
            "report":{"device_rate":true,"madi_rate":true,"madi_sync":true},"follow_delay_ms":0,
            "pending_rate":null,"fault":{"mode":"none"},"requests":0,"status_queries":0,"set_rates":[]})"));
    }

    void badRequestsChangeNothing_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        const auto row = [](const char *name, const QByteArray &bytes, int status) {
            QTest::newRow(name) << bytes << status;
        };
        row("unsupported rate", request("POST", "/api/v2/self", setRate(44000)), 400);
        row("unknown key", request("POST", "/sim/state?madi=96000&colour=red", {}), 400);
        row("reboot of 0 ms", request("POST", "/sim/fault?mode=reboot&ms=0", {}), 400);
        row("value for another mode", request("POST", "/sim/fault?mode=hang&ms=5", {}), 400);
        row("not HTTP", "hello device\r\n\r\n", 400);
    }

    void badRequestsChangeNothing()
    {
        QFETCH(QByteArray, bytes);
        const Wire reply = exchange(bytes);
        QTEST(reply.status(), "status");
        QVERIFY(!parse(reply.body())["error"].toString().isEmpty());
        QCOMPARE(sim->stateObject()["device_rate"].toInteger(), 48000);
        QCOMPARE(sim->madiRate(), 48000);
        QCOMPARE(sim->fault(), SimFault {});
        QCOMPARE(sim->requestCount(), bytes.startsWith("POST /sim/") ? 0 : 1); // answered once
    }

    void faultsOverHttpCountDown()
    {
        QSignalSpy lines(sim.get(), &DeviceSimulator::logLine);
        QCOMPARE(control("/sim/fault?mode=status&code=503&count=2"), 200);
        QCOMPARE(exchange(request("POST", "/api/v2/self", setRate(96000))).status(), 503); // carried out
        QCOMPARE(exchange(request("GET", "/api/v2/self", {})).status(), 503); // error answers too
        QCOMPARE(ask()["clock"].toObject()["sampling_rate"].toInteger(), 96000);
        QStringList events;
        for (const QList<QVariant> &arguments : lines)
            events << arguments.first().toString().section(u' ', 1);
        QCOMPARE(events,
                 (QStringList {"control POST /sim/fault?mode=status&code=503&count=2",
                               "state fault=status code=503 count=2", "request set-rate 96000",
                               "state device=96000", "fault status code=503",
                               "state fault=status code=503 count=1", "request bad-method GET /api/v2/self",
                               "fault status code=503", "state fault=none", "request status"}));
        QVERIFY(QRegularExpression(QStringLiteral(R"(^\d+\.\d{6} )"))
                    .match(lines.first().first().toString())
                    .hasMatch());
    }

    void faultsMisbehaveOnTheWire()
    {
        using Mode = SimFault::Mode;
        const QByteArray query = request("POST", "/api/v2/self");
        const auto faulted = [&](Mode mode, qint64 value = 0, int requests = 1) {
            sim->setFault(mode, 1, value);
            return std::move(Wire(sim->port(), query.repeated(requests)).wait());
        };
        const Wire error = faulted(Mode::Status, 500);
        QVERIFY(error.status() == 500 && parse(error.body())["clock"].isObject());
        Wire noContent = faulted(Mode::Status, 204, 2); // no body: the next answer follows the head
        QTRY_VERIFY(noContent.poll().body().startsWith("HTTP/1.1 200 OK\r\n"));
        QVERIFY(faulted(Mode::Empty).body().isEmpty());
        const QByteArray notJson = faulted(Mode::NotJson).body();
        QVERIFY(!notJson.isEmpty() && QJsonDocument::fromJson(notJson).isNull());
        QVERIFY(QJsonDocument::fromJson(faulted(Mode::Array).body()).isArray());
        Wire huge = faulted(Mode::Huge, 2'000'000);
        QCOMPARE(huge.wait(60000).declaredLength(), 2'000'000);
        QCOMPARE(parse(huge.body().first(2'000'000))["clock"].toObject()["sampling_rate"].toInteger(), 48000);
        const Wire half = faulted(Mode::CloseMidBody);
        QVERIFY(half.closed && half.body().size() > 0 && half.body().size() < half.declaredLength());
        const Wire garbage = faulted(Mode::Garbage);
        QVERIFY(garbage.closed && !garbage.bytes.isEmpty() && !garbage.bytes.startsWith("HTTP"));
        const Wire reset = faulted(Mode::Reset);
        QVERIFY(reset.closed && reset.bytes.isEmpty());

        // The slow ones side by side: a delay, a silence, a cut-off head and a trickle.
        QElapsedTimer clock;
        clock.start();
        std::vector<std::unique_ptr<Wire>> slow;
        for (const Mode mode : {Mode::Delay, Mode::Hang, Mode::HangHeaders, Mode::Trickle}) {
            sim->setFault(mode, 1, 300);
            slow.push_back(std::make_unique<Wire>(sim->port(), query));
            QTRY_VERIFY(!sim->fault().active());
        }
        QVERIFY(slow[0]->wait().complete() && clock.elapsed() >= 299);
        QVERIFY(parse(slow[0]->body())["clock"].isObject());
        QTRY_VERIFY_WITH_TIMEOUT(slow[3]->poll().bytes.size() >= 2, 5000); // one byte at once, one a second
        QVERIFY(clock.elapsed() >= 990 && QByteArray("HTTP/1.1 200 OK").startsWith(slow[3]->bytes));
        QVERIFY(slow[1]->poll().bytes.isEmpty() && !slow[1]->closed);
        QVERIFY(slow[2]->poll().bytes.startsWith("HTTP/1.1 200 OK\r\n") && slow[2]->headEnd() < 0
                && !slow[2]->closed);
    }

    void rebootLosesTheSetRate()
    {
        QSignalSpy lines(sim.get(), &DeviceSimulator::logLine);
        sim->setFault(SimFault::Mode::Reboot, 1, 300);
        QCOMPARE(ask()["clock"].toObject()["sampling_rate"].toInteger(),
                 48000); // only a set-rate sets it off
        const Wire dropped = exchange(request("POST", "/api/v2/self", setRate(96000)));
        QVERIFY(dropped.closed && dropped.bytes.isEmpty());
        QVERIFY(sim->isRebooting());
        QVERIFY(exchange(request("POST", "/api/v2/self")).bytes.isEmpty());
        QTRY_VERIFY(!sim->isRebooting());
        QVERIFY(lines.last().first().toString().endsWith(QStringLiteral(" state up")));
        QCOMPARE(ask()["clock"].toObject()["sampling_rate"].toInteger(), 48000);
        QCOMPARE(sim->setRateRequests(), QList<qint64> {96000});
        QVERIFY(!sim->fault().active());
    }
};

QTEST_GUILESS_MAIN(TestDeviceSimulator)
#include "tst_DeviceSimulator.moc"
