#include "DeviceSimulator.h"
#include "RawClient.h"
#include "SimHttp.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <ctime>

namespace {
QJsonObject parse(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

double monotonicNow()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}
} // namespace

class TestDeviceSimulator : public QObject
{
    Q_OBJECT

private:
    DeviceSimulator *sim = nullptr;
    SimHttp *http = nullptr;

    SimReply device(const QByteArray &body) { return http->post(QStringLiteral("/api/v2/self"), body); }

private Q_SLOTS:
    void init()
    {
        sim = new DeviceSimulator;
        QVERIFY(sim->listen());
        QVERIFY(sim->port() != 0);
        http = new SimHttp(sim->port());
    }

    void cleanup()
    {
        delete http;
        delete sim;
    }

    void statusAnswerHasAllThreeMembers()
    {
        QSignalSpy received(sim, &DeviceSimulator::requestReceived);
        const SimReply reply = device(SimHttp::statusQuery());
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.contentType, QByteArray("application/json"));
        QCOMPARE(
            reply.object(),
            parse(
                R"({"clock":{"sampling_rate":48000,"sources":{"madi_coaxial":{"rate":48000,"sync":true}}}})"));
        QCOMPARE(sim->statusQueryCount(), 1);
        QCOMPARE(sim->requestCount(), 1);
        QVERIFY(sim->setRateRequests().isEmpty());
        QCOMPARE(received.count(), 1);
        QCOMPARE(received.first().first().toJsonObject(), parse(SimHttp::statusQuery()));
    }

    void answerFollowsState()
    {
        sim->setDeviceRate(44100);
        sim->setMadiRate(96000);
        sim->setMadiSync(false);
        QCOMPARE(
            device(SimHttp::statusQuery()).object(),
            parse(
                R"({"clock":{"sampling_rate":44100,"sources":{"madi_coaxial":{"rate":96000,"sync":false}}}})"));
    }

    void partialQueryFillsOnlyWhatIsAsked_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("device rate") << QByteArray(R"({"clock":{"sampling_rate":null}})")
                                     << QByteArray(R"({"clock":{"sampling_rate":48000}})");
        QTest::newRow("sync") << QByteArray(R"({"clock":{"sources":{"madi_coaxial":{"sync":null}}}})")
                              << QByteArray(R"({"clock":{"sources":{"madi_coaxial":{"sync":true}}}})");
        QTest::newRow("madi rate, other members echoed")
            << QByteArray(R"({"x":1,"clock":{"y":"z","sources":{"madi_coaxial":{"rate":null}}}})")
            << QByteArray(R"({"x":1,"clock":{"y":"z","sources":{"madi_coaxial":{"rate":48000}}}})");
    }

    void partialQueryFillsOnlyWhatIsAsked()
    {
        QFETCH(QByteArray, query);
        QFETCH(QByteArray, answer);
        const SimReply reply = device(query);
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.object(), parse(answer));
        QCOMPARE(sim->statusQueryCount(), 1);
    }

    void objectAskingNothingIsEchoed()
    {
        const SimReply reply = device(R"({"network":{"ip":null}})");
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.object(), parse(R"({"network":{"ip":null}})"));
        QCOMPARE(sim->statusQueryCount(), 0);
        QCOMPARE(sim->requestCount(), 1);
    }

    void setRateChangesRate_data()
    {
        QTest::addColumn<qint64>("rate");
        for (qint64 rate : DeviceSimulator::supportedRates)
            QTest::newRow(QByteArray::number(rate)) << rate;
    }

    void setRateChangesRate()
    {
        QFETCH(qint64, rate);
        QSignalSpy changed(sim, &DeviceSimulator::deviceRateChanged);
        const SimReply reply = device(SimHttp::setRate(rate));
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.object(), parse(SimHttp::setRate(rate)));
        QCOMPARE(sim->deviceRate(), rate);
        QCOMPARE(changed.count(), rate == DeviceSimulator::startRate ? 0 : 1);
        QCOMPARE(sim->setRateRequests(), QList<qint64> {rate});
        QCOMPARE(sim->statusQueryCount(), 0);
        QCOMPARE(device(SimHttp::statusQuery()).object()["clock"].toObject()["sampling_rate"].toInteger(),
                 rate);
    }

    void badSetRateIsRejected_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("recorded");
        QTest::newRow("unsupported") << SimHttp::setRate(44000) << true;
        QTest::newRow("zero") << SimHttp::setRate(0) << true;
        QTest::newRow("negative") << SimHttp::setRate(-96000) << true;
        QTest::newRow("string") << QByteArray(R"({"clock":{"sampling_rate":"96000"}})") << false;
        QTest::newRow("fraction") << QByteArray(R"({"clock":{"sampling_rate":96000.5}})") << false;
        QTest::newRow("madi is read-only")
            << QByteArray(R"({"clock":{"sources":{"madi_coaxial":{"rate":96000}}}})") << false;
    }

    void badSetRateIsRejected()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, recorded);
        const SimReply reply = device(body);
        QCOMPARE(reply.status, 400);
        QVERIFY(reply.object().value("error").isString());
        QCOMPARE(sim->deviceRate(), DeviceSimulator::startRate);
        QCOMPARE(sim->madiRate(), DeviceSimulator::startRate);
        QCOMPARE(sim->setRateRequests().size(), recorded ? 1 : 0);
    }

    void unreportedMembersAreLeftOut()
    {
        sim->setReported(DeviceSimulator::Member::MadiRate, false);
        QCOMPARE(device(SimHttp::statusQuery()).object(),
                 parse(R"({"clock":{"sampling_rate":48000,"sources":{"madi_coaxial":{"sync":true}}}})"));
        sim->setReported(DeviceSimulator::Member::DeviceRate, false);
        sim->setReported(DeviceSimulator::Member::MadiSync, false);
        QCOMPARE(device(SimHttp::statusQuery()).object(),
                 parse(R"({"clock":{"sources":{"madi_coaxial":{}}}})"));
        sim->setReported(DeviceSimulator::Member::MadiSync, true);
        QCOMPARE(device(SimHttp::statusQuery()).object(),
                 parse(R"({"clock":{"sources":{"madi_coaxial":{"sync":true}}}})"));
    }

    void followDelayPostponesTheNewRate()
    {
        sim->setFollowDelay(400);
        QSignalSpy changed(sim, &DeviceSimulator::deviceRateChanged);
        QElapsedTimer clock;
        clock.start();
        const SimReply reply = device(SimHttp::setRate(96000));
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.object(), parse(SimHttp::setRate(96000)));
        QCOMPARE(sim->pendingRate(), std::optional<qint64>(96000));
        QCOMPARE(device(SimHttp::statusQuery()).object()["clock"].toObject()["sampling_rate"].toInteger(),
                 48000);
        QVERIFY(changed.wait(10000));
        QVERIFY(clock.elapsed() >= 399);
        QCOMPARE(sim->deviceRate(), 96000);
        QCOMPARE(sim->pendingRate(), std::nullopt);
    }

    void settingTheRateDirectlyCancelsAPendingChange()
    {
        sim->setFollowDelay(200);
        QCOMPARE(device(SimHttp::setRate(96000)).status, 200);
        sim->setDeviceRate(44100);
        QTest::qWait(400);
        QCOMPARE(sim->deviceRate(), 44100);
    }

    void otherPathsMethodsAndBodiesFail()
    {
        QCOMPARE(http->post(QStringLiteral("/api/v2/other"), SimHttp::statusQuery()).status, 404);
        QCOMPARE(http->post(QStringLiteral("/"), SimHttp::statusQuery()).status, 404);
        QCOMPARE(http->get(QStringLiteral("/api/v2/self")).status, 405);
        QCOMPARE(http->send("PUT", QStringLiteral("/api/v2/self")).status, 405);
        QCOMPARE(device("{\"clock\":").status, 400);
        QCOMPARE(device("").status, 400);
        QCOMPARE(device("[1,2]").status, 400);
        QCOMPARE(sim->requestCount(), 7);
        QCOMPARE(sim->statusQueryCount(), 0);
    }

    void bytesThatAreNotHttpAreAnsweredAndLogged()
    {
        QSignalSpy lines(sim, &DeviceSimulator::logLine);
        RawClient client(sim->port());
        QVERIFY(client.send("hello device\r\n\r\n"));
        QTRY_VERIFY_WITH_TIMEOUT(client.poll().ended(), 10000);
        QVERIFY(client.received().startsWith("HTTP/1.1 400 Bad Request\r\n"));
        QCOMPARE(sim->requestCount(), 1);
        QCOMPARE(lines.count(), 1);
        QVERIFY(lines.first().first().toString().endsWith(QStringLiteral(" request bad-http 400")));
    }

    void propertiesNotifyOnlyOnRealChange()
    {
        QSignalSpy madi(sim, &DeviceSimulator::madiRateChanged);
        QSignalSpy sync(sim, &DeviceSimulator::madiSyncChanged);
        QSignalSpy report(sim, &DeviceSimulator::reportedChanged);
        sim->setMadiRate(48000);
        sim->setMadiSync(true);
        sim->setReported(DeviceSimulator::Member::MadiSync, true);
        QCOMPARE(madi.count() + sync.count() + report.count(), 0);
        sim->setMadiRate(96000);
        sim->setMadiSync(false);
        sim->setReported(DeviceSimulator::Member::MadiSync, false);
        QCOMPARE(madi.count(), 1);
        QCOMPARE(sync.count(), 1);
        QCOMPARE(report.count(), 1);
    }

    void resetRestoresTheStartState()
    {
        sim->setMadiRate(96000);
        sim->setFollowDelay(50);
        sim->setReported(DeviceSimulator::Member::DeviceRate, false);
        sim->setFault(SimFault::Mode::Hang);
        QVERIFY(!http->post(QStringLiteral("/api/v2/self"), SimHttp::setRate(192000), "application/json", 300)
                     .finished);
        QCOMPARE(sim->deviceRate(), 192000);
        sim->reset();
        QCOMPARE(sim->madiRate(), 48000);
        QCOMPARE(sim->followDelay(), 0);
        QVERIFY(sim->isReported(DeviceSimulator::Member::DeviceRate));
        QVERIFY(!sim->fault().active());
        QCOMPARE(sim->requestCount(), 0);
        QVERIFY(sim->setRateRequests().isEmpty());
    }

    void logLinesCarryMonotonicTimestamps()
    {
        QSignalSpy lines(sim, &DeviceSimulator::logLine);
        const double before = monotonicNow();
        QCOMPARE(device(SimHttp::statusQuery()).status, 200);
        QCOMPARE(device(SimHttp::setRate(96000)).status, 200);
        QCOMPARE(device(SimHttp::setRate(12345)).status, 400);
        sim->setMadiRate(88200);
        const double after = monotonicNow();

        QStringList events;
        const QRegularExpression shape(QStringLiteral(R"(^(\d+\.\d{6}) (.+)$)"));
        double previous = 0;
        for (const QList<QVariant> &arguments : lines) {
            const auto match = shape.match(arguments.first().toString());
            QVERIFY2(match.hasMatch(), qPrintable(arguments.first().toString()));
            const double stamp = match.captured(1).toDouble();
            QVERIFY(stamp >= before - 1e-6 && stamp <= after + 1e-6);
            QVERIFY(stamp >= previous);
            previous = stamp;
            events << match.captured(2);
        }
        QCOMPARE(events,
                 (QStringList {QStringLiteral("request status"), QStringLiteral("request set-rate 96000"),
                               QStringLiteral("state device=96000"),
                               QStringLiteral("request set-rate 12345 rejected"),
                               QStringLiteral("state madi=88200")}));
    }

    void listenRefusesAPortInUse()
    {
        DeviceSimulator second;
        QVERIFY(!second.listen(sim->port()));
        QVERIFY(!second.errorString().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDeviceSimulator)
#include "tst_DeviceSimulator.moc"
