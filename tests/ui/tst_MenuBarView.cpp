#include "UiHarness.h"

#include "ui/CommandButton.h"
#include "ui/MenuBarView.h"
#include "ui/SwitchButton.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using Section = MenuBarViewModel::Section;
using Command = MenuBarViewModel::Command;

namespace {

// The panel as the user sees it: every shown widget of the column, top to bottom.
QStringList column(const MenuBarView &view)
{
    QStringList names;
    for (int i = 0; i < view.layout()->count(); ++i) {
        QWidget *widget = view.layout()->itemAt(i)->widget();
        if (widget && !widget->isHidden())
            names << widget->objectName();
    }
    return names;
}

QString labelText(const MenuBarView &view, const char *name)
{
    auto *label = view.findChild<QLabel *>(QString::fromLatin1(name));
    return label && !label->isHidden() ? label->text() : QStringLiteral("<hidden>");
}

struct Panel
{
    explicit Panel(UiHarness &h, MenuBarViewModel::Actions actions = {})
        : view(h.state, *h.engine, *h.launchAtLogin, *h.updates, std::move(actions))
    {
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
    }
    template<typename T> T *find(const char *name) const
    {
        return view.findChild<T *>(QString::fromLatin1(name));
    }
    CommandButton *command(Command c) const
    {
        return view.findChild<CommandButton *>(QStringLiteral("command%1").arg(int(c)));
    }
    MenuBarView view;
};

} // namespace

