#include "AwaitTask.h"
#include "sync/LegacyScriptDetector.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <qcoro/qcorotask.h>

class TestLegacyScriptDetector : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;

    QString agentPath() const
    {
        return m_home.path() + QStringLiteral("/Library/LaunchAgents/com.studio.m1620sync.plist");
    }

    static bool systemDaemonPresent()
    {
        return QFile::exists(QStringLiteral("/Library/LaunchDaemons/com.studio.m1620sync.plist"));
    }

private Q_SLOTS:
    void init()
    {
        QFile::remove(agentPath());
        if (systemDaemonPresent())
            QSKIP("this machine has the legacy launch daemon installed");
    }

    void plistPathsInOrder()
    {
        const LegacyScriptDetector detector(m_home.path());
        QCOMPARE(
            detector.legacyPlistPaths(),
            (QStringList {agentPath(), QStringLiteral("/Library/LaunchDaemons/com.studio.m1620sync.plist")}));
        QCOMPARE(LegacyScriptDetector::forCurrentUser().legacyPlistPaths().first(),
                 QDir::homePath() + QStringLiteral("/Library/LaunchAgents/com.studio.m1620sync.plist"));
    }

    void nothingInstalled()
    {
        const LegacyScriptDetector detector(m_home.path());
        QVERIFY(!detector.isLegacyProcessRunning());
        QVERIFY(!detector.isLegacyScriptPresent());
        QVERIFY(!awaitTask(detector.detect()));
    }

    void userAgentAlone()
    {
        QVERIFY(QDir().mkpath(QFileInfo(agentPath()).path()));
        QFile plist(agentPath());
        QVERIFY(plist.open(QIODevice::WriteOnly));
        plist.close();
        const LegacyScriptDetector detector(m_home.path());
        QVERIFY(!detector.isLegacyProcessRunning());
        QVERIFY(detector.isLegacyScriptPresent());
        QVERIFY(awaitTask(detector.detect()));
        QFile::remove(agentPath());
        QVERIFY(!detector.isLegacyScriptPresent());
    }

    void runningProcessInAnyLetterCase()
    {
        // A process whose command line names the script from an odd place, in odd case.
        QProcess script;
        script.start(QStringLiteral("bash"),
                     {QStringLiteral("-c"),
                      QStringLiteral("exec -a 'PyThOn3 /opt/Odd Place/M1620_Rate_Sync.PY' sleep 60")});
        QVERIFY(script.waitForStarted());
        const LegacyScriptDetector detector(m_home.path());
        QVERIFY(QTest::qWaitFor([&] { return detector.isLegacyProcessRunning(); }, 5000));
        QVERIFY(detector.isLegacyScriptPresent());
        script.kill(); // by its own id
        script.waitForFinished();
        QVERIFY(QTest::qWaitFor([&] { return !detector.isLegacyProcessRunning(); }, 5000));
        QVERIFY(!detector.isLegacyScriptPresent());
    }

    void missingPgrepLeavesTheFilesToDecide()
    {
        const LegacyScriptDetector detector(m_home.path(), m_home.path() + QStringLiteral("/no-such-pgrep"));
        QVERIFY(!detector.isLegacyProcessRunning());
        QVERIFY(!detector.isLegacyScriptPresent());
        QVERIFY(QDir().mkpath(QFileInfo(agentPath()).path()));
        QFile plist(agentPath());
        QVERIFY(plist.open(QIODevice::WriteOnly));
        plist.close();
        QVERIFY(detector.isLegacyScriptPresent());
    }
};

QTEST_GUILESS_MAIN(TestLegacyScriptDetector)
#include "tst_LegacyScriptDetector.moc"
