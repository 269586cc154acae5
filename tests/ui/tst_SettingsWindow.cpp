// The window on fake DNS-SD browsers, a recording connection tester or the device simulator on
// loopback. The rules are the models' (tst_SettingsModels); here, what the user sees and does.
#include "UiHarness.h"

#include "DeviceSimulator.h"
#include "core/BuildInfo.h"
#include "platform/NameServiceSwitch.h"
#include "ui/settings/AboutDialog.h"
#include "ui/settings/ConnectionTab.h"
#include "ui/settings/GeneralTabModel.h"
#include "ui/settings/SettingsWindow.h"
#include "ui/widgets/ElidedLabel.h"
#include "ui/widgets/FormStyle.h"
#include "ui/widgets/SwitchButton.h"

#include <QAccessible>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTcpServer>
#include <QTest>

namespace {

struct Window
{
    explicit Window(UiHarness &h, bool recordingTester = false, int tab = SettingsWindow::ConnectionTabIndex)
        : window(h.state,
                 {&h.settings, h.launchAtLogin.get(), h.updates.get(), &h.logger, h.browsers(),
                  recordingTester ? h.recordingTester() : nullptr, &h.desktop})
    {
        window.tabs()->setCurrentIndex(tab);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }
    template<typename T = QLabel> T *find(const QString &name) const
    {
        T *widget = window.findChild<T *>(name);
        if (!widget)
            qWarning("no widget named %s", qPrintable(name));
        return widget;
    }
    QLineEdit *field() const { return find<QLineEdit>(QStringLiteral("customHostField")); }
    SwitchButton *toggle(const QString &name) const
    {
        return find<SwitchButton>(name + QStringLiteral("Switch"));
    }
    QPushButton *button(const QString &name) const { return find<QPushButton>(name); }
    QLabel *result() const { return find(QStringLiteral("testResult")); }
    QWidget *row(int index) const
    {
        return window.findChild<QWidget *>(QStringLiteral("discoveredHost%1").arg(index));
    }
    SettingsWindow window;
};

QColor textColor(const QWidget *label)
{
    return label->palette().color(QPalette::WindowText);
}

} // namespace

class TestSettingsWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void texts()
    {
        UiHarness h;
        Window w(h);
        QCOMPARE(w.window.windowTitle(), QStringLiteral("Quorvel Settings"));
        QCOMPARE(w.window.tabs()->tabText(0), QStringLiteral("Connection"));
        QCOMPARE(w.window.tabs()->tabText(1), QStringLiteral("General"));
        QCOMPARE(w.field()->placeholderText(), QStringLiteral("e.g. 192.168.1.42 or m1620.local"));
        const QList<std::pair<const char *, const char *>> texts {
            {"useCustomHostText", "Use custom IP / hostname"},
            {"customHostLabel", "172.20.0.1"},
            {"testButton", "Test"},
            {"defaultHostNote", "Default is 172.20.0.1 — the M-1620's USB control address."},
            {"discoveredHeading", "Discovered on network"},
            {"discoveredEmpty", "Nothing found yet. Make sure the device is on the same network."},
            {"settleMillisecondsText", "Wait for the MADI rate to settle"},
            {"followOnlyWhenLockedText", "Follow only a locked MADI input"},
            {"matchPipeWireRateText", "Match the computer's audio rate (PipeWire)"},
            {"rateChangeCommandText", "Run after each rate change"},
            {"notifyOnRateChangeText", "Notify on sample rate change"},
            {"notifyOnDisconnectText", "Notify when device disconnects"},
            {"showRateInMenuBarText", "Show sample rate in menu bar"},
            {"menuBarNote",
             "A warning icon replaces the metronome if the M-1620 and MADI input stay out of sync."},
            {"packageManagerNote", "Updates come with your system's package manager."},
            {"launchAtLoginText", "Launch Quorvel at login"},
            {"diagnosticsCaption", "Having trouble? Copy a report to send."},
            {"aboutButton", "About Quorvel"},
            {"revealButton", "Reveal"},
            {"copyDiagnosticsButton", "Copy diagnostics"},
        };
        for (const auto &[name, text] : texts) {
            QWidget *widget = w.find<QWidget>(QString::fromLatin1(name));
            QCOMPARE(widget->property("text").toString(), QString::fromUtf8(text));
        }
        QStringList titles;
        for (const QLabel *title : w.window.findChildren<QLabel *>(QStringLiteral("sectionTitle")))
            titles << title->text();
        QCOMPARE(
            titles,
            (QStringList {"Notifications", "Menu bar", "Updates", "Startup", "Logs", "Following", "Device"}));
        QCOMPARE(w.find(QStringLiteral("versionText"))->text(),
                 "Version " + QString::fromUtf8(BuildInfo::version));
        QCOMPARE(w.find<ElidedLabel>(QStringLiteral("logPath"))->text(), h.logger.logFile());
        QVERIFY(textColor(w.find(QStringLiteral("defaultHostNote"))).alphaF() < 1.0); // a dimmed note
        // The whole General form fits the fixed size; nothing is cut off.
        w.window.tabs()->setCurrentIndex(SettingsWindow::GeneralTabIndex);
        QWidget *last = w.button(QStringLiteral("copyDiagnosticsButton"));
        const QRect page(w.window.tabs()->currentWidget()->mapTo(&w.window, QPoint()),
                         SettingsWindow::contentSize);
        QVERIFY(page.contains(QRect(last->mapTo(&w.window, QPoint()), last->size())));
    }

    void hostSwitchAndFieldStoreEveryChange()
    {
        UiHarness h;
        h.settings.setUseCustomHost(false);
        h.settings.setCustomHost(QStringLiteral("192.168.1.42"));
        Window w(h, true);
        // Off, the field shows the stored host but cannot be edited, and "Test" tries the default.
        QCOMPARE(w.field()->text(), QStringLiteral("192.168.1.42"));
        QVERIFY(!w.field()->isEnabled());
        QTest::mouseClick(w.button(QStringLiteral("testButton")), Qt::LeftButton);
        QTRY_COMPARE(h.tested, QStringList {QStringLiteral("172.20.0.1")});

        // A click on the row's text flips the switch too.
        QTest::mouseClick(w.find(QStringLiteral("useCustomHostText")), Qt::LeftButton);
        QVERIFY(h.settings.useCustomHost());
        QVERIFY(w.field()->isEnabled());
        QStringList stored;
        connect(&h.settings, &AppSettings::customHostChanged, &w.window,
                [&] { stored << h.storedSettings().value(QStringLiteral("customHost")).toString(); });
        w.field()->setFocus();
        w.field()->selectAll();
        QTest::keyClicks(w.field(), QStringLiteral("127"));
        QCOMPARE(stored, (QStringList {"1", "12", "127"}));
        QCOMPARE(w.field()->cursorPosition(), 3);
        // A change from elsewhere shows.
        h.settings.setCustomHost(QStringLiteral("m1620.local"));
        h.settings.setUseCustomHost(false);
        QCOMPARE(w.field()->text(), QStringLiteral("m1620.local"));
        QVERIFY(!w.toggle(QStringLiteral("useCustomHost"))->isChecked());
    }

    void testRunsInTheBackgroundAndShowsTheOutcomeInGreenOrRed()
    {
        DeviceSimulator sim;
        QVERIFY2(sim.listen(), qPrintable(sim.errorString()));
        UiHarness h;
        h.settings.setCustomHost(QStringLiteral("127.0.0.1:%1").arg(sim.port()));
        Window w(h);
        QPushButton *test = w.button(QStringLiteral("testButton"));
        QVERIFY(!test->autoDefault()); // Return in the field must not start a test
        sim.setFault(SimFault::Mode::Delay, 1, 300);
        QTest::mouseClick(test, Qt::LeftButton);
        // The press returns before the answer: the button waits, and the window keeps working.
        QVERIFY(!test->isEnabled());
        QTest::mouseClick(w.toggle(QStringLiteral("useCustomHost")), Qt::LeftButton);
        QVERIFY(!h.settings.useCustomHost());
        h.settings.setUseCustomHost(true);
        QTRY_VERIFY(test->isEnabled());
        QCOMPARE(w.result()->text(), QStringLiteral("✓ Connected. Device rate: 48000 Hz"));
        QVERIFY(w.result()->isVisible());
        QCOMPARE(textColor(w.result()), FormStyle::green(w.window.palette()));
        // The test is the window's own: the shared state and the log are left alone.
        QCOMPARE(h.state.connectionState(), ConnectionState::disconnected());
        QCOMPARE(h.logLines(), QStringList());

        sim.setFault(SimFault::Mode::Status, 1, 404);
        QTest::mouseClick(test, Qt::LeftButton);
        QVERIFY(!w.result()->isVisible()); // the old outcome is gone at once
        QTRY_VERIFY(test->isEnabled());
        QVERIFY(w.result()->text().startsWith(QStringLiteral("✗ ")));
        QCOMPARE(textColor(w.result()), FormStyle::red(w.window.palette()));
        QCOMPARE(sim.statusQueryCount(), 2);
    }

    void discoveredHosts()
    {
        UiHarness h;
        Window w(h);
        QWidget *indicator = w.find<QWidget>(QStringLiteral("browsingIndicator"));
        QLabel *empty = w.find(QStringLiteral("discoveredEmpty"));
        FakeServiceBrowser *browser = h.browser();
        QVERIFY(!indicator->isVisible()); // started, not yet ready
        browser->becomeReady();
        browser->report({"M-1620 Pro (Studio A)", "rme-madi", "rme-madi"});
        QTRY_VERIFY(w.row(1));
        QVERIFY(indicator->isVisible());
        QVERIFY(!empty->isVisible());
        QVERIFY(!w.row(2));
        QCOMPARE(w.row(0)->findChild<QLabel *>(QStringLiteral("discoveredHostName"))->text(),
                 QStringLiteral("M-1620 Pro (Studio A).local"));

        // "Use" stores where the resolved service answers, not the name in the list.
        auto *use = w.row(1)->findChild<QPushButton *>(QStringLiteral("useButton"));
        QCOMPARE(use->text(), QStringLiteral("Use"));
        QTest::mouseClick(use, Qt::LeftButton);
        QCOMPARE(browser->resolving, QStringList {QStringLiteral("rme-madi")});
        const ServiceBrowser::Endpoint endpoint {"rme-madi-7.local", "169.254.3.4", 8080};
        const QString resolved
            = DeviceDiscovery::customHostFor(endpoint, NameServiceSwitch::resolvesLocalNames());
        browser->answer(QStringLiteral("rme-madi"), endpoint);
        QTRY_COMPARE(w.field()->text(), resolved);
        QVERIFY(h.settings.useCustomHost());
        // A lookup that fails stores nothing and says why beside the row, in red.
        QTest::mouseClick(w.row(0)->findChild<QPushButton *>(QStringLiteral("useButton")), Qt::LeftButton);
        browser->refuse(QStringLiteral("M-1620 Pro (Studio A)"), QStringLiteral("Timeout reached"));
        auto *error = w.row(0)->findChild<QLabel *>(QStringLiteral("useError"));
        QTRY_VERIFY(error->isVisible());
        QCOMPARE(error->text(), QStringLiteral("Could not reach this device: Timeout reached"));
        QCOMPARE(textColor(error), FormStyle::red(w.window.palette()));
        QCOMPARE(h.settings.customHost(), resolved);

        browser->report({});
        QTRY_VERIFY(empty->isVisible());
        QVERIFY(!w.row(0));
    }

    void browsesExactlyWhileTheConnectionTabIsOnScreen()
    {
        UiHarness h;
        Window w(h);
        QCOMPARE(h.made.size(), 1);
        FakeServiceBrowser *first = h.browser();
        first->report({QStringLiteral("M-1620")});
        QTRY_VERIFY(w.row(0));
        w.window.tabs()->setCurrentIndex(SettingsWindow::GeneralTabIndex);
        QCOMPARE(first->stopCount, 1);
        QTRY_COMPARE(h.made.count(nullptr), 1);
        // Back again: a new browser, and the last list is still shown until it reports.
        w.window.tabs()->setCurrentIndex(SettingsWindow::ConnectionTabIndex);
        QCOMPARE(h.made.size(), 2);
        QVERIFY(w.row(0));
        w.window.close();
        QCOMPARE(h.browser()->stopCount, 1);
        // Opened again on the General tab: nothing browses.
        w.window.tabs()->setCurrentIndex(SettingsWindow::GeneralTabIndex);
        w.window.show();
        QCOMPARE(h.made.size(), 2);
    }

    void generalControlsAreBoundBothWays()
    {
        UiHarness h;
        Window w(h, false, SettingsWindow::GeneralTabIndex);
        // Every switch stores a change made with the pointer, the keyboard or a screen reader's
        // toggle and press actions alike, and shows a change made elsewhere.
        GeneralTabModel &model = w.window.generalModel();
        int way = 0;
        for (const Setting &setting : model.settings()) {
            if (setting.kind != Setting::Kind::Switch)
                continue;
            SwitchButton *toggle = w.toggle(setting.name);
            const bool before = model.value(setting.name).toBool();
            QCOMPARE(toggle->isChecked(), before);
            for (const bool expected : {!before, before}) {
                auto *actions = QAccessible::queryAccessibleInterface(toggle)->actionInterface();
                switch (way++ % 4) {
                case 0:
                    QTest::mouseClick(toggle, Qt::LeftButton);
                    break;
                case 1:
                    QTest::keyClick(toggle, Qt::Key_Return);
                    break;
                case 2:
                    actions->doAction(QAccessibleActionInterface::toggleAction());
                    break;
                default:
                    actions->doAction(QAccessibleActionInterface::pressAction());
                }
                QTRY_COMPARE(model.value(setting.name).toBool(), expected);
                QCOMPARE(toggle->isChecked(), expected);
            }
            model.setValue(setting.name, !before);
            QCOMPARE(toggle->isChecked(), !before);
        }
        QVERIFY(QFile::exists(h.autostartEntry()));

        // Numbers and the command are stored when entered, not at every key.
        auto *settle = w.find<QSpinBox>(QStringLiteral("settleMillisecondsBox"));
        settle->setFocus();
        settle->selectAll();
        QTest::keyClicks(settle, QStringLiteral("1500"));
        QCOMPARE(h.settings.settleMilliseconds(), qint64(0));
        QTest::keyClick(settle, Qt::Key_Up);
        QCOMPARE(h.storedSettings().value(GeneralTabModel::settleMilliseconds).toInteger(), 1600);
        auto *command = w.find<QLineEdit>(QStringLiteral("rateChangeCommandLine"));
        command->setFocus();
        QTest::keyClicks(command, QStringLiteral("jack_control restart"));
        QCOMPARE(h.settings.rateChangeCommand(), QString());
        QTest::keyClick(command, Qt::Key_Return);
        QCOMPARE(h.storedSettings().value(GeneralTabModel::rateChangeCommand).toString(),
                 QStringLiteral("jack_control restart"));

        // The entry removed by hand: the switch follows when the window is shown again.
        QVERIFY(QFile::remove(h.autostartEntry()));
        w.window.hide();
        w.window.show();
        QTRY_VERIFY(!w.toggle(QStringLiteral("launchAtLogin"))->isChecked());
        // A folder that cannot be made: the change fails, is logged, and the switch stays off.
        QVERIFY(QDir(h.autostartDir()).removeRecursively()
                && QFile(h.autostartDir()).open(QIODevice::WriteOnly));
        QTest::mouseClick(w.toggle(QStringLiteral("launchAtLogin")), Qt::LeftButton);
        QVERIFY(!w.toggle(QStringLiteral("launchAtLogin"))->isChecked());
        QCOMPARE(h.logLines().filter(QStringLiteral("[ERROR] Launch at login change failed: ")).size(), 1);
    }

    void buttons()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        UiHarness h(QUrl(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(closed.serverPort())));
        closed.close();
        Window w(h, false, SettingsWindow::GeneralTabIndex);
        QPushButton *checkNow = w.button(QStringLiteral("checkNowButton"));
        QCOMPARE(checkNow->text(), QStringLiteral("Check now"));
        QSignalSpy finished(h.updates.get(), &UpdateController::userCheckFinished);
        QTest::mouseClick(checkNow, Qt::LeftButton);
        QVERIFY(!checkNow->isEnabled());
        QTRY_COMPARE(finished.count(), 1);
        QVERIFY(checkNow->isEnabled());

        QTest::mouseClick(w.button(QStringLiteral("revealButton")), Qt::LeftButton);
        QCOMPARE(h.desktop.revealed, QStringList {h.logger.logFile()});
        QTest::mouseClick(w.button(QStringLiteral("copyDiagnosticsButton")), Qt::LeftButton);
        QCOMPARE(h.desktop.copied.size(), 1);
        // Switching tabs keeps the caption.
        w.window.tabs()->setCurrentIndex(SettingsWindow::ConnectionTabIndex);
        w.window.tabs()->setCurrentIndex(SettingsWindow::GeneralTabIndex);
        QCOMPARE(w.find(QStringLiteral("diagnosticsCaption"))->text(),
                 QStringLiteral("Copied — paste it into a message."));

        // Clicked twice: one About dialog, with the program's credits.
        QTest::mouseClick(w.button(QStringLiteral("aboutButton")), Qt::LeftButton);
        QTest::mouseClick(w.button(QStringLiteral("aboutButton")), Qt::LeftButton);
        const QList<AboutDialog *> dialogs = w.window.findChildren<AboutDialog *>();
        QCOMPARE(dialogs.size(), 1);
        QVERIFY(dialogs.first()->isVisible() && dialogs.first()->isWindow());
        QCOMPARE(dialogs.first()->windowTitle(), QStringLiteral("About Quorvel"));
        QCOMPARE(dialogs.first()->credits(),
                 GeneralTabModel::creditsFrom(GeneralTabModel::acknowledgementsResource));
        QCOMPARE(AboutDialog::versionLineFor(QString(), QString()), QStringLiteral("Version ? (?)"));
    }

    void logPathIsShortenedInItsMiddle()
    {
        ElidedLabel label;
        const QString deep
            = QStringLiteral("/home/someone/with/a/very/long/folder/name/that/goes/on/Quorvel/sync.log");
        label.setText(deep);
        label.resize(label.fontMetrics().horizontalAdvance(deep) / 2, label.height());
        const QString shown = label.displayedText();
        QVERIFY2(shown.startsWith(QStringLiteral("/home")) && shown.contains(QStringLiteral("…"))
                     && shown.endsWith(QStringLiteral("sync.log")),
                 qPrintable(shown));
        QCOMPARE(label.toolTip(), deep);
    }
};

QTEST_MAIN(TestSettingsWindow)
#include "tst_SettingsWindow.moc"
