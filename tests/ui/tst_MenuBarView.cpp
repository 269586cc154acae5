#include "AwaitTask.h"
#include "UiHarness.h"

#include "ui/panel/MenuBarView.h"
#include "ui/widgets/CommandButton.h"
#include "ui/widgets/Dot.h"
#include "ui/widgets/FormStyle.h"
#include "ui/widgets/SwitchButton.h"

#include <QAccessible>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

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
        : view(h.state, *h.engine, *h.launchAtLogin, *h.updates, h.desktop, std::move(actions))
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
    void sectionsInOrderWithTheirDividersThreeHundredWideAndAsTallAsTheirContent()
    {
        UiHarness h;
        Panel p(h);
        QCOMPARE(
            column(p.view),
            (QStringList {"statusSection", "ratesSectionDivider", "ratesSection", "switchesSectionDivider",
                          "switchesSection", "commandsSectionDivider", "commandsSection"}));
        QCOMPARE(p.view.width(), 300);
        const int shortHeight = p.view.sizeHint().height();

        h.state.setLegacyScriptDetected(true);
        h.state.recordRateChange(44100, 48000);
        h.state.recordRateChange(48000, 96000);
        QCOMPARE(
            column(p.view),
            (QStringList {"statusSection", "legacySectionDivider", "legacySection", "ratesSectionDivider",
                          "ratesSection", "historySectionDivider", "historySection", "switchesSectionDivider",
                          "switchesSection", "commandsSectionDivider", "commandsSection"}));
        QCOMPARE(p.view.sizeHint().width(), 300);
        QVERIFY(p.view.sizeHint().height() > shortHeight + 100);
        // The warning's text wraps in full, never cut short.
        QVERIFY(p.find<QLabel>("legacyText")->wordWrap());

        // A section that goes takes its divider along.
        h.state.setLegacyScriptDetected(false);
        QVERIFY(!column(p.view).contains(QStringLiteral("legacySectionDivider")));
        QVERIFY(column(p.view).contains(QStringLiteral("historySectionDivider")));
    }

    void statusHeaderRatesAndRecentChangesFollowTheModel()
    {
        UiHarness h;
        Panel p(h);
        const MenuBarViewModel &model = p.view.model();
        QCOMPARE(labelText(p.view, "statusSubtitle"), QStringLiteral("<hidden>"));
        h.state.setConnectionState(ConnectionState::connected(QStringLiteral("127.0.0.1:9")));
        QCOMPARE(labelText(p.view, "statusTitle"), model.statusHeader().title);
        QCOMPARE(labelText(p.view, "statusSubtitle"), QStringLiteral("127.0.0.1:9"));
        QCOMPARE(p.find<Dot>("statusDot")->color(), FormStyle::green(p.view.palette()));
        // Title bold (headline), subtitle smaller (caption).
        QVERIFY(p.find<QLabel>("statusTitle")->font().bold());
        QVERIFY(p.find<QLabel>("statusSubtitle")->font().pointSizeF()
                < p.find<QLabel>("statusTitle")->font().pointSizeF());

        QCOMPARE(labelText(p.view, "deviceRateLabel"), QStringLiteral("Device rate"));
        QCOMPARE(labelText(p.view, "madiInputLabel"), QStringLiteral("MADI input"));
        QCOMPARE(labelText(p.view, "madiSyncLabel"), QStringLiteral("MADI sync"));
        h.state.setDeviceRate(48000);
        h.state.setMadiRate(44100);
        h.state.setMadiSync(false);
        const MenuBarViewModel::Rates rates = model.rates();
        QCOMPARE(labelText(p.view, "deviceRate"), rates.deviceRate);
        QCOMPARE(labelText(p.view, "madiInput"), rates.madiInput);
        QCOMPARE(labelText(p.view, "madiSync"), rates.madiSync);
        // A lost device's last reading is drawn dimmed.
        const QColor secondary = FormStyle::secondary(p.view.palette());
        QVERIFY(p.find<QLabel>("deviceRate")->palette().color(QPalette::WindowText) != secondary);
        h.state.setConnectionState(ConnectionState::error(QStringLiteral("gone")));
        QCOMPARE(p.find<QLabel>("deviceRate")->palette().color(QPalette::WindowText), secondary);

        QVERIFY(p.find<QWidget>("historySection")->isHidden());
        for (int i = 0; i < 7; ++i)
            h.state.recordRateChange(44100, 47000 + 1000 * i);
        QCOMPARE(labelText(p.view, "historyHeading"), QStringLiteral("Recent changes"));
        QCOMPARE(p.find<QLabel>("historyHeading")->font().capitalization(), QFont::AllUppercase);
        const QList<QLabel *> changes
            = p.find<QWidget>("historySection")->findChildren<QLabel *>(QStringLiteral("historyChange"));
        QCOMPARE(model.historyRows().size(), MenuBarViewModel::maxHistoryRows);
        for (qsizetype i = 0; i < model.historyRows().size(); ++i) {
            QVERIFY(!changes[i]->parentWidget()->isHidden());
            QCOMPARE(changes[i]->text(), model.historyRows()[i].change);
        }
    }

    void legacyWarningTextsAndCopyButton()
    {
        UiHarness h;
        // What the engine's last check found is what the copied command removes.
        const QString agent
            = h.dir.filePath(QStringLiteral("Library/LaunchAgents/com.studio.m1620sync.plist"));
        QVERIFY(QDir().mkpath(QFileInfo(agent).path()) && QFile(agent).open(QIODevice::WriteOnly));
        QVERIFY(awaitTask(h.legacy.detect()));
        h.state.setLegacyScriptDetected(true);
        Panel p(h);
        QCOMPARE(labelText(p.view, "legacyTitle"), QStringLiteral("Old M-1620 Rate Sync is still installed"));
        QCOMPARE(labelText(p.view, "legacyText"), MenuBarViewModel::legacyWarningTextFor(false));
        auto *button = p.find<QPushButton>("copyRemovalCommand");
        QCOMPARE(button->text(), QStringLiteral("Copy removal command"));
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(
            h.desktop.copied,
            QStringList {QStringLiteral("rm -f %1 && echo \"Old M-1620 Rate Sync removed\"").arg(agent)});
        QCOMPARE(button->text(), QStringLiteral("Copied — paste into a terminal"));

        // It stays copied while the warning goes and comes back, and copies again on request.
        h.state.setLegacyScriptDetected(false);
        QVERIFY(p.find<QWidget>("legacySection")->isHidden());
        h.state.setLegacyScriptDetected(true);
        QCOMPARE(button->text(), QStringLiteral("Copied — paste into a terminal"));
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(h.desktop.copied.size(), 2);
        // A new panel starts uncopied.
        MenuBarView fresh(h.state, *h.engine, *h.launchAtLogin, *h.updates, h.desktop, {});
        QCOMPARE(fresh.model().copyButtonTitle(), QStringLiteral("Copy removal command"));
    }

    void switchesCallTheEngineAndTheAutostartEntry()
    {
        UiHarness h;
        Panel p(h);
        auto *sync = p.find<SwitchButton>("syncSwitch");
        QSignalSpy paused(&h.state, &AppState::isPausedChanged);
        QVERIFY(sync->isChecked());
        QTest::mouseClick(sync, Qt::LeftButton);
        QCOMPARE(paused.count(), 1);
        QVERIFY(h.state.isPaused());
        QVERIFY(!sync->isChecked());
        QCOMPARE(labelText(p.view, "syncText"), QStringLiteral("Sync paused"));
        QCOMPARE(p.find<QLabel>("syncSymbol")->property("symbol").toString(), QStringLiteral("pause.circle"));
        QTest::keyClick(sync, Qt::Key_Return); // the keyboard does what the pointer does
        QCOMPARE(paused.count(), 2);
        QVERIFY(sync->isChecked());
        // Pausing from elsewhere (the tray menu) moves the switch without a call of its own.
        h.engine->togglePause();
        QVERIFY(!sync->isChecked());
        QCOMPARE(paused.count(), 3);

        auto *login = p.find<SwitchButton>("loginSwitch");
        const QString entry = h.autostartEntry();
        QCOMPARE(labelText(p.view, "loginText"), QStringLiteral("Launch at login"));
        QVERIFY(!login->isChecked());
        QTest::mouseClick(login, Qt::LeftButton);
        QVERIFY(QFileInfo::exists(entry));
        QVERIFY(login->isChecked());
        QAccessible::queryAccessibleInterface(login)->actionInterface()->doAction(
            QAccessibleActionInterface::toggleAction());
        QVERIFY(!QFileInfo::exists(entry));
        QVERIFY(!login->isChecked());

        // Enabled elsewhere (the settings window, another tool): read again when shown.
        p.view.hide();
        QFile file(entry);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Desktop Entry]\nType=Application\nName=Quorvel\nExec=/usr/bin/quorvel\n");
        file.close();
        QVERIFY(!login->isChecked());
        p.view.show();
        QVERIFY(login->isChecked());
    }

    void commands()
    {
        UiHarness h;
        int settingsOpened = 0;
        Panel p(h, {[&] { ++settingsOpened; }, {}});
        QSignalSpy dismissed(&p.view, &MenuBarView::dismissRequested);
        CommandButton *settings = p.command(Command::Settings);
        QCOMPARE(settings->text(), QStringLiteral("Settings…"));
        QCOMPARE(settings->symbol(), QStringLiteral("gearshape"));

        // No feed in this build: no update check is offered.
        QVERIFY(!p.command(Command::CheckForUpdates));

        // The whole row reacts, not only its text.
        QTest::mouseClick(settings, Qt::LeftButton, {},
                          QPoint(settings->width() - 3, settings->height() / 2));
        QCOMPARE(settingsOpened, 1);
        QCOMPARE(dismissed.count(), 1);
        QTest::keyClick(settings, Qt::Key_Space);
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
