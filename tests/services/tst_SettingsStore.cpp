#include "TestFiles.h"
#include "services/SettingsStore.h"

#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <thread>

#include <csignal>

// Typed reads and write-through are tested through AppSettings, the store's main user.
class TestSettingsStore : public QObject
{
    Q_OBJECT

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
        qputenv("XDG_STATE_HOME", m_root.filePath(QStringLiteral("state")).toUtf8()); // the shared log
    }

    void keepsKeysItDoesNotKnow()
    {
        const QString path = freshPath();
        writeFile(path, R"({"foreign": {"nested": [1, 2.5, "three"]}, "customHost": "old"})");
        SettingsStore store(path);
        QVERIFY(store.setValue(QStringLiteral("customHost"), QStringLiteral("new")));
        const QJsonObject nested {{QStringLiteral("nested"), QJsonArray {1, 2.5, QStringLiteral("three")}}};
        QCOMPARE(objectIn(path),
                 (QJsonObject {{QStringLiteral("customHost"), QStringLiteral("new")},
                               {QStringLiteral("foreign"), nested}}));
    }

    void unreadableFileIsMovedAsideBeforeTheNextWrite_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("broken JSON") << QByteArray("{\"customHost\": \"a\",");
        QTest::newRow("array at the top") << QByteArray("[{\"customHost\": \"a\"}]");
        QTest::newRow("garbage after the object") << QByteArray("{\"customHost\": \"a\"} x");
        QTest::newRow("empty file") << QByteArray();
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
        const QStringList failures
            = logLines(Logger::shared()).filter(QStringLiteral("Could not save settings to ") + path);
        QCOMPARE(failures.size(), 1);
        QVERIFY(failures.first().startsWith(QStringLiteral("[ERROR] ")));
    }

    // A kill during a write leaves the old file or the new one, never a torn one.
    void killDuringWritesLeavesACompleteFile()
    {
        const QString path = freshPath();
        for (int round = 0; round < 12; ++round) {
            QProcess writer;
            writer.start(QStringLiteral(QUORVEL_SETTINGS_WRITER), {path});
            QVERIFY(writer.waitForReadyRead(30000)); // the first complete write is on disk
            std::this_thread::sleep_for(std::chrono::milliseconds(3 + (round * 17) % 60));
            QCOMPARE(::kill(pid_t(writer.processId()), SIGKILL), 0);
            QVERIFY(writer.waitForFinished(30000));

            const QJsonObject onDisk = objectIn(path);
            QCOMPARE(onDisk.value(QStringLiteral("payload")).toArray().size(), 20000);
            QVERIFY(onDisk.value(QStringLiteral("round")).isDouble());
            QVERIFY(!QFile::exists(path + QStringLiteral(".corrupt")));
        }
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_SettingsStore.moc"
