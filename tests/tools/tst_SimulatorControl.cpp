#include "DeviceSimulator.h"
#include "SimHttp.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>

class TestSimulatorControl : public QObject
{
    Q_OBJECT

private:
    DeviceSimulator *sim = nullptr;
    SimHttp *http = nullptr;

    SimReply control(const QString &target)
    {
        return http->post(target, {}, "application/x-www-form-urlencoded");
    }
    QJsonObject deviceStatus()
    {
        return http->post(QStringLiteral("/api/v2/self"), SimHttp::statusQuery()).object();
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

    void stateShowsEverything()
    {
        QCOMPARE(http->post(QStringLiteral("/api/v2/self"), SimHttp::setRate(96000)).status, 200);
        const SimReply reply = http->get(QStringLiteral("/sim/state"));
        QCOMPARE(reply.status, 200);
        const QJsonObject state = reply.object();
        QCOMPARE(state["device_rate"].toInteger(), 96000);
        QCOMPARE(state["madi_rate"].toInteger(), 48000);
        QCOMPARE(state["madi_sync"].toBool(), true);
        QCOMPARE(state["report"].toObject()["madi_rate"].toBool(), true);
        QCOMPARE(state["follow_delay_ms"].toInt(), 0);
        QVERIFY(state["pending_rate"].isNull());
        QCOMPARE(state["fault"].toObject()["mode"].toString(), QStringLiteral("none"));
        QCOMPARE(state["requests"].toInt(), 1);
        QCOMPARE(state["status_queries"].toInt(), 0);
        QCOMPARE(state["set_rates"].toArray(), QJsonArray {96000});
        QCOMPARE(state, sim->stateObject());
    }

    void stateChangesShowInTheDeviceAnswers()
    {
        const SimReply reply = control(QStringLiteral("/sim/state?madi=96000&sync=false&device=44100"));
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.object()["madi_rate"].toInteger(), 96000);
        QCOMPARE(sim->madiRate(), 96000);
        QCOMPARE(sim->madiSync(), false);
        QCOMPARE(sim->deviceRate(), 44100);
        const QJsonObject madi
            = deviceStatus()["clock"].toObject()["sources"].toObject()["madi_coaxial"].toObject();
        QCOMPARE(madi["rate"].toInteger(), 96000);
        QCOMPARE(madi["sync"].toBool(), false);
    }

    void reportSwitchesLeaveMembersOut()
    {
        QCOMPARE(control(QStringLiteral("/sim/state?report-device=false&report-sync=off")).status, 200);
        QCOMPARE(
            deviceStatus(),
            QJsonDocument::fromJson(R"({"clock":{"sources":{"madi_coaxial":{"rate":48000}}}})").object());
        QCOMPARE(control(QStringLiteral("/sim/state?report-device=true")).status, 200);
        QVERIFY(sim->isReported(DeviceSimulator::Member::DeviceRate));
        QVERIFY(!sim->isReported(DeviceSimulator::Member::MadiSync));
    }

    void formBodyWorksLikeTheQuery()
    {
        QCOMPARE(http->post(QStringLiteral("/sim/state"), "madi=88200&follow-delay=250",
                            "application/x-www-form-urlencoded")
                     .status,
                 200);
        QCOMPARE(sim->madiRate(), 88200);
        QCOMPARE(sim->followDelay(), 250);
    }

