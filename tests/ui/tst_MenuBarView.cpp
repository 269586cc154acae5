// Wiring only: the panel shows what its model says and its controls reach the model. The texts
// themselves are the model's, checked in tst_MenuBarViewModel.
#include "AwaitTask.h"
#include "UiHarness.h"

#include "ui/panel/MenuBarView.h"
#include "ui/widgets/CommandButton.h"
#include "ui/widgets/FormStyle.h"
#include "ui/widgets/SwitchButton.h"

#include <QAccessible>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

struct Panel
{
    explicit Panel(UiHarness &h, MenuBarViewModel::Actions actions = {})
        : view(h.state, *h.engine, *h.launchAtLogin, *h.updates, h.desktop, std::move(actions))
    {
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
    }
    template<typename T = QLabel> T *find(const QString &name) const { return view.findChild<T *>(name); }
    QString text(const QString &name) const
    {
        const QLabel *label = find(name);
        return label && !label->isHidden() ? label->text() : QStringLiteral("<hidden>");
    }
    // Every shown widget of the column, top to bottom.
    QStringList column() const
    {
        QStringList names;
        for (int i = 0; i < view.layout()->count(); ++i)
            if (QWidget *widget = view.layout()->itemAt(i)->widget(); widget && !widget->isHidden())
                names << widget->objectName();
        return names;
    }
    MenuBarView view;
};

} // namespace

