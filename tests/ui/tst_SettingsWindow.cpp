// What the user sees and does in the window, and through it the rules of its tabs' models, on
// fake DNS-SD browsers and a recording tester or the device simulator on loopback.
#include "UiHarness.h"

#include "DeviceSimulator.h"
#include "platform/NameServiceSwitch.h"
#include "ui/settings/AboutDialog.h"
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
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

struct Window
{
    explicit Window(UiHarness &h, ConnectionTabModel::ConnectionTester tester = nullptr,
                    int tab = SettingsWindow::ConnectionTabIndex)
        : window(h.state,
                 {&h.settings, h.launchAtLogin.get(), h.updates.get(), &h.logger, h.browsers(),
                  std::move(tester), &h.desktop})
    {
        window.tabs()->setCurrentIndex(tab);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }
    template<typename T = QLabel> T *find(const QString &name, const QWidget *in = nullptr) const
    {
        return (in ? in : &window)->findChild<T *>(name);
    }
    QWidget *row(int i) const { return window.findChild<QWidget *>(u"discoveredHost%1"_s.arg(i)); }
    void click(const QString &name, const QWidget *in = nullptr)
    {
        QTest::mouseClick(find<QWidget>(name, in), Qt::LeftButton);
    }
    QLineEdit *field() const { return find<QLineEdit>(u"customHostField"_s); }
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
        QStringList shown {w.window.windowTitle(), w.window.tabs()->tabText(0), w.window.tabs()->tabText(1),
                           w.field()->placeholderText()};
        for (const QLabel *label : w.window.findChildren<QLabel *>())
            shown << label->text();
        for (const QAbstractButton *button : w.window.findChildren<QAbstractButton *>())
            shown << button->text();
        const QString texts
            = u"Quorvel Settings|Connection|General|Device|Use custom IP / hostname|172.20.0.1|Test|"
              "e.g. 192.168.1.42 or m1620.local|"
              "Default is 172.20.0.1 — the M-1620's USB control address.|Discovered on network|"
              "Nothing found yet. Make sure the device is on the same network.|Following|"
              "Wait for the MADI rate to settle|Follow only a locked MADI input|"
              "Match the computer's audio rate (PipeWire)|Run after each rate change|Notifications|"
              "Notify on sample rate change|Notify when device disconnects|Menu bar|"
              "Show sample rate in menu bar|A warning icon replaces the metronome if the M-1620 and "
              "MADI input stay out of sync.|Updates|Updates come with your system's package manager.|"
              "Startup|Launch Quorvel at login|Logs|Reveal|Having trouble? Copy a report to send.|"
              "Copy diagnostics|About Quorvel"_s;
        for (const QString &text : texts.split(u'|'))
            QVERIFY2(shown.contains(text), qPrintable(text));
        QCOMPARE(w.find<ElidedLabel>(u"logPath"_s)->text(), h.logger.logFile());
        QVERIFY(textColor(w.find(u"defaultHostNote"_s)).alphaF() < 1.0); // a dimmed note
        QVERIFY(!w.window.findChild<QWidget *>(u"checkNowButton"_s)); // no feed in this build
        // The whole General form fits the fixed size; nothing is cut off.
        w.window.tabs()->setCurrentIndex(SettingsWindow::GeneralTabIndex);
        QWidget *last = w.find<QWidget>(u"copyDiagnosticsButton"_s);
        const QRect page(w.window.tabs()->currentWidget()->mapTo(&w.window, QPoint()),
                         SettingsWindow::contentSize);
        QVERIFY(page.contains(QRect(last->mapTo(&w.window, QPoint()), last->size())));
    }

    void hostSwitchFieldAndDiscoveredHosts()
    {
        UiHarness h;
        h.settings.setUseCustomHost(false);
        h.settings.setCustomHost(u"192.168.1.42"_s);
        QStringList tested; // never sent: the tester only records the host
        Window w(h, [&](const QString &host) -> QCoro::Task<M1620Result<DeviceStatus>> {
            tested.append(host);
            co_return DeviceStatus {48000, 48000, true};
        });
        // Off, the field shows the stored host but cannot be edited, and "Test" tries the default.
        QVERIFY(!w.field()->isEnabled());
        w.click(u"testButton"_s);
        QTRY_COMPARE(tested, QStringList {u"172.20.0.1"_s});
        w.click(u"useCustomHostText"_s); // the row's text flips the switch too
        QVERIFY(h.settings.useCustomHost() && w.field()->isEnabled());
        QStringList stored;
        connect(&h.settings, &AppSettings::customHostChanged, &w.window,
                [&] { stored << h.settings.customHost(); });
        w.field()->setFocus();
        w.field()->selectAll();
        QTest::keyClicks(w.field(), u"127"_s);
        QCOMPARE(stored, (QStringList {"1", "12", "127"}));
        QCOMPARE(w.field()->cursorPosition(), 3);
        h.settings.setCustomHost(u"m1620.local"_s); // a change from elsewhere shows
        h.settings.setUseCustomHost(false);
        QCOMPARE(w.field()->text(), u"m1620.local"_s);
        QVERIFY(!w.find<SwitchButton>(u"useCustomHostSwitch"_s)->isChecked());

        QWidget *indicator = w.find<QWidget>(u"browsingIndicator"_s);
        QLabel *empty = w.find(u"discoveredEmpty"_s);
        FakeServiceBrowser *browser = h.browser();
        QVERIFY(!indicator->isVisible()); // started, not yet ready
        browser->becomeReady();
        browser->report({"M-1620 Pro (Studio A)", "rme-madi", "rme-madi"});
        QTRY_VERIFY(w.row(1) && indicator->isVisible() && !empty->isVisible() && !w.row(2));
        QCOMPARE(w.find(u"discoveredHostName"_s, w.row(0))->text(), u"M-1620 Pro (Studio A).local"_s);
        // "Use" stores where the resolved service answers, not the name in the list.
        QCOMPARE(w.find<QPushButton>(u"useButton"_s, w.row(1))->text(), u"Use"_s);
        w.click(u"useButton"_s, w.row(1));
        QCOMPARE(browser->resolving, QStringList {u"rme-madi"_s});
        const ServiceBrowser::Endpoint endpoint {"rme-madi-7.local", "169.254.3.4", 8080};
        browser->answer(u"rme-madi"_s, endpoint);
        QTRY_COMPARE(w.field()->text(),
                     DeviceDiscovery::customHostFor(endpoint, NameServiceSwitch::resolvesLocalNames()));
        QVERIFY(h.settings.useCustomHost());
        // A lookup that fails stores nothing and says why beside the row, in red.
        w.click(u"useButton"_s, w.row(0));
        browser->refuse(u"M-1620 Pro (Studio A)"_s, u"Timeout reached"_s);
        QLabel *error = w.find(u"useError"_s, w.row(0));
        QTRY_VERIFY(error->isVisible());
        QCOMPARE(error->text(), u"Could not reach this device: Timeout reached"_s);
        QCOMPARE(textColor(error), FormStyle::red(w.window.palette()));

        // Away from the tab the browser stops; back again a new one starts, and the last list
        // stays until it reports.
        w.window.tabs()->setCurrentIndex(SettingsWindow::GeneralTabIndex);
        QCOMPARE(browser->stopCount, 1);
        QTRY_VERIFY(!h.made.first());
        w.window.tabs()->setCurrentIndex(SettingsWindow::ConnectionTabIndex);
        QCOMPARE(h.made.size(), 2);
        QVERIFY(w.row(1));
        h.browser()->report({});
        QTRY_VERIFY(empty->isVisible() && !w.row(0));
        w.window.close();
        QCOMPARE(h.browser()->stopCount, 1);
    }

    void connectionTestRunsInTheBackgroundAndMayOutliveItsModel()
    {
        DeviceSimulator sim;
        QVERIFY2(sim.listen(), qPrintable(sim.errorString()));
        UiHarness h;
        h.settings.setCustomHost(u"127.0.0.1:%1"_s.arg(sim.port()));
        Window w(h);
        auto *test = w.find<QPushButton>(u"testButton"_s);
        QLabel *result = w.find(u"testResult"_s);
        QVERIFY(!test->autoDefault()); // Return in the field must not start a test
        sim.setFault(SimFault::Mode::Delay, 1, 300);
        QTest::mouseClick(test, Qt::LeftButton);
        // The press returns before the answer: the button waits, and the window keeps working.
        QVERIFY(!test->isEnabled());
        w.click(u"useCustomHostSwitch"_s);
        QVERIFY(!h.settings.useCustomHost());
        h.settings.setUseCustomHost(true);
        QTRY_VERIFY(test->isEnabled() && result->isVisible());
        QCOMPARE(result->text(), u"✓ Connected. Device rate: 48000 Hz"_s);
        QCOMPARE(textColor(result), FormStyle::green(w.window.palette()));
        // The test is the window's own: the shared state and the log are left alone.
        QCOMPARE(h.state.connectionState(), ConnectionState::disconnected());
        QCOMPARE(logLines(h.logger), QStringList());

        sim.setFault(SimFault::Mode::Status, 1, 404);
        QTest::mouseClick(test, Qt::LeftButton);
        QVERIFY(!result->isVisible()); // the old outcome is gone at once
        QTRY_VERIFY(result->isVisible());
        QVERIFY(result->text().startsWith(u"✗ "_s));
        QCOMPARE(textColor(result), FormStyle::red(w.window.palette()));

        // A test that ends after its model is gone changes nothing: the answer arrives into
        // nothing, and a write into it would fail the sanitizer build.
        sim.setFault(SimFault::Mode::Delay, 1, 300);
        const auto asked = sim.statusQueryCount();
        auto model = std::make_unique<ConnectionTabModel>(h.settings, h.browsers(), nullptr);
        model->runConnectionTest();
        QTRY_COMPARE(sim.statusQueryCount(), asked + 1);
        model.reset();
        QTest::qWait(500);
    }

    void generalTab()
    {
        UiHarness h(true);
        Window w(h, nullptr, SettingsWindow::GeneralTabIndex);
        auto *checkNow = w.find<QPushButton>(u"checkNowButton"_s);
        QCOMPARE(checkNow->text(), u"Check now"_s);
        QTest::mouseClick(checkNow, Qt::LeftButton);
        QVERIFY(!checkNow->isEnabled());
        QTRY_VERIFY(checkNow->isEnabled());

        // Every switch takes the pointer, the keyboard and a screen reader's press action alike,
        // and shows a change made elsewhere.
        GeneralTabModel &model = w.window.generalModel();
        int way = 0;
        for (const Setting &setting : model.settings()) {
            auto *toggle = w.find<SwitchButton>(setting.name + u"Switch"_s);
            if (!toggle)
                continue;
            const bool before = model.value(setting.name).toBool();
            for (const bool expected : {!before, before}) {
                if (++way % 3 == 0)
                    QTest::mouseClick(toggle, Qt::LeftButton);
                else if (way % 3 == 1)
                    QTest::keyClick(toggle, Qt::Key_Return);
                else
                    QAccessible::queryAccessibleInterface(toggle)->actionInterface()->doAction(
                        QAccessibleActionInterface::pressAction());
                QTRY_COMPARE(model.value(setting.name).toBool(), expected);
                QCOMPARE(toggle->isChecked(), expected);
            }
            model.setValue(setting.name, !before);
            QCOMPARE(toggle->isChecked(), !before);
        }
        QVERIFY(QFile::exists(h.autostartEntry()) && h.updates->automaticallyChecksForUpdates());

        // Numbers and the command are stored when entered, not at every key.
        model.setValue(GeneralTabModel::settleMilliseconds, 7000); // kept in its range
        QCOMPARE(w.find<QSpinBox>(u"settleMillisecondsBox"_s)->value(), 5000);
        auto *command = w.find<QLineEdit>(u"rateChangeCommandLine"_s);
        command->setFocus();
        QTest::keyClicks(command, u"jack_control restart"_s);
        QCOMPARE(h.settings.rateChangeCommand(), QString());
        QTest::keyClick(command, Qt::Key_Return);
        QCOMPARE(h.settings.rateChangeCommand(), u"jack_control restart"_s);

        w.click(u"revealButton"_s);
        QCOMPARE(h.desktop.revealed, QStringList {h.logger.logFile()});
        // Each copy is a fresh report of this moment. Between them the entry is removed by hand
        // while another window has the focus: coming back shows it.
        w.click(u"copyDiagnosticsButton"_s);
        auto *login = w.find<SwitchButton>(u"launchAtLoginSwitch"_s);
        QWidget other;
        other.show();
        other.activateWindow();
        QTRY_VERIFY(other.isActiveWindow());
        QVERIFY(QFile::remove(h.autostartEntry()));
        w.window.activateWindow();
        QTRY_VERIFY(!login->isChecked());
        w.click(u"copyDiagnosticsButton"_s);
        QCOMPARE(h.desktop.copied.size(), 2);
        QVERIFY(h.desktop.copied[0].contains(u"\nLaunch at login: on\n"_s));
        QVERIFY(h.desktop.copied[1].contains(u"\nLaunch at login: off\n"_s));
        w.window.tabs()->setCurrentIndex(SettingsWindow::ConnectionTabIndex); // keeps the caption
        w.window.tabs()->setCurrentIndex(SettingsWindow::GeneralTabIndex);
        QCOMPARE(w.find(u"diagnosticsCaption"_s)->text(), u"Copied — paste it into a message."_s);
        // A folder that cannot be made: the change fails, is logged, and the switch stays off.
        QVERIFY(QDir(h.autostartDir()).removeRecursively()
                && QFile(h.autostartDir()).open(QIODevice::WriteOnly));
        QTest::mouseClick(login, Qt::LeftButton);
        QVERIFY(!login->isChecked());
        QCOMPARE(logLines(h.logger).filter(u"[ERROR] Launch at login change failed: "_s).size(), 1);

        // Clicked twice: one About dialog, with the program's credits, or without them.
        w.click(u"aboutButton"_s);
        w.click(u"aboutButton"_s);
        const QList<AboutDialog *> dialogs = w.window.findChildren<AboutDialog *>();
        QCOMPARE(dialogs.size(), 1);
        QVERIFY(dialogs.first()->isVisible() && dialogs.first()->isWindow());
        QCOMPARE(dialogs.first()->windowTitle(), u"About Quorvel"_s);
        QVERIFY(dialogs.first()->credits()->contains(u"QCoro"_s));
        QVERIFY(!GeneralTabModel::creditsFrom(u"/nonexistent/Acknowledgements.txt"_s)); // dropped silently
        QCOMPARE(AboutDialog::versionLineFor(QString(), QString()), u"Version ? (?)"_s);
    }
};

QTEST_MAIN(TestSettingsWindow)
#include "tst_SettingsWindow.moc"
