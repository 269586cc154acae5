#include "SettingsHarness.h"

#include "DeviceSimulator.h"
#include "core/BuildInfo.h"
#include "platform/NameServiceSwitch.h"
#include "ui/settings/AboutDialog.h"
#include "ui/settings/ConnectionTab.h"
#include "ui/settings/GeneralTab.h"
#include "ui/settings/SettingsWindow.h"
#include "ui/widgets/BusyIndicator.h"
#include "ui/widgets/ElidedLabel.h"
#include "ui/widgets/FormSection.h"
#include "ui/widgets/FormStyle.h"
#include "ui/widgets/SwitchButton.h"

#include <QAccessible>
#include <QApplication>
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

template<typename T = QWidget> T *find(const QWidget &window, const QString &name)
{
    T *widget = window.findChild<T *>(name);
    if (!widget)
        qWarning("no widget named %s", qPrintable(name));
    return widget;
}

QColor textColor(const QLabel *label)
{
    return label->palette().color(QPalette::WindowText);
}

// The window's vertical position of a widget, to check the order of rows.
int topOf(const QWidget *widget)
{
    return widget->mapTo(widget->window(), QPoint(0, 0)).y();
}

struct Window
{
    explicit Window(SettingsHarness &h, bool withRecordingTester = false)
        : window(h.state,
                 {&h.settings, h.launchAtLogin.get(), h.updates.get(), &h.logger, h.browsers.factory(),
                  h.testerFor(withRecordingTester), &h.desktop})
    { }
    void show()
    {
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }
    QLineEdit *field() const { return find<QLineEdit>(window, QStringLiteral("customHostField")); }
    SwitchButton *hostSwitch() const
    {
        return find<SwitchButton>(window, QStringLiteral("useCustomHostSwitch"));
    }
    QPushButton *testButton() const { return find<QPushButton>(window, QStringLiteral("testButton")); }
    QLabel *testResult() const { return find<QLabel>(window, QStringLiteral("testResult")); }
    QWidget *indicator() const { return find(window, QStringLiteral("browsingIndicator")); }
    QLabel *emptyText() const { return find<QLabel>(window, QStringLiteral("discoveredEmpty")); }
    QWidget *hostRow(int index) const
    {
        return window.findChild<QWidget *>(QStringLiteral("discoveredHost%1").arg(index));
    }
    SwitchButton *switchNamed(const QString &name) const
    {
        return find<SwitchButton>(window, name + QStringLiteral("Switch"));
    }
    QPushButton *button(const QString &name) const { return find<QPushButton>(window, name); }

    SettingsWindow window;
};

QString loopback(quint16 port)
{
    return QStringLiteral("127.0.0.1:%1").arg(port);
}

} // namespace

class TestSettingsWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void frameOfTwoTabsAndTheConnectionFormInOrder()
    {
        SettingsHarness h;
        Window w(h);
        QCOMPARE(w.window.windowTitle(), QStringLiteral("Quorvel Settings"));
        QTabWidget *tabs = w.window.tabs();
        QCOMPARE(tabs->count(), 2);
        QCOMPARE(tabs->tabText(0), QStringLiteral("Connection"));
        QCOMPARE(tabs->tabText(1), QStringLiteral("General"));
        for (int tab : {0, 1}) {
            QVERIFY(!tabs->tabIcon(tab).isNull());
            QCOMPARE(tabs->widget(tab)->size(), QSize(460, 420));
        }
        QCOMPARE(tabs->currentIndex(), 0);
        // Nothing browses before the window shows.
        QCOMPARE(h.browsers.made.size(), 0);

        w.show();
        auto *device = find<FormSection>(w.window, QStringLiteral("deviceSection"));
        QCOMPARE(device->title(), QStringLiteral("Device"));
        QVERIFY(device->titleLabel()->isVisible());
        QCOMPARE(find<FormSection>(w.window, QStringLiteral("discoveredSection"))->title(), QString());
        QCOMPARE(find<QLabel>(w.window, QStringLiteral("useCustomHostText"))->text(),
                 QStringLiteral("Use custom IP / hostname"));
        QCOMPARE(find<QLabel>(w.window, QStringLiteral("customHostLabel"))->text(),
                 QStringLiteral("172.20.0.1"));
        QCOMPARE(w.field()->placeholderText(), QStringLiteral("e.g. 192.168.1.42 or m1620.local"));
        QCOMPARE(w.testButton()->text(), QStringLiteral("Test"));
        auto *note = find<QLabel>(w.window, QStringLiteral("defaultHostNote"));
        QCOMPARE(note->text(),
                 QString::fromUtf8("Default is 172.20.0.1 \u2014 the M-1620's USB control address."));
        auto *heading = find<QLabel>(w.window, QStringLiteral("discoveredHeading"));
        QCOMPARE(heading->text(), QStringLiteral("Discovered on network"));
        QCOMPARE(w.emptyText()->text(),
                 QStringLiteral("Nothing found yet. Make sure the device is on the same network."));

        const QList<QWidget *> ordered {w.hostSwitch(), w.field(), note, heading, w.emptyText()};
        for (qsizetype i = 1; i < ordered.size(); ++i)
            QVERIFY2(topOf(ordered[i - 1]) < topOf(ordered[i]), qPrintable(ordered[i]->objectName()));
        // The test button sits beside the field.
        QCOMPARE(w.testButton()->parentWidget(), w.field()->parentWidget());
        // Notes in the caption size and dimmed.
        QVERIFY(note->font().pointSizeF() < w.field()->font().pointSizeF());
        QVERIFY(textColor(note).alphaF() < 1.0);
        QVERIFY(textColor(w.emptyText()).alphaF() < 1.0);
        QVERIFY(!find(w.window, QStringLiteral("testResultRow"))->isVisible());
    }

    void switchEnablesTheFieldAndEveryKeystrokeIsStored()
    {
        SettingsHarness h;
        h.settings.setUseCustomHost(false);
        h.settings.setCustomHost(QStringLiteral("192.168.1.42"));
        Window w(h, true);
        w.show();
        // Off, the field shows the stored host but cannot be edited, and "Test" tries the default.
        QVERIFY(!w.hostSwitch()->isChecked());
        QCOMPARE(w.field()->text(), QStringLiteral("192.168.1.42"));
        QVERIFY(!w.field()->isEnabled());
        QTest::mouseClick(w.testButton(), Qt::LeftButton);
        QTRY_VERIFY(w.testResult()->isVisible());
        QCOMPARE(h.tester.hosts, QStringList {QStringLiteral("172.20.0.1")});

        QTest::mouseClick(w.hostSwitch(), Qt::LeftButton);
        QVERIFY(h.settings.useCustomHost());
        QVERIFY(w.hostSwitch()->isChecked());
        QVERIFY(w.field()->isEnabled());

        QStringList seen;
        QStringList stored;
        connect(&h.settings, &AppSettings::customHostChanged, &w.window, [&] {
            seen << h.settings.customHost();
            stored << h.storedSettings().value(QStringLiteral("customHost")).toString();
        });
        w.field()->setFocus();
        w.field()->selectAll();
        QTest::keyClick(w.field(), Qt::Key_Backspace);
        QTest::keyClicks(w.field(), QStringLiteral("127.0"));
        QStringList expected {QString()}; // "", "1", "12", … "127.0"
        for (int length = 1; length <= 5; ++length)
            expected << QStringLiteral("127.0").left(length);
        QCOMPARE(seen, expected);
        QCOMPARE(stored, expected);
        QCOMPARE(w.field()->cursorPosition(), 5);

        // A change from elsewhere shows in the field.
        h.settings.setCustomHost(QStringLiteral("m1620.local"));
        QCOMPARE(w.field()->text(), QStringLiteral("m1620.local"));
        h.settings.setUseCustomHost(false);
        QVERIFY(!w.hostSwitch()->isChecked());
        QVERIFY(!w.field()->isEnabled());

        // A click on the row's text flips the switch too.
        QTest::mouseClick(find(w.window, QStringLiteral("useCustomHostText")), Qt::LeftButton);
        QVERIFY(h.settings.useCustomHost());
    }

    void testButtonRunsInTheBackgroundAndShowsTheOutcomeInGreenOrRed()
    {
        DeviceSimulator sim;
        QVERIFY2(sim.listen(), qPrintable(sim.errorString()));
        SettingsHarness h;
        h.settings.setCustomHost(loopback(sim.port()));
        Window w(h);
        w.show();
        ConnectionTabModel &model = w.window.connectionModel();
        QSignalSpy changes(&model, &ConnectionTabModel::testChanged);

        sim.setFault(SimFault::Mode::Delay, 1, 300);
        QTest::mouseClick(w.testButton(), Qt::LeftButton);
        // The press returns before the answer: the button waits, and the window keeps working.
        QVERIFY(model.testing());
        QVERIFY(!w.testButton()->isEnabled());
        QVERIFY(!w.testResult()->isVisible());
        QTest::mouseClick(w.hostSwitch(), Qt::LeftButton);
        QVERIFY(!h.settings.useCustomHost());
        QTest::mouseClick(w.hostSwitch(), Qt::LeftButton);
        model.runConnectionTest(); // pressing again while it runs starts nothing
        QTRY_VERIFY(w.testButton()->isEnabled());
        QVERIFY(w.testResult()->isVisible());
        QCOMPARE(w.testResult()->text(), QStringLiteral("✓ Connected. Device rate: 48000 Hz"));
        QCOMPARE(textColor(w.testResult()), FormStyle::green(w.window.palette()));
        QVERIFY(w.testResult()->font().pointSizeF() < w.field()->font().pointSizeF());
        QCOMPARE(changes.count(), 2);
        QCOMPARE(sim.statusQueryCount(), 1);
        // The test is the window's own: the shared state and the log are left alone.
        QCOMPARE(h.state.connectionState(), ConnectionState::disconnected());
        QCOMPARE(h.logLines(), QStringList());

        sim.setFault(SimFault::Mode::Status, 1, 404);
        QTest::mouseClick(w.testButton(), Qt::LeftButton);
        // Pressed again: the old outcome is gone at once.
        QVERIFY(!model.testOutcome());
        QVERIFY(!w.testResult()->isVisible());
        QTRY_VERIFY(w.testButton()->isEnabled());
        QVERIFY(w.testResult()->text().startsWith(QStringLiteral("✗ ")));
        QCOMPARE(textColor(w.testResult()), FormStyle::red(w.window.palette()));
    }

    void discoveredHostsWithUseAndTheEmptyText()
    {
        SettingsHarness h;
        h.settings.setUseCustomHost(false);
        h.settings.setCustomHost(QString());
        Window w(h);
        w.show();
        w.window.connectionModel().setShown(true); // already shown: no second browser
        QCOMPARE(h.browsers.made.size(), 1);
        FakeServiceBrowser *browser = h.browsers.current();
        // Started but not yet reported ready: no indicator.
        QVERIFY(!w.indicator()->isVisible());
        browser->becomeReady();
        QTRY_VERIFY(w.indicator()->isVisible());
        QVERIFY(qobject_cast<BusyIndicator *>(w.indicator())->isSpinning());
        QVERIFY(w.emptyText()->isVisible());

        browser->report(
            {QStringLiteral("M-1620 Pro (Studio A)"), QStringLiteral("Printer"), QStringLiteral("rme-madi")});
        QTRY_VERIFY(w.hostRow(1));
        QVERIFY(!w.emptyText()->isVisible());
        QCOMPARE(
            w.window.connectionTab()->shownHosts(),
            QStringList({QStringLiteral("M-1620 Pro (Studio A).local"), QStringLiteral("rme-madi.local")}));
        auto *name = w.hostRow(0)->findChild<QLabel *>(QStringLiteral("discoveredHostName"));
        QCOMPARE(name->text(), QStringLiteral("M-1620 Pro (Studio A).local"));
        QVERIFY(QFontInfo(name->font()).fixedPitch());
        QVERIFY(!w.hostRow(0)->findChild<QLabel *>(QStringLiteral("discoveredSymbol"))->pixmap().isNull());
        QTRY_VERIFY(topOf(find(w.window, QStringLiteral("discoveredHeading"))) < topOf(w.hostRow(0)));
        QTRY_VERIFY(topOf(w.hostRow(0)) < topOf(w.hostRow(1)));
        auto *use = w.hostRow(1)->findChild<QPushButton *>(QStringLiteral("useButton"));
        QCOMPARE(use->text(), QStringLiteral("Use"));
        QVERIFY(use->isFlat());

        // "Use" stores where the resolved service answers, not the name in the list.
        QTest::mouseClick(use, Qt::LeftButton);
        QCOMPARE(browser->resolving, QStringList {QStringLiteral("rme-madi")});
        QVERIFY(!use->isEnabled());
        const ServiceBrowser::Endpoint endpoint {QStringLiteral("rme-madi-7.local"),
                                                 QStringLiteral("169.254.3.4"), 8080};
        const QString resolved
            = DeviceDiscovery::customHostFor(endpoint, NameServiceSwitch::resolvesLocalNames());
        browser->answer(QStringLiteral("rme-madi"), endpoint);
        QTRY_COMPARE(h.settings.customHost(), resolved);
        QVERIFY(h.settings.useCustomHost());
        QCOMPARE(w.field()->text(), resolved);
        QVERIFY(w.hostSwitch()->isChecked());
        QVERIFY(use->isEnabled());
        // A lookup that fails stores nothing and says why beside the row.
        auto *other = w.hostRow(0)->findChild<QPushButton *>(QStringLiteral("useButton"));
        QTest::mouseClick(other, Qt::LeftButton);
        browser->refuse(QStringLiteral("M-1620 Pro (Studio A)"), QStringLiteral("Timeout reached"));
        auto *error = w.hostRow(0)->findChild<QLabel *>(QStringLiteral("useError"));
        QTRY_VERIFY(error->isVisible());
        QCOMPARE(error->text(), QStringLiteral("Could not reach this device: Timeout reached"));
        QCOMPARE(h.settings.customHost(), resolved);

        // All gone: the empty text is back.
        browser->report({});
        QTRY_VERIFY(w.emptyText()->isVisible());
        QVERIFY(!w.hostRow(0));
        // A host reported twice is one row.
        browser->report({QStringLiteral("madi one"), QStringLiteral("madi one")});
        QTRY_COMPARE(w.window.connectionTab()->shownHosts(), QStringList {QStringLiteral("madi one.local")});
        // A browser that fails only clears the indicator.
        browser->fail();
        QTRY_VERIFY(!w.indicator()->isVisible());
        QCOMPARE(w.window.connectionTab()->shownHosts(), QStringList {QStringLiteral("madi one.local")});
    }

    void browsingFollowsTheConnectionTabOnScreen()
    {
        SettingsHarness h;
        Window w(h);
        w.show();
        QCOMPARE(h.browsers.made.size(), 1);
        FakeServiceBrowser *first = h.browsers.current();
        QCOMPARE(first->startCount, 1);
        first->becomeReady();
        first->report({QStringLiteral("M-1620")});
        QTRY_VERIFY(w.indicator()->isVisible());
        QTRY_VERIFY(w.hostRow(0));

        w.window.tabs()->setCurrentIndex(SettingsWindow::GeneralTabIndex);
        QCOMPARE(first->stopCount, 1);
        QVERIFY(!w.window.connectionModel().isBrowsing());
        QTRY_COMPARE(h.browsers.alive(), 0);

        // Back again: a new browser, and the last list is still shown until it reports.
        w.window.tabs()->setCurrentIndex(SettingsWindow::ConnectionTabIndex);
        QCOMPARE(h.browsers.made.size(), 2);
        QCOMPARE(h.browsers.current()->startCount, 1);
        QVERIFY(w.hostRow(0));
        QVERIFY(!w.indicator()->isVisible());

        FakeServiceBrowser *second = h.browsers.current();
        w.window.close();
        QCOMPARE(second->stopCount, 1);
        QTRY_COMPARE(h.browsers.alive(), 0);

        // Opened again on the General tab: nothing browses.
        w.window.tabs()->setCurrentIndex(SettingsWindow::GeneralTabIndex);
        w.show();
        QCOMPARE(h.browsers.made.size(), 2);
        w.window.tabs()->setCurrentIndex(SettingsWindow::ConnectionTabIndex);
        QCOMPARE(h.browsers.made.size(), 3);
    }

    void generalFormSectionsAndTexts()
    {
        SettingsHarness h;
        Window w(h);
        w.window.tabs()->setCurrentIndex(SettingsWindow::GeneralTabIndex);
        w.show();
        const QStringList sections {
            QStringLiteral("notificationsSection"), QStringLiteral("menuBarSection"),
            QStringLiteral("updatesSection"),       QStringLiteral("startupSection"),
            QStringLiteral("logsSection"),          QStringLiteral("followingSection")};
        const QStringList titles {QStringLiteral("Notifications"), QStringLiteral("Menu bar"),
                                  QStringLiteral("Updates"),       QStringLiteral("Startup"),
                                  QStringLiteral("Logs"),          QStringLiteral("Following")};
        for (qsizetype i = 0; i < sections.size(); ++i) {
            auto *section = find<FormSection>(w.window, sections[i]);
            QCOMPARE(section->title(), titles[i]);
            if (i > 0)
                QVERIFY(topOf(find(w.window, sections[i - 1])) < topOf(section));
        }
        const QList<std::pair<QString, QString>> texts {
            {QStringLiteral("settleMillisecondsText"), QStringLiteral("Wait for the MADI rate to settle")},
            {QStringLiteral("followOnlyWhenLockedText"), QStringLiteral("Follow only a locked MADI input")},
            {QStringLiteral("matchPipeWireRateText"),
             QStringLiteral("Match the computer's audio rate (PipeWire)")},
            {QStringLiteral("rateChangeCommandText"), QStringLiteral("Run after each rate change")},
            {QStringLiteral("notifyOnRateChangeText"), QStringLiteral("Notify on sample rate change")},
            {QStringLiteral("notifyOnDisconnectText"), QStringLiteral("Notify when device disconnects")},
            {QStringLiteral("showRateInMenuBarText"), QStringLiteral("Show sample rate in menu bar")},
            {QStringLiteral("menuBarNote"),
             QStringLiteral(
                 "A warning icon replaces the metronome if the M-1620 and MADI input stay out of sync.")},
            {QStringLiteral("packageManagerNote"),
             QStringLiteral("Updates come with your system's package manager.")},
            {QStringLiteral("versionText"),
             QStringLiteral("Version ") + QString::fromUtf8(BuildInfo::version)},
            {QStringLiteral("launchAtLoginText"), QStringLiteral("Launch Quorvel at login")},
            {QStringLiteral("diagnosticsCaption"), QStringLiteral("Having trouble? Copy a report to send.")},
        };
        for (const auto &[name, text] : texts)
            QCOMPARE(find<QLabel>(w.window, name)->text(), text);
        QCOMPARE(w.button(QStringLiteral("aboutButton"))->text(), QStringLiteral("About Quorvel"));
        QCOMPARE(w.button(QStringLiteral("revealButton"))->text(), QStringLiteral("Reveal"));
        QCOMPARE(w.button(QStringLiteral("copyDiagnosticsButton"))->text(),
                 QStringLiteral("Copy diagnostics"));
        QCOMPARE(find<ElidedLabel>(w.window, QStringLiteral("logPath"))->text(), h.logger.logFile());
        // The whole General form is on screen at the fixed size; nothing is cut off.
        for (QWidget *widget : {static_cast<QWidget *>(w.button(QStringLiteral("copyDiagnosticsButton"))),
                                find(w.window, QStringLiteral("notifyOnRateChangeSwitch"))}) {
            const QRect page(w.window.tabs()->widget(1)->mapTo(&w.window, QPoint(0, 0)),
                             SettingsWindow::contentSize);
            QVERIFY2(page.contains(QRect(widget->mapTo(&w.window, QPoint(0, 0)), widget->size())),
                     qPrintable(widget->objectName()));
        }
    }

    void generalSwitchesAreBoundLiveAndRevealShowsTheLog()
    {
        SettingsHarness h;
        Window w(h);
        w.window.tabs()->setCurrentIndex(SettingsWindow::GeneralTabIndex);
        w.show();
        // Every switch of the model has its row, which shows the value and stores a change made
        // with the pointer, the keyboard or a screen reader's toggle and press actions alike.
        GeneralTabModel &model = w.window.generalModel();
        const auto toggleAs = [](SwitchButton *toggle, int way) {
            QAccessibleActionInterface *actions
                = QAccessible::queryAccessibleInterface(toggle)->actionInterface();
            switch (way % 4) {
            case 0:
                return QTest::mouseClick(toggle, Qt::LeftButton);
            case 1:
                return QTest::keyClick(toggle, Qt::Key_Space);
            case 2:
                return actions->doAction(QAccessibleActionInterface::toggleAction());
            }
            actions->doAction(QAccessibleActionInterface::pressAction());
        };
        int way = 0;
        for (const Setting &setting : model.settings()) {
            if (setting.kind != Setting::Kind::Switch)
                continue;
            SwitchButton *toggle = w.switchNamed(setting.name);
            const bool before = model.value(setting.name).toBool();
            QCOMPARE(toggle->isChecked(), before);
            for (const bool expected : {!before, before}) {
                toggleAs(toggle, way++);
                QTRY_COMPARE(model.value(setting.name).toBool(), expected);
                QCOMPARE(toggle->isChecked(), expected);
                if (setting.name == GeneralTabModel::launchAtLogin)
                    QCOMPARE(QFile::exists(h.autostartEntry()), expected);
                else if (setting.name == GeneralTabModel::automaticallyCheckForUpdates)
                    QCOMPARE(h.storedSettings().value(UpdateController::automaticallyChecksKey).toBool(),
                             expected);
                else
                    QCOMPARE(h.storedSettings().value(setting.name).toBool(), expected);
            }
            // A change from elsewhere shows at once.
            model.setValue(setting.name, !before);
            QCOMPARE(toggle->isChecked(), !before);
            model.setValue(setting.name, before);
        }

        // The settle time from the keyboard: typed, then stepped; a change from elsewhere shows.
        auto *settle = find<QSpinBox>(w.window, QStringLiteral("settleMillisecondsBox"));
        QCOMPARE(settle->suffix(), QStringLiteral(" ms"));
        settle->setFocus();
        settle->selectAll();
        QTest::keyClicks(settle, QStringLiteral("1500"));
        QCOMPARE(h.settings.settleMilliseconds(), qint64(0)); // not at every digit
        QTest::keyClick(settle, Qt::Key_Return);
        QTest::keyClick(settle, Qt::Key_Up);
        QCOMPARE(h.settings.settleMilliseconds(), qint64(1600));
        QCOMPARE(h.storedSettings().value(GeneralTabModel::settleMilliseconds).toInteger(), 1600);
        h.settings.setSettleMilliseconds(9999);
        QCOMPARE(settle->value(), 5000);

        // The command is stored once typed out, not at every key.
        auto *command = find<QLineEdit>(w.window, QStringLiteral("rateChangeCommandLine"));
        command->setFocus();
        QTest::keyClicks(command, QStringLiteral("jack_control restart"));
        QCOMPARE(h.settings.rateChangeCommand(), QString());
        QTest::keyClick(command, Qt::Key_Return);
        QCOMPARE(h.settings.rateChangeCommand(), QStringLiteral("jack_control restart"));
        QCOMPARE(h.storedSettings().value(GeneralTabModel::rateChangeCommand).toString(),
                 QStringLiteral("jack_control restart"));
        h.settings.setRateChangeCommand(QString());
        QCOMPARE(command->text(), QString());

        // The entry removed by hand: the switch follows when the window is shown again.
        SwitchButton *login = w.switchNamed(QStringLiteral("launchAtLogin"));
        h.launchAtLogin->setEnabled(true);
        QVERIFY(QFile::remove(h.autostartEntry()));
        w.window.hide();
        w.show();
        QVERIFY(!login->isChecked());
        // A folder that cannot be made: the change fails, is logged, and the switch stays off.
        QVERIFY(QDir(h.autostartDir()).removeRecursively());
        QFile blocker(h.autostartDir());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QTest::mouseClick(login, Qt::LeftButton);
        QVERIFY(!login->isChecked());
        QCOMPARE(h.logLines().filter(QStringLiteral("[ERROR] Launch at login change failed: ")).size(), 1);

        QTest::mouseClick(w.button(QStringLiteral("revealButton")), Qt::LeftButton);
        QCOMPARE(h.desktop.revealed, QStringList {h.logger.logFile()});
    }

    void checkNowIsEnabledOnlyWhileAChecksCanStart()
    {
        SettingsHarness plain;
        Window withoutFeed(plain);
        QVERIFY(!withoutFeed.window.findChild<QPushButton *>(QStringLiteral("checkNowButton")));

        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QString feed = QStringLiteral("http://%1/appcast.xml").arg(loopback(closed.serverPort()));
        closed.close();
        SettingsHarness h {QUrl(feed)};
        Window w(h);
        w.window.tabs()->setCurrentIndex(SettingsWindow::GeneralTabIndex);
        w.show();
        QPushButton *checkNow = w.button(QStringLiteral("checkNowButton"));
        QCOMPARE(checkNow->text(), QStringLiteral("Check now"));
        QVERIFY(w.button(QStringLiteral("aboutButton"))->x() < checkNow->x());
        QVERIFY(checkNow->isEnabled());
        QSignalSpy finished(h.updates.get(), &UpdateController::userCheckFinished);
        QTest::mouseClick(checkNow, Qt::LeftButton);
        QVERIFY(!checkNow->isEnabled());
        QTRY_COMPARE(finished.count(), 1);
        QVERIFY(checkNow->isEnabled());
    }

    void copyDiagnosticsAndAbout()
    {
        SettingsHarness h;
        Window w(h);
        SettingsWindow &window = w.window;
        window.tabs()->setCurrentIndex(SettingsWindow::GeneralTabIndex);
        window.show();
        QTest::mouseClick(w.button(QStringLiteral("copyDiagnosticsButton")), Qt::LeftButton);
        // The report itself is the model's; here it reaches the desktop.
        QCOMPARE(h.desktop.copied.size(), 1);
        auto *caption = find<QLabel>(window, QStringLiteral("diagnosticsCaption"));
        QCOMPARE(caption->text(), QStringLiteral("Copied — paste it into a message."));
        // Switching tabs keeps the caption.
        window.tabs()->setCurrentIndex(SettingsWindow::ConnectionTabIndex);
        window.tabs()->setCurrentIndex(SettingsWindow::GeneralTabIndex);
        QCOMPARE(caption->text(), QStringLiteral("Copied — paste it into a message."));

        // Clicked twice: one About dialog, brought forward, with the program's credits.
        auto *about = window.findChild<QPushButton *>(QStringLiteral("aboutButton"));
        QTest::mouseClick(about, Qt::LeftButton);
        QTest::mouseClick(about, Qt::LeftButton);
        const QList<AboutDialog *> dialogs = window.findChildren<AboutDialog *>();
        QCOMPARE(dialogs.size(), 1);
        AboutDialog *dialog = dialogs.first();
        QVERIFY(dialog->isVisible());
        QVERIFY(dialog->isWindow());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("About Quorvel"));
        QCOMPARE(dialog->findChild<QLabel *>(QStringLiteral("aboutName"))->text(), QStringLiteral("Quorvel"));
        QVERIFY(!dialog->findChild<QLabel *>(QStringLiteral("aboutIcon"))->pixmap().isNull());
        QCOMPARE(dialog->versionLine(),
                 QStringLiteral("Version %1 (%2)")
                     .arg(QString::fromUtf8(BuildInfo::version), QString::fromUtf8(BuildInfo::buildNumber)));
        QCOMPARE(dialog->credits(), GeneralTabModel::creditsFrom(GeneralTabModel::acknowledgementsResource));
        QVERIFY(dialog->credits());
        dialog->close();
        QTRY_VERIFY(window.findChildren<AboutDialog *>().isEmpty());

        // Without credits: the box still shows, without them.
        AboutDialog bare(std::nullopt);
        QVERIFY(!bare.findChild<QWidget *>(QStringLiteral("aboutCredits")));
        QCOMPARE(AboutDialog::versionLineFor(QString(), QString()), QStringLiteral("Version ? (?)"));
    }

    void logPathIsShortenedInItsMiddle()
    {
        ElidedLabel label;
        const QString path = QStringLiteral("/home/someone/.local/state/Quorvel/sync.log");
        label.setText(path);
        label.resize(label.sizeHint().width() + 10, label.sizeHint().height());
        QCOMPARE(label.displayedText(), path);
        QCOMPARE(label.toolTip(), path);

        const QString deep = QStringLiteral("/home/someone/with/a/very/long/folder/name/that/goes/on/and/on/"
                                            "Quorvel/sync.log");
        label.setText(deep);
        label.resize(label.fontMetrics().horizontalAdvance(deep) / 2, label.height());
        const QString shown = label.displayedText();
        QVERIFY2(shown.contains(QStringLiteral("…")), qPrintable(shown));
        QVERIFY2(shown.endsWith(QStringLiteral("sync.log")), qPrintable(shown));
        QVERIFY2(shown.startsWith(QStringLiteral("/home")), qPrintable(shown));
    }
};

QTEST_MAIN(TestSettingsWindow)
#include "tst_SettingsWindow.moc"
