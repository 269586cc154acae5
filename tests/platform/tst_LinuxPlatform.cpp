#include "platform/XdgDirs.h"

#include <QDir>
#include <QTest>

#include <tuple>

// The small Linux back ends that read the system: base folders.
class TestLinuxPlatform : public QObject
{
    Q_OBJECT

private Q_SLOTS:
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
