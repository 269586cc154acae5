#include "SettingsHarness.h"

#include "DeviceSimulator.h"
#include "core/BuildInfo.h"
#include "discovery/DiagnosticsEnvironment.h"
#include "discovery/DiagnosticsReport.h"

#include <QDir>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using Model = SettingsViewModel;
using Toggle = SettingsViewModel::Toggle;

namespace {

// The report the model would copy at this moment, built independently of the model.
QString reportNow(SettingsHarness &h)
{
    DiagnosticsEnvironment environment = DiagnosticsEnvironment::current();
    environment.logFile = h.logger.logFile();
    environment.launchAtLogin = h.launchAtLogin->isEnabled();
    return DiagnosticsReport::makeDiagnosticsReport(h.state, h.settings, 200, environment);
}

// A loopback port on which nothing listens.
quint16 closedPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost))
        return 0;
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

QString loopback(quint16 port)
{
    return QStringLiteral("127.0.0.1:%1").arg(port);
}

// The real test, noting when it has ended (after the model may be gone).
QCoro::Task<M1620Result<DeviceStatus>> noteEnd(bool *ended, QString host)
{
    M1620Result<DeviceStatus> result = co_await SyncEngine::testConnection(host);
    *ended = true;
    co_return result;
}

} // namespace

class TestSettingsViewModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void connectionTextsAreTheProgramsOwn()
    {
        QCOMPARE(Model::textOf(Toggle::UseCustomHost), QStringLiteral("Use custom IP / hostname"));
        QCOMPARE(Model::hostFieldLabel, QStringLiteral("172.20.0.1"));
        QCOMPARE(Model::hostFieldPlaceholder, QStringLiteral("e.g. 192.168.1.42 or m1620.local"));
        QCOMPARE(Model::defaultHostNote,
                 QString::fromUtf8("Default is 172.20.0.1 \u2014 the M-1620's USB control address."));
        QCOMPARE(Model::nothingDiscovered,
                 QStringLiteral("Nothing found yet. Make sure the device is on the same network."));
        QCOMPARE(Model::textOf(Toggle::NotifyOnRateChange), QStringLiteral("Notify on sample rate change"));
        QCOMPARE(Model::textOf(Toggle::NotifyOnDisconnect), QStringLiteral("Notify when device disconnects"));
        QCOMPARE(Model::textOf(Toggle::ShowRateInMenuBar), QStringLiteral("Show sample rate in menu bar"));
        QCOMPARE(Model::textOf(Toggle::AutomaticallyCheckForUpdates),
                 QStringLiteral("Automatically check for updates"));
        QCOMPARE(Model::textOf(Toggle::LaunchAtLogin), QStringLiteral("Launch Quorvel at login"));
        QCOMPARE(Model::diagnosticsCaptionFor(false),
                 QStringLiteral("Having trouble? Copy a report to send."));
        QCOMPARE(Model::diagnosticsCaptionFor(true),
                 QString::fromUtf8("Copied \u2014 paste it into a message."));
    }

    // --- The custom host ---

    void defaultSettingsTestTheDefaultHost()
    {
        SettingsHarness h;
        h.settings.setUseCustomHost(false);
        h.settings.setCustomHost(QString());
        Model model(h.state, *h.engine, h.services(true));
        QVERIFY(!model.isOn(Toggle::UseCustomHost));
        QVERIFY(!model.isHostFieldEnabled());
        QCOMPARE(model.customHost(), QString());
        QCOMPARE(model.hostToTest(), QStringLiteral("172.20.0.1"));

        model.runConnectionTest();
        QTRY_VERIFY(model.testResult().has_value());
        // Through the recording tester only: nothing is sent to the default address.
        QCOMPARE(h.tester.hosts, QStringList {QStringLiteral("172.20.0.1")});
    }

    void testedHostFollowsTheEffectiveHostRule_data()
    {
        QTest::addColumn<bool>("useCustomHost");
        QTest::addColumn<QString>("customHost");
        QTest::addColumn<QString>("tested");
        QTest::newRow("on, empty") << true << QString() << QStringLiteral("172.20.0.1");
        QTest::newRow("off, host typed earlier")
            << false << QStringLiteral("192.168.1.42") << QStringLiteral("172.20.0.1");
        QTest::newRow("on, host") << true << QStringLiteral("m1620.local") << QStringLiteral("m1620.local");
        QTest::newRow("on, blanks kept")
            << true << QStringLiteral(" m1620.local ") << QStringLiteral(" m1620.local ");
        QTest::newRow("on, only blanks") << true << QStringLiteral("  ") << QStringLiteral("  ");
    }

    void testedHostFollowsTheEffectiveHostRule()
    {
        QFETCH(bool, useCustomHost);
        QFETCH(QString, customHost);
        QFETCH(QString, tested);
        SettingsHarness h;
        Model model(h.state, *h.engine, h.services(true));
        h.settings.setCustomHost(customHost);
        h.settings.setUseCustomHost(useCustomHost);
        model.runConnectionTest();
        // The host is chosen when "Test" is pressed; later edits do not change it.
        h.settings.setCustomHost(QStringLiteral("127.0.0.1:1"));
        QTRY_VERIFY(!model.testing());
        QCOMPARE(h.tester.hosts, QStringList {tested});
    }

    void hostSwitchAndFieldAreBoundBothWays()
    {
        SettingsHarness h;
        h.settings.setUseCustomHost(false);
        Model model(h.state, *h.engine, h.services());
        QSignalSpy toggles(&model, &Model::toggleChanged);
        QSignalSpy hosts(&model, &Model::customHostChanged);

        model.setOn(Toggle::UseCustomHost, true);
        QVERIFY(h.settings.useCustomHost());
        QVERIFY(model.isHostFieldEnabled());
        QCOMPARE(h.storedSettings().value(QStringLiteral("useCustomHost")), QJsonValue(true));
        QCOMPARE(toggles.count(), 1);
        QCOMPARE(toggles.first().first().value<Toggle>(), Toggle::UseCustomHost);

        // From elsewhere, e.g. the settings of another window.
        h.settings.setUseCustomHost(false);
        QCOMPARE(toggles.count(), 2);
        QVERIFY(!model.isOn(Toggle::UseCustomHost));
        QVERIFY(!model.isHostFieldEnabled());

        // Every edit is written at once, so the store holds what the field shows.
        for (const QString &text : {QStringLiteral("1"), QStringLiteral("12"), QStringLiteral("127")}) {
            model.editCustomHost(text);
            QCOMPARE(h.settings.customHost(), text);
            QCOMPARE(h.storedSettings().value(QStringLiteral("customHost")).toString(), text);
        }
        QCOMPARE(hosts.count(), 3);
        h.settings.setCustomHost(QStringLiteral("m1620.local"));
        QCOMPARE(hosts.count(), 4);
        QCOMPARE(model.customHost(), QStringLiteral("m1620.local"));
    }

    // --- The connection test against a device of our own on loopback ---

    void testAgainstTheSimulator()
    {
        DeviceSimulator sim;
        QVERIFY2(sim.listen(), qPrintable(sim.errorString()));
        SettingsHarness h;
        h.settings.setCustomHost(loopback(sim.port()));
        Model model(h.state, *h.engine, h.services());
        QSignalSpy changes(&model, &Model::testChanged);

        QVERIFY(model.canTest());
        QVERIFY(!model.testResult());
        model.runConnectionTest();
        // The press returns before the answer: the window stays responsive meanwhile.
        QVERIFY(model.testing());
        QVERIFY(!model.canTest());
        QVERIFY(!model.testResult());
        QTRY_VERIFY(!model.testing());
        QCOMPARE(model.testResult(), QStringLiteral("✓ Connected. Device rate: 48000 Hz"));
        QCOMPARE(Model::tintFor(*model.testResult()), Model::Tint::Green);
        QCOMPARE(changes.count(), 2);
        QCOMPARE(sim.statusQueryCount(), 1);
        // The test is the window's own: the shared state and the log are left alone.
        QCOMPARE(h.state.connectionState(), ConnectionState::disconnected());
        QCOMPARE(h.logLines(), QStringList());

        sim.setDeviceRate(96000);
        model.runConnectionTest();
        QTRY_VERIFY(!model.testing());
        QCOMPARE(model.testResult(), QStringLiteral("✓ Connected. Device rate: 96000 Hz"));

        sim.setReported(DeviceSimulator::Member::DeviceRate, false);
        model.runConnectionTest();
        QTRY_VERIFY(!model.testing());
        QCOMPARE(model.testResult(), QStringLiteral("✓ Connected. Device rate: unknown"));
        QCOMPARE(Model::tintFor(*model.testResult()), Model::Tint::Green);
    }

    void closedPortGivesARedFailure()
    {
        const quint16 port = closedPort();
        QVERIFY(port != 0);
        SettingsHarness h;
        h.settings.setCustomHost(loopback(port));
        Model model(h.state, *h.engine, h.services());
        model.runConnectionTest();
        QTRY_VERIFY_WITH_TIMEOUT(!model.testing(), 10000);
        const QString result = model.testResult().value_or(QString());
        QVERIFY2(result.startsWith(QStringLiteral("✗ ")), qPrintable(result));
        QVERIFY(result.size() > 2);
        QCOMPARE(Model::tintFor(result), Model::Tint::Red);
    }

    void newPressClearsTheOutcomeAndWaitsForTheNext()
    {
        DeviceSimulator sim;
        QVERIFY(sim.listen());
        SettingsHarness h;
        h.settings.setCustomHost(loopback(sim.port()));
        Model model(h.state, *h.engine, h.services());
        sim.setFault(SimFault::Mode::Status, 1, 500);
        model.runConnectionTest();
        QTRY_VERIFY(!model.testing());
        QVERIFY(model.testResult()->startsWith(QStringLiteral("✗ ")));

        sim.setFault(SimFault::Mode::Delay, 1, 400);
        model.runConnectionTest();
        QVERIFY(!model.testResult());
        QVERIFY(!model.canTest());
        // Pressing again while it runs starts nothing.
        model.runConnectionTest();
        QTRY_VERIFY(!model.testing());
        QCOMPARE(model.testResult(), QStringLiteral("✓ Connected. Device rate: 48000 Hz"));
        QCOMPARE(sim.statusQueryCount(), 2);
    }

    void testEndingAfterTheModelIsGoneChangesNothing()
    {
        DeviceSimulator sim;
        QVERIFY(sim.listen());
        sim.setFault(SimFault::Mode::Delay, 1, 300);
        SettingsHarness h;
        h.settings.setCustomHost(loopback(sim.port()));
        bool ended = false;
        SettingsViewModel::Services services = h.services();
        services.tester = [&ended](const QString &host) { return noteEnd(&ended, host); };
        auto model = std::make_unique<Model>(h.state, *h.engine, services);
        model->runConnectionTest();
        QTRY_COMPARE(sim.statusQueryCount(), 1);
        model.reset();
        QTRY_VERIFY(ended);
        QTest::qWait(20);
        QCOMPARE(h.state.connectionState(), ConnectionState::disconnected());
    }

    // --- Discovered devices ---

    void browsingRunsWhileTheFormIsShown()
    {
        SettingsHarness h;
        Model model(h.state, *h.engine, h.services());
        QCOMPARE(h.browsers.made.size(), 0);
        QVERIFY(!model.isBrowsing());

        model.setConnectionFormShown(true);
        model.setConnectionFormShown(true);
        QCOMPARE(h.browsers.made.size(), 1);
        FakeServiceBrowser *browser = h.browsers.current();
        QCOMPARE(browser->startCount, 1);
        QSignalSpy changes(&model, &Model::discoveryChanged);
        browser->becomeReady();
        QTRY_VERIFY(model.isBrowsing());
        browser->report({QStringLiteral("M-1620 Pro (Studio A)"), QStringLiteral("Office printer"),
                         QStringLiteral("madi-bridge")});
        QTRY_COMPARE(model.discoveredHosts(),
                     QStringList({QStringLiteral("M-1620 Pro (Studio A).local"),
                                  QStringLiteral("madi-bridge.local")}));
        QCOMPARE(changes.count(), 2);

        model.setConnectionFormShown(false);
        QCOMPARE(browser->stopCount, 1);
        QVERIFY(!model.isBrowsing());
        QCOMPARE(model.discoveredHosts().size(), 2);

        model.setConnectionFormShown(true);
        QCOMPARE(h.browsers.made.size(), 2);
        QCOMPARE(h.browsers.current()->startCount, 1);
    }

    void failedBrowsingOnlyClearsTheIndicator()
    {
        SettingsHarness h;
        Model model(h.state, *h.engine, h.services());
        model.setConnectionFormShown(true);
        h.browsers.current()->becomeReady();
        h.browsers.current()->report({QStringLiteral("RME M-1620")});
        QTRY_COMPARE(model.discoveredHosts().size(), 1);
        h.browsers.current()->fail();
        QTRY_VERIFY(!model.isBrowsing());
        QCOMPARE(model.discoveredHosts(), QStringList {QStringLiteral("RME M-1620.local")});
    }

    void useWritesBothSettingsEvenWhenAlreadyChosen()
    {
        SettingsHarness h;
        h.settings.setUseCustomHost(false);
        Model model(h.state, *h.engine, h.services());
        model.useDiscoveredHost(QStringLiteral("M-1620 Pro.local"));
        QCOMPARE(h.settings.customHost(), QStringLiteral("M-1620 Pro.local"));
        QVERIFY(h.settings.useCustomHost());
        QCOMPARE(h.settings.effectiveHost(), QStringLiteral("M-1620 Pro.local"));

        QVERIFY(QFile::remove(h.store.filePath()));
        model.useDiscoveredHost(QStringLiteral("M-1620 Pro.local"));
        const QJsonObject stored = h.storedSettings();
        QCOMPARE(stored.value(QStringLiteral("customHost")).toString(), QStringLiteral("M-1620 Pro.local"));
        QCOMPARE(stored.value(QStringLiteral("useCustomHost")), QJsonValue(true));
    }

    // --- General tab ---

    void freshInstallShowsNotificationsOnAndNoRateText()
    {
        SettingsHarness h;
        Model model(h.state, *h.engine, h.services());
        QVERIFY(model.isOn(Toggle::NotifyOnRateChange));
        QVERIFY(model.isOn(Toggle::NotifyOnDisconnect));
        QVERIFY(!model.isOn(Toggle::ShowRateInMenuBar));
        QVERIFY(!model.isOn(Toggle::AutomaticallyCheckForUpdates));
        QVERIFY(!model.isOn(Toggle::LaunchAtLogin));
    }

    void settingsSwitchesAreBoundLive_data()
    {
        QTest::addColumn<Toggle>("toggle");
        QTest::addColumn<QString>("key");
        QTest::newRow("rate change") << Toggle::NotifyOnRateChange << QStringLiteral("notifyOnRateChange");
        QTest::newRow("disconnect") << Toggle::NotifyOnDisconnect << QStringLiteral("notifyOnDisconnect");
        QTest::newRow("menu bar") << Toggle::ShowRateInMenuBar << QStringLiteral("showRateInMenuBar");
    }

    void settingsSwitchesAreBoundLive()
    {
        QFETCH(Toggle, toggle);
        QFETCH(QString, key);
        SettingsHarness h;
        Model model(h.state, *h.engine, h.services());
        QSignalSpy toggles(&model, &Model::toggleChanged);
        const bool before = model.isOn(toggle);
        model.setOn(toggle, !before);
        QCOMPARE(model.isOn(toggle), !before);
        QCOMPARE(h.settings.property(key.toUtf8().constData()).toBool(), !before);
        QCOMPARE(h.storedSettings().value(key), QJsonValue(!before));
        QCOMPARE(toggles.count(), 1);
        QCOMPARE(toggles.first().first().value<Toggle>(), toggle);

        h.settings.setProperty(key.toUtf8().constData(), before);
        QCOMPARE(model.isOn(toggle), before);
        QCOMPARE(toggles.count(), 2);
    }

    void automaticUpdatesSwitchIsTheUpdatersFlag()
    {
        SettingsHarness h;
        Model model(h.state, *h.engine, h.services());
        QSignalSpy toggles(&model, &Model::toggleChanged);
        model.setOn(Toggle::AutomaticallyCheckForUpdates, true);
        QVERIFY(h.updates->automaticallyChecksForUpdates());
        QVERIFY(model.isOn(Toggle::AutomaticallyCheckForUpdates));
        QCOMPARE(toggles.count(), 1);
        h.updates->setAutomaticallyChecksForUpdates(false);
        QVERIFY(!model.isOn(Toggle::AutomaticallyCheckForUpdates));
        QCOMPARE(toggles.count(), 2);
        // The app settings are not involved.
        QVERIFY(!h.storedSettings().contains(QStringLiteral("automaticallyCheckForUpdates")));
    }

    void launchAtLoginSwitchShowsWhatTheSystemHas()
    {
        SettingsHarness h;
        Model model(h.state, *h.engine, h.services());
        QSignalSpy toggles(&model, &Model::toggleChanged);
        model.setOn(Toggle::LaunchAtLogin, true);
        QVERIFY(QFileInfo::exists(h.launchAtLogin->entryPath()));
        QVERIFY(model.isOn(Toggle::LaunchAtLogin));
        QCOMPARE(toggles.count(), 1);
        model.setOn(Toggle::LaunchAtLogin, false);
        QVERIFY(!QFileInfo::exists(h.launchAtLogin->entryPath()));
        QVERIFY(!model.isOn(Toggle::LaunchAtLogin));
        QCOMPARE(toggles.count(), 2);

        // A folder that cannot be made: the change fails, is logged, and the switch is told
        // to show the real state again.
        QVERIFY(QDir(h.autostartDir()).removeRecursively());
        QFile blocker(h.autostartDir());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        model.setOn(Toggle::LaunchAtLogin, true);
        QVERIFY(!model.isOn(Toggle::LaunchAtLogin));
        QCOMPARE(toggles.count(), 3);
        QCOMPARE(h.logLines().filter(QStringLiteral("[ERROR] Launch at login change failed: ")).size(), 1);
    }

    void checkNowFollowsTheUpdater()
    {
        SettingsHarness withoutFeed;
        Model plain(withoutFeed.state, *withoutFeed.engine, withoutFeed.services());
        QVERIFY(!plain.canCheckForUpdates());
        plain.checkForUpdates();
        QVERIFY(!withoutFeed.updates->isChecking());

        // A feed on a closed loopback port: the check fails fast and nothing leaves the machine.
        SettingsHarness h(QUrl(QStringLiteral("http://%1/appcast.xml").arg(loopback(closedPort()))));
        Model model(h.state, *h.engine, h.services());
        QSignalSpy changes(&model, &Model::canCheckForUpdatesChanged);
        QVERIFY(model.canCheckForUpdates());
        QSignalSpy finished(h.updates.get(), &UpdateController::userCheckFinished);
        model.checkForUpdates();
        QVERIFY(!model.canCheckForUpdates());
        QCOMPARE(changes.count(), 1);
        QTRY_COMPARE(finished.count(), 1);
        QVERIFY(model.canCheckForUpdates());
        QCOMPARE(changes.count(), 2);
    }

    void versionText()
    {
        QCOMPARE(Model::versionTextFor(QStringLiteral("1.4.2")), QStringLiteral("Version 1.4.2"));
        QCOMPARE(Model::versionTextFor(QString()), QStringLiteral("Version ?"));
        SettingsHarness h;
        Model model(h.state, *h.engine, h.services());
        QCOMPARE(model.versionText(), QStringLiteral("Version ") + QString::fromUtf8(BuildInfo::version));
    }

    void copyDiagnosticsCopiesAFreshReportAndSaysSo()
    {
        SettingsHarness h;
        h.state.setConnectionState(ConnectionState::connected(QStringLiteral("127.0.0.1:9")));
        h.state.setDeviceRate(48000);
        h.logger.info(QStringLiteral("first line"));
        h.logger.flush();
        Model model(h.state, *h.engine, h.services());
        QSignalSpy copied(&model, &Model::diagnosticsCopiedChanged);
        QCOMPARE(model.diagnosticsCaption(), QStringLiteral("Having trouble? Copy a report to send."));

        const QString before = reportNow(h);
        model.copyDiagnostics();
        const QString after = reportNow(h);
        QCOMPARE(h.platform.copied.size(), 1);
        // Line 1 carries the time to the second, so the copy matches one of the two.
        QVERIFY2(h.platform.copied[0] == before || h.platform.copied[0] == after,
                 qPrintable(h.platform.copied[0]));
        const QStringList lines = h.platform.copied[0].split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 13);
        QCOMPARE(lines[5], QStringLiteral("Connection: connected (127.0.0.1:9)"));
        QCOMPARE(lines[11], QStringLiteral("--- last 200 log lines ---"));
        QVERIFY(lines[12].endsWith(QStringLiteral("[INFO] first line")));
        QVERIFY(model.diagnosticsCopied());
        QCOMPARE(model.diagnosticsCaption(), QString::fromUtf8("Copied \u2014 paste it into a message."));
        QCOMPARE(copied.count(), 1);

        // Again: a fresh report, and the caption stays as it is.
        h.state.setDeviceRate(96000);
        h.launchAtLogin->setEnabled(true);
        model.copyDiagnostics();
        QCOMPARE(h.platform.copied.size(), 2);
        const QStringList again = h.platform.copied[1].split(QLatin1Char('\n'));
        QVERIFY(again[6].startsWith(QStringLiteral("Device rate: 96000 Hz")));
        QCOMPARE(again[9], QStringLiteral("Launch at login: on"));
        QCOMPARE(copied.count(), 1);
        QVERIFY(model.diagnosticsCopied());

        // A new model starts uncopied.
        Model fresh(h.state, *h.engine, h.services());
        QVERIFY(!fresh.diagnosticsCopied());
    }

    void revealAsksForTheLogFile()
    {
        SettingsHarness h;
        Model model(h.state, *h.engine, h.services());
        QCOMPARE(model.logFile(), h.logger.logFile());
        model.revealLogFile();
        QCOMPARE(h.platform.revealed, QStringList {h.logger.logFile()});
    }

    void creditsComeFromTheAcknowledgements()
    {
        const std::optional<QString> credits = Model::creditsFrom(Model::acknowledgementsResource);
        QVERIFY(credits);
        for (const char *expected :
             {"Qt 6", "LGPL-3.0", "QCoro", "MIT License", "Avahi", "libsystemd", "LGPL-2.1-or-later"})
            QVERIFY2(credits->contains(QLatin1String(expected)), expected);

        QTemporaryDir dir;
        QVERIFY(!Model::creditsFrom(dir.filePath(QStringLiteral("missing.txt"))));
        QFile broken(dir.filePath(QStringLiteral("broken.txt")));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("Qt \xff\xfe licences");
        broken.close();
        QVERIFY(!Model::creditsFrom(broken.fileName()));
        QFile empty(dir.filePath(QStringLiteral("empty.txt")));
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();
        QCOMPARE(Model::creditsFrom(empty.fileName()), QString());
    }
};

QTEST_MAIN(TestSettingsViewModel)
#include "tst_SettingsViewModel.moc"
