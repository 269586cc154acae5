#include "AwaitTask.h"
#include "platform/ProcessSearch.h"
#include "sync/LegacyScriptDetector.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace Qt::StringLiterals;

namespace {
// Answers as told, after a nap.
struct FixedSearch final : ProcessSearch
{
    FixedSearch(bool found, int napMs = 0)
        : found(found)
        , napMs(napMs)
    { }
    bool isRunning(const QString &) const override
    {
        QThread::msleep(ulong(napMs));
        return found;
    }
    bool found;
    int napMs;
};

bool plant(const QString &path, const QByteArray &text, QFileDevice::Permissions permissions = {})
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) && file.write(text) >= 0
        && (!permissions || file.setPermissions(permissions));
}
} // namespace

class TestLegacyScriptDetector : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;

    QString path(const QString &relative) const { return m_root.filePath(relative); }

    LegacyScriptDetector detector(std::shared_ptr<FixedSearch> search
                                  = std::make_shared<FixedSearch>(false)) const
    {
        return LegacyScriptDetector({path("home"), path("home/.config"), path("etc/systemd/system"),
                                     path("etc/xdg/autostart"), path("Library/LaunchDaemons/x.plist")},
                                    search);
    }

    // Runs the command as a user would, inside wrapper if given, with sudo and systemctl as
    // stand-ins that only record what they were asked: nothing may ask for a password. Answers
    // standard output, and standard error after it when asked.
    QString run(const QString &command, const QStringList &wrapper = {}, bool withErrors = false) const
    {
        const auto exe = QFileDevice::ExeOwner | QFileDevice::ReadOwner;
        plant(path("bin/sudo"), "#!/bin/sh\nexec \"$@\"\n", exe);
        plant(path("bin/systemctl"), "#!/bin/sh\necho \"$*\" >>\"" + path("systemctl.log").toUtf8() + "\"\n",
              exe);
        QProcess shell;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PATH", path("bin") + ":" + environment.value("PATH"));
        environment.insert("HOME", path("home"));
        environment.insert("XDG_CONFIG_HOME", path("home/.config"));
        shell.setProcessEnvironment(environment);
        const QStringList line = wrapper + QStringList {"sh", "-c", command};
        shell.start(line.first(), line.mid(1));
        shell.waitForFinished(10000);
        return QString::fromUtf8(shell.readAllStandardOutput()
                                 + (withErrors ? "|" + shell.readAllStandardError() : QByteArray()));
    }

private Q_SLOTS:
    // Every kind of trace, found off the main thread and named by the command, which removes
    // exactly those and says so.
    void everyTraceFoundAndRemoved()
    {
        const QStringList traces {path("home/Library/LaunchAgents/com.studio.m1620sync.plist"),
                                  path("home/.config/autostart/rate sync.desktop"),
                                  path("home/.config/systemd/user/m1620.service"),
                                  path("etc/systemd/system/m1620sync.service"),
                                  path("etc/xdg/autostart/m1620.desktop"),
                                  path("Library/LaunchDaemons/x.plist")};
        for (const QString &trace : traces)
            QVERIFY(plant(trace, "ExecStart=/usr/bin/python3 /opt/studio/m1620_rate_sync.py\n"));
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

        QCOMPARE(run(found.removalCommand()), u"Old M-1620 Rate Sync removed\n"_s);
        for (const QString &trace : traces)
            QVERIFY2(!QFile::exists(trace), qPrintable(trace));
        QVERIFY(QFile::exists(unrelated));
        QFile log(path("systemctl.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll(),
                 QByteArray("--user disable --now m1620.service\ndisable --now m1620sync.service\n"));
        QVERIFY(!awaitTask(d.detect()));

        // One still running when its detector goes must not touch it (the sanitizer would abort).
        auto leaving
            = std::make_unique<LegacyScriptDetector>(detector(std::make_shared<FixedSearch>(true, 200)));
        const QCoro::Task<bool> pending = leaving->detect();
        leaving.reset();
        QTest::qWait(400);
    }

    // The command ends a running script for real, in a process namespace of the test's own so
    // that nothing else can match (the script's name is assembled so that no shell here names
    // it), and a step that fails (a read-only mount, also the test's own) keeps the success line away.
    void runningScriptEndedAndFailureNotHidden()
    {
        if (QProcess::execute("unshare", {"--pid", "--fork", "--mount-proc", "--mount", "true"}) != 0)
            QSKIP("no process and mount namespaces here (they need root)");
        const LegacyTraces running = detector(std::make_shared<FixedSearch>(true)).findTraces();
        QVERIFY(running.processRunning && !running.usesSudo());
        QCOMPARE(run(running.removalCommand(),
                     {"unshare", "--pid", "--fork", "--mount-proc", "sh", "-c",
                      "n=m1620_rate_sync; bash -c \"exec -a 'python3 /opt/$n.py' sleep 30\" & "
                      "sleep 0.3; \"$@\"; wait $!; echo \"ended $?\"",
                      "sh"}),
                 u"Old M-1620 Rate Sync removed\nended 143\n"_s);

        const QString folder = path("home/.config/autostart");
        QVERIFY(plant(folder + "/m1620.desktop", "Exec=python3 m1620_rate_sync.py\n"));
        const QString said
            = run(detector().findTraces().removalCommand(),
                  {"unshare", "--mount", "sh", "-c",
                   "mount --bind \"$0\" \"$0\" && mount -o remount,ro,bind \"$0\" && exec \"$@\"", folder},
                  true);
        QVERIFY2(said.startsWith('|') && said.contains(u"m1620.desktop"_s), qPrintable(said));
        QVERIFY(QFile::exists(folder + "/m1620.desktop"));
    }
};

QTEST_GUILESS_MAIN(TestLegacyScriptDetector)
#include "tst_LegacyScriptDetector.moc"
