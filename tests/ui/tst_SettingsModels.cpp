#include "UiHarness.h"

#include "DeviceSimulator.h"
#include "ui/settings/GeneralTabModel.h"

#include <QSignalSpy>
#include <QTest>

class TestSettingsModels : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Through the recording tester only: nothing is sent to the default address.
    void testedHostFollowsTheEffectiveHostRule_data()
    {
        QTest::addColumn<bool>("useCustomHost");
        QTest::addColumn<QString>("customHost");
        QTest::addColumn<QString>("tested");
        QTest::newRow("on, empty") << true << ""
                                   << "172.20.0.1";
        QTest::newRow("off, host typed earlier") << false << "192.168.1.42"
                                                 << "172.20.0.1";
        QTest::newRow("on, blanks kept") << true << " m1620.local "
                                         << " m1620.local ";
        QTest::newRow("on, only blanks") << true << "  "
                                         << "  ";
    }

    void testedHostFollowsTheEffectiveHostRule()
    {
        QFETCH(bool, useCustomHost);
        QFETCH(QString, customHost);
        UiHarness h;
        ConnectionTabModel model(h.settings, h.browsers(), h.recordingTester());
        h.settings.setCustomHost(customHost);
        h.settings.setUseCustomHost(useCustomHost);
        QCOMPARE(model.isHostFieldEnabled(), useCustomHost);
        model.runConnectionTest();
        h.settings.setCustomHost(QStringLiteral("127.0.0.1:1")); // chosen when pressed
        QTRY_VERIFY(!model.testing());
        QTEST(h.tested.value(0), "tested");
        QCOMPARE(h.tested.size(), 1);
    }

    void testEndingAfterTheModelIsGoneChangesNothing()
    {
        DeviceSimulator sim;
        QVERIFY(sim.listen());
        sim.setFault(SimFault::Mode::Delay, 1, 300);
        UiHarness h;
        h.settings.setCustomHost(QStringLiteral("127.0.0.1:%1").arg(sim.port()));
        auto model = std::make_unique<ConnectionTabModel>(h.settings, h.browsers(), nullptr);
        model->runConnectionTest();
        QTRY_COMPARE(sim.statusQueryCount(), 1);
        model.reset();
        QTest::qWait(500); // the answer arrives into nothing; a write into it fails the sanitizer build
        QCOMPARE(TestOutcome::from(DeviceStatus {std::nullopt, 44100, true}),
                 (TestOutcome {true, QStringLiteral("✓ Connected. Device rate: unknown")}));
        QCOMPARE(TestOutcome::from(M1620Error::unreachable(QStringLiteral("Could not connect"))),
                 (TestOutcome {false, QStringLiteral("✗ Could not connect")}));
    }

    void generalModel()
    {
        UiHarness plain;
        GeneralTabModel withoutFeed(plain.state, plain.settings, *plain.launchAtLogin, *plain.updates,
                                    plain.logger, plain.desktop);
        QVERIFY(!withoutFeed.offersUpdateChecks());
        QVERIFY(!withoutFeed.setting(GeneralTabModel::automaticallyCheckForUpdates));
        QCOMPARE(GeneralTabModel::versionTextFor(QString()), QStringLiteral("Version ?"));

        UiHarness h(QUrl(QStringLiteral("http://127.0.0.1:9/appcast.xml")));
        GeneralTabModel model(h.state, h.settings, *h.launchAtLogin, *h.updates, h.logger, h.desktop);
        model.setValue(GeneralTabModel::automaticallyCheckForUpdates, true);
        QVERIFY(h.updates->automaticallyChecksForUpdates());
        model.setValue(GeneralTabModel::settleMilliseconds, 7000);
        QCOMPARE(h.settings.settleMilliseconds(), qint64(5000));
        model.setValue(GeneralTabModel::settleMilliseconds, -1);
        QCOMPARE(h.settings.settleMilliseconds(), qint64(0));

        // Each copy is a fresh report of this moment; the caption changes once.
        QSignalSpy copied(&model, &GeneralTabModel::diagnosticsCopiedChanged);
        QCOMPARE(model.diagnosticsCaption(), QStringLiteral("Having trouble? Copy a report to send."));
        model.copyDiagnostics();
        h.launchAtLogin->setEnabled(true);
        model.copyDiagnostics();
        QCOMPARE(h.desktop.copied.size(), 2);
        QVERIFY(h.desktop.copied[0].contains(QStringLiteral("\nLaunch at login: off\n")));
        QVERIFY(h.desktop.copied[1].contains(QStringLiteral("\nLaunch at login: on\n")));
        QCOMPARE(model.diagnosticsCaption(), QStringLiteral("Copied — paste it into a message."));
        QCOMPARE(copied.count(), 1);
    }

    void creditsComeFromTheAcknowledgements()
    {
        const std::optional<QString> credits
            = GeneralTabModel::creditsFrom(GeneralTabModel::acknowledgementsResource);
        for (const char *expected :
             {"Qt 6", "LGPL-3.0", "QCoro", "MIT License", "Avahi", "LGPL-2.1-or-later"})
            QVERIFY2(credits && credits->contains(QLatin1String(expected)), expected);
        QTemporaryDir dir;
        QVERIFY(!GeneralTabModel::creditsFrom(dir.filePath(QStringLiteral("missing.txt"))));
        QFile broken(dir.filePath(QStringLiteral("broken.txt")));
        QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write("Qt \xff\xfe licences") > 0);
        broken.close();
        QVERIFY(!GeneralTabModel::creditsFrom(broken.fileName()));
    }
};

QTEST_MAIN(TestSettingsModels)
#include "tst_SettingsModels.moc"
