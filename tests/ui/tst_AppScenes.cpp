#include "UiHarness.h"

#include "platform/TrayHost.h"
#include "ui/AppScenes.h"
#include "ui/panel/MenuBarView.h"
#include "ui/panel/PanelWindow.h"
#include "ui/panel/StatusItem.h"
#include "ui/settings/SettingsWindow.h"
#include "ui/settings/UpdateOutcomeDialog.h"

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

using namespace std::chrono_literals;

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
    explicit Scenes(UiHarness &h, bool trayAvailable = true, std::chrono::milliseconds patience = 30000ms)
        : scenes(h.state, *h.engine,
                 {&h.settings, h.launchAtLogin.get(), h.updates.get(), &h.logger, &h.desktop},
                 {&tray, patience})
    {
        tray.available = trayAvailable;
        scenes.start();
    }
    QAction *action(const char *name) const
    {
        return scenes.statusItem().menu().findChild<QAction *>(QString::fromLatin1(name));
    }
    void clickIcon() { Q_EMIT scenes.statusItem().trayIcon()->activated(QSystemTrayIcon::Trigger); }
    PanelWindow &panel() { return scenes.panel(); }
    FakeTrayHost tray;
    AppScenes scenes;
};

QStringList warnings(UiHarness &h)
{
    return h.logLines().filter(QStringLiteral("] [WARN] "));
}

} // namespace

