#include "UiHarness.h"

#include "platform/TrayHost.h"
#include "ui/AppScenes.h"
#include "ui/panel/MenuBarLabel.h"
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
    explicit FakeTrayHost(bool available)
        : m_available(available)
    { }
    bool isAvailable() const override { return m_available; }
    void setAvailable(bool available)
    {
        m_available = available;
        Q_EMIT availableChanged();
    }

private:
    bool m_available;
};

struct Scenes
{
    explicit Scenes(UiHarness &h, bool trayAvailable = true, std::chrono::milliseconds patience = 30000ms)
        : tray(trayAvailable)
        , scenes(h.state, *h.engine,
                 AppScenes::Services {&h.settings, h.launchAtLogin.get(), h.updates.get(), &h.logger,
                                      &h.desktop},
                 {&tray, patience})
    { }
    QAction *action(const QString &name) const
    {
        return scenes.statusItem().menu().findChild<QAction *>(name);
    }
    QStringList menuTexts() const
    {
        QStringList texts;
        for (QAction *action : scenes.statusItem().menu().actions())
            if (!action->isSeparator())
                texts << action->text();
        return texts;
    }
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
    void trayMenuOffersThePanelAndEverythingItCanDoAndActs()
    {
        UiHarness h;
        Scenes s(h);
        s.scenes.start();
        QSystemTrayIcon *tray = s.scenes.statusItem().trayIcon();
        QVERIFY(tray && tray->isVisible());
        // Always set: some trays hide an icon without a menu, some show nothing else.
        QCOMPARE(tray->contextMenu(), &s.scenes.statusItem().menu());
        QCOMPARE(s.menuTexts(),
                 (QStringList {"Open Quorvel", "Auto-sync enabled", "Launch at login", "Settings…",
                               "Quit Quorvel"})); // no update feed in this build: no check offered

        QSignalSpy paused(&h.state, &AppState::isPausedChanged);

        QAction *sync = s.action(QStringLiteral("syncSwitch"));
        QVERIFY(sync->isChecked());
        sync->trigger();
        QCOMPARE(paused.count(), 1);
        QVERIFY(h.state.isPaused());
        // The entry keeps its name; only the check mark tells the pause.
        QCOMPARE(sync->text(), QStringLiteral("Auto-sync enabled"));
        QVERIFY(!sync->isChecked());

        QAction *login = s.action(QStringLiteral("loginSwitch"));
        login->trigger();
        QVERIFY(QFileInfo::exists(h.autostartEntry()));
        QVERIFY(login->isChecked());

        // "Open Quorvel" opens the panel and never closes it; a click on the icon does.
        QVERIFY(!s.scenes.panel().isVisible());
        s.action(QStringLiteral("openPanel"))->trigger();
        QVERIFY(s.scenes.panel().isVisible());
        s.action(QStringLiteral("openPanel"))->trigger();
        QVERIFY(s.scenes.panel().isVisible());
        Q_EMIT tray->activated(QSystemTrayIcon::Trigger);
        QVERIFY(!s.scenes.panel().isVisible());
    }

    void settingsWindowIsCreatedOnceAndBroughtForward()
    {
        UiHarness h;
        Scenes s(h);
        s.scenes.start();
        QVERIFY(!s.scenes.settingsWindow());
        s.action(QStringLiteral("command1"))->trigger();
        SettingsWindow *window = s.scenes.settingsWindow();
        QVERIFY(window);
        QVERIFY(window->isVisible());

        // From the panel too: the same window, not a second one.
        s.scenes.showPanel();
        QTest::mouseClick(s.scenes.view().findChild<QWidget *>(QStringLiteral("command1")), Qt::LeftButton);
        QCOMPARE(s.scenes.settingsWindow(), window);
        const QWidgetList windows = QApplication::topLevelWidgets();
        QCOMPARE(std::count_if(windows.begin(), windows.end(),
                               [](QWidget *w) { return qobject_cast<SettingsWindow *>(w) != nullptr; }),
                 1);
        // The panel steps aside for the window it opened.
        QVERIFY(!s.scenes.panel().isVisible());

        // Closed, it is gone; opened again, it is new.
        window->close();
        QTRY_VERIFY(!s.scenes.settingsWindow());
        s.scenes.openSettings();
        QVERIFY(s.scenes.settingsWindow());
    }

    void trayIconFollowsTheLabel()
    {
        UiHarness h;
        Scenes s(h);
        s.scenes.start();
        StatusItem &item = s.scenes.statusItem();
        QCOMPARE(item.toolTip(), QStringLiteral("Quorvel — Stopped"));
        const qint64 idle = item.trayIcon()->icon().cacheKey();

        h.state.setConnectionState(ConnectionState::connected(QStringLiteral("127.0.0.1:9")));
        const qint64 connected = item.trayIcon()->icon().cacheKey();
        QVERIFY(connected != idle);

        h.state.setDeviceRate(44100);
        QCOMPARE(item.toolTip(), QStringLiteral("Quorvel")); // the rate is not shown yet
        h.settings.setShowRateInMenuBar(true);
        QCOMPARE(item.toolTip(), QStringLiteral("Quorvel — 44.1k"));
        QVERIFY(item.trayIcon()->icon().cacheKey() != connected);
        QVERIFY(item.trayIcon()->icon().isMask());
    }

