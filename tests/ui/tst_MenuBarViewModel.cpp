#include "UiHarness.h"

#include "ui/panel/MenuBarViewModel.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using Model = MenuBarViewModel;
using Tint = Model::Tint;
using C = Model::Command;
using S = Model::Section;

Q_DECLARE_METATYPE(Model::Tint)

class TestMenuBarViewModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void statusHeader_data()
    {
        QTest::addColumn<ConnectionState>("connection");
        QTest::addColumn<QString>("host");
        QTest::addColumn<Tint>("circle");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("subtitle");
        const auto error = ConnectionState::error(QStringLiteral("Request timed out"));
        QTest::newRow("connected") << ConnectionState::connected(QStringLiteral("172.20.0.1")) << "172.20.0.1"
                                   << Tint::Green << "Connected"
                                   << "172.20.0.1";
        QTest::newRow("connecting") << ConnectionState::connecting() << "172.20.0.1" << Tint::Yellow
                                    << "Looking for M-1620…"
                                    << "";
        // The error's own message is for the log; the hint depends on where the device was.
        QTest::newRow("lost on USB") << error << "172.20.0.1" << Tint::Secondary << "M-1620 not found"
                                     << "Check that the USB REMOTE cable is plugged in";
        QTest::newRow("lost on network") << error << "192.0.2.5" << Tint::Secondary << "M-1620 not found"
                                         << "Check that 192.0.2.5 is reachable on the network";
        QTest::newRow("stopped") << ConnectionState::disconnected() << "172.20.0.1" << Tint::Secondary
                                 << "Stopped"
                                 << "";
    }

    void statusHeader()
    {
        QFETCH(ConnectionState, connection);
        QFETCH(QString, host);
        QFETCH(Tint, circle);
        QFETCH(QString, title);
        QFETCH(QString, subtitle);
        QCOMPARE(Model::statusHeaderFor(connection, host), (Model::StatusHeader {circle, title, subtitle}));
    }

    void texts()
    {
        QCOMPARE(Model::ratesFor(48000, std::nullopt, std::nullopt, true),
                 (Model::Rates {"48.0 kHz", "—", Tint::Secondary, "—", false}));
        QCOMPARE(Model::ratesFor(176400, 192000, false, true),
                 (Model::Rates {"176.4 kHz", "192.0 kHz", Tint::Secondary, "No signal", false}));
        // The last reading of a lost device: dimmed, and no green for a lock nobody can see.
        QCOMPARE(Model::ratesFor(48000, 44100, true, false),
                 (Model::Rates {"48.0 kHz", "44.1 kHz", Tint::Secondary, "Locked", true}));

        QCOMPARE(Model::syncSwitchFor(false),
                 (Model::SwitchRow {"arrow.triangle.2.circlepath", "Auto-sync enabled", true}));
        QCOMPARE(Model::syncSwitchFor(true), (Model::SwitchRow {"pause.circle", "Sync paused", false}));
        QCOMPARE(Model::loginSwitchFor(true), (Model::SwitchRow {"power.circle", "Launch at login", true}));
        const Model::CommandRow settings {C::Settings, "Settings…", "gearshape", true, false};
        const Model::CommandRow quit {C::Quit, "Quit Quorvel", "power", true, true};
        QCOMPARE(Model::commandsFor(true, false),
                 (QList<Model::CommandRow> {
                     {C::CheckForUpdates, "Check for Updates…", "arrow.down.circle", false, false},
                     settings,
                     quit}));
        QCOMPARE(Model::commandsFor(false, false), (QList<Model::CommandRow> {settings, quit}));

        // A Linux user is told to use a terminal, and about a password only when sudo asks for one.
        const QString text
            = QStringLiteral("It changes the sample rate on its own and can fight Quorvel. Paste "
                             "this command into a terminal to remove it");
        QCOMPARE(Model::legacyWarningTextFor(false), text + QStringLiteral("."));
        QCOMPARE(Model::legacyWarningTextFor(true),
                 text + QStringLiteral(" — it will ask for your password."));
        QCOMPARE(Model::copyButtonTitleFor(true), QStringLiteral("Copied — paste into a terminal"));
    }

    void historyRows()
    {
        RateHistory history;
        for (int i = 0; i < 7; ++i) // newest first
            history.append(RateChange(QUuid::createUuid(), QDateTime(QDate(2025, 3, 1), QTime(14 - i, 5, 33)),
                                      i == 0 ? std::nullopt : std::optional<qint64>(44100), 48000 + i));
        const QList<Model::HistoryRow> rows = Model::historyRowsFor(history, QLocale(QLocale::German));
        QCOMPARE(rows.size(), 5);
        QCOMPARE(rows[0], (Model::HistoryRow {history[0].id(), "14:05", "— → 48.0 kHz"}));
        QCOMPARE(rows[4], (Model::HistoryRow {history[4].id(), "10:05", "44.1 kHz → 48.0 kHz"}));
        // No date, no seconds, even without a locale of its own (no LANG).
        QCOMPARE(Model::timeText(history[0].timestamp(), QLocale::c()), QStringLiteral("14:05"));
        const QString english
            = Model::timeText(history[0].timestamp(), QLocale(QLocale::English, QLocale::UnitedStates));
        QVERIFY2(english.startsWith(QStringLiteral("2:05")) && english.endsWith(QStringLiteral("PM")),
                 qPrintable(english));
    }

    void followsTheStateAndAnnouncesOnlyRealChanges()
    {
        UiHarness h;
        int settingsOpened = 0;
        int quits = 0;
        Model model(h.state, *h.engine, *h.launchAtLogin, *h.updates, h.desktop,
                    {[&] { ++settingsOpened; }, [&] { ++quits; }});
        QSignalSpy status(&model, &Model::statusHeaderChanged);
        QSignalSpy rates(&model, &Model::ratesChanged);
        QSignalSpy switches(&model, &Model::switchesChanged);
        QSignalSpy legacy(&model, &Model::legacyWarningChanged);
        QCOMPARE(model.shownSections(), (QList<S> {S::StatusHeader, S::Rates, S::Switches, S::Commands}));

        h.state.setConnectionState(ConnectionState::error(QStringLiteral("a")));
        h.state.setConnectionState(ConnectionState::error(QStringLiteral("b"))); // same header
        QCOMPARE(status.count(), 1);
        h.state.setDeviceRate(48000);
        h.state.setMadiSync(true);
        h.state.setRateMismatch(true); // shows only in the status icon
        QCOMPARE(rates.count(), 2);
        QCOMPARE(model.rates(), (Model::Rates {"48.0 kHz", "—", Tint::Secondary, "Locked", true}));

        h.engine->togglePause();
        QCOMPARE(switches.count(), 1);
        QCOMPARE(model.syncSwitch().text, QStringLiteral("Sync paused"));
        model.turnSyncSwitch(false); // a stale "off" still toggles once
        QVERIFY(!h.state.isPaused());
        QCOMPARE(switches.count(), 2);

        for (int i = 0; i < 7; ++i)
            h.state.recordRateChange(48000, 96000 + i);
        QCOMPARE(model.historyRows().size(), 5);
        QCOMPARE(model.historyRows().first().id, h.state.history().first().id());
        h.state.setLegacyScriptDetected(true);
        QCOMPARE(legacy.count(), 1);
        QCOMPARE(model.shownSections(),
                 (QList<S> {S::StatusHeader, S::LegacyWarning, S::Rates, S::RecentChanges, S::Switches,
                            S::Commands}));
        QCOMPARE(status.count() + switches.count(), 3);

        QSignalSpy ran(&model, &Model::commandRun);
        model.run(C::Settings);
        model.run(C::Quit);
        QCOMPARE(settingsOpened, 1);
        QCOMPARE(quits, 1);
        QCOMPARE(ran.count(), 2);
    }

    void updateCheckOnlyWhileTheUpdaterCan()
    {
        // A feed on a closed loopback port: possible until a check runs, then not until it ends.
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        UiHarness h(QUrl(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(closed.serverPort())));
        closed.close();
        Model model(h.state, *h.engine, *h.launchAtLogin, *h.updates, h.desktop, {});
        QSignalSpy commands(&model, &Model::commandsChanged);
        QSignalSpy finished(h.updates.get(), &UpdateController::userCheckFinished);
        model.run(C::CheckForUpdates);
        QVERIFY(!model.command(C::CheckForUpdates)->enabled);
        model.run(C::CheckForUpdates); // the dimmed command does nothing more
        QVERIFY(finished.wait(10000));
        QTest::qWait(50);
        QCOMPARE(finished.count(), 1);
        QVERIFY(model.command(C::CheckForUpdates)->enabled);
        QCOMPARE(commands.count(), 2);
    }
};

QTEST_MAIN(TestMenuBarViewModel)
#include "tst_MenuBarViewModel.moc"
