#include "platform/LinuxMachineInfo.h"
#include "platform/PgrepProcessSearch.h"
#include "platform/XdgDirs.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <tuple>

// The small Linux back ends that read the system: processes, the machine, base folders.
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
        QVERIFY(!PgrepProcessSearch(QStringLiteral("/nonexistent/pgrep")).isRunning(pattern));
        script.kill(); // by its own id
        script.waitForFinished();
        QVERIFY(QTest::qWaitFor([&] { return !pgrep.isRunning(pattern); }, 5000));
    }

    // The DMI name, else the device-tree model up to its NUL, else "unknown".
    void machineModel()
    {
        QTemporaryDir dir;
        const QString dmi = dir.filePath(QStringLiteral("dmi")), tree = dir.filePath(QStringLiteral("tree")),
                      blank = dir.filePath(QStringLiteral("blank"));
        for (const auto &[path, content] : {std::pair {dmi, QByteArray("ThinkPad T14 Gen 3\n")},
                                            {tree, QByteArray("Raspberry Pi 4 Model B\0junk", 27)},
                                            {blank, "\n"}}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        }
        QCOMPARE(LinuxMachineInfo(dmi, tree).model(), QStringLiteral("ThinkPad T14 Gen 3"));
        QCOMPARE(LinuxMachineInfo(blank, tree).model(), QStringLiteral("Raspberry Pi 4 Model B"));
        QCOMPARE(LinuxMachineInfo(dir.filePath(QStringLiteral("missing")), blank).model(),
                 QStringLiteral("unknown"));
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