class TestMenuBarView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void showsTheModel()
    {
        UiHarness h;
        Panel p(h);
        const MenuBarViewModel &model = p.view.model();
        QCOMPARE(
            p.column(),
            (QStringList {"statusSection", "ratesSectionDivider", "ratesSection", "switchesSectionDivider",
                          "switchesSection", "commandsSectionDivider", "commandsSection"}));
        QCOMPARE(p.view.width(), 300);
        const int shortHeight = p.view.sizeHint().height();
        QCOMPARE(p.text("statusSubtitle"), QStringLiteral("<hidden>"));

        h.state.setConnectionState(ConnectionState::connected(QStringLiteral("127.0.0.1:9")));
        h.state.setDeviceRate(48000);
        h.state.setMadiRate(44100);
        h.state.setMadiSync(false);
        for (int i = 0; i < 3; ++i)
            h.state.recordRateChange(44100, 47000 + 1000 * i);
        h.state.setLegacyScriptDetected(true);
        QCOMPARE(
            p.column(),
            (QStringList {"statusSection", "legacySectionDivider", "legacySection", "ratesSectionDivider",
                          "ratesSection", "historySectionDivider", "historySection", "switchesSectionDivider",
                          "switchesSection", "commandsSectionDivider", "commandsSection"}));
        QVERIFY(p.view.sizeHint().height() > shortHeight + 100);
        QCOMPARE(p.text("statusTitle"), model.statusHeader().title);
        QCOMPARE(p.text("statusSubtitle"), QStringLiteral("127.0.0.1:9"));
        QVERIFY(p.find("statusSubtitle")->wordWrap());
        QCOMPARE(p.text("madiInput"), model.rates().madiInput);
        QCOMPARE(p.text("madiSync"), model.rates().madiSync);
        const QList<QLabel *> changes
            = p.find<QWidget>("historySection")->findChildren<QLabel *>("historyChange");
        for (qsizetype i = 0; i < changes.size(); ++i) {
            QCOMPARE(!changes[i]->parentWidget()->isHidden(), i < 3);
            if (i < 3)
                QCOMPARE(changes[i]->text(), model.historyRows()[i].change);
        }
        // A lost device's last reading is drawn dimmed.
        const QColor secondary = FormStyle::secondary(p.view.palette());
        QVERIFY(p.find("deviceRate")->palette().color(QPalette::WindowText) != secondary);
        h.state.setConnectionState(ConnectionState::error(QStringLiteral("gone")));
        QCOMPARE(p.find("deviceRate")->palette().color(QPalette::WindowText), secondary);
        // A section that goes takes its divider along.
        h.state.setLegacyScriptDetected(false);
        QCOMPARE(p.column().filter(QStringLiteral("legacy")), QStringList());
    }

    void copyButtonCopiesWhatTheLastCheckFound()
    {
        UiHarness h;
        const QString agent
            = h.dir.filePath(QStringLiteral("Library/LaunchAgents/com.studio.m1620sync.plist"));
        QVERIFY(QDir().mkpath(QFileInfo(agent).path()) && QFile(agent).open(QIODevice::WriteOnly));
        QVERIFY(awaitTask(h.legacy.detect()));
        h.state.setLegacyScriptDetected(true);
        Panel p(h);
        QCOMPARE(p.text("legacyText"), MenuBarViewModel::legacyWarningTextFor(false));
        auto *button = p.find<QPushButton>("copyRemovalCommand");
        QCOMPARE(button->text(), QStringLiteral("Copy removal command"));
        QVERIFY(!button->autoDefault()); // Return in the panel must not copy
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(
            h.desktop.copied,
            QStringList {QStringLiteral("rm -f %1 && echo \"Old M-1620 Rate Sync removed\"").arg(agent)});
        QCOMPARE(button->text(), QStringLiteral("Copied — paste into a terminal"));
    }

    void controlsReachTheEngineTheAutostartEntryAndTheApplication()
    {
        UiHarness h;
        int settingsOpened = 0;
        int quits = 0;
        Panel p(h, {[&] { ++settingsOpened; }, [&] { ++quits; }});
        auto *sync = p.find<SwitchButton>("syncSwitch");
        QTest::mouseClick(sync, Qt::LeftButton);
        QVERIFY(h.state.isPaused());
        QVERIFY(!sync->isChecked());
        QCOMPARE(p.text("syncText"), QStringLiteral("Sync paused"));
        QTest::keyClick(sync, Qt::Key_Return); // the keyboard does what the pointer does
        QVERIFY(!h.state.isPaused());
        h.engine->togglePause(); // from elsewhere (the tray menu): the switch follows
        QVERIFY(!sync->isChecked());

        auto *login = p.find<SwitchButton>("loginSwitch");
        QTest::mouseClick(login, Qt::LeftButton);
        QVERIFY(QFileInfo::exists(h.autostartEntry()));
        QAccessible::queryAccessibleInterface(login)->actionInterface()->doAction(
            QAccessibleActionInterface::toggleAction());
        QVERIFY(!QFileInfo::exists(h.autostartEntry()));
        // Enabled elsewhere (another tool): read again when shown.
        p.view.hide();
        QFile entry(h.autostartEntry());
        QVERIFY(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nType=Application\nName=Quorvel\nExec=/usr/bin/quorvel\n");
        entry.close();
        p.view.show();
        QVERIFY(login->isChecked());

        QSignalSpy dismissed(&p.view, &MenuBarView::dismissRequested);
        QVERIFY(!p.view.findChild<CommandButton *>(QStringLiteral("command0"))); // no feed, no update check
        auto *settings = p.view.findChild<CommandButton *>(QStringLiteral("command1"));
        QCOMPARE(settings->text(), QStringLiteral("Settings…"));
        // The whole row reacts, not only its text.
        QTest::mouseClick(settings, Qt::LeftButton, {},
                          QPoint(settings->width() - 3, settings->height() / 2));
        QTest::keyClick(settings, Qt::Key_Return);
        QCOMPARE(settingsOpened, 2);
        QCOMPARE(dismissed.count(), 2);
        QTest::mouseClick(p.view.findChild<CommandButton *>(QStringLiteral("command2")), Qt::LeftButton);
        QCOMPARE(quits, 1);
        QCOMPARE(dismissed.count(), 2);
    }
};

QTEST_MAIN(TestMenuBarView)
#include "tst_MenuBarView.moc"
