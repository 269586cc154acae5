#include "AwaitTask.h"
#include "platform/ProcessSearch.h"
#include "sync/LegacyScriptDetector.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <unistd.h>

namespace {
// Answers as told, and keeps the pattern it was given.
struct FixedSearch final : ProcessSearch
{
    explicit FixedSearch(bool found, int delayMs = 0)
        : found(found)
        , delayMs(delayMs)
    { }
    bool isRunning(const QString &pattern) const override
    {
        QThread::msleep(ulong(delayMs));
        asked = pattern;
        return found;
    }
    bool found;
    int delayMs;
    mutable QString asked;
};

bool plant(const QString &path, const QByteArray &text = {})
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) && file.write(text) >= 0;
}

struct Shell
{
    QString out;
    QString err;
};
} // namespace

class TestLegacyScriptDetector : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;

    QString path(const QString &relative) const { return m_root.filePath(relative); }

    LegacyScriptDetector detector(bool processFound = false, int searchDelayMs = 0) const
    {
        return LegacyScriptDetector({path("home"), path("home/.config"), path("etc/systemd/system"),
                                     path("etc/xdg/autostart"), path("Library/LaunchDaemons/x.plist")},
                                    std::make_shared<FixedSearch>(processFound, searchDelayMs));
    }

    // Runs the command as a user would, with sudo and systemctl as stand-ins that only record
    // what they were asked: no user service manager runs here, and nothing must ask for a
    // password. prefix runs first, in the same shell.
    Shell run(const QString &command, const QStringList &wrapper = {}) const
    {
        const QString bin = path("bin");
        plant(bin + "/sudo", "#!/bin/sh\nexec \"$@\"\n");
        plant(bin + "/systemctl", "#!/bin/sh\necho \"$*\" >>\"" + path("systemctl.log").toUtf8() + "\"\n");
        QFile::setPermissions(bin + "/sudo", QFileDevice::ExeOwner | QFileDevice::ReadOwner);
        QFile::setPermissions(bin + "/systemctl", QFileDevice::ExeOwner | QFileDevice::ReadOwner);
        QProcess shell;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PATH", bin + ":" + environment.value("PATH"));
        environment.insert("HOME", path("home"));
        environment.insert("XDG_CONFIG_HOME", path("home/.config"));
        shell.setProcessEnvironment(environment);
        const QStringList arguments = wrapper + QStringList {"sh", "-c", command};
        shell.start(arguments.first(), arguments.mid(1));
        shell.waitForFinished(10000);
        return {QString::fromUtf8(shell.readAllStandardOutput()),
                QString::fromUtf8(shell.readAllStandardError())};
    }

