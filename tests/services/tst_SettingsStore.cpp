#include "services/Logger.h"
#include "services/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <thread>

#include <csignal>
#include <sys/types.h>

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

// The file as a JSON object; fails the test when it is anything else.
QJsonObject objectIn(const QString &path)
{
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(readAll(path), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return QJsonObject {{QStringLiteral("__not_an_object__"), true}};
    return document.object();
}

} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    int m_count = 0;

    QString freshPath()
    {
        return m_root.filePath(QStringLiteral("config%1/Quorvel/settings.json").arg(++m_count));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        // The shared logger records write failures; keep it inside this test's tree.
        qputenv("XDG_STATE_HOME", m_root.filePath(QStringLiteral("state")).toUtf8());
    }

    void missingFileStartsEmptyAndWritesNothing()
    {
        const QString path = freshPath();
        SettingsStore store(path);
        QCOMPARE(store.filePath(), path);
        QVERIFY(!store.contains(QStringLiteral("customHost")));
        QVERIFY(store.value(QStringLiteral("customHost")).isUndefined());
        QVERIFY(!store.stringValue(QStringLiteral("customHost")));
        QVERIFY(!store.boolValue(QStringLiteral("useCustomHost")));
        QVERIFY(!QFile::exists(path));
        QVERIFY(!QFileInfo::exists(QFileInfo(path).absolutePath()));
    }

    void readsOnlyMatchingTypes()
    {
        const QString path = freshPath();
        writeFile(path, R"({"s": "text", "t": true, "f": false, "n": 1, "bs": "true", "nul": null,
                             "arr": [true], "obj": {"b": true}})");
        SettingsStore store(path);
        QCOMPARE(store.stringValue(QStringLiteral("s")), std::optional<QString>(QStringLiteral("text")));
        QCOMPARE(store.boolValue(QStringLiteral("t")), std::optional<bool>(true));
        QCOMPARE(store.boolValue(QStringLiteral("f")), std::optional<bool>(false));
        for (const char *key : {"s", "n", "bs", "nul", "arr", "obj", "missing"})
            QVERIFY2(!store.boolValue(QLatin1String(key)), key);
        for (const char *key : {"t", "n", "nul", "arr", "obj", "missing"})
            QVERIFY2(!store.stringValue(QLatin1String(key)), key);
        QVERIFY(store.contains(QStringLiteral("nul")));
        QVERIFY(!store.contains(QStringLiteral("missing")));
        QCOMPARE(store.value(QStringLiteral("n")), QJsonValue(1));
    }

    void writesThroughWithTypesKept()
    {
        const QString path = freshPath();
        {
            SettingsStore store(path);
            QVERIFY(store.setValue(QStringLiteral("customHost"), QStringLiteral(" m1620.local ")));
            QVERIFY(store.setValue(QStringLiteral("useCustomHost"), true));
            QVERIFY(store.setValue(QStringLiteral("showRateInMenuBar"), false));
        }
        const QJsonObject onDisk = objectIn(path);
        QCOMPARE(onDisk.value(QStringLiteral("customHost")), QJsonValue(QStringLiteral(" m1620.local ")));
        QCOMPARE(onDisk.value(QStringLiteral("useCustomHost")), QJsonValue(true));
        QCOMPARE(onDisk.value(QStringLiteral("showRateInMenuBar")), QJsonValue(false));

        SettingsStore again(path);
        QCOMPARE(again.stringValue(QStringLiteral("customHost")),
                 std::optional<QString>(QStringLiteral(" m1620.local ")));
        QCOMPARE(again.boolValue(QStringLiteral("useCustomHost")), std::optional<bool>(true));
        QCOMPARE(again.boolValue(QStringLiteral("showRateInMenuBar")), std::optional<bool>(false));
    }

    void keepsKeysItDoesNotKnow()
    {
        const QString path = freshPath();
        writeFile(path, R"({"foreign": {"nested": [1, 2.5, "three"]}, "lastUpdateCheck": "2024-03-01",
                             "customHost": "old"})");
        SettingsStore store(path);
        QVERIFY(store.setValue(QStringLiteral("customHost"), QStringLiteral("new")));
        const QJsonObject onDisk = objectIn(path);
        QCOMPARE(onDisk.size(), 3);
        QCOMPARE(onDisk.value(QStringLiteral("customHost")), QJsonValue(QStringLiteral("new")));
        QCOMPARE(onDisk.value(QStringLiteral("lastUpdateCheck")), QJsonValue(QStringLiteral("2024-03-01")));
        const QJsonObject nested {{QStringLiteral("nested"), QJsonArray {1, 2.5, QStringLiteral("three")}}};
        QCOMPARE(onDisk.value(QStringLiteral("foreign")), QJsonValue(nested));
    }

    void unreadableFileIsMovedAsideBeforeTheNextWrite_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("broken JSON") << QByteArray("{\"customHost\": \"a\",");
        QTest::newRow("array at the top") << QByteArray("[{\"customHost\": \"a\"}]");
        QTest::newRow("string at the top") << QByteArray("\"customHost\"");
        QTest::newRow("garbage after the object") << QByteArray("{\"customHost\": \"a\"} x");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("not UTF-8") << QByteArray("{\"customHost\": \"\xff\xfe\"}");
    }

    void unreadableFileIsMovedAsideBeforeTheNextWrite()
    {
        QFETCH(QByteArray, content);
        const QString path = freshPath();
        const QString aside = path + QStringLiteral(".corrupt");
        writeFile(path, content);

        SettingsStore store(path);
        QVERIFY(!store.contains(QStringLiteral("customHost")));
        QCOMPARE(readAll(path), content); // reading alone changes nothing
        QVERIFY(!QFile::exists(aside));

        QVERIFY(store.setValue(QStringLiteral("useCustomHost"), true));
        QCOMPARE(readAll(aside), content);
        QCOMPARE(objectIn(path), QJsonObject({{QStringLiteral("useCustomHost"), true}}));

        // Moved once only: the next write leaves the saved copy alone.
        QVERIFY(store.setValue(QStringLiteral("customHost"), QStringLiteral("b")));
        QCOMPARE(readAll(aside), content);
        QCOMPARE(objectIn(path).size(), 2);
    }

    void unwritableFolderKeepsValuesAndLogsOnce()
    {
        // A folder below a regular file cannot be made, not even by root.
        const QString blocker = m_root.filePath(QStringLiteral("blocker"));
        writeFile(blocker, "a file");
        const QString path = blocker + QStringLiteral("/Quorvel/settings.json");
        SettingsStore store(path);
        QVERIFY(!store.setValue(QStringLiteral("customHost"), QStringLiteral("a")));
        QVERIFY(!store.setValue(QStringLiteral("customHost"), QStringLiteral("b")));
        QVERIFY(!store.setValue(QStringLiteral("useCustomHost"), true));
        QCOMPARE(store.stringValue(QStringLiteral("customHost")),
                 std::optional<QString>(QStringLiteral("b")));
        QCOMPARE(store.boolValue(QStringLiteral("useCustomHost")), std::optional<bool>(true));

        Logger::shared().flush();
        const QList<QByteArray> lines = readAll(Logger::shared().logFile()).split('\n');
        const QByteArray report = QByteArray("Could not save settings to ") + path.toUtf8();
        qsizetype reports = 0;
        for (const QByteArray &line : lines) {
            if (line.contains(report)) {
                ++reports;
                QVERIFY(line.contains("] [ERROR] "));
            }
        }
        QCOMPARE(reports, 1);
    }

    void defaultFileFollowsXdgConfigHome()
    {
        const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", "/somewhere/config");
        QCOMPARE(SettingsStore::defaultFilePath(), QStringLiteral("/somewhere/config/Quorvel/settings.json"));
        qputenv("XDG_CONFIG_HOME", "relative");
        QCOMPARE(SettingsStore::defaultFilePath(),
                 QDir::homePath() + QStringLiteral("/.config/Quorvel/settings.json"));
        qunsetenv("XDG_CONFIG_HOME");
        QCOMPARE(SettingsStore::defaultFilePath(),
                 QDir::homePath() + QStringLiteral("/.config/Quorvel/settings.json"));
        qputenv("XDG_CONFIG_HOME", saved);
    }

    void killDuringWritesLeavesACompleteFile()
    {
        const QString path = freshPath();
        for (int round = 0; round < 12; ++round) {
            QProcess writer;
            writer.start(QStringLiteral(QUORVEL_SETTINGS_WRITER), {path});
            QVERIFY(writer.waitForStarted());
            QVERIFY(writer.waitForReadyRead(30000)); // the first complete write is on disk
            std::this_thread::sleep_for(std::chrono::milliseconds(3 + (round * 17) % 60));
            QCOMPARE(::kill(pid_t(writer.processId()), SIGKILL), 0);
            QVERIFY(writer.waitForFinished(30000));

            const QJsonObject onDisk = objectIn(path);
            QVERIFY2(!onDisk.contains(QStringLiteral("__not_an_object__")),
                     qPrintable(QString::number(round)));
            QCOMPARE(onDisk.value(QStringLiteral("payload")).toArray().size(), 20000);
            QVERIFY(onDisk.value(QStringLiteral("round")).isDouble());
            QVERIFY(!QFile::exists(path + QStringLiteral(".corrupt")));
        }
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_SettingsStore.moc"
