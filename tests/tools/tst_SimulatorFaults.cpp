#include "DeviceSimulator.h"
#include "RawClient.h"
#include "SimHttp.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>

#include <memory>

// Every fault must really happen on the wire. The waits only ever bound how fast something
// may happen: a slow machine makes them pass more easily, never fail.
class TestSimulatorFaults : public QObject
{
    Q_OBJECT

    std::unique_ptr<DeviceSimulator> sim;
    std::unique_ptr<SimHttp> http;

    SimReply status(int timeoutMs = 10000)
    {
        return http->post(QStringLiteral("/api/v2/self"), SimHttp::statusQuery(), "application/json",
                          timeoutMs);
    }

    static bool isNormalAnswer(const QJsonObject &object)
    {
        return object["clock"].toObject()["sampling_rate"].toInteger() == 48000;
    }

    // A status query on a bare connection, read until the simulator ends it.
    std::unique_ptr<RawClient> rawStatus()
    {
        auto client = std::make_unique<RawClient>(sim->port());
        if (client->sendRequest(SimHttp::statusQuery()))
            static_cast<void>(
                QTest::qWaitFor([&] { return client->poll().ended(); }, 10000)); // callers check
        return client;
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

    void delayHoldsTheAnswerBack()
    {
        sim->setFault(SimFault::Mode::Delay, 1, 600);
        QElapsedTimer clock;
        clock.start();
        const SimReply reply = status();
        QVERIFY(clock.elapsed() >= 599);
        QVERIFY(isNormalAnswer(reply.object()));
        QVERIFY(!sim->fault().active());
    }

    void hangsSendNothingMoreAndKeepTheConnection()
    {
        sim->setFault(SimFault::Mode::Hang, 1);
        RawClient silent(sim->port());
        QVERIFY(silent.sendRequest(SimHttp::statusQuery()));
        QTRY_COMPARE(sim->requestCount(), 1);
        sim->setFault(SimFault::Mode::HangHeaders, 1);
        RawClient headers(sim->port());
        QVERIFY(headers.sendRequest(SimHttp::statusQuery()));
        QTRY_VERIFY(!headers.poll().received().isEmpty());
        QTest::qWait(1000);
        QVERIFY(silent.poll().received().isEmpty() && !silent.ended());
        QVERIFY(headers.poll().received().startsWith("HTTP/1.1 200 OK\r\n"));
        QVERIFY(!headers.received().contains("\r\n\r\n") && !headers.ended());
    }

    void trickleSendsOneBytePerSecond()
    {
        sim->setFault(SimFault::Mode::Trickle, 1);
        QElapsedTimer clock;
        clock.start();
        RawClient client(sim->port());
        QVERIFY(client.sendRequest(SimHttp::statusQuery()));
        QTRY_VERIFY_WITH_TIMEOUT(client.poll().received().size() >= 3, 20000);
        QVERIFY(clock.elapsed() >= 1999); // the first byte at once, then one a second
        QTest::qWait(1000);
        QVERIFY(client.poll().received().size() <= clock.elapsed() / 1000 + 1);
        QVERIFY(QByteArray("HTTP/1.1 200 OK").startsWith(client.received()));
        QVERIFY(!client.ended());
    }

    void statusKeepsAValidBody()
    {
        for (int code : {500, 302}) {
            sim->setFault(SimFault::Mode::Status, 1, code);
            const SimReply reply = status();
            QCOMPARE(reply.status, code);
            QVERIFY(isNormalAnswer(reply.object()));
        }
        // 204 carries no body by definition: the next answer on the connection follows its headers.
        sim->setFault(SimFault::Mode::Status, 1, 204);
        RawClient client(sim->port());
        QVERIFY(client.sendRequest(SimHttp::statusQuery()) && client.sendRequest(SimHttp::statusQuery()));
        QTRY_COMPARE(client.poll().received().count("HTTP/1.1 "), 2);
        const QByteArray &bytes = client.received();
        QVERIFY(bytes.startsWith("HTTP/1.1 204 "));
        QVERIFY(bytes.mid(bytes.indexOf("\r\n\r\n") + 4).startsWith("HTTP/1.1 200 OK\r\n"));
    }

    void bodyFaults()
    {
        sim->setFault(SimFault::Mode::Empty, 1);
        SimReply reply = status();
        QVERIFY(reply.finished && reply.status == 200 && reply.body.isEmpty());

        sim->setFault(SimFault::Mode::NotJson, 1);
        reply = status();
        QJsonParseError error {};
        QJsonDocument::fromJson(reply.body, &error);
        QVERIFY(reply.status == 200 && !reply.body.isEmpty() && error.error != QJsonParseError::NoError);

        sim->setFault(SimFault::Mode::Array, 1);
        const QJsonDocument array = QJsonDocument::fromJson(status().body);
        QVERIFY(array.isArray() && isNormalAnswer(array.array().first().toObject()));

        sim->setFault(SimFault::Mode::Huge, 1, 5'000'000);
        reply = status(60000);
        QCOMPARE(reply.body.size(), 5'000'000);
        QVERIFY(isNormalAnswer(reply.object()));
    }

    void connectionFaults()
    {
        sim->setFault(SimFault::Mode::CloseMidBody, 1);
        auto half = rawStatus();
        QVERIFY(half->eof());
        const QByteArray &bytes = half->received();
        const qsizetype headerEnd = bytes.indexOf("\r\n\r\n");
        const qsizetype lengthAt = bytes.indexOf("Content-Length: ") + 16;
        const qsizetype announced
            = bytes.mid(lengthAt, bytes.indexOf('\r', lengthAt) - lengthAt).toLongLong();
        const qsizetype got = bytes.size() - headerEnd - 4;
        QVERIFY(headerEnd > 0 && got > 0 && got < announced);

        sim->setFault(SimFault::Mode::Garbage, 1);
        auto garbage = rawStatus();
        QVERIFY(garbage->eof() && !garbage->received().isEmpty() && !garbage->received().startsWith("HTTP"));

        sim->setFault(SimFault::Mode::Reset, 1);
        auto reset = rawStatus();
        QCOMPARE(reset->error(), ECONNRESET);
        QVERIFY(reset->received().isEmpty());
    }

    void rebootLosesTheSetRateAndAnswersNothingForAWhile()
    {
        sim->setFault(SimFault::Mode::Reboot, 1, 400);
        QVERIFY(isNormalAnswer(status().object())); // only a set-rate sets it off
        QVERIFY(sim->fault().active());

        RawClient setRate(sim->port());
        QVERIFY(setRate.sendRequest(SimHttp::setRate(96000)));
        QVERIFY(QTest::qWaitFor([&] { return setRate.poll().ended(); }, 10000));
        QCOMPARE(setRate.error(), ECONNRESET);
        QVERIFY(sim->isRebooting());

        auto duringReboot = rawStatus();
        QCOMPARE(duringReboot->error(), ECONNRESET);
        QVERIFY(QTest::qWaitFor([&] { return !sim->isRebooting(); }, 10000));
        const SimReply after = status();
        QCOMPARE(after.status, 200);
        QVERIFY(isNormalAnswer(after.object())); // the rate was never applied
        QCOMPARE(sim->setRateRequests(), QList<qint64> {96000});
        QVERIFY(!sim->fault().active());
    }

    void faultEndsAfterItsCount()
    {
        QSignalSpy lines(sim.get(), &DeviceSimulator::logLine);
        sim->setFault(SimFault::Mode::Status, 2, 500);
        QCOMPARE(status().status, 500);
        QCOMPARE(http->send("GET", QStringLiteral("/api/v2/self")).status, 500); // error answers too
        QCOMPARE(status().status, 200);
        QVERIFY(!sim->fault().active());
        QStringList events;
        for (const QList<QVariant> &arguments : lines)
            events << arguments.first().toString().section(u' ', 1);
        QCOMPARE(
            events,
            (QStringList {"state fault=status code=500 count=2", "request status", "fault status code=500",
                          "state fault=status code=500 count=1", "request bad-method GET /api/v2/self",
                          "fault status code=500", "state fault=none", "request status"}));
    }
};

QTEST_GUILESS_MAIN(TestSimulatorFaults)
#include "tst_SimulatorFaults.moc"
