#include "TestFiles.h"
#include "services/AppSettings.h"
#include "services/SettingsStore.h"

#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

const QByteArrayList names {"customHost",           "useCustomHost",     "notifyOnRateChange",
                            "notifyOnDisconnect",   "showRateInMenuBar", "settleMilliseconds",
                            "followOnlyWhenLocked", "matchPipeWireRate", "rateChangeCommand"};
const QVariantList defaults {QString(), false, true, true, false, qint64(0), false, false, QString()};
QVariantList valuesOf(const AppSettings &settings)
{
    QVariantList values;
    for (const QByteArray &name : names)
        values.append(settings.property(name));
    return values;
}

} // namespace

// Writing through to the file is the settings window's test, setting by setting.
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
    // Only a boolean turns a notification off; anything mistyped reads as the default.
    void defaultsForWhatIsAbsentOrMistyped()
    {
        for (const QByteArray &json : {QByteArray(), QByteArray(R"({"customHost": 42, "useCustomHost": "true",
            "notifyOnRateChange": "false", "notifyOnDisconnect": null, "showRateInMenuBar": [true],
            "settleMilliseconds": 1000.5, "followOnlyWhenLocked": "true", "matchPipeWireRate": 1,
            "rateChangeCommand": ["jack_control"]})")}) {
            const QString path = freshPath();
            if (!json.isEmpty())
                writeFile(path, json);
            SettingsStore store(path);
            QCOMPARE(valuesOf(AppSettings(store)), defaults);
            QCOMPARE(readAll(path), json); // reading never writes
        }
    }

    // Each setting is written at once, read back with its type by the next start, and announced
    // on a real change only.
    void everySettingKeptAndAnnouncedOnce()
    {
        const QString path = freshPath();
        const QVariantList changed {
            QStringLiteral("m1620.local"),         true, false, false, true, qint64(1500), true, true,
            QStringLiteral("jack_control ds alsa")};
        {
            SettingsStore store(path);
            AppSettings settings(store);
            for (qsizetype i = 0; i < names.size(); ++i) {
                const QMetaProperty property
                    = settings.metaObject()->property(settings.metaObject()->indexOfProperty(names[i]));
                QSignalSpy spy(&settings, property.notifySignal());
                QVERIFY(settings.setProperty(names[i], changed[i])
                        && settings.setProperty(names[i], changed[i]));
                QVERIFY2(spy.count() == 1, names[i].constData());
            }
        }
        SettingsStore store(path);
        QCOMPARE(valuesOf(AppSettings(store)), changed);
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
        step(&AppSettings::setCustomHost, QStringLiteral("   "), "   ", 2); // blanks are not empty
        step(&AppSettings::setCustomHost, QString(), "172.20.0.1", 3);
        step(&AppSettings::setUseCustomHost, false, "172.20.0.1", 3);
        step(&AppSettings::setUseCustomHost, true, "172.20.0.1", 3);
        step(&AppSettings::setCustomHost, QStringLiteral("172.20.0.1"), "172.20.0.1", 3); // same host
        step(&AppSettings::setCustomHost, QStringLiteral("x"), "x", 4);
    }
};

QTEST_GUILESS_MAIN(TestAppSettings)
#include "tst_AppSettings.moc"
