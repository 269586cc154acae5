#include "UiHarness.h"

#include "ui/MenuBarViewModel.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using Model = MenuBarViewModel;
using Section = Model::Section;
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
        QTest::newRow("connected by name")
            << ConnectionState::connected(QStringLiteral("m1620.local:8080")) << Tint::Green << "Connected"
            << "m1620.local:8080";
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
        const Model::StatusHeader header = Model::statusHeaderFor(connection);
        QCOMPARE(header.circle, circle);
        QCOMPARE(header.title, title);
        QCOMPARE(header.subtitle, subtitle);
        // The error's message is for the log, never for the panel.
        QVERIFY(!header.title.contains(QStringLiteral("timed out")));
        QVERIFY(!header.subtitle.contains(QStringLiteral("timed out")));
    }

    void rates()
    {
        Model::Rates r = Model::ratesFor(48000, std::nullopt, std::nullopt);
        QCOMPARE(r.deviceRate, QStringLiteral("48.0 kHz"));
        QCOMPARE(r.madiInput, QStringLiteral("—"));
        QCOMPARE(r.madiSyncCircle, Tint::Secondary);
        QCOMPARE(r.madiSync, QStringLiteral("—"));

        r = Model::ratesFor(std::nullopt, 44100, true);
        QCOMPARE(r.deviceRate, QStringLiteral("—"));
        QCOMPARE(r.madiInput, QStringLiteral("44.1 kHz"));
        QCOMPARE(r.madiSyncCircle, Tint::Green);
        QCOMPARE(r.madiSync, QStringLiteral("Locked"));

        r = Model::ratesFor(176400, 192000, false);
        QCOMPARE(r.deviceRate, QStringLiteral("176.4 kHz"));
        QCOMPARE(r.madiInput, QStringLiteral("192.0 kHz"));
        QCOMPARE(r.madiSyncCircle, Tint::Secondary);
        QCOMPARE(r.madiSync, QStringLiteral("No signal"));
    }

    void historyRowsAreTheFiveNewest()
    {
        const RateHistory history = historyOf(7);
        const QList<Model::HistoryRow> rows = Model::historyRowsFor(history, QLocale(QLocale::German));
        QCOMPARE(rows.size(), 5);
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(rows[i].id, history[i].id());
            QCOMPARE(rows[i].change, QStringLiteral("%1.0 kHz → %2.0 kHz").arg(101 - i).arg(100 - i));
        }
        QCOMPARE(rows[0].time, QStringLiteral("09:59"));
        QCOMPARE(rows[4].time, QStringLiteral("09:55"));

        QCOMPARE(Model::historyRowsFor(historyOf(2), QLocale::c()).size(), 2);
        QVERIFY(Model::historyRowsFor({}, QLocale::c()).isEmpty());
    }

    void historyRowTexts()
    {
        const RateHistory history {
            RateChange(QUuid::createUuid(), QDateTime(QDate(2025, 3, 1), QTime(14, 5, 33)), std::nullopt,
                       96000),
            RateChange(QUuid::createUuid(), QDateTime(QDate(2025, 3, 1), QTime(9, 7)), 44100, 48000),
        };
        const QList<Model::HistoryRow> rows = Model::historyRowsFor(history, QLocale(QLocale::German));
        QCOMPARE(rows[0].change, QStringLiteral("— → 96.0 kHz"));
        QCOMPARE(rows[1].change, QStringLiteral("44.1 kHz → 48.0 kHz"));
        // Local time of day in the user's short format: no date, no seconds.
        QCOMPARE(rows[0].time, QStringLiteral("14:05"));
        const QString english
            = Model::timeText(history[0].timestamp(), QLocale(QLocale::English, QLocale::UnitedStates));
        QVERIFY2(english.startsWith(QStringLiteral("2:05")) && english.endsWith(QStringLiteral("PM")),
                 qPrintable(english));
        // Without a locale of its own (no LANG) the time still has no seconds.
        QCOMPARE(Model::timeText(history[0].timestamp(), QLocale::c()), QStringLiteral("14:05"));
        // A stamp in another zone is shown in local time.
        const QDateTime utc = QDateTime(QDate(2025, 3, 1), QTime(12, 0), Qt::UTC);
        QCOMPARE(Model::timeText(utc, QLocale(QLocale::German)),
                 QLocale(QLocale::German).toString(utc.toLocalTime().time(), QLocale::ShortFormat));
    }

    void switchRows()
    {
        Model::SwitchRow running = Model::syncSwitchFor(false);
        QCOMPARE(running.symbol, QStringLiteral("arrow.triangle.2.circlepath"));
        QCOMPARE(running.text, QStringLiteral("Auto-sync enabled"));
        QVERIFY(running.isOn);
        Model::SwitchRow paused = Model::syncSwitchFor(true);
        QCOMPARE(paused.symbol, QStringLiteral("pause.circle"));
        QCOMPARE(paused.text, QStringLiteral("Sync paused"));
        QVERIFY(!paused.isOn);
        QCOMPARE(Model::loginSwitchFor(true).symbol, QStringLiteral("power.circle"));
        QCOMPARE(Model::loginSwitchFor(true).text, QStringLiteral("Launch at login"));
        QVERIFY(Model::loginSwitchFor(true).isOn);
        QVERIFY(!Model::loginSwitchFor(false).isOn);
    }

    void commandRows()
    {
        const QList<Model::CommandRow> rows = Model::commandsFor(false);
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[0].title, QStringLiteral("Check for Updates…"));
        QCOMPARE(rows[0].symbol, QStringLiteral("arrow.down.circle"));
        QVERIFY(!rows[0].enabled);
        QVERIFY(Model::commandsFor(true)[0].enabled);
        QCOMPARE(rows[1].title, QStringLiteral("Settings…"));
        QCOMPARE(rows[1].symbol, QStringLiteral("gearshape"));
        QVERIFY(rows[1].enabled);
        QCOMPARE(rows[2].title, QStringLiteral("Quit Quorvel"));
        QCOMPARE(rows[2].symbol, QStringLiteral("power"));
        QVERIFY(rows[2].enabled);
        QVERIFY(rows[2].destructive);
        QVERIFY(!rows[0].destructive && !rows[1].destructive);
    }

    void removalCommandIsExact()
    {
        const QString command = Model::removalCommand;
        QCOMPARE(command.size(), 498);
        QVERIFY(!command.endsWith(QLatin1Char('\n')));
        for (QChar c : command)
            QVERIFY(c.unicode() >= 0x20 && c.unicode() < 0x7f);
        QCOMPARE(command.split(QStringLiteral("; ")).size(), 8);
        QVERIFY(command.startsWith(QStringLiteral(
            "launchctl unload ~/Library/LaunchAgents/com.studio.m1620sync.plist 2>/dev/null; ")));
        QVERIFY(command.endsWith(QStringLiteral("; echo \"Old M-1620 Rate Sync removed\"")));
        QVERIFY(
            command.contains(QStringLiteral("; sudo rm -f /Library/LaunchDaemons/com.studio.m1620sync.plist "
                                            "/usr/local/bin/studio/m1620_rate_sync.py; ")));
    }

    void sectionsShownByState()
    {
        UiHarness h;
        Model model(h.state, *h.engine, *h.launchAtLogin, *h.updates, {});
        QCOMPARE(
            model.shownSections(),
            (QList<Section> {Section::StatusHeader, Section::Rates, Section::Switches, Section::Commands}));
        h.state.setLegacyScriptDetected(true);
        h.state.recordRateChange(44100, 48000);
        QCOMPARE(model.shownSections(),
                 (QList<Section> {Section::StatusHeader, Section::LegacyWarning, Section::Rates,
                                  Section::RecentChanges, Section::Switches, Section::Commands}));
        h.state.setLegacyScriptDetected(false);
        QVERIFY(!model.isShown(Section::LegacyWarning));
        QVERIFY(model.isShown(Section::RecentChanges));
    }

    void followsTheStateLive()
    {
        UiHarness h;
        Model model(h.state, *h.engine, *h.launchAtLogin, *h.updates, {});
        QSignalSpy status(&model, &Model::statusHeaderChanged);
        QSignalSpy rates(&model, &Model::ratesChanged);
        QSignalSpy history(&model, &Model::historyRowsChanged);
        QSignalSpy switches(&model, &Model::switchesChanged);
        QSignalSpy legacy(&model, &Model::legacyWarningChanged);

        QCOMPARE(model.statusHeader().title, QStringLiteral("Stopped"));
        h.state.setConnectionState(ConnectionState::connecting());
        QCOMPARE(model.statusHeader().title, QStringLiteral("Looking for M-1620…"));
        h.state.setConnectionState(ConnectionState::error(QStringLiteral("a")));
        h.state.setConnectionState(ConnectionState::error(QStringLiteral("b"))); // same header
        QCOMPARE(status.count(), 2);
        h.state.setConnectionState(ConnectionState::connected(QStringLiteral("127.0.0.1:9")));
        QCOMPARE(model.statusHeader().subtitle, QStringLiteral("127.0.0.1:9"));
        QCOMPARE(status.count(), 3);

        h.state.setDeviceRate(48000);
        h.state.setMadiRate(96000);
        h.state.setMadiSync(true);
        QCOMPARE(rates.count(), 3);
        QCOMPARE(model.rates().deviceRate, QStringLiteral("48.0 kHz"));
        QCOMPARE(model.rates().madiInput, QStringLiteral("96.0 kHz"));
        QCOMPARE(model.rates().madiSync, QStringLiteral("Locked"));

        for (int i = 0; i < 7; ++i)
            h.state.recordRateChange(48000, 96000 + i);
        QCOMPARE(model.historyRows().size(), 5);
        QCOMPARE(model.historyRows().first().id, h.state.history().first().id());
        QVERIFY(history.count() >= 7);
        QCOMPARE(model.historyRows().first().time,
                 Model::timeText(h.state.history().first().timestamp(), QLocale::system()));

        h.engine->togglePause();
        QCOMPARE(switches.count(), 1);
        QCOMPARE(model.syncSwitch().text, QStringLiteral("Sync paused"));

        h.state.setLegacyScriptDetected(true);
        QCOMPARE(legacy.count(), 1);
        QVERIFY(model.legacyWarningShown());

        // A lasting mismatch shows only in the status icon.
        const int before
            = status.count() + rates.count() + history.count() + switches.count() + legacy.count();
        h.state.setRateMismatch(true);
        QCOMPARE(status.count() + rates.count() + history.count() + switches.count() + legacy.count(),
                 before);
    }

    void copyingPutsTheExactCommandOnTheClipboardForTheLifeOfTheModel()
    {
        UiHarness h;
        h.state.setLegacyScriptDetected(true);
        Model model(h.state, *h.engine, *h.launchAtLogin, *h.updates, {});
        QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
        QCOMPARE(model.copyButtonTitle(), QStringLiteral("Copy removal command"));
        QVERIFY(!model.removalCommandCopied());

        model.copyRemovalCommand();
        QCOMPARE(QGuiApplication::clipboard()->text(), Model::removalCommand);
        QCOMPARE(QGuiApplication::clipboard()->text().size(), 498);
        QCOMPARE(model.copyButtonTitle(), QStringLiteral("Copied — paste into Terminal"));

        // It stays copied while the warning goes and comes back, and copies again on request.
        h.state.setLegacyScriptDetected(false);
        h.state.setLegacyScriptDetected(true);
        QCOMPARE(model.copyButtonTitle(), QStringLiteral("Copied — paste into Terminal"));
        QGuiApplication::clipboard()->setText(QStringLiteral("overwritten"));
        model.copyRemovalCommand();
        QCOMPARE(QGuiApplication::clipboard()->text(), Model::removalCommand);

        // A new model starts uncopied.
        Model fresh(h.state, *h.engine, *h.launchAtLogin, *h.updates, {});
        QCOMPARE(fresh.copyButtonTitle(), QStringLiteral("Copy removal command"));
    }

    void syncSwitchTogglesOncePerTurnWhicheverWay()
    {
        UiHarness h;
        Model model(h.state, *h.engine, *h.launchAtLogin, *h.updates, {});
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
        QCOMPARE(model.syncSwitch().symbol, QStringLiteral("arrow.triangle.2.circlepath"));
    }

    void loginSwitchWritesTheAutostartEntryAndShowsTheSystemsState()
    {
        UiHarness h;
        Model model(h.state, *h.engine, *h.launchAtLogin, *h.updates, {});
        QVERIFY(!model.loginSwitch().isOn);
        model.turnLoginSwitch(true);
        QVERIFY(QFileInfo::exists(h.launchAtLogin->entryPath()));
        QVERIFY(model.loginSwitch().isOn);
        model.turnLoginSwitch(false);
        QVERIFY(!QFileInfo::exists(h.launchAtLogin->entryPath()));
        QVERIFY(!model.loginSwitch().isOn);

        // Changed behind the panel's back: a fresh look shows it.
        h.launchAtLogin->setEnabled(true);
        model.refreshLaunchAtLogin();
        QVERIFY(model.loginSwitch().isOn);
    }

    void refusedLoginChangeShowsTheUnchangedState()
    {
        UiHarness h;
        // A file where the autostart folder should be: the entry cannot be written.
        QFile blocker(h.autostartDir());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        Model model(h.state, *h.engine, *h.launchAtLogin, *h.updates, {});
        QSignalSpy switches(&model, &Model::switchesChanged);
        model.turnLoginSwitch(true);
        QVERIFY(!model.loginSwitch().isOn);
        QVERIFY(!h.launchAtLogin->isEnabled());
        QVERIFY(
            h.logLines().join(QLatin1Char('\n')).contains(QStringLiteral("Launch at login change failed: ")));
    }

    void commandsRunTheirActions()
    {
        UiHarness h;
        int settingsOpened = 0;
        int quits = 0;
        Model model(h.state, *h.engine, *h.launchAtLogin, *h.updates,
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
        // No feed: never possible, and asking does nothing.
        {
            UiHarness h;
            Model model(h.state, *h.engine, *h.launchAtLogin, *h.updates, {});
            QVERIFY(!model.command(Model::Command::CheckForUpdates).enabled);
            QSignalSpy finished(h.updates.get(), &UpdateController::userCheckFinished);
            model.run(Model::Command::CheckForUpdates);
            QVERIFY(!h.updates->isChecking());
            QTest::qWait(50);
            QCOMPARE(finished.count(), 0);
        }
        // A feed on loopback that never answers: possible until a check runs, then not
        // until it ends.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        UiHarness h(QUrl(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(silent.serverPort())));
        Model model(h.state, *h.engine, *h.launchAtLogin, *h.updates, {});
        QVERIFY(model.command(Model::Command::CheckForUpdates).enabled);
        QSignalSpy commands(&model, &Model::commandsChanged);
        QSignalSpy finished(h.updates.get(), &UpdateController::userCheckFinished);
        model.run(Model::Command::CheckForUpdates);
        QVERIFY(h.updates->isChecking());
        QVERIFY(!model.command(Model::Command::CheckForUpdates).enabled);
        QVERIFY(commands.count() >= 1);
        // Clicking the dimmed command now does nothing more.
        model.run(Model::Command::CheckForUpdates);
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.first().first().value<UpdateController::Outcome>().kind,
                 UpdateController::Outcome::Kind::Failed);
        QVERIFY(model.command(Model::Command::CheckForUpdates).enabled);
    }
};

QTEST_MAIN(TestMenuBarViewModel)
#include "tst_MenuBarViewModel.moc"
