#include "SettingsHarness.h"

#include "DeviceSimulator.h"
#include "services/DiagnosticsEnvironment.h"
#include "services/DiagnosticsReport.h"

#include <QSignalSpy>
#include <QTest>

namespace {

// The report the model would copy at this moment, built independently of the model.
QString reportNow(SettingsHarness &h)
{
    DiagnosticsEnvironment environment = DiagnosticsEnvironment::current();
    environment.logFile = h.logger.logFile();
    environment.launchAtLogin = h.launchAtLogin->isEnabled();
    return DiagnosticsReport::makeDiagnosticsReport(h.state, h.settings, 200, environment);
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

class TestSettingsModels : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void testedHostFollowsTheEffectiveHostRule_data()
    {
        QTest::addColumn<bool>("useCustomHost");
        QTest::addColumn<QString>("customHost");
        QTest::addColumn<QString>("tested");
        // Through the recording tester only: nothing is sent to the default address.
        QTest::newRow("defaults") << false << QString() << QStringLiteral("172.20.0.1");
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
        const auto model = h.connectionModel(true);
        h.settings.setCustomHost(customHost);
        h.settings.setUseCustomHost(useCustomHost);
        QCOMPARE(model->isHostFieldEnabled(), useCustomHost);
        model->runConnectionTest();
        // The host is chosen when "Test" is pressed; later edits do not change it.
        h.settings.setCustomHost(QStringLiteral("127.0.0.1:1"));
        QTRY_VERIFY(!model->testing());
        QCOMPARE(h.tester.hosts, QStringList {tested});
    }

    void testEndingAfterTheModelIsGoneChangesNothing()
    {
        DeviceSimulator sim;
        QVERIFY(sim.listen());
        sim.setFault(SimFault::Mode::Delay, 1, 300);
        SettingsHarness h;
        h.settings.setCustomHost(loopback(sim.port()));
        bool ended = false;
        auto model = std::make_unique<ConnectionTabModel>(
            h.settings, h.browsers.factory(),
            [&ended](const QString &host) { return noteEnd(&ended, host); });
        model->runConnectionTest();
        QTRY_COMPARE(sim.statusQueryCount(), 1);
        model.reset();
        QTRY_VERIFY(ended);
        QTest::qWait(20);
        QCOMPARE(h.state.connectionState(), ConnectionState::disconnected());
    }

    void testOutcomeIsAValue()
    {
        QCOMPARE(TestOutcome::from(DeviceStatus {48000, 44100, true}),
                 (TestOutcome {true, QStringLiteral("✓ Connected. Device rate: 48000 Hz")}));
        QCOMPARE(TestOutcome::from(DeviceStatus {std::nullopt, 44100, true}),
                 (TestOutcome {true, QStringLiteral("✓ Connected. Device rate: unknown")}));
        QCOMPARE(TestOutcome::from(M1620Error::unreachable(QStringLiteral("Could not connect"))),
                 (TestOutcome {false, QStringLiteral("✗ Could not connect")}));
    }

    void switchesReadAndWriteTheirOwners()
    {
        SettingsHarness h;
        const auto general = h.generalModel();
        const auto connection = h.connectionModel();
        QSignalSpy changed(general.get(), &SettingsPageModel::settingChanged);
        const QList<std::tuple<SettingsPageModel *, QString, std::function<bool()>>> owners {
            {connection.get(), QStringLiteral("useCustomHost"), [&] { return h.settings.useCustomHost(); }},
            {general.get(), QStringLiteral("notifyOnRateChange"),
             [&] { return h.settings.notifyOnRateChange(); }},
            {general.get(), QStringLiteral("notifyOnDisconnect"),
             [&] { return h.settings.notifyOnDisconnect(); }},
            {general.get(), QStringLiteral("showRateInMenuBar"),
             [&] { return h.settings.showRateInMenuBar(); }},
            {general.get(), QStringLiteral("launchAtLogin"), [&] { return h.launchAtLogin->isEnabled(); }},
        };
        for (const auto &[model, name, owner] : owners) {
            QCOMPARE(model->setting(name)->kind, Setting::Kind::Switch);
            const bool before = owner();
            QCOMPARE(model->value(name).toBool(), before);
            model->setValue(name, !before);
            QCOMPARE(owner(), !before);
            QCOMPARE(model->value(name).toBool(), !before);
        }
        // Each owner's change is announced under the setting's name, once.
        QCOMPARE(changed.count(), 4);
        QCOMPARE(changed.first().first().toString(), QStringLiteral("notifyOnRateChange"));
        QCOMPARE(changed.last().first().toString(), QStringLiteral("launchAtLogin"));
    }

    // A build without a feed can never check: no switch, no "Check now", a note instead.
    void updateControlsOnlyWithAFeed()
    {
        SettingsHarness plain;
        QVERIFY(!plain.generalModel()->offersUpdateChecks());
        QVERIFY(!plain.generalModel()->setting(GeneralTabModel::automaticallyCheckForUpdates));

        SettingsHarness h {QUrl(QStringLiteral("http://127.0.0.1:9/appcast.xml"))};
        const auto general = h.generalModel();
        QVERIFY(general->offersUpdateChecks());
        general->setValue(GeneralTabModel::automaticallyCheckForUpdates, true);
        QVERIFY(h.updates->automaticallyChecksForUpdates());
    }

    void numbersStayInTheirRange()
    {
        qint64 settle = 0;
        const Setting number = Setting::milliseconds(
            QStringLiteral("settle"), QStringLiteral("Settle time"), 0, 5000, [&] { return settle; },
            [&](qint64 ms) { settle = ms; });
        number.set(7000);
        QCOMPARE(number.value().toLongLong(), 5000);
        number.set(-1);
        QCOMPARE(settle, 0);
    }

    void versionText()
    {
        QCOMPARE(GeneralTabModel::versionTextFor(QStringLiteral("1.4.2")), QStringLiteral("Version 1.4.2"));
        QCOMPARE(GeneralTabModel::versionTextFor(QString()), QStringLiteral("Version ?"));
    }

    void copyDiagnosticsCopiesAFreshReportAndSaysSo()
    {
        SettingsHarness h;
        h.state.setConnectionState(ConnectionState::connected(QStringLiteral("127.0.0.1:9")));
        h.logger.info(QStringLiteral("first line"));
        h.logger.flush();
        const auto model = h.generalModel();
        QSignalSpy copied(model.get(), &GeneralTabModel::diagnosticsCopiedChanged);
        QCOMPARE(model->diagnosticsCaption(), QStringLiteral("Having trouble? Copy a report to send."));

        // The report of this moment, with the shown log file and the login entry's state.
        // Line 1 carries the time to the second, so the copy matches one of the two.
        for (int i = 0; i < 2; ++i) {
            const QString before = reportNow(h);
            model->copyDiagnostics();
            const QString after = reportNow(h);
            QCOMPARE(h.desktop.copied.size(), i + 1);
            QVERIFY2(h.desktop.copied[i] == before || h.desktop.copied[i] == after,
                     qPrintable(h.desktop.copied[i]));
            QCOMPARE(model->diagnosticsCaption(), QStringLiteral("Copied — paste it into a message."));
            QCOMPARE(copied.count(), 1);
            // Again: a fresh report, and the caption stays as it is.
            h.state.setDeviceRate(96000);
            h.launchAtLogin->setEnabled(true);
        }
        QVERIFY(h.desktop.copied[0].contains(QStringLiteral("[INFO] first line")));
        QVERIFY(h.desktop.copied[1].contains(QStringLiteral("\nLaunch at login: on\n")));

        // A new model starts uncopied.
        QVERIFY(!h.generalModel()->diagnosticsCopied());

        model->revealLogFile();
        QCOMPARE(h.desktop.revealed, QStringList {h.logger.logFile()});
    }

    void creditsComeFromTheAcknowledgements()
    {
        const std::optional<QString> credits
            = GeneralTabModel::creditsFrom(GeneralTabModel::acknowledgementsResource);
        QVERIFY(credits);
        for (const char *expected :
             {"Qt 6", "LGPL-3.0", "QCoro", "MIT License", "Avahi", "libsystemd", "LGPL-2.1-or-later"})
            QVERIFY2(credits->contains(QLatin1String(expected)), expected);

        QTemporaryDir dir;
        QVERIFY(!GeneralTabModel::creditsFrom(dir.filePath(QStringLiteral("missing.txt"))));
        QFile broken(dir.filePath(QStringLiteral("broken.txt")));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("Qt \xff\xfe licences");
        broken.close();
        QVERIFY(!GeneralTabModel::creditsFrom(broken.fileName()));
        QFile empty(dir.filePath(QStringLiteral("empty.txt")));
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();
        QCOMPARE(GeneralTabModel::creditsFrom(empty.fileName()), QString());
    }
};

QTEST_MAIN(TestSettingsModels)
#include "tst_SettingsModels.moc"