    void badParametersChangeNothing_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("bad bool") << QStringLiteral("/sim/state?madi=96000&sync=maybe");
        QTest::newRow("bad number") << QStringLiteral("/sim/state?madi=96000&device=fast");
        QTest::newRow("unknown key") << QStringLiteral("/sim/state?madi=96000&colour=red");
        QTest::newRow("unknown report") << QStringLiteral("/sim/state?madi=96000&report-clock=false");
        QTest::newRow("unknown mode") << QStringLiteral("/sim/fault?mode=explode");
        QTest::newRow("status needs code") << QStringLiteral("/sim/fault?mode=status");
        QTest::newRow("code out of range") << QStringLiteral("/sim/fault?mode=status&code=99");
        QTest::newRow("delay needs ms") << QStringLiteral("/sim/fault?mode=delay&count=1");
        QTest::newRow("count zero") << QStringLiteral("/sim/fault?mode=hang&count=0");
        QTest::newRow("value for another mode") << QStringLiteral("/sim/fault?mode=hang&ms=5");
    }

    void badParametersChangeNothing()
    {
        QFETCH(QString, target);
        const SimReply reply = control(target);
        QCOMPARE(reply.status, 400);
        QVERIFY(!reply.object()["error"].toString().isEmpty());
        QCOMPARE(sim->madiRate(), 48000);
        QCOMPARE(sim->madiSync(), true);
        QCOMPARE(sim->fault(), SimFault {});
    }

    void faultIsSetAndClearedOverHttp()
    {
        QSignalSpy changed(sim, &DeviceSimulator::faultChanged);
        SimReply reply = control(QStringLiteral("/sim/fault?mode=status&code=503&count=2"));
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.object()["fault"].toObject(),
                 QJsonDocument::fromJson(R"({"mode":"status","code":503,"count":2})").object());
        QCOMPARE(sim->fault(), (SimFault {SimFault::Mode::Status, 2, 503}));
        QCOMPARE(http->post(QStringLiteral("/api/v2/self"), SimHttp::statusQuery()).status, 503);
        QCOMPARE(sim->fault().count, 1);
        QCOMPARE(control(QStringLiteral("/sim/fault?mode=none")).status, 200);
        QVERIFY(!sim->fault().active());
        QCOMPARE(http->post(QStringLiteral("/api/v2/self"), SimHttp::statusQuery()).status, 200);
        QCOMPARE(changed.count(), 3);
    }

    void controlIsNeverFaultedNorCounted()
    {
        QCOMPARE(control(QStringLiteral("/sim/fault?mode=hang")).status, 200);
        const SimReply state = http->get(QStringLiteral("/sim/state"));
        QVERIFY(state.finished);
        QCOMPARE(state.status, 200);
        QCOMPARE(control(QStringLiteral("/sim/fault?mode=delay&ms=60000&count=1")).status, 200);
        QCOMPARE(control(QStringLiteral("/sim/state?madi=96000")).status, 200);
        QCOMPARE(sim->fault().count, 1);
        QCOMPARE(sim->requestCount(), 0);
    }

    void resetOverHttp()
    {
        QCOMPARE(control(QStringLiteral("/sim/state?madi=96000&report-madi=false")).status, 200);
        QCOMPARE(http->post(QStringLiteral("/api/v2/self"), SimHttp::statusQuery()).status, 200);
        const SimReply reply = control(QStringLiteral("/sim/reset"));
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.object()["madi_rate"].toInteger(), 48000);
        QCOMPARE(reply.object()["requests"].toInt(), 0);
        QVERIFY(sim->isReported(DeviceSimulator::Member::MadiRate));
    }

    void wrongControlPathsAndMethods()
    {
        QCOMPARE(http->get(QStringLiteral("/sim/nothing")).status, 404);
        QCOMPARE(http->get(QStringLiteral("/sim/fault")).status, 405);
        QCOMPARE(http->get(QStringLiteral("/sim/reset")).status, 405);
        QCOMPARE(http->send("DELETE", QStringLiteral("/sim/state")).status, 405);
    }

    void controlRequestsAreLogged()
    {
        QSignalSpy lines(sim, &DeviceSimulator::logLine);
        QCOMPARE(control(QStringLiteral("/sim/state?madi=96000")).status, 200);
        QCOMPARE(control(QStringLiteral("/sim/fault?mode=trickle&count=3")).status, 200);
        QStringList events;
        for (const QList<QVariant> &arguments : lines)
            events << arguments.first().toString().section(u' ', 1);
        QCOMPARE(events,
                 (QStringList {QStringLiteral("control POST /sim/state?madi=96000"),
                               QStringLiteral("state madi=96000"),
                               QStringLiteral("control POST /sim/fault?mode=trickle&count=3"),
                               QStringLiteral("state fault=trickle count=3")}));
    }
};

QTEST_GUILESS_MAIN(TestSimulatorControl)
#include "tst_SimulatorControl.moc"
