#include "DeviceSimulator.h"

#include <QElapsedTimer>
#include <QJsonDocument>
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
        const auto row = [](const char *name, const QByteArray &bytes) { QTest::newRow(name) << bytes; };
        row("unsupported rate", request("POST", "/api/v2/self", setRate(44000)));
        row("unknown key", request("POST", "/sim/state?madi=96000&colour=red", {}));
        row("reboot of 0 ms", request("POST", "/sim/fault?mode=reboot&ms=0", {}));
        row("value for another mode", request("POST", "/sim/fault?mode=hang&ms=5", {}));
        row("not HTTP", "hello device\r\n\r\n");
    }

    void badRequestsChangeNothing()
    {
        QFETCH(QByteArray, bytes);
        const Wire reply = exchange(bytes);
        QCOMPARE(reply.status(), 400);
        QVERIFY(!parse(reply.body())["error"].toString().isEmpty());
        QCOMPARE(sim->stateObject()["device_rate"].toInteger(), 48000);
        QCOMPARE(sim->madiRate(), 48000);
        QCOMPARE(sim->fault(), SimFault {});
        QCOMPARE(sim->requestCount(), bytes.startsWith("POST /sim/") ? 0 : 1); // answered once
    }

    // The modes the product's tests use, and one that must close the connection.
    void faultsMisbehaveOnTheWire()
    {
        using Mode = SimFault::Mode;
        const QByteArray query = request("POST", "/api/v2/self");
        const auto faulted = [&](Mode mode, qint64 value = 0) {
            sim->setFault(mode, 1, value);
            return std::move(Wire(sim->port(), query).wait());
        };
        QCOMPARE(control("/sim/fault?mode=status&code=503&count=2"), 200);
        QSignalSpy lines(sim.get(), &DeviceSimulator::logLine);
        const Wire error = exchange(request("POST", "/api/v2/self", setRate(96000)));
        // Set before the answer goes: a poll right after the set sees the new rate.
        QVERIFY(lines.at(1).first().toString().endsWith(QStringLiteral(" state device=96000")));
        QVERIFY(error.status() == 503 && parse(error.body())["clock"].isObject());
        QCOMPARE(exchange(request("GET", "/api/v2/self", {})).status(), 503); // error answers too
        QCOMPARE(ask()["clock"].toObject()["sampling_rate"].toInteger(), 96000);
        const Wire garbage = faulted(Mode::Garbage);
        QVERIFY(garbage.closed && !garbage.bytes.isEmpty() && !garbage.bytes.startsWith("HTTP"));
        // The soak benchmark's faults: each must really misbehave, or the soak proves nothing.
        const Wire empty = faulted(Mode::Empty), notJson = faulted(Mode::NotJson),
                   array = faulted(Mode::Array), huge = faulted(Mode::Huge, 4096),
                   cut = faulted(Mode::CloseMidBody), reset = faulted(Mode::Reset);
        QVERIFY(empty.status() == 200 && empty.body().isEmpty());
        QVERIFY(notJson.status() == 200 && !notJson.body().isEmpty()
                && QJsonDocument::fromJson(notJson.body()).isNull());
        QVERIFY(array.status() == 200 && QJsonDocument::fromJson(array.body()).isArray());
        QVERIFY(huge.body().size() >= 4096 && parse(huge.body()).size() > 0);
        QVERIFY(cut.closed && cut.status() == 200 && cut.body().size() < cut.declaredLength());
        QVERIFY(reset.closed && reset.bytes.isEmpty());
        for (const Mode mode : {Mode::Hang, Mode::HangHeaders}) {
            sim->setFault(mode, 1, 0);
            Wire stuck(sim->port(), query);
            QTest::qWait(300);
            QVERIFY(!stuck.poll().closed && stuck.headEnd() < 0
                    && stuck.bytes.isEmpty() == (mode == Mode::Hang));
        }
        // The UI's tests rely on the delay: the answer comes, but late.
        QElapsedTimer clock;
        clock.start();
        const Wire late = faulted(Mode::Delay, 300);
        QVERIFY(clock.elapsed() >= 299 && parse(late.body())["clock"].isObject());
        // A restart drops the set-rate that sets it off, and the rate with it.
        sim->setFault(Mode::Reboot, 1, 1);
        QVERIFY(exchange(request("POST", "/api/v2/self", setRate(44100))).bytes.isEmpty());
        QTRY_VERIFY(lines.last().first().toString().endsWith(QStringLiteral(" state up")));
        QCOMPARE(ask()["clock"].toObject()["sampling_rate"].toInteger(), 96000);
    }
};

QTEST_GUILESS_MAIN(TestDeviceSimulator)
#include "tst_DeviceSimulator.moc"
