#include "TestFiles.h"
#include "services/AppSettings.h"
#include "services/SettingsStore.h"

#include <QMetaProperty>
#include <QSignalSpy>
#include <QTemporaryDir>

class TestAppSettings : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    int m_count = 0;

    QString freshPath()
    {
        return m_root.filePath(QStringLiteral("c%1/Quorvel/settings.json").arg(++m_count));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        qputenv("XDG_CONFIG_HOME", m_root.filePath(QStringLiteral("shared-config")).toUtf8());
        qputenv("XDG_STATE_HOME", m_root.filePath(QStringLiteral("state")).toUtf8());
    }

    // Stored values come back through assignmentWritesThrough(); these are the defaults.
    void defaultsForWhatIsAbsentOrMistyped_data()
    {
        QTest::addColumn<QByteArray>("json"); // empty: no file
        QTest::newRow("no file") << QByteArray();
        // Only a boolean turns a notification off; anything else leaves it on.
        QTest::newRow("mistyped") << QByteArray(R"({"customHost": 42, "useCustomHost": "true",
            "notifyOnRateChange": "false", "notifyOnDisconnect": null, "showRateInMenuBar": [true],
            "settleMilliseconds": 1000.5, "followOnlyWhenLocked": "true", "matchPipeWireRate": 1,
            "rateChangeCommand": ["jack_control"]})");
    }

    void defaultsForWhatIsAbsentOrMistyped()
    {
        QFETCH(QByteArray, json);
        const QString path = freshPath();
        if (!json.isEmpty())
            writeFile(path, json);
        SettingsStore store(path);
        AppSettings settings(store);
        QCOMPARE(settings.customHost(), QString());
        QCOMPARE(settings.useCustomHost(), false);
        QCOMPARE(settings.notifyOnRateChange(), true);
        QCOMPARE(settings.notifyOnDisconnect(), true);
        QCOMPARE(settings.showRateInMenuBar(), false);
        QCOMPARE(settings.settleMilliseconds(), qint64(0));
        QCOMPARE(settings.followOnlyWhenLocked(), false);
        QCOMPARE(settings.matchPipeWireRate(), false);
        QCOMPARE(settings.rateChangeCommand(), QString());
        QCOMPARE(readAll(path), json); // reading never writes
    }

    void assignmentWritesThrough_data()
    {
        QTest::addColumn<QString>("property");
        QTest::addColumn<QVariant>("value");
        QTest::newRow("customHost") << "customHost" << QVariant(QStringLiteral(" m1620.local "));
        QTest::newRow("useCustomHost") << "useCustomHost" << QVariant(true);
        QTest::newRow("notifyOnRateChange") << "notifyOnRateChange" << QVariant(false);
        QTest::newRow("notifyOnDisconnect") << "notifyOnDisconnect" << QVariant(false);
        QTest::newRow("showRateInMenuBar") << "showRateInMenuBar" << QVariant(true);
        QTest::newRow("settleMilliseconds") << "settleMilliseconds" << QVariant(qint64(1500));
        QTest::newRow("followOnlyWhenLocked") << "followOnlyWhenLocked" << QVariant(true);
        QTest::newRow("matchPipeWireRate") << "matchPipeWireRate" << QVariant(true);
        QTest::newRow("rateChangeCommand")
            << "rateChangeCommand" << QVariant(QStringLiteral("jack_control restart"));
    }

    // Every assignment is written, typed; only a real change is announced.
    void assignmentWritesThrough()
    {
        QFETCH(QString, property);
        QFETCH(QVariant, value);
        const QByteArray name = property.toLatin1();
        const QString path = freshPath();
        {
            SettingsStore store(path);
            AppSettings settings(store);
            const QMetaObject *meta = settings.metaObject();
            QSignalSpy changed(&settings, meta->property(meta->indexOfProperty(name)).notifySignal());
            QSignalSpy hostChanged(&settings, &AppSettings::effectiveHostChanged);
            const QVariant initial = settings.property(name);
            QVERIFY(settings.setProperty(name, initial));
            QCOMPARE(objectIn(path), QJsonObject({{property, QJsonValue::fromVariant(initial)}}));
            QCOMPARE(changed.count(), 0);

            QVERIFY(settings.setProperty(name, value));
            QVERIFY(settings.setProperty(name, value));
            QCOMPARE(changed.count(), 1);
            QCOMPARE(hostChanged.count(), 0); // one of the two host settings alone changes nothing
            QCOMPARE(objectIn(path), QJsonObject({{property, QJsonValue::fromVariant(value)}}));
        }
        SettingsStore reopened(path);
        QCOMPARE(AppSettings(reopened).property(name), value);
    }

    // The custom host counts when switched on and not empty, untrimmed; observers hear of
    // the effective host only when it really changes.
    void effectiveHost()
    {
        SettingsStore store(freshPath());
        AppSettings settings(store);
        QSignalSpy spy(&settings, &AppSettings::effectiveHostChanged);
        const auto step = [&](auto setter, const auto &value, const char *host, int announced) {
            (settings.*setter)(value);
            QCOMPARE(settings.property("effectiveHost").toString(), QString::fromUtf8(host));
            QCOMPARE(spy.count(), announced);
        };
        step(&AppSettings::setCustomHost, QStringLiteral("a"), "172.20.0.1", 0); // kept aside while off
        step(&AppSettings::setUseCustomHost, true, "a", 1);
        step(&AppSettings::setCustomHost, QStringLiteral("a"), "a", 1);
        step(&AppSettings::setCustomHost, QStringLiteral(" m1620.local "), " m1620.local ", 2);
        step(&AppSettings::setCustomHost, QStringLiteral("   "), "   ", 3); // blanks are not empty
        step(&AppSettings::setCustomHost, QString(), "172.20.0.1", 4);
        step(&AppSettings::setUseCustomHost, false, "172.20.0.1", 4);
        step(&AppSettings::setUseCustomHost, true, "172.20.0.1", 4);
        step(&AppSettings::setCustomHost, QStringLiteral("172.20.0.1"), "172.20.0.1", 4); // same host
        step(&AppSettings::setCustomHost, QStringLiteral("x"), "x", 5);
    }

    void sharedInstanceUsesTheUsersConfigFile()
    {
        const QString path = m_root.filePath(QStringLiteral("shared-config/Quorvel/settings.json"));
        QCOMPARE(SettingsStore::shared().filePath(), path);
        AppSettings::shared().setShowRateInMenuBar(true);
        QCOMPARE(objectIn(path), QJsonObject({{QStringLiteral("showRateInMenuBar"), true}}));
    }
};

QTEST_GUILESS_MAIN(TestAppSettings)
#include "tst_AppSettings.moc"
