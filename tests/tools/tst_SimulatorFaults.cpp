#include "DeviceSimulator.h"
#include "RawClient.h"
#include "SimHttp.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>

// Every fault must really happen on the wire; the waits below only ever bound how fast
// something may happen (a slow machine makes them pass more easily, never fail).
class TestSimulatorFaults : public QObject
{
    Q_OBJECT

private:
    DeviceSimulator *sim = nullptr;
    SimHttp *http = nullptr;

    SimReply status(int timeoutMs = 10000)
    {
        return http->post(QStringLiteral("/api/v2/self"), SimHttp::statusQuery(), "application/json",
                          timeoutMs);
    }

    static bool isNormalAnswer(const QJsonObject &object)
    {
        return object["clock"].toObject()["sampling_rate"].toInteger() == 48000;
    }

private Q_SLOTS:
    void init()
    {
        sim = new DeviceSimulator;
        QVERIFY(sim->listen());
        http = new SimHttp(sim->port());
    }

    void cleanup()
    {
        delete http;
        delete sim;
    }

    void delayHoldsTheAnswerBack()
    {
        sim->setFault(SimFault::Mode::Delay, 1, 600);
        QElapsedTimer clock;
        clock.start();
        const SimReply reply = status();
        QVERIFY(clock.elapsed() >= 599);
        QCOMPARE(reply.status, 200);
        QVERIFY(isNormalAnswer(reply.object()));
        QVERIFY(!sim->fault().active());
    }

    void hangNeverAnswers()
    {
        sim->setFault(SimFault::Mode::Hang);
        RawClient client(sim->port());
        QVERIFY(client.connected());
        QVERIFY(client.sendRequest(SimHttp::statusQuery()));
        QTRY_COMPARE(sim->requestCount(), 1);
        QTest::qWait(1500);
        client.poll();
        QVERIFY(client.received().isEmpty());
        QVERIFY(!client.ended());
    }

    void hangHeadersStopsInsideTheHeaders()
    {
        sim->setFault(SimFault::Mode::HangHeaders);
        RawClient client(sim->port());
        QVERIFY(client.sendRequest(SimHttp::statusQuery()));
        QTRY_VERIFY(!client.poll().received().isEmpty());
        QTest::qWait(1000);
        client.poll();
        QVERIFY(client.received().startsWith("HTTP/1.1 200 OK\r\n"));
        QVERIFY(!client.received().contains("\r\n\r\n"));
        QVERIFY(!client.ended());
    }

    void trickleSendsOneBytePerSecond()
    {
        sim->setFault(SimFault::Mode::Trickle, 1);
        RawClient client(sim->port());
        QElapsedTimer clock;
        clock.start();
        QVERIFY(client.sendRequest(SimHttp::statusQuery()));
        QTRY_VERIFY_WITH_TIMEOUT(client.poll().received().size() >= 3, 20000);
        // The first byte goes at once, then one each second: three bytes take two seconds.
        QVERIFY(clock.elapsed() >= 1999);
        QTest::qWait(1000);
        client.poll();
        QVERIFY(client.received().size() <= clock.elapsed() / 1000 + 1);
        QVERIFY(QByteArray("HTTP/1.1 200 OK").startsWith(client.received()));
        QVERIFY(!client.ended());
    }

    void chosenStatusKeepsAValidBody_data()
    {
        QTest::addColumn<int>("code");
        QTest::newRow("500") << 500;
        QTest::newRow("404") << 404;
        QTest::newRow("302") << 302;
        QTest::newRow("299") << 299;
    }

    void chosenStatusKeepsAValidBody()
    {
        QFETCH(int, code);
        sim->setFault(SimFault::Mode::Status, 1, code);
        const SimReply reply = status();
        QCOMPARE(reply.status, code);
        QVERIFY(isNormalAnswer(reply.object()));
        QCOMPARE(status().status, 200);
    }

    void noContentStatusHasNoBody()
    {
        sim->setFault(SimFault::Mode::Status, 1, 204);
        const SimReply reply = status();
        QCOMPARE(reply.status, 204);
        QVERIFY(reply.body.isEmpty());
        // The stream stays intact for the next answer on the same connection.
        QVERIFY(isNormalAnswer(status().object()));
    }

    void emptyBody()
    {
        sim->setFault(SimFault::Mode::Empty, 1);
        const SimReply reply = status();
        QCOMPARE(reply.status, 200);
        QVERIFY(reply.finished);
        QVERIFY(reply.body.isEmpty());
    }

