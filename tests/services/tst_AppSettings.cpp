#include "services/AppSettings.h"
#include "services/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <memory>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &content)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
}

QJsonObject objectIn(const QString &path)
{
    return QJsonDocument::fromJson(readAll(path)).object();
}

const QStringList propertyNames {"customHost", "useCustomHost", "notifyOnRateChange", "notifyOnDisconnect",
                                 "showRateInMenuBar"};

// One spy per change signal of the object, by signal name.
struct Spies
{
    explicit Spies(AppSettings &settings)
    {
        for (const QString &name : propertyNames + QStringList {"effectiveHost"}) {
            const QByteArray signal = QByteArray::number(QSIGNAL_CODE) + name.toLatin1() + "Changed()";
            spies[name] = std::make_unique<QSignalSpy>(&settings, signal.constData());
        }
    }
    int count(const QString &name) const { return int(spies.at(name)->count()); }
    int total() const
    {
        int sum = 0;
        for (const auto &[name, spy] : spies)
            sum += int(spy->count());
        return sum;
    }
    std::map<QString, std::unique_ptr<QSignalSpy>> spies;
};

} // namespace

class TestAppSettings : public QObject
{
    Q_OBJECT

private:
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
        // The shared instances must read and write inside this test's own tree.
        qputenv("XDG_CONFIG_HOME", m_root.filePath(QStringLiteral("shared-config")).toUtf8());
        qputenv("XDG_STATE_HOME", m_root.filePath(QStringLiteral("state")).toUtf8());
    }

    void emptyStoreGivesDefaultsAndWritesNothing()
    {
        const QString path = freshPath();
        SettingsStore store(path);
        AppSettings settings(store);
        QCOMPARE(settings.customHost(), QString());
        QCOMPARE(settings.useCustomHost(), false);
        QCOMPARE(settings.notifyOnRateChange(), true);
        QCOMPARE(settings.notifyOnDisconnect(), true);
        QCOMPARE(settings.showRateInMenuBar(), false);
        QCOMPARE(settings.effectiveHost(), QStringLiteral("172.20.0.1"));
        QVERIFY(!QFile::exists(path));
    }

    void readsStoredValuesByType_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("customHost");
        QTest::addColumn<bool>("useCustomHost");
        QTest::addColumn<bool>("notifyOnRateChange");
        QTest::addColumn<bool>("notifyOnDisconnect");
        QTest::addColumn<bool>("showRateInMenuBar");
        QTest::newRow("all stored") << QByteArray(R"({"customHost": "m1620.local", "useCustomHost": true,
            "notifyOnRateChange": false, "notifyOnDisconnect": false, "showRateInMenuBar": true})")
                                    << "m1620.local" << true << false << false << true;
        QTest::newRow("mistyped") << QByteArray(R"({"customHost": 42, "useCustomHost": "true",
            "notifyOnRateChange": "no", "notifyOnDisconnect": 0, "showRateInMenuBar": 1})")
                                  << "" << false << true << true << false;
        QTest::newRow("nulls") << QByteArray(R"({"customHost": null, "useCustomHost": null,
            "notifyOnRateChange": null, "notifyOnDisconnect": null, "showRateInMenuBar": null})")
                               << "" << false << true << true << false;
        QTest::newRow("one notification off")
            << QByteArray(R"({"notifyOnRateChange": false})") << "" << false << false << true << false;
        QTest::newRow("text where a flag belongs")
            << QByteArray(R"({"notifyOnDisconnect": "false"})") << "" << false << true << true << false;
        QTest::newRow("blank host kept")
            << QByteArray(R"({"customHost": "   "})") << "   " << false << true << true << false;
    }

    void readsStoredValuesByType()
    {
        QFETCH(QByteArray, json);
        const QString path = freshPath();
        writeFile(path, json);
        SettingsStore store(path);
        AppSettings settings(store);
        QTEST(settings.customHost(), "customHost");
        QTEST(settings.useCustomHost(), "useCustomHost");
        QTEST(settings.notifyOnRateChange(), "notifyOnRateChange");
        QTEST(settings.notifyOnDisconnect(), "notifyOnDisconnect");
        QTEST(settings.showRateInMenuBar(), "showRateInMenuBar");
        QCOMPARE(readAll(path), json); // reading never writes
    }

    void equalAssignmentWritesButDoesNotNotify()
    {
        const QString path = freshPath();
        SettingsStore store(path);
        AppSettings settings(store);
        Spies spies(settings);
        settings.setCustomHost(QString());
        settings.setUseCustomHost(false);
        settings.setNotifyOnRateChange(true);
        settings.setNotifyOnDisconnect(true);
        settings.setShowRateInMenuBar(false);
        QCOMPARE(spies.total(), 0);
        const QJsonObject expected {{QStringLiteral("customHost"), QString()},
                                    {QStringLiteral("useCustomHost"), false},
                                    {QStringLiteral("notifyOnRateChange"), true},
                                    {QStringLiteral("notifyOnDisconnect"), true},
                                    {QStringLiteral("showRateInMenuBar"), false}};
        QCOMPARE(objectIn(path), expected);
    }

    void changedAssignmentWritesAndNotifiesThatPropertyOnly_data()
    {
        QTest::addColumn<QString>("property");
        QTest::addColumn<QVariant>("value");
        QTest::newRow("customHost") << "customHost" << QVariant(QStringLiteral("192.168.1.42"));
        QTest::newRow("useCustomHost") << "useCustomHost" << QVariant(true);
        QTest::newRow("notifyOnRateChange") << "notifyOnRateChange" << QVariant(false);
        QTest::newRow("notifyOnDisconnect") << "notifyOnDisconnect" << QVariant(false);
        QTest::newRow("showRateInMenuBar") << "showRateInMenuBar" << QVariant(true);
    }

    void changedAssignmentWritesAndNotifiesThatPropertyOnly()
    {
        QFETCH(QString, property);
        QFETCH(QVariant, value);
        const QString path = freshPath();
        {
            SettingsStore store(path);
            AppSettings settings(store);
            Spies spies(settings);
            QVERIFY(settings.setProperty(property.toLatin1().constData(), value));
            QCOMPARE(spies.count(property), 1);
            QCOMPARE(spies.total(), 1); // the effective host does not change with the flag off/host empty
            QCOMPARE(settings.property(property.toLatin1().constData()), value);
            QCOMPARE(objectIn(path), QJsonObject({{property, QJsonValue::fromVariant(value)}}));
            // The same value again: written, not announced.
            QVERIFY(settings.setProperty(property.toLatin1().constData(), value));
            QCOMPARE(spies.total(), 1);
        }
        SettingsStore reopened(path);
        AppSettings next(reopened);
        QCOMPARE(next.property(property.toLatin1().constData()), value);
    }

    void effectiveHost_data()
    {
        QTest::addColumn<bool>("useCustomHost");
        QTest::addColumn<QString>("customHost");
        QTest::addColumn<QString>("expected");
        QTest::newRow("off, empty") << false << ""
                                    << "172.20.0.1";
        QTest::newRow("on, empty") << true << ""
                                   << "172.20.0.1";
        QTest::newRow("off, address kept aside") << false << "192.168.1.42"
                                                 << "172.20.0.1";
        QTest::newRow("on, address") << true << "192.168.1.42"
                                     << "192.168.1.42";
        QTest::newRow("on, blanks around a name") << true << " m1620.local "
                                                  << " m1620.local ";
        QTest::newRow("on, blanks only") << true << "   "
                                         << "   ";
        QTest::newRow("on, malformed") << true << "http://x y"
                                       << "http://x y";
    }

    void effectiveHost()
    {
        QFETCH(bool, useCustomHost);
        QFETCH(QString, customHost);
        SettingsStore store(freshPath());
        AppSettings settings(store);
        settings.setCustomHost(customHost);
        settings.setUseCustomHost(useCustomHost);
        QTEST(settings.effectiveHost(), "expected");
        QTEST(settings.property("effectiveHost").toString(), "expected");
    }

    void customHostComesBackWhenSwitchedOnAgain()
    {
        SettingsStore store(freshPath());
        AppSettings settings(store);
        settings.setCustomHost(QStringLiteral("192.168.1.42"));
        settings.setUseCustomHost(true);
        settings.setUseCustomHost(false);
        QCOMPARE(settings.effectiveHost(), QStringLiteral("172.20.0.1"));
        QCOMPARE(settings.customHost(), QStringLiteral("192.168.1.42"));
        settings.setUseCustomHost(true);
        QCOMPARE(settings.effectiveHost(), QStringLiteral("192.168.1.42"));
    }

    void effectiveHostAnnouncesOnlyRealChanges()
    {
        SettingsStore store(freshPath());
        AppSettings settings(store);
        QSignalSpy spy(&settings, &AppSettings::effectiveHostChanged);
        settings.setCustomHost(QStringLiteral("a")); // not in force yet
        QCOMPARE(spy.count(), 0);
        settings.setUseCustomHost(true); // "a"
        QCOMPARE(spy.count(), 1);
        settings.setCustomHost(QStringLiteral("a"));
        QCOMPARE(spy.count(), 1);
        settings.setCustomHost(QStringLiteral("b"));
        QCOMPARE(spy.count(), 2);
        settings.setCustomHost(QString()); // back to the default host
        QCOMPARE(spy.count(), 3);
        settings.setUseCustomHost(false); // still the default host
        settings.setUseCustomHost(true);
        QCOMPARE(spy.count(), 3);
        settings.setCustomHost(QStringLiteral("172.20.0.1")); // same host, other reason
        QCOMPARE(spy.count(), 3);
        settings.setCustomHost(QStringLiteral("x"));
        QCOMPARE(spy.count(), 4);
    }

    void sharedInstanceUsesTheUsersConfigFile()
    {
        AppSettings &settings = AppSettings::shared();
        QCOMPARE(&settings, &AppSettings::shared());
        QCOMPARE(&SettingsStore::shared(), &SettingsStore::shared());
        const QString path = m_root.filePath(QStringLiteral("shared-config/Quorvel/settings.json"));
        QCOMPARE(SettingsStore::shared().filePath(), path);
        QVERIFY(!QFile::exists(path));
        settings.setShowRateInMenuBar(true);
        QCOMPARE(objectIn(path), QJsonObject({{QStringLiteral("showRateInMenuBar"), true}}));
    }
};

QTEST_GUILESS_MAIN(TestAppSettings)
#include "tst_AppSettings.moc"
