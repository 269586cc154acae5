#include "TestFiles.h"
#include "services/SettingsStore.h"

#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>

#include <thread>

#include <csignal>

// Typed reads are tested through AppSettings, writing through in the settings window.
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
    // Moved aside once, before the next write, never at reading.
    void unreadableFileIsMovedAsideBeforeTheNextWrite()
    {
        for (const QByteArray &content :
             {QByteArray("{\"customHost\": \"a\","), QByteArray("[{\"customHost\": \"a\"}]"), QByteArray()}) {
            const QString path = freshPath();
            writeFile(path, content);
            SettingsStore store(path);
            QVERIFY(!store.contains(QStringLiteral("customHost")));
            QVERIFY(readAll(path) == content && !QFile::exists(path + ".corrupt"));
            QVERIFY(store.setValue(QStringLiteral("useCustomHost"), true));
            QVERIFY(store.setValue(QStringLiteral("customHost"), QStringLiteral("b")));
            QCOMPARE(readAll(path + ".corrupt"), content);
            QCOMPARE(objectIn(path), (QJsonObject {{"useCustomHost", true}, {"customHost", "b"}}));
        }
    }

    void unwritableFolderKeepsValuesAndLogsOnce()
    {
        const QString blocker
            = m_root.filePath(QStringLiteral("blocker")); // even root cannot make a folder below
        writeFile(blocker, "a file");
        const QString path = blocker + QStringLiteral("/Quorvel/settings.json");
        SettingsStore store(path);
        QVERIFY(!store.setValue(QStringLiteral("customHost"), QStringLiteral("a")));
        QVERIFY(!store.setValue(QStringLiteral("customHost"), QStringLiteral("b")));
        QCOMPARE(store.stringValue(QStringLiteral("customHost")),
                 std::optional<QString>(QStringLiteral("b")));
        QCOMPARE(logLines(Logger::shared()).filter("[ERROR] Could not save settings to " + path).size(), 1);
    }

    // A kill during a write leaves the old file or the new one, never a torn one, and keys the
    // store does not know stay.
    void killDuringWritesLeavesACompleteFile()
    {
        const QString path = freshPath();
        const QJsonObject foreign {{"nested", QJsonArray {1, 2.5, "three"}}};
        writeFile(path, QJsonDocument(QJsonObject {{"foreign", foreign}}).toJson());
        for (int round = 0; round < 12; ++round) {
            QProcess writer;
            writer.start(QStringLiteral(QUORVEL_SETTINGS_WRITER), {path});
            QVERIFY(writer.waitForReadyRead(30000)); // the first complete write is on disk
            std::this_thread::sleep_for(std::chrono::milliseconds(3 + (round * 17) % 60));
            QCOMPARE(::kill(pid_t(writer.processId()), SIGKILL), 0);
            QVERIFY(writer.waitForFinished(30000));
            const QJsonObject onDisk = objectIn(path);
            QCOMPARE(onDisk.value(QStringLiteral("payload")).toArray().size(), 20000);
            QCOMPARE(onDisk.value(QStringLiteral("foreign")), foreign);
            QVERIFY(onDisk.value(QStringLiteral("round")).isDouble() && !QFile::exists(path + ".corrupt"));
        }
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_SettingsStore.moc"