    void bodyThatIsNotJson()
    {
        sim->setFault(SimFault::Mode::NotJson, 1);
        const SimReply reply = status();
        QCOMPARE(reply.status, 200);
        QVERIFY(!reply.body.isEmpty());
        QJsonParseError error {};
        QJsonDocument::fromJson(reply.body, &error);
        QVERIFY(error.error != QJsonParseError::NoError);
    }

    void jsonArrayBody()
    {
        sim->setFault(SimFault::Mode::Array, 1);
        const SimReply reply = status();
        QCOMPARE(reply.status, 200);
        const QJsonDocument document = QJsonDocument::fromJson(reply.body);
        QVERIFY(document.isArray());
        QVERIFY(isNormalAnswer(document.array().first().toObject()));
    }

    void hugeBodyIsAValidObjectOfTheGivenSize()
    {
        sim->setFault(SimFault::Mode::Huge, 1, 5'000'000);
        const SimReply reply = status(60000);
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.body.size(), 5'000'000);
        QVERIFY(isNormalAnswer(reply.object()));
    }

    void closeMidBody()
    {
        sim->setFault(SimFault::Mode::CloseMidBody);
        RawClient client(sim->port());
        QVERIFY(client.sendRequest(SimHttp::statusQuery()));
        QTRY_VERIFY_WITH_TIMEOUT(client.poll().ended(), 10000);
        QVERIFY(client.eof());
        const QByteArray &bytes = client.received();
        const qsizetype headerEnd = bytes.indexOf("\r\n\r\n");
        QVERIFY(headerEnd > 0);
        const qsizetype lengthAt = bytes.indexOf("Content-Length: ") + 16;
        const qsizetype announced
            = bytes.mid(lengthAt, bytes.indexOf('\r', lengthAt) - lengthAt).toLongLong();
        const qsizetype got = bytes.size() - headerEnd - 4;
        QVERIFY(announced > 0);
        QVERIFY(got > 0);
        QVERIFY(got < announced);
        QCOMPARE(status(1500).error, QNetworkReply::RemoteHostClosedError);
    }

    void garbageIsNotHttp()
    {
        sim->setFault(SimFault::Mode::Garbage, 1);
        RawClient client(sim->port());
        QVERIFY(client.sendRequest(SimHttp::statusQuery()));
        QTRY_VERIFY_WITH_TIMEOUT(client.poll().ended(), 10000);
        QVERIFY(client.eof());
        QVERIFY(!client.received().isEmpty());
        QVERIFY(!client.received().startsWith("HTTP"));
    }

    void resetDropsTheConnectionHard()
    {
        sim->setFault(SimFault::Mode::Reset, 1);
        RawClient client(sim->port());
        QVERIFY(client.sendRequest(SimHttp::statusQuery()));
        QTRY_VERIFY_WITH_TIMEOUT(client.poll().ended(), 10000);
        QCOMPARE(client.error(), ECONNRESET);
        QVERIFY(client.received().isEmpty());
    }

    void faultEndsAfterItsCount()
    {
        QSignalSpy lines(sim, &DeviceSimulator::logLine);
        sim->setFault(SimFault::Mode::Status, 2, 500);
        QCOMPARE(status().status, 500);
        QCOMPARE(status().status, 500);
        QCOMPARE(status().status, 200);
        QVERIFY(!sim->fault().active());
        QStringList events;
        for (const QList<QVariant> &arguments : lines)
            events << arguments.first().toString().section(u' ', 1);
        QCOMPARE(events,
                 (QStringList {QStringLiteral("state fault=status code=500 count=2"),
                               QStringLiteral("request status"), QStringLiteral("fault status code=500"),
                               QStringLiteral("state fault=status code=500 count=1"),
                               QStringLiteral("request status"), QStringLiteral("fault status code=500"),
                               QStringLiteral("state fault=none"), QStringLiteral("request status")}));
    }

    void faultedSetRateStillChangesTheRate()
    {
        sim->setFault(SimFault::Mode::Status, 1, 500);
        QCOMPARE(http->post(QStringLiteral("/api/v2/self"), SimHttp::setRate(96000)).status, 500);
        QCOMPARE(sim->deviceRate(), 96000);
    }

    void errorAnswersAreFaultedToo()
    {
        sim->setFault(SimFault::Mode::Status, 1, 503);
        QCOMPARE(http->get(QStringLiteral("/api/v2/self")).status, 503);
        QCOMPARE(http->get(QStringLiteral("/api/v2/self")).status, 405);
    }
};

QTEST_GUILESS_MAIN(TestSimulatorFaults)
#include "tst_SimulatorFaults.moc"
