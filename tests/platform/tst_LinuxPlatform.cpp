#include "platform/PgrepProcessSearch.h"
#include "platform/XdgDirs.h"

#include <QDir>
#include <QProcess>
#include <QTest>

#include <tuple>

// The small Linux back ends that read the system: processes and base folders.
class TestLinuxPlatform : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The full command line, in any letter case; a pgrep that cannot start finds nothing.
    void pgrepProcessSearch()
    {
        const QString pattern = QStringLiteral(R"(python.*m1620_rate_sync\.py)");
        const PgrepProcessSearch pgrep;
        QVERIFY(!pgrep.isRunning(pattern));
        QProcess script;
        script.start(QStringLiteral("bash"),
                     {QStringLiteral("-c"),
                      QStringLiteral("exec -a 'PyThOn3 /opt/Odd Place/M1620_Rate_Sync.PY' sleep 60")});
        QVERIFY(script.waitForStarted());
        QVERIFY(QTest::qWaitFor([&] { return pgrep.isRunning(pattern); }, 5000));
        QVERIFY(!PgrepProcessSearch(QDir::homePath() + QStringLiteral("/no-such-pgrep")).isRunning(pattern));
        script.kill(); // by its own id
        script.waitForFinished();
        QVERIFY(QTest::qWaitFor([&] { return !pgrep.isRunning(pattern); }, 5000));
    }

    // An unset, empty or relative variable is ignored, as the XDG rules require.
    void xdgBaseFolders()
    {
        const std::tuple<const char *, QString (*)(), const char *> folders[] {
            {"XDG_CONFIG_HOME", &XdgDirs::configHome, "/.config"},
            {"XDG_STATE_HOME", &XdgDirs::stateHome, "/.local/state"}};
        for (const auto &[variable, folder, fallback] : folders) {
            qputenv(variable, "/somewhere/else");
            QCOMPARE(folder(), QStringLiteral("/somewhere/else"));
            for (const char *ignored : {"relative/dir", ""}) {
                qputenv(variable, ignored);
                QCOMPARE(folder(), QDir::homePath() + QLatin1String(fallback));
            }
            qunsetenv(variable);
            QCOMPARE(folder(), QDir::homePath() + QLatin1String(fallback));
        }
    }
};

QTEST_GUILESS_MAIN(TestLinuxPlatform)
#include "tst_LinuxPlatform.moc"
