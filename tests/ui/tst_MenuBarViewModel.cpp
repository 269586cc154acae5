// The presentation rules of the tray icon (MenuBarLabel) and the panel (MenuBarViewModel),
// without a pixel.
#include "UiHarness.h"

#include "ui/panel/MenuBarLabel.h"
#include "ui/panel/MenuBarViewModel.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

using Model = MenuBarViewModel;
using Tint = Model::Tint;
using C = Model::Command;
using S = Model::Section;
using Header = Model::StatusHeader;
using Text = std::optional<QString>;

class TestMenuBarViewModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void labelRules()
    {
        const auto connected = ConnectionState::connected(u"h"_s);
        const auto lost = ConnectionState::error(u"The request timed out"_s);
        const QString warning = u"exclamationmark.triangle.fill"_s;
        QCOMPARE(MenuBarLabel::iconNameFor(false, false, connected), u"metronome.fill"_s);
        QCOMPARE(MenuBarLabel::iconNameFor(true, false, connected), warning);
        QCOMPARE(MenuBarLabel::iconNameFor(false, true, ConnectionState::disconnected()), warning);
        // The rate shows in every connection state; only the setting and an absent rate hide it.
        QCOMPARE(MenuBarLabel::rateTextFor(false, 48000), Text());
        QCOMPARE(MenuBarLabel::rateTextFor(true, std::nullopt), Text());
        QCOMPARE(MenuBarLabel::rateTextFor(true, 0), Text(u"0k"_s)); // a zero rate is there, in short
        QVERIFY(MenuBarLabel::rateStaleFor(u"48k"_s, ConnectionState::connecting()));
        QVERIFY(!MenuBarLabel::rateStaleFor(std::nullopt, lost));
        QCOMPARE(MenuBarLabel::toolTipFor(connected, std::nullopt), u"Quorvel"_s);
        QCOMPARE(MenuBarLabel::toolTipFor(ConnectionState::connecting(), u"48k"_s), u"Looking for M-1620…"_s);
        QCOMPARE(MenuBarLabel::toolTipFor(lost, std::nullopt), u"M-1620 not found: The request timed out"_s);
        QCOMPARE(MenuBarLabel::toolTipFor(ConnectionState::disconnected(), std::nullopt),
                 u"Quorvel — Stopped"_s);
    }

    void labelFollowsTheStateAndAnnouncesOnlyRealChanges()
    {
        UiHarness h;
        MenuBarLabel label(h.state, h.settings);
        QSignalSpy icons(&label, &MenuBarLabel::iconNameChanged);
        QSignalSpy rates(&label, &MenuBarLabel::rateTextChanged);
        QSignalSpy stale(&label, &MenuBarLabel::rateStaleChanged);
        QSignalSpy tips(&label, &MenuBarLabel::toolTipChanged);
        h.state.setConnectionState(ConnectionState::connected(u"a"_s));
        h.state.setConnectionState(ConnectionState::connected(u"b"_s)); // same symbol and tip
        h.state.setDeviceRate(44100);
        h.settings.setShowRateInMenuBar(true);
        QCOMPARE(label.toolTip(), u"Quorvel — 44.1k"_s);
        h.state.setPaused(true); // a paused program looks like a running one
        h.state.setLegacyScriptDetected(true);
        h.state.setRateMismatch(true); // already the warning
        QCOMPARE(label.iconName(), u"exclamationmark.triangle.fill"_s);
        QCOMPARE(QList<qsizetype>({icons.count(), rates.count(), tips.count(), stale.count()}),
                 QList<qsizetype>({2, 1, 2, 0}));
        h.state.setConnectionState(ConnectionState::error(u"x"_s));
        QVERIFY(label.rateStale());
        QCOMPARE(QList<qsizetype>({icons.count(), rates.count(), tips.count(), stale.count()}),
                 QList<qsizetype>({2, 1, 3, 1}));
        h.state.setRateMismatch(false);
        h.state.setLegacyScriptDetected(false);
        QCOMPARE(label.iconName(), u"metronome"_s);
        QCOMPARE(MenuBarLabel(h.state, h.settings).rateText(), Text(u"44.1k"_s)); // a new one too
    }

    void panelRules()
    {
        const auto lost = ConnectionState::error(u"Request timed out"_s); // its message is for the log
        QCOMPARE(Model::statusHeaderFor(ConnectionState::connected(u"192.0.2.5"_s), QString()),
                 (Header {Tint::Green, "Connected", "192.0.2.5"}));
        QCOMPARE(Model::statusHeaderFor(ConnectionState::connecting(), QString()),
                 (Header {Tint::Yellow, "Looking for M-1620…", ""}));
        QCOMPARE(Model::statusHeaderFor(ConnectionState::disconnected(), QString()),
                 (Header {Tint::Secondary, "Stopped", ""}));
        // A device lost at the USB address asks for the cable, one elsewhere for the network.
        QCOMPARE(
            Model::statusHeaderFor(lost, u"172.20.0.1"_s),
            (Header {Tint::Secondary, "M-1620 not found", "Check that the USB REMOTE cable is plugged in"}));
        QCOMPARE(Model::statusHeaderFor(lost, u"192.0.2.5"_s).subtitle,
                 u"Check that 192.0.2.5 is reachable on the network"_s);

        QCOMPARE(Model::ratesFor(48000, std::nullopt, std::nullopt, true),
                 (Model::Rates {"48.0 kHz", "—", Tint::Secondary, "—", false}));
        QCOMPARE(Model::ratesFor(176400, 192000, false, true),
                 (Model::Rates {"176.4 kHz", "192.0 kHz", Tint::Secondary, "No signal", false}));

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
            = u"It changes the sample rate on its own and can fight Quorvel. Paste this command "
              "into a terminal to remove it"_s;
        QCOMPARE(Model::legacyWarningTextFor(false), text + u"."_s);
        QCOMPARE(Model::legacyWarningTextFor(true), text + u" — it will ask for your password."_s);

        // The five newest changes; the time of day in the user's short format, without seconds
        // even where the locale has them (no LANG).
        RateHistory history;
        for (int i = 0; i < 7; ++i)
            history.append(RateChange(QUuid::createUuid(), QDateTime(QDate(2025, 3, 1), QTime(14 - i, 5, 33)),
                                      i == 0 ? std::nullopt : std::optional<qint64>(44100), 48000));
        const QList<Model::HistoryRow> rows = Model::historyRowsFor(history, QLocale::c());
        QCOMPARE(rows.size(), 5);
        QCOMPARE(rows[0], (Model::HistoryRow {history[0].id(), "14:05", "— → 48.0 kHz"}));
        QCOMPARE(rows[4], (Model::HistoryRow {history[4].id(), "10:05", "44.1 kHz → 48.0 kHz"}));
    }

    void panelFollowsTheStateAndAnnouncesOnlyRealChanges()
    {
        UiHarness h(true); // a check is possible until it runs, then not until it ends
        int settingsOpened = 0;
        int quits = 0;
        Model model(h.state, *h.engine, *h.launchAtLogin, *h.updates, h.desktop,
                    {[&] { ++settingsOpened; }, [&] { ++quits; }});
        QSignalSpy status(&model, &Model::statusHeaderChanged);
        QSignalSpy rates(&model, &Model::ratesChanged);
        QSignalSpy switches(&model, &Model::switchesChanged);
        QSignalSpy legacy(&model, &Model::legacyWarningChanged);
        QSignalSpy commands(&model, &Model::commandsChanged);
        QCOMPARE(model.shownSections(), (QList<S> {S::StatusHeader, S::Rates, S::Switches, S::Commands}));

        h.state.setConnectionState(ConnectionState::error(u"a"_s));
        h.state.setConnectionState(ConnectionState::error(u"b"_s)); // same header
        h.state.setDeviceRate(48000);
        h.state.setMadiSync(true);
        h.state.setRateMismatch(true); // shows only in the status icon
        // The last reading of a lost device: dimmed, and no green for a lock nobody can see.
        QCOMPARE(model.rates(), (Model::Rates {"48.0 kHz", "—", Tint::Secondary, "Locked", true}));
        h.engine->togglePause();
        model.turnSyncSwitch(false); // a stale "off" still toggles once
        QVERIFY(!h.state.isPaused());
        for (int i = 0; i < 7; ++i)
            h.state.recordRateChange(48000, 96000 + i);
        QCOMPARE(model.historyRows().first().id, h.state.history().first().id());
        h.state.setLegacyScriptDetected(true);
        QCOMPARE(model.shownSections(),
                 (QList<S> {S::StatusHeader, S::LegacyWarning, S::Rates, S::RecentChanges, S::Switches,
                            S::Commands}));
        QCOMPARE(QList<qsizetype>({status.count(), rates.count(), switches.count(), legacy.count()}),
                 QList<qsizetype>({1, 2, 2, 1}));

        model.run(C::Settings);
        model.run(C::Quit);
        QCOMPARE((std::pair {settingsOpened, quits}), (std::pair {1, 1}));
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