    void withoutATrayThePanelBecomesAWindowUntilATrayComesHoweverLate()
    {
        UiHarness h;
        Scenes s(h, false, 300ms);
        QSignalSpy decided(&s.scenes, &AppScenes::trayDecided);
        s.scenes.start();
        QVERIFY(s.scenes.isWaitingForTray());
        QVERIFY(!s.scenes.panel().isVisible());
        // Qt keeps its first answer about the tray, so nothing asks it before a tray is there.
        QVERIFY(!s.scenes.statusItem().trayIcon());
        QVERIFY(decided.wait(10000));
        QCOMPARE(decided.first().first().toBool(), false);
        QVERIFY(!s.scenes.hasTray());
        QVERIFY(!s.scenes.statusItem().trayIcon());
        QCOMPARE(s.scenes.panel().style(), PanelWindow::Style::Window);
        QVERIFY(s.scenes.panel().isVisible());
        QVERIFY(!s.scenes.panel().windowFlags().testFlag(Qt::FramelessWindowHint));
        QVERIFY(!s.scenes.panel().isActiveWindow());
        const QStringList warned = warnings(h);
        QCOMPARE(warned.size(), 1);
        QVERIFY(warned.first().endsWith(AppScenes::noTrayMessage.arg(0)));

        // Closing the window hides it; the program keeps running and can show it again.
        s.scenes.panel().close();
        QVERIFY(!s.scenes.panel().isVisible());
        s.scenes.showPanel();
        QVERIFY(s.scenes.panel().isVisible());

        // The tray comes after all: the icon is added, the window stays.
        s.tray.setAvailable(true);
        QCOMPARE(decided.size(), 2);
        QCOMPARE(decided.last().first().toBool(), true);
        QVERIFY(s.scenes.hasTray());
        QVERIFY(s.scenes.statusItem().trayIcon()->isVisible());
        QVERIFY(s.scenes.panel().isVisible());
        // A panel restart: the icon stays, and nothing is decided again.
        s.tray.setAvailable(false);
        s.tray.setAvailable(true);
        QVERIFY(s.scenes.statusItem().trayIcon()->isVisible());
        QCOMPARE(decided.size(), 2);
        QCOMPARE(warnings(h).size(), 1);
    }

    // Where a new window would take the keyboard (Wayland), a notification offers the panel; the
    // window shows itself only where no notification can.
    void withoutATrayOnWaylandANotificationOffersThePanel()
    {
        for (const bool notificationShown : {true, false}) {
            UiHarness h;
            h.desktop.notificationsShown = notificationShown;
            Scenes s(h, false, 100ms);
            s.scenes.panel().setStyle(PanelWindow::Style::Floating);
            QSignalSpy decided(&s.scenes, &AppScenes::trayDecided);
            s.scenes.start();
            QVERIFY(decided.wait(10000));
            QCOMPARE(h.desktop.offered, QStringList {AppScenes::noTrayTitle});
            QCOMPARE(s.scenes.panel().isVisible(), !notificationShown);
            if (notificationShown) {
                h.desktop.chosen();
                QVERIFY(s.scenes.panel().isVisible());
                QCOMPARE(s.scenes.panel().style(), PanelWindow::Style::Window);
            }
        }
    }

    void aTrayThatComesWithinThePatienceIsUsedQuietly()
    {
        UiHarness h;
        Scenes s(h, false);
        QSignalSpy decided(&s.scenes, &AppScenes::trayDecided);
        s.scenes.start();
        s.tray.setAvailable(true);
        QCOMPARE(decided.size(), 1);
        QCOMPARE(decided.first().first().toBool(), true);
        QVERIFY(!s.scenes.isWaitingForTray());
        QVERIFY(!s.scenes.panel().isVisible()); // it does not push itself forward
        QVERIFY(warnings(h).isEmpty());
    }

