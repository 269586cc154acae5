// The scenes as the program builds them: tray icon and menu, the panel's widgets and window,
// the settings window and the update dialog. What they show is checked against their models.
#include "AwaitTask.h"
#include "UiHarness.h"

#include "platform/TrayHost.h"
#include "ui/AppScenes.h"
#include "ui/panel/MenuBarView.h"
#include "ui/panel/PanelWindow.h"
#include "ui/panel/StatusItem.h"
#include "ui/settings/SettingsWindow.h"
#include "ui/settings/UpdateOutcomeDialog.h"
#include "ui/widgets/FormStyle.h"
#include "ui/widgets/SwitchButton.h"

#include <QAccessible>
#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>

using namespace Qt::StringLiterals;

using namespace std::chrono_literals;
using Style = PanelWindow::Style;

namespace {

// A tray the test puts up and takes down.
class FakeTrayHost : public TrayHost
{
public:
    bool isAvailable() const override { return available; }
    void setAvailable(bool value)
    {
        available = value;
        Q_EMIT availableChanged();
    }
    bool available = true;
};

struct Scenes
{
    explicit Scenes(UiHarness &h, bool tray = true, std::chrono::milliseconds patience = 30000ms,
                    Style style = Style::Popup)
        : scenes(h.state, *h.engine,
                 {&h.settings, h.launchAtLogin.get(), h.updates.get(), &h.logger, &h.desktop},
                 {&this->tray, patience})
    {
        this->tray.available = tray;
        scenes.panel().setStyle(style);
        scenes.start();
    }
    QAction *action(const char *name) const
    {
        return scenes.statusItem().menu().findChild<QAction *>(QString::fromLatin1(name));
    }
    template<typename T = QLabel> T *find(const char *name) const
    {
        return scenes.view().findChild<T *>(QString::fromLatin1(name));
    }
    QString text(const char *name) const
    {
        const QLabel *label = find(name);
        return label && !label->isHidden() ? label->text() : u"<hidden>"_s;
    }
    // The panel's shown widgets, top to bottom.
    QStringList column() const
    {
        QStringList names;
        for (int i = 0; i < scenes.view().layout()->count(); ++i)
            if (QWidget *widget = scenes.view().layout()->itemAt(i)->widget(); widget && !widget->isHidden())
                names << widget->objectName();
        return names;
    }
    void clickIcon() { Q_EMIT scenes.statusItem().trayIcon()->activated(QSystemTrayIcon::Trigger); }
    PanelWindow &panel() { return scenes.panel(); }
    FakeTrayHost tray;
    AppScenes scenes;
};

} // namespace