class TestMenuBarView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sectionsInOrderWithTheirDividers()
    {
        UiHarness h;
        Panel p(h);
        QCOMPARE(
            column(p.view),
            (QStringList {"statusSection", "ratesSectionDivider", "ratesSection", "switchesSectionDivider",
                          "switchesSection", "commandsSectionDivider", "commandsSection"}));

        h.state.setLegacyScriptDetected(true);
        h.state.recordRateChange(44100, 48000);
        QCOMPARE(
            column(p.view),
            (QStringList {"statusSection", "legacySectionDivider", "legacySection", "ratesSectionDivider",
                          "ratesSection", "historySectionDivider", "historySection", "switchesSectionDivider",
                          "switchesSection", "commandsSectionDivider", "commandsSection"}));

        // A section that goes takes its divider along.
        h.state.setLegacyScriptDetected(false);
        QVERIFY(!column(p.view).contains(QStringLiteral("legacySectionDivider")));
        QVERIFY(column(p.view).contains(QStringLiteral("historySectionDivider")));
    }

    void threeHundredWideAndAsTallAsItsContent()
    {
        UiHarness h;
        Panel p(h);
        QCOMPARE(p.view.width(), 300);
        const int shortHeight = p.view.sizeHint().height();
        h.state.setLegacyScriptDetected(true);
        for (int i = 0; i < 3; ++i)
            h.state.recordRateChange(44100, 48000);
        QCOMPARE(p.view.sizeHint().width(), 300);
        QVERIFY(p.view.sizeHint().height() > shortHeight + 100);
        // The warning's text wraps in full, never cut short.
        auto *text = p.find<QLabel>("legacyText");
        QVERIFY(text->wordWrap());
        QCOMPARE(text->text(), MenuBarViewModel::legacyWarningText);
    }

    void statusHeaderTextsForEachState()
    {
        UiHarness h;
        Panel p(h);
        QCOMPARE(labelText(p.view, "statusTitle"), QStringLiteral("Stopped"));
        QCOMPARE(labelText(p.view, "statusSubtitle"), QStringLiteral("<hidden>"));

        h.state.setConnectionState(ConnectionState::connecting());
        QCOMPARE(labelText(p.view, "statusTitle"), QStringLiteral("Looking for M-1620…"));
        QCOMPARE(labelText(p.view, "statusSubtitle"), QStringLiteral("<hidden>"));

        h.state.setConnectionState(ConnectionState::connected(QStringLiteral("172.20.0.1")));
        QCOMPARE(labelText(p.view, "statusTitle"), QStringLiteral("Connected"));
        QCOMPARE(labelText(p.view, "statusSubtitle"), QStringLiteral("172.20.0.1"));

        h.state.setConnectionState(ConnectionState::error(QStringLiteral("Could not connect to the server")));
        QCOMPARE(labelText(p.view, "statusTitle"), QStringLiteral("M-1620 not found"));
        QCOMPARE(labelText(p.view, "statusSubtitle"),
                 QStringLiteral("Check that the USB REMOTE cable is plugged in"));
        for (QLabel *label : p.view.findChildren<QLabel *>())
            QVERIFY(!label->text().contains(QStringLiteral("Could not connect")));

        // Title bold (headline), subtitle smaller (caption).
        QVERIFY(p.find<QLabel>("statusTitle")->font().bold());
        QVERIFY(p.find<QLabel>("statusSubtitle")->font().pointSizeF()
                < p.find<QLabel>("statusTitle")->font().pointSizeF());
    }

    void ratesAndSync()
    {
        UiHarness h;
        Panel p(h);
        QCOMPARE(labelText(p.view, "deviceRateLabel"), QStringLiteral("Device rate"));
        QCOMPARE(labelText(p.view, "madiInputLabel"), QStringLiteral("MADI input"));
        QCOMPARE(labelText(p.view, "madiSyncLabel"), QStringLiteral("MADI sync"));
        QCOMPARE(labelText(p.view, "deviceRate"), QStringLiteral("—"));
        QCOMPARE(labelText(p.view, "madiSync"), QStringLiteral("—"));
        h.state.setDeviceRate(48000);
        QCOMPARE(labelText(p.view, "deviceRate"), QStringLiteral("48.0 kHz"));
        QCOMPARE(labelText(p.view, "madiInput"), QStringLiteral("—"));
        h.state.setMadiRate(44100);
        QCOMPARE(labelText(p.view, "madiInput"), QStringLiteral("44.1 kHz"));
        h.state.setMadiSync(true);
        QCOMPARE(labelText(p.view, "madiSync"), QStringLiteral("Locked"));
        h.state.setMadiSync(false);
        QCOMPARE(labelText(p.view, "madiSync"), QStringLiteral("No signal"));
    }

    void recentChangesShowTheFiveNewest()
    {
        UiHarness h;
        Panel p(h);
        QVERIFY(p.find<QWidget>("historySection")->isHidden());
        h.state.recordRateChange(std::nullopt, 96000);
        QVERIFY(!p.find<QWidget>("historySection")->isHidden());
        QCOMPARE(labelText(p.view, "historyHeading"), QStringLiteral("Recent changes"));
        QCOMPARE(p.find<QLabel>("historyHeading")->font().capitalization(), QFont::AllUppercase);
        for (int i = 0; i < 6; ++i)
            h.state.recordRateChange(44100, 48000 + 1000 * i);

        QStringList changes;
        QStringList times;
        for (int i = 0; i < 5; ++i) {
            auto *row = p.find<QWidget>(QStringLiteral("historyRow%1").arg(i).toLatin1().constData());
            QVERIFY(!row->isHidden());
            changes << row->findChild<QLabel *>(QStringLiteral("historyChange"))->text();
            times << row->findChild<QLabel *>(QStringLiteral("historyTime"))->text();
            QCOMPARE(row->findChild<QLabel *>(QStringLiteral("historyTime"))->width(), 64);
        }
        // Newest first; the two oldest of the seven are not shown.
        QCOMPARE(changes,
                 (QStringList {"44.1 kHz → 53.0 kHz", "44.1 kHz → 52.0 kHz", "44.1 kHz → 51.0 kHz",
                               "44.1 kHz → 50.0 kHz", "44.1 kHz → 49.0 kHz"}));
        const QString expectedTime
            = MenuBarViewModel::timeText(h.state.history().first().timestamp(), QLocale::system());
        QCOMPARE(times.first(), expectedTime);
    }

    void copyButtonPutsTheCommandOnTheClipboard()
    {
        UiHarness h;
        h.state.setLegacyScriptDetected(true);
        Panel p(h);
        QCOMPARE(labelText(p.view, "legacyTitle"), QStringLiteral("Old M-1620 Rate Sync is still installed"));
        QCOMPARE(
            labelText(p.view, "legacyText"),
            QStringLiteral("It changes the sample rate on its own and can fight Quorvel. Paste this command "
                           "into Terminal to remove it — it will ask for your Mac password."));
        auto *button = p.find<QPushButton>("copyRemovalCommand");
        QCOMPARE(button->text(), QStringLiteral("Copy removal command"));
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));

        QTest::mouseClick(button, Qt::LeftButton);
        const QString copied = QGuiApplication::clipboard()->text();
        QCOMPARE(copied.size(), 498);
        QCOMPARE(copied, MenuBarViewModel::removalCommand);
        QCOMPARE(button->text(), QStringLiteral("Copied — paste into Terminal"));

        h.state.setLegacyScriptDetected(false);
        QVERIFY(p.find<QWidget>("legacySection")->isHidden());
        h.state.setLegacyScriptDetected(true);
        QVERIFY(!p.find<QWidget>("legacySection")->isHidden());
        QCOMPARE(button->text(), QStringLiteral("Copied — paste into Terminal"));
    }

    void syncSwitchCallsTogglePauseOncePerClick()
    {
        UiHarness h;
        Panel p(h);
        auto *toggle = p.find<SwitchButton>("syncSwitch");
        QSignalSpy paused(&h.state, &AppState::isPausedChanged);
        QVERIFY(toggle->isChecked());
        QCOMPARE(labelText(p.view, "syncText"), QStringLiteral("Auto-sync enabled"));
        QCOMPARE(p.find<QLabel>("syncSymbol")->property("symbol").toString(),
                 QStringLiteral("arrow.triangle.2.circlepath"));

        QTest::mouseClick(toggle, Qt::LeftButton);
        QCOMPARE(paused.count(), 1);
        QVERIFY(h.state.isPaused());
        QVERIFY(!toggle->isChecked());
        QCOMPARE(labelText(p.view, "syncText"), QStringLiteral("Sync paused"));
        QCOMPARE(p.find<QLabel>("syncSymbol")->property("symbol").toString(), QStringLiteral("pause.circle"));

        QTest::mouseClick(toggle, Qt::LeftButton);
        QCOMPARE(paused.count(), 2);
        QVERIFY(!h.state.isPaused());
        QVERIFY(toggle->isChecked());
        QCOMPARE(labelText(p.view, "syncText"), QStringLiteral("Auto-sync enabled"));

        // Pausing from elsewhere (the tray menu) moves the switch without a call of its own.
        h.engine->togglePause();
        QVERIFY(!toggle->isChecked());
        QCOMPARE(paused.count(), 3);
    }

    void loginSwitchUsesTheAutostartEntry()
    {
        UiHarness h;
        Panel p(h);
        auto *toggle = p.find<SwitchButton>("loginSwitch");
        QCOMPARE(labelText(p.view, "loginText"), QStringLiteral("Launch at login"));
        QCOMPARE(p.find<QLabel>("loginSymbol")->property("symbol").toString(),
                 QStringLiteral("power.circle"));
        QVERIFY(!toggle->isChecked());
        QTest::mouseClick(toggle, Qt::LeftButton);
        QVERIFY(QFileInfo::exists(h.launchAtLogin->entryPath()));
        QVERIFY(toggle->isChecked());
        QTest::mouseClick(toggle, Qt::LeftButton);
        QVERIFY(!QFileInfo::exists(h.launchAtLogin->entryPath()));
        QVERIFY(!toggle->isChecked());
    }

    void refusedLoginChangeLeavesTheSwitchOff()
    {
        UiHarness h;
        QFile blocker(h.autostartDir());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        Panel p(h);
        auto *toggle = p.find<SwitchButton>("loginSwitch");
        QTest::mouseClick(toggle, Qt::LeftButton);
        QVERIFY(!toggle->isChecked());
    }

    void loginSwitchRereadsTheSystemWhenShown()
    {
        UiHarness h;
        Panel p(h);
        auto *toggle = p.find<SwitchButton>("loginSwitch");
        p.view.hide();
        // Enabled elsewhere (the settings window, another tool).
        QDir().mkpath(h.autostartDir());
        QFile entry(h.launchAtLogin->entryPath());
        QVERIFY(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nType=Application\nName=Quorvel\nExec=/usr/bin/quorvel\n");
        entry.close();
        QVERIFY(!toggle->isChecked());
        p.view.show();
        QVERIFY(toggle->isChecked());
    }

    void commands()
    {
        UiHarness h;
        int settingsOpened = 0;
        Panel p(h, {[&] { ++settingsOpened; }, {}});
        QSignalSpy dismissed(&p.view, &MenuBarView::dismissRequested);

        CommandButton *check = p.command(Command::CheckForUpdates);
        CommandButton *settings = p.command(Command::Settings);
        CommandButton *quit = p.command(Command::Quit);
        QCOMPARE(check->text(), QStringLiteral("Check for Updates…"));
        QCOMPARE(check->symbol(), QStringLiteral("arrow.down.circle"));
        QCOMPARE(settings->text(), QStringLiteral("Settings…"));
        QCOMPARE(settings->symbol(), QStringLiteral("gearshape"));
        QCOMPARE(quit->text(), QStringLiteral("Quit Quorvel"));
        QCOMPARE(quit->symbol(), QStringLiteral("power"));

        // No feed in this build: dimmed and inert.
        QVERIFY(!check->isEnabled());
        QTest::mouseClick(check, Qt::LeftButton);
        QVERIFY(!h.updates->isChecking());
        QCOMPARE(dismissed.count(), 0);

        QTest::mouseClick(settings, Qt::LeftButton);
        QCOMPARE(settingsOpened, 1);
        QCOMPARE(dismissed.count(), 1);

        // The whole row reacts, not only its text.
        QTest::mouseClick(settings, Qt::LeftButton, {},
                          QPoint(settings->width() - 3, settings->height() / 2));
        QCOMPARE(settingsOpened, 2);
    }

    void quitEndsTheEventLoop()
    {
        UiHarness h;
        Panel p(h);
        QTimer::singleShot(0, [&] { QTest::mouseClick(p.command(Command::Quit), Qt::LeftButton); });
        // Should Quit fail to end the loop, the test fails rather than hanging.
        QTimer::singleShot(10000, [] { QCoreApplication::exit(99); });
        QCOMPARE(QCoreApplication::exec(), 0);
    }
};

QTEST_MAIN(TestMenuBarView)
#include "tst_MenuBarView.moc"