    void dropDownStylePerPlatform()
    {
        QCOMPARE(PanelWindow::dropDownStyle(QStringLiteral("wayland")), PanelWindow::Style::Floating);
        QCOMPARE(PanelWindow::dropDownStyle(QStringLiteral("wayland-egl")), PanelWindow::Style::Floating);
        QCOMPARE(PanelWindow::dropDownStyle(QStringLiteral("xcb")), PanelWindow::Style::Popup);

        // Not on Wayland: a popup that drops down and closes on a click elsewhere.
        UiHarness h;
        Scenes s(h);
        s.scenes.start();
        s.scenes.showPanel();
        PanelWindow &panel = s.scenes.panel();
        QVERIFY(panel.isVisible());
        QCOMPARE(panel.view(), &s.scenes.view());
        QCOMPARE(panel.windowType(), Qt::Popup);
        QVERIFY(panel.windowFlags().testFlag(Qt::FramelessWindowHint));
        QTest::keyClick(&panel, Qt::Key_Escape);
        QVERIFY(!panel.isVisible());

        // On Wayland: a titled window the compositor places, which stays when another window
        // takes the focus and goes on a click on the icon or Escape.
        panel.setStyle(PanelWindow::Style::Floating);
        s.scenes.showPanel();
        QCOMPARE(panel.windowType(), Qt::Window);
        QVERIFY(!panel.windowFlags().testFlag(Qt::FramelessWindowHint));
        QCOMPARE(panel.windowTitle(), QStringLiteral("Quorvel"));
        QWidget other;
        other.show();
        other.activateWindow();
        QTRY_VERIFY(other.isActiveWindow());
        QVERIFY(panel.isVisible());
        Q_EMIT s.scenes.statusItem().trayIcon()->activated(QSystemTrayIcon::Trigger);
        QVERIFY(!panel.isVisible());
        Q_EMIT s.scenes.statusItem().trayIcon()->activated(QSystemTrayIcon::Trigger);
        QVERIFY(panel.isVisible());
        QTest::keyClick(&panel, Qt::Key_Escape);
        QVERIFY(!panel.isVisible());
    }

    void dropDownSitsBesideTheIconInsideTheScreen()
    {
        const QRect screen(0, 0, 1920, 1080);
        const QSize panel(300, 400);
        // A top panel: below the icon, centred on it.
        const QRect icon(1000, 0, 24, 24);
        QPoint at = PanelWindow::placement(panel, icon, screen);
        QCOMPARE(at, QPoint(icon.center().x() - 150, icon.bottom() + 1 + 4));
        // A bottom panel: above it.
        at = PanelWindow::placement(panel, QRect(1000, 1056, 24, 24), screen);
        QCOMPARE(at.y(), 1056 - 4 - 400);
        // At the right edge: kept on the screen.
        at = PanelWindow::placement(panel, QRect(1900, 0, 20, 20), screen);
        QCOMPARE(at.x(), 1920 - 300);
    }

    void updateOutcomesAreShown()
    {
        UiHarness h;
        Scenes s(h);
        s.scenes.start();
        UpdateController::Outcome newer;
        newer.kind = UpdateController::Outcome::Kind::NewerVersion;
        newer.version = QStringLiteral("0.2.0");
        newer.releaseNotes = QUrl(QStringLiteral("https://example.invalid/notes"));
        newer.downloadPage = QUrl(QStringLiteral("https://example.invalid/download"));
        Q_EMIT h.updates->userCheckFinished(newer);
        UpdateOutcomeDialog *dialog = s.scenes.updateDialog();
        QVERIFY(dialog);
        const auto text = [dialog](const char *name) {
            return dialog->findChild<QLabel *>(QString::fromLatin1(name))->text();
        };
        QVERIFY(dialog->isVisible());
        QVERIFY(!dialog->isModal());
        QCOMPARE(text("heading"), QStringLiteral("Quorvel 0.2.0 is available"));
        QVERIFY(dialog->findChild<QPushButton *>(QStringLiteral("download"))->isVisibleTo(dialog));
        QVERIFY(text("notes").contains(QStringLiteral("https://example.invalid/notes")));

        UpdateController::Outcome failed;
        failed.kind = UpdateController::Outcome::Kind::Failed;
        failed.errorMessage = QStringLiteral("Connection refused");
        Q_EMIT h.updates->userCheckFinished(failed);
        QCOMPARE(s.scenes.updateDialog(), dialog); // one dialog, brought up to date
        QCOMPARE(text("heading"), QStringLiteral("Update check failed"));
        QCOMPARE(text("message"), QStringLiteral("Connection refused"));
        QVERIFY(!dialog->findChild<QPushButton *>(QStringLiteral("download"))->isVisibleTo(dialog));

        UpdateController::Outcome upToDate;
        upToDate.kind = UpdateController::Outcome::Kind::UpToDate;
        const UpdateOutcomeDialog::Texts texts
            = UpdateOutcomeDialog::textsFor(upToDate, QStringLiteral("0.1.0"));
        QCOMPARE(texts.heading, QStringLiteral("Quorvel is up to date"));
        QVERIFY(texts.message.contains(QStringLiteral("0.1.0")));
        QVERIFY(texts.downloadButton.isEmpty());

        // The download button hands the page to the desktop.
        Q_EMIT h.updates->userCheckFinished(newer);
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("download")), Qt::LeftButton);
        QCOMPARE(h.desktop.opened, QList<QUrl> {newer.downloadPage});
    }

    void quitFromTheMenuEndsTheProgram()
    {
        UiHarness h;
        Scenes s(h);
        s.scenes.start();
        QTimer::singleShot(0, [&] { s.action(QStringLiteral("command2"))->trigger(); });
        // Should Quit fail to end the loop, the test fails rather than hanging.
        QTimer::singleShot(10000, [] { QCoreApplication::exit(99); });
        QCOMPARE(QCoreApplication::exec(), 0);
    }
};

QTEST_MAIN(TestAppScenes)
#include "tst_AppScenes.moc"
