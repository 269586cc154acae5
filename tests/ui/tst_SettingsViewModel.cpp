#include "SettingsHarness.h"

#include "DeviceSimulator.h"
#include "discovery/DiagnosticsEnvironment.h"
#include "discovery/DiagnosticsReport.h"

#include <QSignalSpy>
#include <QTest>

using Model = SettingsViewModel;

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

class TestSettingsViewModel : public QObject
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
        Model model(h.state, *h.engine, h.services(true));
        h.settings.setCustomHost(customHost);
        h.settings.setUseCustomHost(useCustomHost);
        QCOMPARE(model.isHostFieldEnabled(), useCustomHost);
        model.runConnectionTest();
        // The host is chosen when "Test" is pressed; later edits do not change it.
        h.settings.setCustomHost(QStringLiteral("127.0.0.1:1"));
        QTRY_VERIFY(!model.testing());
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

    void versionText()
    {
        QCOMPARE(Model::versionTextFor(QStringLiteral("1.4.2")), QStringLiteral("Version 1.4.2"));
        QCOMPARE(Model::versionTextFor(QString()), QStringLiteral("Version ?"));
    }

    void copyDiagnosticsCopiesAFreshReportAndSaysSo()
    {
        SettingsHarness h;
        h.state.setConnectionState(ConnectionState::connected(QStringLiteral("127.0.0.1:9")));
        h.logger.info(QStringLiteral("first line"));
        h.logger.flush();
        Model model(h.state, *h.engine, h.services());
        QSignalSpy copied(&model, &Model::diagnosticsCopiedChanged);
        QCOMPARE(model.diagnosticsCaption(), QStringLiteral("Having trouble? Copy a report to send."));

        // The report of this moment, with the shown log file and the login entry's state.
        // Line 1 carries the time to the second, so the copy matches one of the two.
        for (int i = 0; i < 2; ++i) {
            const QString before = reportNow(h);
            model.copyDiagnostics();
            const QString after = reportNow(h);
            QCOMPARE(h.platform.copied.size(), i + 1);
            QVERIFY2(h.platform.copied[i] == before || h.platform.copied[i] == after,
                     qPrintable(h.platform.copied[i]));
            QCOMPARE(model.diagnosticsCaption(), QStringLiteral("Copied — paste it into a message."));
            QCOMPARE(copied.count(), 1);
            // Again: a fresh report, and the caption stays as it is.
            h.state.setDeviceRate(96000);
            h.launchAtLogin->setEnabled(true);
        }
        QVERIFY(h.platform.copied[0].contains(QStringLiteral("[INFO] first line")));
        QVERIFY(h.platform.copied[1].contains(QStringLiteral("\nLaunch at login: on\n")));

        // A new model starts uncopied.
        Model fresh(h.state, *h.engine, h.services());
        QVERIFY(!fresh.diagnosticsCopied());
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