class TestAppScenes : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void trayIconAndMenu()
    {
        UiHarness h;
        Scenes s(h);
        QSystemTrayIcon *tray = s.scenes.statusItem().trayIcon();
        QVERIFY(tray && tray->isVisible());
        // Always set: some trays hide an icon without a menu.
        QCOMPARE(tray->contextMenu(), &s.scenes.statusItem().menu());
        QStringList texts;
        for (QAction *action : tray->contextMenu()->actions())
            texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
        QCOMPARE(texts,
                 (QStringList {"Open Quorvel", "-", "Auto-sync enabled", "Launch at login", "-", "Settings…",
                               "-", "Quit Quorvel"}));

        // The entry keeps its name; only the check mark tells the pause.
        s.action("syncSwitch")->trigger();
        QVERIFY(h.state.isPaused());
        QCOMPARE(s.action("syncSwitch")->text(), QStringLiteral("Auto-sync enabled"));
        QVERIFY(!s.action("syncSwitch")->isChecked());
        s.action("loginSwitch")->trigger();
        QVERIFY(QFileInfo::exists(h.autostartEntry()));

        // The icon follows the label.
        QCOMPARE(s.scenes.statusItem().toolTip(), QStringLiteral("Quorvel — Stopped"));
        const qint64 idle = tray->icon().cacheKey();
        h.state.setConnectionState(ConnectionState::connected(QStringLiteral("127.0.0.1:9")));
        QVERIFY(tray->icon().cacheKey() != idle);
        QCOMPARE(s.scenes.statusItem().toolTip(), QStringLiteral("Quorvel"));

        // "Open Quorvel" opens the panel and never closes it; a click on the icon does.
        s.action("openPanel")->trigger();
        s.action("openPanel")->trigger();
        QVERIFY(s.panel().isVisible());
        s.clickIcon();
        QVERIFY(!s.panel().isVisible());
    }

    void settingsWindowIsCreatedOnceAndBroughtForward()
    {
        UiHarness h;
        Scenes s(h);
        s.action("command1")->trigger();
        SettingsWindow *window = s.scenes.settingsWindow();
        QVERIFY(window && window->isVisible());
        // From the panel too: the same window, and the panel steps aside for it.
        s.scenes.showPanel();
        QTest::mouseClick(s.scenes.view().findChild<QWidget *>(QStringLiteral("command1")), Qt::LeftButton);
        QCOMPARE(s.scenes.settingsWindow(), window);
        QVERIFY(!s.panel().isVisible());
        // Closed, it is gone (with its browser); opened again, it is new.
        window->close();
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
        QVERIFY(!s.scenes.statusItem().trayIcon());
        QVERIFY(!s.panel().isVisible());
        QVERIFY(decided.wait(10000));
        QCOMPARE(decided.first().first().toBool(), false);
        QCOMPARE(s.panel().style(), PanelWindow::Style::Window);
        QVERIFY(s.panel().isVisible());
        QVERIFY(!s.panel().isActiveWindow());
        QVERIFY(warnings(h).first().endsWith(AppScenes::noTrayMessage.arg(0)));
        // A window stays on Escape; closed, it can be shown again.
        QTest::keyClick(&s.panel(), Qt::Key_Escape);
        QVERIFY(s.panel().isVisible());
        s.panel().close();
        s.scenes.showPanel();
        QVERIFY(s.panel().isVisible());

        // The tray comes after all: the icon is added, the window stays; a panel restart
        // decides nothing again.
        s.tray.setAvailable(true);
        s.tray.setAvailable(false);
        s.tray.setAvailable(true);
        QCOMPARE(decided.size(), 2);
        QCOMPARE(decided.last().first().toBool(), true);
        QVERIFY(s.scenes.statusItem().trayIcon()->isVisible());
        QVERIFY(s.panel().isVisible());
        QCOMPARE(warnings(h).size(), 1);
    }

    void aTrayThatComesWithinThePatienceIsUsedQuietly()
    {
        UiHarness h;
        Scenes s(h, false);
        s.tray.setAvailable(true);
        QVERIFY(!s.scenes.isWaitingForTray());
        QVERIFY(s.scenes.statusItem().trayIcon());
        QVERIFY(!s.panel().isVisible()); // it does not push itself forward
        QVERIFY(warnings(h).isEmpty());
    }

    // Where a new window would take the keyboard (Wayland), a notification offers the panel; the
    // window shows itself only where no notification can.
    void withoutATrayOnWaylandANotificationOffersThePanel()
    {
        for (const bool notificationShown : {true, false}) {
            UiHarness h;
            h.desktop.notificationsShown = notificationShown;
            FakeTrayHost tray;
            tray.available = false;
            AppScenes scenes(h.state, *h.engine,
                             {&h.settings, h.launchAtLogin.get(), h.updates.get(), &h.logger, &h.desktop},
                             {&tray, 100ms});
            scenes.panel().setStyle(PanelWindow::Style::Floating);
            QSignalSpy decided(&scenes, &AppScenes::trayDecided);
            scenes.start();
            QVERIFY(decided.wait(10000));
            QCOMPARE(h.desktop.offered, QStringList {AppScenes::noTrayTitle});
            QCOMPARE(scenes.panel().isVisible(), !notificationShown);
            if (notificationShown) {
                h.desktop.chosen();
                QVERIFY(scenes.panel().isVisible());
            }
        }
    }

    void dropDownPerPlatform()
    {
        QCOMPARE(PanelWindow::dropDownStyle(QStringLiteral("wayland-egl")), PanelWindow::Style::Floating);
        QCOMPARE(PanelWindow::dropDownStyle(QStringLiteral("xcb")), PanelWindow::Style::Popup);
        // Below an icon in a top panel, above one in a bottom panel, always on the screen.
        const QRect screen(0, 0, 1920, 1080);
        const QSize size(300, 400);
        QCOMPARE(PanelWindow::placement(size, QRect(1000, 0, 24, 24), screen), QPoint(861, 28));
        QCOMPARE(PanelWindow::placement(size, QRect(1000, 1056, 24, 24), screen), QPoint(861, 652));
        QCOMPARE(PanelWindow::placement(size, QRect(1900, 0, 20, 20), screen).x(), 1920 - 300);

        // Not on Wayland: a frameless popup that closes on Escape.
        UiHarness h;
        Scenes s(h);
        s.scenes.showPanel();
        QCOMPARE(s.panel().windowType(), Qt::Popup);
        QTest::keyClick(&s.panel(), Qt::Key_Escape);
        QVERIFY(!s.panel().isVisible());

        // On Wayland: a titled window the compositor places, which stays when another window
        // takes the focus and goes on a click on the icon.
        s.panel().setStyle(PanelWindow::Style::Floating);
        s.clickIcon();
        QCOMPARE(s.panel().windowType(), Qt::Window);
        QCOMPARE(s.panel().windowTitle(), QStringLiteral("Quorvel"));
        QWidget other;
        other.show();
        other.activateWindow();
        QTRY_VERIFY(other.isActiveWindow());
        QVERIFY(s.panel().isVisible());
        s.clickIcon();
        QVERIFY(!s.panel().isVisible());
    }

    void updateOutcomes()
    {
        using Kind = UpdateController::Outcome::Kind;
        const UpdateController::Outcome newer {
            Kind::NewerVersion, "0.2.0", {}, QUrl("https://example.invalid/d"), {}};
        const UpdateController::Outcome failed {Kind::Failed, {}, {}, {}, "Connection refused"};
        const auto texts = [](const UpdateController::Outcome &outcome) {
            const auto t = UpdateOutcomeDialog::textsFor(outcome, QStringLiteral("0.1.0"));
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
        auto *download = dialog->findChild<QPushButton *>(QStringLiteral("download"));
        QCOMPARE(download->text(), QStringLiteral("Open Download Page"));
        QTest::mouseClick(download, Qt::LeftButton);
        QCOMPARE(h.desktop.opened, QList<QUrl> {newer.downloadPage});
    }

    void quitFromTheMenuEndsTheProgram()
    {
        UiHarness h;
        Scenes s(h);
        QTimer::singleShot(0, [&] { s.action("command2")->trigger(); });
        // Should Quit fail to end the loop, the test fails rather than hanging.
        QTimer::singleShot(10000, [] { QCoreApplication::exit(99); });
        QCOMPARE(QCoreApplication::exec(), 0);
    }
};

QTEST_MAIN(TestAppScenes)
#include "tst_AppScenes.moc"
