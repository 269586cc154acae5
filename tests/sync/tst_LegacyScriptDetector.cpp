#include "AwaitTask.h"
#include "platform/ProcessSearch.h"
#include "sync/LegacyScriptDetector.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <qcoro/qcorotask.h>

namespace {
// Finds every process it is asked about, and keeps the pattern it was given.
struct FoundSearch final : ProcessSearch
{
    bool isRunning(const QString &pattern) const override
    {
        asked = pattern;
        return true;
    }
    mutable QString asked;
};
} // namespace

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
        QVERIFY(!awaitTask(detector.detect()));
    }

    // A running process decides alone; the search is given the tool's pattern.
    void runningProcessAlone()
    {
        const auto search = std::make_shared<FoundSearch>();
        QVERIFY(LegacyScriptDetector(m_home.path(), search).isLegacyScriptPresent());
        QCOMPARE(search->asked, QStringLiteral(R"(python.*m1620_rate_sync\.py)"));
    }
};

QTEST_GUILESS_MAIN(TestLegacyScriptDetector)
#include "tst_LegacyScriptDetector.moc"
