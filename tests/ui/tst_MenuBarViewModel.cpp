#include "UiHarness.h"

#include "ui/panel/MenuBarViewModel.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using Model = MenuBarViewModel;
using Tint = Model::Tint;
using std::optional;

Q_DECLARE_METATYPE(Model::Tint)

namespace {

RateHistory historyOf(int entries)
{
    RateHistory history;
    for (int i = 0; i < entries; ++i) // newest first: entry i went to 1000 * (100 - i)
        history.append(RateChange(QUuid::createUuid(), QDateTime(QDate(2025, 3, 1), QTime(9, 59 - i)),
                                  qint64(1000 * (101 - i)), qint64(1000 * (100 - i))));
    return history;
}

} // namespace

class TestMenuBarViewModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void statusHeaderForEachState_data()
    {
        QTest::addColumn<ConnectionState>("connection");
        QTest::addColumn<Tint>("circle");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("subtitle");
        QTest::newRow("connected") << ConnectionState::connected(QStringLiteral("172.20.0.1")) << Tint::Green
                                   << "Connected"
                                   << "172.20.0.1";
        QTest::newRow("connecting") << ConnectionState::connecting() << Tint::Yellow << "Looking for M-1620…"
                                    << "";
        QTest::newRow("error") << ConnectionState::error(QStringLiteral("Request timed out"))
                               << Tint::Secondary << "M-1620 not found"
                               << "Check that the USB REMOTE cable is plugged in";
        QTest::newRow("disconnected") << ConnectionState::disconnected() << Tint::Secondary << "Stopped"
                                      << "";
    }

    void statusHeaderForEachState()
    {
        QFETCH(ConnectionState, connection);
        QFETCH(Tint, circle);
        QFETCH(QString, title);
        QFETCH(QString, subtitle);
        // Exact texts: the error's own message is for the log, never for the panel.
        QCOMPARE(Model::statusHeaderFor(connection, AppSettings::defaultHost),
                 (Model::StatusHeader {circle, title, subtitle}));
        // Away from the USB address the hint is about the network, not a cable.
        if (connection.kind() == ConnectionState::Kind::Error)
            QCOMPARE(Model::statusHeaderFor(connection, QStringLiteral("192.0.2.5")).subtitle,
                     QStringLiteral("Check that 192.0.2.5 is reachable on the network"));
    }

    void rates()
    {
        QCOMPARE(Model::ratesFor(48000, std::nullopt, std::nullopt, true),
                 (Model::Rates {"48.0 kHz", "—", Tint::Secondary, "—", false}));
        QCOMPARE(Model::ratesFor(std::nullopt, 44100, true, true),
                 (Model::Rates {"—", "44.1 kHz", Tint::Green, "Locked", false}));
        QCOMPARE(Model::ratesFor(176400, 192000, false, true),
                 (Model::Rates {"176.4 kHz", "192.0 kHz", Tint::Secondary, "No signal", false}));
        // The last reading of a lost device: dimmed, and no green for a lock nobody can see.
        QCOMPARE(Model::ratesFor(48000, 48000, true, false),
                 (Model::Rates {"48.0 kHz", "48.0 kHz", Tint::Secondary, "Locked", true}));
    }

    void historyRows()
    {
        const RateHistory history = historyOf(7);
        const QList<Model::HistoryRow> rows = Model::historyRowsFor(history, QLocale(QLocale::German));
        QCOMPARE(rows.size(), 5); // the five newest, newest first
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(rows[i].id, history[i].id());
            QCOMPARE(rows[i].change, QStringLiteral("%1.0 kHz → %2.0 kHz").arg(101 - i).arg(100 - i));
        }
        QCOMPARE(rows[0].time, QStringLiteral("09:59"));
        QCOMPARE(rows[4].time, QStringLiteral("09:55"));
        QCOMPARE(Model::historyRowsFor(historyOf(2), QLocale::c()).size(), 2);

        const RateChange first(QUuid::createUuid(), QDateTime(QDate(2025, 3, 1), QTime(14, 5, 33)),
                               std::nullopt, 96000);
        QCOMPARE(Model::historyRowsFor({first}, QLocale::c()).first().change, QStringLiteral("— → 96.0 kHz"));
        // Local time of day in the user's short format: no date, no seconds, even without a
        // locale of its own (no LANG).
        QCOMPARE(Model::timeText(first.timestamp(), QLocale(QLocale::German)), QStringLiteral("14:05"));
        QCOMPARE(Model::timeText(first.timestamp(), QLocale::c()), QStringLiteral("14:05"));
        const QString english
            = Model::timeText(first.timestamp(), QLocale(QLocale::English, QLocale::UnitedStates));
        QVERIFY2(english.startsWith(QStringLiteral("2:05")) && english.endsWith(QStringLiteral("PM")),
                 qPrintable(english));
    }

    void switchAndCommandRows()
    {
        QCOMPARE(Model::syncSwitchFor(false),
                 (Model::SwitchRow {"arrow.triangle.2.circlepath", "Auto-sync enabled", true}));
        QCOMPARE(Model::syncSwitchFor(true), (Model::SwitchRow {"pause.circle", "Sync paused", false}));
        QCOMPARE(Model::loginSwitchFor(true), (Model::SwitchRow {"power.circle", "Launch at login", true}));
        QVERIFY(!Model::loginSwitchFor(false).isOn);

        using C = Model::Command;
        const Model::CommandRow settings {C::Settings, "Settings…", "gearshape", true, false};
        const Model::CommandRow quit {C::Quit, "Quit Quorvel", "power", true, true};
        QCOMPARE(Model::commandsFor(true, false),
                 (QList<Model::CommandRow> {
                     {C::CheckForUpdates, "Check for Updates…", "arrow.down.circle", false, false},
                     settings,
                     quit}));
        QVERIFY(Model::commandsFor(true, true)[0].enabled);
        // Without a feed no check can ever run: the command is not offered at all.
        QCOMPARE(Model::commandsFor(false, false), (QList<Model::CommandRow> {settings, quit}));
    }

    // A Linux user is told to use a terminal, and about a password only when sudo asks for one.
    void legacyTexts()
    {
        QCOMPARE(
            Model::legacyWarningTextFor(false),
            QStringLiteral("It changes the sample rate on its own and can fight Quorvel. Paste this command "
                           "into a terminal to remove it."));
        QVERIFY(Model::legacyWarningTextFor(true).endsWith(
            QStringLiteral("into a terminal to remove it — it will ask for your password.")));
        QCOMPARE(Model::copyButtonTitleFor(true), QStringLiteral("Copied — paste into a terminal"));
    }

    void followsTheStateLive()
    {
        UiHarness h;
        Model model(h.state, *h.engine, *h.launchAtLogin, *h.updates, h.desktop, {});
        QSignalSpy status(&model, &Model::statusHeaderChanged);
        QSignalSpy rates(&model, &Model::ratesChanged);
        QSignalSpy history(&model, &Model::historyRowsChanged);
        QSignalSpy switches(&model, &Model::switchesChanged);
        QSignalSpy legacy(&model, &Model::legacyWarningChanged);
        using S = Model::Section;
        QCOMPARE(model.shownSections(), (QList<S> {S::StatusHeader, S::Rates, S::Switches, S::Commands}));

        QCOMPARE(model.statusHeader().title, QStringLiteral("Stopped"));
        h.state.setConnectionState(ConnectionState::connecting());
        QCOMPARE(model.statusHeader().title, QStringLiteral("Looking for M-1620…"));
        h.state.setConnectionState(ConnectionState::error(QStringLiteral("a")));
        h.state.setConnectionState(ConnectionState::error(QStringLiteral("b"))); // same header
        QCOMPARE(status.count(), 2);
        QCOMPARE(model.statusHeader().subtitle,
                 QStringLiteral("Check that 127.0.0.1:9 is reachable on the network"));
        h.state.setConnectionState(ConnectionState::connected(QStringLiteral("127.0.0.1:9")));
        QCOMPARE(model.statusHeader().subtitle, QStringLiteral("127.0.0.1:9"));
        QCOMPARE(status.count(), 3);

        h.state.setDeviceRate(48000);
        h.state.setMadiRate(96000);
        h.state.setMadiSync(true);
        QCOMPARE(rates.count(), 4); // connected, then the three values
        QCOMPARE(model.rates(), (Model::Rates {"48.0 kHz", "96.0 kHz", Tint::Green, "Locked", false}));

        for (int i = 0; i < 7; ++i)
            h.state.recordRateChange(48000, 96000 + i);
        QCOMPARE(model.historyRows().size(), 5);
        QCOMPARE(model.historyRows().first().id, h.state.history().first().id());
        QVERIFY(history.count() >= 7);

        h.engine->togglePause();
        QCOMPARE(switches.count(), 1);
        QCOMPARE(model.syncSwitch().text, QStringLiteral("Sync paused"));

        h.state.setLegacyScriptDetected(true);
        QCOMPARE(legacy.count(), 1);
        QCOMPARE(model.shownSections(),
                 (QList<S> {S::StatusHeader, S::LegacyWarning, S::Rates, S::RecentChanges, S::Switches,
                            S::Commands}));

        h.state.setConnectionState(ConnectionState::error(QStringLiteral("c")));
        QCOMPARE(model.rates(), (Model::Rates {"48.0 kHz", "96.0 kHz", Tint::Secondary, "Locked", true}));

        // A lasting mismatch shows only in the status icon.
        const int before
            = status.count() + rates.count() + history.count() + switches.count() + legacy.count();
        h.state.setRateMismatch(true);
        QCOMPARE(status.count() + rates.count() + history.count() + switches.count() + legacy.count(),
                 before);
    }

    void syncSwitchTogglesOncePerTurnWhicheverWay()
    {
        UiHarness h;
        Model model(h.state, *h.engine, *h.launchAtLogin, *h.updates, h.desktop, {});
        QSignalSpy paused(&h.state, &AppState::isPausedChanged);
        model.turnSyncSwitch(false);
        QCOMPARE(paused.count(), 1);
        QVERIFY(h.state.isPaused());
        QVERIFY(!model.syncSwitch().isOn);
        // The requested value is ignored: a stale "off" still toggles once.
        model.turnSyncSwitch(false);
        QCOMPARE(paused.count(), 2);
        QVERIFY(!h.state.isPaused());
        QVERIFY(model.syncSwitch().isOn);
    }

    void commandsRunTheirActions()
    {
        UiHarness h;
        int settingsOpened = 0;
        int quits = 0;
        Model model(h.state, *h.engine, *h.launchAtLogin, *h.updates, h.desktop,
                    {[&] { ++settingsOpened; }, [&] { ++quits; }});
        QSignalSpy ran(&model, &Model::commandRun);
        model.run(Model::Command::Settings);
        QCOMPARE(settingsOpened, 1);
        QCOMPARE(quits, 0);
        model.run(Model::Command::Quit);
        QCOMPARE(quits, 1);
        QCOMPARE(ran.count(), 2);
    }

    void updateCheckOnlyWhileTheUpdaterCan()
    {
        // A feed on a closed loopback port: possible until a check runs, then not until it ends.
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QUrl feed(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(closed.serverPort()));
        closed.close();
        UiHarness h(feed);
        Model model(h.state, *h.engine, *h.launchAtLogin, *h.updates, h.desktop, {});
        QVERIFY(model.command(Model::Command::CheckForUpdates)->enabled);
        QSignalSpy commands(&model, &Model::commandsChanged);
        QSignalSpy finished(h.updates.get(), &UpdateController::userCheckFinished);
        model.run(Model::Command::CheckForUpdates);
        QVERIFY(h.updates->isChecking());
        QVERIFY(!model.command(Model::Command::CheckForUpdates)->enabled);
        QCOMPARE(commands.count(), 1);
        // Clicking the dimmed command now does nothing more.
        model.run(Model::Command::CheckForUpdates);
        QVERIFY(finished.wait(10000));
        QTest::qWait(50);
        QCOMPARE(finished.count(), 1);
        QVERIFY(model.command(Model::Command::CheckForUpdates)->enabled);
        QCOMPARE(commands.count(), 2);
    }
};

QTEST_MAIN(TestMenuBarViewModel)
#include "tst_MenuBarViewModel.moc"