class TestAppScenes : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void trayIconMenuAndPanelPerPlatform()
    {
        UiHarness h;
        Scenes s(h);
        QSystemTrayIcon *tray = s.scenes.statusItem().trayIcon();
        QVERIFY(tray && tray->isVisible());
        QCOMPARE(tray->contextMenu(), &s.scenes.statusItem().menu()); // some trays hide an icon without one
        QStringList texts;
        for (QAction *action : tray->contextMenu()->actions())
            texts << (action->isSeparator() ? u"-"_s : action->text());
        QCOMPARE(texts,
                 (QStringList {"Open Quorvel", "-", "Auto-sync enabled", "Launch at login", "-", "Settings…",
                               "-", "Quit Quorvel"}));
        // The entry keeps its name; only the check mark tells the pause.
        s.action("syncSwitch")->trigger();
        QVERIFY(h.state.isPaused() && !s.action("syncSwitch")->isChecked());
        QCOMPARE(s.action("syncSwitch")->text(), u"Auto-sync enabled"_s);
        s.action("loginSwitch")->trigger();
        QVERIFY(QFileInfo::exists(h.autostartEntry()));
        s.action("command1")->trigger();
        QVERIFY(s.scenes.settingsWindow() && s.scenes.settingsWindow()->isVisible());

        // The icon follows the label.
        const qint64 idle = tray->icon().cacheKey();
        h.state.setConnectionState(ConnectionState::connected(u"127.0.0.1:9"_s));
        QVERIFY(tray->icon().cacheKey() != idle);
        QCOMPARE(s.scenes.statusItem().toolTip(), u"Quorvel"_s);
        // "Open Quorvel" opens the panel and never closes it.
        s.action("openPanel")->trigger();
        s.action("openPanel")->trigger();
        QVERIFY(s.panel().isVisible());

        // Not on Wayland: a frameless popup below an icon in a top panel, above one in a bottom
        // panel, always on the screen, that closes on Escape.
        QCOMPARE(PanelWindow::dropDownStyle(u"xcb"_s), Style::Popup);
        const QRect screen(0, 0, 1920, 1080);
        QCOMPARE(PanelWindow::placement({300, 400}, QRect(1000, 0, 24, 24), screen), QPoint(861, 28));
        QCOMPARE(PanelWindow::placement({300, 400}, QRect(1000, 1056, 24, 24), screen), QPoint(861, 652));
        QCOMPARE(PanelWindow::placement({300, 400}, QRect(1900, 0, 20, 20), screen).x(), 1920 - 300);
        QCOMPARE(s.panel().windowType(), Qt::Popup);
        QTest::keyClick(&s.panel(), Qt::Key_Escape);
        QVERIFY(!s.panel().isVisible());
        // On Wayland: a titled window the compositor places, which stays when another window
        // takes the focus and goes on a click on the icon.
        QCOMPARE(PanelWindow::dropDownStyle(u"wayland-egl"_s), Style::Floating);
        s.panel().setStyle(Style::Floating);
        s.clickIcon();
        QCOMPARE(s.panel().windowType(), Qt::Window);
        QCOMPARE(s.panel().windowTitle(), u"Quorvel"_s);
        QWidget other;
        other.show();
        other.activateWindow();
        QTRY_VERIFY(other.isActiveWindow());
        QVERIFY(s.panel().isVisible());
        s.clickIcon();
        QVERIFY(!s.panel().isVisible());
    }

    void panelShowsTheModelAndActs()
    {
        UiHarness h;
        const QString agent = h.dir.filePath(u"Library/LaunchAgents/com.studio.m1620sync.plist"_s);
        QVERIFY(QDir().mkpath(QFileInfo(agent).path()) && QFile(agent).open(QIODevice::WriteOnly));
        QVERIFY(awaitTask(h.legacy.detect()));
        Scenes s(h);
        s.scenes.showPanel();
        const MenuBarViewModel &model = s.scenes.view().model();
        QCOMPARE(s.column().size(), 7); // status, rates, switches and commands, with dividers between
        QCOMPARE(s.text("statusSubtitle"), u"<hidden>"_s);

        h.state.setConnectionState(ConnectionState::connected(u"127.0.0.1:9"_s));
        h.state.setMadiRate(44100);
        h.state.setMadiSync(false);
        for (int i = 0; i < 3; ++i)
            h.state.recordRateChange(44100, 47000 + 1000 * i);
        h.state.setLegacyScriptDetected(true);
        QCOMPARE(
            s.column(),
            (QStringList {"statusSection", "legacySectionDivider", "legacySection", "ratesSectionDivider",
                          "ratesSection", "historySectionDivider", "historySection", "switchesSectionDivider",
                          "switchesSection", "commandsSectionDivider", "commandsSection"}));
        QCOMPARE(s.text("statusTitle"), model.statusHeader().title);
        QCOMPARE(s.text("statusSubtitle"), u"127.0.0.1:9"_s);
        QCOMPARE(s.text("madiSync"), model.rates().madiSync);
        const QList<QLabel *> changes
            = s.find<QWidget>("historySection")->findChildren<QLabel *>("historyChange");
        QCOMPARE(changes.size(), MenuBarViewModel::maxHistoryRows);
        for (qsizetype i = 0; i < changes.size(); ++i) // the rows without a change are hidden
            QCOMPARE(changes[i]->parentWidget()->isHidden() ? QString() : changes[i]->text(),
                     model.historyRows().value(i).change);
        // The copied command removes what the engine's last check found.
        auto *copy = s.find<QPushButton>("copyRemovalCommand");
        QVERIFY(!copy->autoDefault()); // Return in the panel must not copy
        QTest::mouseClick(copy, Qt::LeftButton);
        QCOMPARE(h.desktop.copied,
                 QStringList {u"rm -f %1 && echo \"Old M-1620 Rate Sync removed\""_s.arg(agent)});
        QCOMPARE(copy->text(), u"Copied — paste into a terminal"_s);
        // A lost device's last reading is drawn dimmed.
        const QColor secondary = FormStyle::secondary(s.scenes.view().palette());
        QVERIFY(s.find("madiInput")->palette().color(QPalette::WindowText) != secondary);
        h.state.setConnectionState(ConnectionState::error(u"gone"_s));
        QCOMPARE(s.find("madiInput")->palette().color(QPalette::WindowText), secondary);
        h.state.setLegacyScriptDetected(false); // a section that goes takes its divider along
        QCOMPARE(s.column().filter(u"legacy"_s), QStringList());

        auto *sync = s.find<SwitchButton>("syncSwitch");
        QTest::mouseClick(sync, Qt::LeftButton);
        QVERIFY(h.state.isPaused() && !sync->isChecked());
        QCOMPARE(s.text("syncText"), u"Sync paused"_s);
        h.engine->togglePause(); // from elsewhere (the tray menu): the switch follows
        QVERIFY(sync->isChecked());
        auto *login = s.find<SwitchButton>("loginSwitch");
        QAccessible::queryAccessibleInterface(login)->actionInterface()->doAction(
            QAccessibleActionInterface::toggleAction());
        QVERIFY(QFileInfo::exists(h.autostartEntry()) && login->isChecked());

        // The whole row reacts, and the panel steps aside for the one settings window it opens.
        auto *settings = s.find<QWidget>("command1");
        QTest::mouseClick(settings, Qt::LeftButton, {},
                          QPoint(settings->width() - 3, settings->height() / 2));
        SettingsWindow *window = s.scenes.settingsWindow();
        QVERIFY(window && !s.panel().isVisible());
        s.scenes.showPanel();
        QTest::keyClick(settings, Qt::Key_Return);
        QVERIFY(s.scenes.settingsWindow() == window && !s.panel().isVisible());
        window->close(); // closed, it is gone with its browser; opened again, it is new
        QTRY_VERIFY(!s.scenes.settingsWindow());
        s.scenes.openSettings();
        QVERIFY(s.scenes.settingsWindow());
    }

    void withoutATrayThePanelBecomesAWindowUntilATrayComesHoweverLate()
    {
        UiHarness h;
        Scenes s(h, false, 100ms);
        QSignalSpy decided(&s.scenes, &AppScenes::trayDecided);
        // Qt keeps its first answer about the tray, so nothing asks it before a tray is there.
        QVERIFY(!s.scenes.statusItem().trayIcon() && !s.panel().isVisible());
        QVERIFY(decided.wait(10000));
        QCOMPARE(decided.first().first().toBool(), false);
        QCOMPARE(s.panel().style(), Style::Window);
        QVERIFY(s.panel().isVisible() && !s.panel().isActiveWindow());
        QVERIFY(logLines(h.logger).filter(u"[WARN]"_s).first().endsWith(AppScenes::noTrayMessage.arg(0)));
        QTest::keyClick(&s.panel(), Qt::Key_Escape); // a window stays; closed, it can come back
        QVERIFY(s.panel().isVisible());
        s.panel().close();
        s.scenes.showPanel();
        QVERIFY(s.panel().isVisible());
        // The tray comes after all: the icon is added, the window stays; a restart of the tray
        // decides nothing again.
        s.tray.setAvailable(true);
        s.tray.setAvailable(false);
        s.tray.setAvailable(true);
        QCOMPARE(decided.size(), 2);
        QVERIFY(s.scenes.statusItem().trayIcon()->isVisible() && s.panel().isVisible());
        QCOMPARE(logLines(h.logger).filter(u"[WARN]"_s).size(), 1);

        // A tray that comes within the patience is used quietly.
        UiHarness quiet;
        Scenes patient(quiet, false);
        patient.tray.setAvailable(true);
        QVERIFY(!patient.scenes.isWaitingForTray() && patient.scenes.statusItem().trayIcon());
        QVERIFY(!patient.panel().isVisible() && logLines(quiet.logger).filter(u"[WARN]"_s).isEmpty());
    }

    // Where a new window would take the keyboard (Wayland), a notification offers the panel; the
    // window shows itself only where no notification can.
    void withoutATrayOnWaylandANotificationOffersThePanel()
    {
        for (const bool notificationShown : {true, false}) {
            UiHarness h;
            h.desktop.notificationsShown = notificationShown;
            Scenes s(h, false, 100ms, Style::Floating);
            QTRY_COMPARE(h.desktop.offered, QStringList {AppScenes::noTrayTitle});
            QTRY_COMPARE(s.panel().isVisible(), !notificationShown);
            if (notificationShown) {
                h.desktop.chosen();
                QVERIFY(s.panel().isVisible());
            }
        }
    }

    void updateOutcomes()
    {
        using Kind = UpdateController::Outcome::Kind;
        const UpdateController::Outcome newer {
            Kind::NewerVersion, "0.2.0", {}, QUrl("https://example.invalid/d"), {}};
        const UpdateController::Outcome failed {Kind::Failed, {}, {}, {}, "Connection refused"};
        const auto texts = [](const UpdateController::Outcome &outcome) {
            const auto t = UpdateOutcomeDialog::textsFor(outcome, u"0.1.0"_s);
            return QStringList {t.heading, t.message, t.downloadButton, t.closeButton};
        };
        QCOMPARE(texts(newer),
                 (QStringList {"Quorvel 0.2.0 is available", "You have version 0.1.0.", "Open Download Page",
                               "Not Now"}));
        QCOMPARE(texts(failed), (QStringList {"Update check failed", "Connection refused", "", "OK"}));
        QCOMPARE(texts({Kind::UpToDate, {}, {}, {}, {}}),
                 (QStringList {"Quorvel is up to date", "Version 0.1.0 is the newest version available.", "",
                               "OK"}));

        // The scenes show one dialog, kept up to date, whose button hands the page to the desktop.
        UiHarness h;
        Scenes s(h);
        Q_EMIT h.updates->userCheckFinished(failed);
        UpdateOutcomeDialog *dialog = s.scenes.updateDialog();
        QVERIFY(dialog && dialog->isVisible() && !dialog->isModal());
        Q_EMIT h.updates->userCheckFinished(newer);
        QCOMPARE(s.scenes.updateDialog(), dialog);
        auto *download = dialog->findChild<QPushButton *>(u"download"_s);
        QCOMPARE(download->text(), u"Open Download Page"_s);
        QTest::mouseClick(download, Qt::LeftButton);
        QCOMPARE(h.desktop.opened, QList<QUrl> {newer.downloadPage});
    }
};

QTEST_MAIN(TestAppScenes)
#include "tst_AppScenes.moc"
