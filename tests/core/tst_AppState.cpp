#include "core/AppState.h"

#include <QSignalSpy>
#include <QTest>

class TestAppState : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void freshStateHasInitialValues()
    {
        AppState state;
        QCOMPARE(state.connectionState(), ConnectionState::disconnected());
        QVERIFY(!state.deviceRate());
        QVERIFY(!state.madiRate());
        QVERIFY(!state.madiSync());
        QVERIFY(state.history().isEmpty());
        QVERIFY(!state.isPaused());
        QVERIFY(!state.legacyScriptDetected());
        QVERIFY(!state.rateMismatch());
    }

    void connectionStateEquality()
    {
        QCOMPARE(ConnectionState::connected("a"), ConnectionState::connected("a"));
        QVERIFY(ConnectionState::connected("a") != ConnectionState::connected("b"));
        QVERIFY(ConnectionState::error("x") != ConnectionState::error("y"));
        QVERIFY(ConnectionState::error("") != ConnectionState::connected(""));
        QVERIFY(ConnectionState::connecting() != ConnectionState::disconnected());
        QCOMPARE(ConnectionState::connected("h").host(), QStringLiteral("h"));
        QVERIFY(ConnectionState::error("h").host().isEmpty());
    }

    void connectionStateNotifiesOnlyOnRealChange()
    {
        AppState state;
        QSignalSpy spy(&state, &AppState::connectionStateChanged);
        state.setConnectionState(ConnectionState::connecting());
        state.setConnectionState(ConnectionState::connecting());
        QCOMPARE(spy.count(), 1);
        state.setConnectionState(ConnectionState::connected("172.20.0.1"));
        state.setConnectionState(ConnectionState::connected("172.20.0.1"));
        QCOMPARE(spy.count(), 2);
        state.setConnectionState(ConnectionState::connected("m1620.local"));
        QCOMPARE(spy.count(), 3);
        state.setConnectionState(ConnectionState::error("timed out"));
        state.setConnectionState(ConnectionState::error("timed out"));
        state.setConnectionState(ConnectionState::error("refused"));
        QCOMPARE(spy.count(), 5);
    }

    void ratesTellAbsentFromZero()
    {
        AppState state;
        QSignalSpy spy(&state, &AppState::deviceRateChanged);
        state.setDeviceRate(0);
        QCOMPARE(spy.count(), 1);
        state.setDeviceRate(48000);
        state.setDeviceRate(48000);
        QCOMPARE(spy.count(), 2);
        state.setDeviceRate(std::nullopt);
        QCOMPARE(spy.count(), 3);
        QVERIFY(!state.deviceRate());
    }

    void notificationIsPerProperty()
    {
        AppState state;
        QSignalSpy device(&state, &AppState::deviceRateChanged);
        QSignalSpy madi(&state, &AppState::madiRateChanged);
        QSignalSpy sync(&state, &AppState::madiSyncChanged);
        QSignalSpy paused(&state, &AppState::isPausedChanged);
        state.setMadiRate(96000);
        state.setMadiSync(false);
        state.setMadiSync(false);
        QCOMPARE(device.count(), 0);
        QCOMPARE(madi.count(), 1);
        QCOMPARE(sync.count(), 1);
        QCOMPARE(state.madiSync(), std::optional<bool>(false));
        state.setPaused(true);
        state.setPaused(true);
        QCOMPARE(paused.count(), 1);
    }

    void historyKeepsTenNewestFirst()
    {
        AppState state;
        QSignalSpy spy(&state, &AppState::historyChanged);
        for (qint64 i = 1; i <= 11; ++i)
            state.recordRateChange(i * 1000, i * 1000 + 1);
        QCOMPARE(state.history().size(), 10);
        QCOMPARE(state.history().first().to(), 11001);
        QCOMPARE(state.history().last().to(), 2001);
        // Ten inserts, then an insert and a trim as two notifications.
        QCOMPARE(spy.count(), 12);
    }

    void historyEntriesAreDistinctAndKeepAbsentFrom()
    {
        AppState state;
        state.recordRateChange(std::nullopt, 48000);
        state.recordRateChange(std::nullopt, 48000);
        const RateHistory history = state.history();
        QVERIFY(!history[0].from());
        QCOMPARE(history[0].to(), 48000);
        QVERIFY(history[0] != history[1]);
        QVERIFY(history[0].id() != history[1].id());
        QVERIFY(history[0].timestamp().isValid());
    }

    void historyComparedElementByElement()
    {
        AppState state;
        state.recordRateChange(44100, 48000);
        QSignalSpy spy(&state, &AppState::historyChanged);
        state.setHistory(state.history()); // same entries
        QCOMPARE(spy.count(), 0);
        RateHistory other = state.history();
        other[0] = RateChange(other[0].id(), other[0].timestamp(), other[0].from(), 96000);
        state.setHistory(other);
        QCOMPARE(spy.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestAppState)
#include "tst_AppState.moc"
