#include "ui/panel/MenuBarLabel.h"

#include "core/AppState.h"
#include "services/AppSettings.h"
#include "services/SettingsStore.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using std::optional;
using Rate = optional<qint64>;
using Text = optional<QString>;

class TestMenuBarLabel : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    SettingsStore store {dir.path() + QStringLiteral("/settings.json")};
    AppSettings settings {store};

private Q_SLOTS:
    // One row per state: the label reached live must match the rule for a fresh one.
    void followsTheState_data()
    {
        QTest::addColumn<bool>("mismatch");
        QTest::addColumn<bool>("legacy");
        QTest::addColumn<bool>("show");
        QTest::addColumn<Rate>("rate");
        QTest::addColumn<ConnectionState>("connection");
        QTest::addColumn<QString>("icon");
        QTest::addColumn<Text>("text");
        QTest::addColumn<bool>("stale");
        QTest::addColumn<QString>("toolTip");
        const auto connected = ConnectionState::connected(QStringLiteral("h"));
        const auto error = ConnectionState::error(QStringLiteral("The request timed out"));
        const QString warning = QStringLiteral("exclamationmark.triangle.fill");
        QTest::newRow("connected, rate hidden") << false << false << false << Rate(48000) << connected
                                                << "metronome.fill" << Text() << false << "Quorvel";
        QTest::newRow("connected 44.1k") << false << false << true << Rate(44100) << connected
                                         << "metronome.fill" << Text("44.1k") << false << "Quorvel — 44.1k";
        QTest::newRow("connecting") << false << false << true << Rate(176400) << ConnectionState::connecting()
                                    << "metronome" << Text("176.4k") << true << "Looking for M-1620…";
        QTest::newRow("lost, last rate kept")
            << false << false << true << Rate(48000) << error << "metronome" << Text("48k") << true
            << "M-1620 not found: The request timed out";
        QTest::newRow("stopped, absent rate")
            << false << false << true << Rate() << ConnectionState::disconnected() << "metronome" << Text()
            << false << "Quorvel — Stopped";
        QTest::newRow("zero is a rate") << false << false << true << Rate(0) << connected << "metronome.fill"
                                        << Text("0k") << false << "Quorvel — 0k";
        QTest::newRow("mismatch") << true << false << false << Rate() << connected << warning << Text()
                                  << false << "Quorvel";
        QTest::newRow("legacy while connecting")
            << false << true << false << Rate() << ConnectionState::connecting() << warning << Text() << false
            << "Looking for M-1620…";
    }

    void followsTheState()
    {
        QFETCH(bool, mismatch);
        QFETCH(bool, legacy);
        QFETCH(bool, show);
        QFETCH(Rate, rate);
        QFETCH(ConnectionState, connection);
        AppState state;
        MenuBarLabel label(state, settings);
        state.setRateMismatch(mismatch);
        state.setLegacyScriptDetected(legacy);
        settings.setShowRateInMenuBar(show);
        state.setDeviceRate(rate);
        state.setConnectionState(connection);
        MenuBarLabel fresh(state, settings);
        for (MenuBarLabel *l : {&label, &fresh}) {
            QTEST(l->iconName(), "icon");
            QTEST(l->rateText(), "text");
            QTEST(l->rateStale(), "stale");
            QTEST(l->toolTip(), "toolTip");
        }
    }

    void announcesOnlyRealChanges()
    {
        AppState state;
        settings.setShowRateInMenuBar(true);
        MenuBarLabel label(state, settings);
        QSignalSpy icons(&label, &MenuBarLabel::iconNameChanged);
        QSignalSpy rates(&label, &MenuBarLabel::rateTextChanged);
        QSignalSpy stale(&label, &MenuBarLabel::rateStaleChanged);
        QSignalSpy tips(&label, &MenuBarLabel::toolTipChanged);
        state.setConnectionState(ConnectionState::connected(QStringLiteral("a")));
        state.setConnectionState(ConnectionState::connected(QStringLiteral("b"))); // same symbol and tip
        state.setDeviceRate(44100);
        state.setPaused(true); // a paused program looks like a running one
        state.setLegacyScriptDetected(true);
        state.setRateMismatch(true); // already the warning
        QCOMPARE(icons.count(), 2);
        QCOMPARE(rates.count(), 1);
        QCOMPARE(tips.count(), 2);
        QCOMPARE(stale.count(), 0);
        state.setConnectionState(ConnectionState::error(QStringLiteral("x")));
        state.setConnectionState(ConnectionState::error(QStringLiteral("x")));
        QCOMPARE(stale.count(), 1);
        QCOMPARE(tips.count(), 3);
    }
};

QTEST_GUILESS_MAIN(TestMenuBarLabel)
#include "tst_MenuBarLabel.moc"
