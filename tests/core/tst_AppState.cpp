#include "core/AppState.h"

#include <QSignalSpy>
#include <QTest>

class TestAppState : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Each property announces real changes only; an absent rate is not zero, and states of
    // different kinds differ even with the same text.
    void notifiesOnlyRealChanges()
    {
        AppState state;
        QSignalSpy connection(&state, &AppState::connectionStateChanged);
        QSignalSpy device(&state, &AppState::deviceRateChanged);
        QSignalSpy madi(&state, &AppState::madiRateChanged);
        QSignalSpy sync(&state, &AppState::madiSyncChanged);
        QSignalSpy paused(&state, &AppState::isPausedChanged);
        for (const ConnectionState &next :
             {ConnectionState::connecting(), ConnectionState::connecting(), ConnectionState::connected("a"),
              ConnectionState::connected("a"), ConnectionState::connected("b"), ConnectionState::error("b"),
              ConnectionState::error(""), ConnectionState::error("")})
            state.setConnectionState(next);
        QCOMPARE(connection.count(), 5);
        using Rate = std::optional<qint64>;
        for (const Rate rate : {Rate(0), Rate(48000), Rate(48000), Rate()})
            state.setDeviceRate(rate);
        QCOMPARE(device.count(), 3);
        state.setMadiRate(96000);
        state.setMadiSync(false);
        state.setMadiSync(false);
        state.setPaused(true);
        state.setPaused(true);
        QCOMPARE((QList<qsizetype> {madi.count(), sync.count(), paused.count()}),
                 (QList<qsizetype> {1, 1, 1}));
    }

    void historyKeepsTenNewestFirst()
    {
        AppState state;
        QSignalSpy spy(&state, &AppState::historyChanged);
        for (qint64 i = 1; i <= 10; ++i)
            state.recordRateChange(i * 1000, i * 1000 + 1);
        state.recordRateChange(std::nullopt, 48000);
        state.recordRateChange(std::nullopt, 48000);
        const RateHistory history = state.history();
        QCOMPARE(history.size(), 10);
        QCOMPARE(history.last().to(), 3001);
        QVERIFY(!history.first().from());
        QVERIFY(history[0].id() != history[1].id() && history[0] != history[1]);
        QCOMPARE(spy.count(), 14); // ten inserts, then an insert and a trim twice
    }
};

QTEST_GUILESS_MAIN(TestAppState)
#include "tst_AppState.moc"