private Q_SLOTS:
    void plistPathsInOrder()
    {
        QCOMPARE(LegacyScriptDetector(path("home")).legacyPlistPaths(),
                 (QStringList {path("home/Library/LaunchAgents/com.studio.m1620sync.plist"),
                               QStringLiteral("/Library/LaunchDaemons/com.studio.m1620sync.plist")}));
        QCOMPARE(LegacyScriptDetector::forCurrentUser().legacyPlistPaths().first(),
                 QDir::homePath() + QStringLiteral("/Library/LaunchAgents/com.studio.m1620sync.plist"));
    }

    // A running process decides alone; the search is given the tool's pattern, which the
    // command then ends first.
    // Detection runs on a worker and keeps what it found; one still running at quit ends after
    // its detector is gone and must not touch it (the address sanitizer aborts if it does).
    void detectionOffTheMainThread()
    {
        const LegacyScriptDetector found = detector(true);
        QVERIFY(awaitTask(found.detect()));
        QVERIFY(found.lastTraces().processRunning);

        auto leaving = std::make_unique<LegacyScriptDetector>(detector(true, 200));
        const QCoro::Task<bool> pending = leaving->detect();
        leaving.reset();
        QTest::qWait(500);
    }

    void runningProcess()
    {
        const auto search = std::make_shared<FixedSearch>(true);
        QVERIFY(LegacyScriptDetector(path("nohome"), search).isLegacyScriptPresent());
        QCOMPARE(search->asked, QStringLiteral(R"(python.*m1620_rate_sync\.py)"));
        const LegacyTraces traces = detector(true).findTraces();
        QVERIFY(traces.processRunning && !traces.usesSudo());
        QVERIFY(traces.removalCommand().startsWith(
            QStringLiteral(R"(pkill -i -f 'python.*m1620_rate_sync\.py' || ! pgrep)")));

        // The command ends the script for real, in a process namespace of this test's own so
        // that no other process on the machine can match. The script's name is assembled so
        // that no shell here names it on its own command line.
        if (::geteuid() != 0
            || QProcess::execute("unshare", {"--pid", "--fork", "--mount-proc", "true"}) != 0)
            QSKIP("no process namespace here: the command's process step is not run");
        const Shell shell = run(traces.removalCommand(),
                                {"unshare", "--pid", "--fork", "--mount-proc", "sh", "-c",
                                 "n=m1620_rate_sync; bash -c \"exec -a 'python3 /opt/$n.py' sleep 30\" & "
                                 "sleep 0.3; \"$@\"; wait $!; echo \"ended $?\"",
                                 "sh"});
        QCOMPARE(shell.out, QStringLiteral("Old M-1620 Rate Sync removed\nended 143\n"));
    }

    // Every kind of trace, found and named by the command, which removes exactly those and
    // says so.
    void everyTraceFoundAndRemoved()
    {
        const QByteArray exec = "ExecStart=/usr/bin/python3 /opt/studio/m1620_rate_sync.py\n";
        const QStringList traces {path("home/Library/LaunchAgents/com.studio.m1620sync.plist"),
                                  path("home/.config/autostart/rate sync.desktop"),
                                  path("home/.config/systemd/user/m1620.service"),
                                  path("etc/systemd/system/m1620sync.service"),
                                  path("etc/xdg/autostart/m1620.desktop"),
                                  path("Library/LaunchDaemons/x.plist")};
        for (const QString &trace : traces)
            QVERIFY(plant(trace, exec));
        const QString unrelated = path("home/.config/systemd/user/other.service");
        QVERIFY(plant(unrelated, "ExecStart=/usr/bin/other\n"));

        const LegacyScriptDetector d = detector();
        QVERIFY(awaitTask(d.detect()));
        const LegacyTraces found = d.lastTraces();
        QCOMPARE(found.userFiles, (QStringList {traces[0], traces[1]}));
        QCOMPARE(found.userUnits, QStringList {traces[2]});
        QCOMPARE(found.systemUnits, QStringList {traces[3]});
        QCOMPARE(found.systemFiles, (QStringList {traces[5], traces[4]}));
        QVERIFY(found.usesSudo());

        const Shell shell = run(found.removalCommand());
        QCOMPARE(shell.out, QStringLiteral("Old M-1620 Rate Sync removed\n"));
        for (const QString &trace : traces)
            QVERIFY2(!QFile::exists(trace), qPrintable(trace));
        QVERIFY(QFile::exists(unrelated));
        QFile log(path("systemctl.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll(),
                 QByteArray("--user disable --now m1620.service\ndisable --now m1620sync.service\n"));
        QVERIFY(!awaitTask(d.detect()));
        QVERIFY(d.lastTraces().isEmpty());
    }

    // A step that fails (a file that cannot be removed) suppresses the success line.
    void failingStepSaysNothing()
    {
        const QString folder = path("home/.config/autostart");
        QVERIFY(plant(folder + "/m1620.desktop", "Exec=python3 m1620_rate_sync.py\n"));
        const LegacyTraces found = detector().findTraces();
        QVERIFY(!found.usesSudo());
        QStringList wrapper;
        if (::geteuid() == 0) {
            // Root may remove anything from a read-only folder, but not from a read-only mount,
            // made in a mount namespace of this test's own.
            if (QProcess::execute("unshare", {"--mount", "true"}) != 0)
                QSKIP("root without a mount namespace cannot make a removal fail");
            wrapper
                = QStringList {"unshare",
                               "--mount",
                               "sh",
                               "-c",
                               "mount --bind \"$0\" \"$0\" && mount -o remount,ro,bind \"$0\" && exec \"$@\"",
                               folder};
        } else {
            QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        }
        const Shell shell = run(found.removalCommand(), wrapper);
        QFile::setPermissions(folder,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QVERIFY2(shell.err.contains(QStringLiteral("m1620.desktop")), qPrintable(shell.err));
        QVERIFY(!shell.out.contains(LegacyTraces::successLine));
        QVERIFY(QFile::exists(folder + "/m1620.desktop"));
    }
};

QTEST_GUILESS_MAIN(TestLegacyScriptDetector)
#include "tst_LegacyScriptDetector.moc"
