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

using namespace Qt::StringLiterals;

namespace {
// Answers as told, after a nap, and keeps the pattern it was given.
struct FixedSearch final : ProcessSearch
{
    FixedSearch(bool found, int napMs)
        : found(found)
        , napMs(napMs)
    { }
    bool isRunning(const QString &pattern) const override
    {
        QThread::msleep(ulong(napMs));
        asked = pattern;
        return found;
    }
    bool found;
    int napMs;
    mutable QString asked;
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
                                  = std::make_shared<FixedSearch>(false, 0)) const
    {
        return LegacyScriptDetector({path("home"), path("home/.config"), path("etc/systemd/system"),
                                     path("etc/xdg/autostart"), path("Library/LaunchDaemons/x.plist")},
                                    search);
    }

    // Runs the command as a user would (inside wrapper, if given), with sudo and systemctl as
    // stand-ins that only record what they were asked: nothing may ask for a password. Answers
    // standard output, then standard error.
    QStringList run(const QString &command, QStringList wrapper = {}) const
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
        wrapper << "sh"
                << "-c" << command;
        shell.start(wrapper.first(), wrapper.mid(1));
        shell.waitForFinished(10000);
        return {QString::fromUtf8(shell.readAllStandardOutput()),
                QString::fromUtf8(shell.readAllStandardError())};
    }

private Q_SLOTS:
    // A running process decides alone, and the command ends it first.
    void runningProcess()
    {
        const auto search = std::make_shared<FixedSearch>(true, 0);
        QVERIFY(LegacyScriptDetector(path("nohome"), search).isLegacyScriptPresent());
        QCOMPARE(search->asked, QStringLiteral(R"(python.*m1620_rate_sync\.py)"));
        const LegacyTraces traces = detector(search).findTraces();
        QVERIFY(traces.processRunning && !traces.usesSudo());

        // For real, in a process namespace of this test's own so that nothing else can match; the
        // script's name is assembled so that no shell here names it on its own command line.
        if (::geteuid() != 0
            || QProcess::execute("unshare", {"--pid", "--fork", "--mount-proc", "true"}) != 0)
            QSKIP("no process namespace here: the command's process step is not run");
        const QStringList shell
            = run(traces.removalCommand(),
                  {"unshare", "--pid", "--fork", "--mount-proc", "sh", "-c",
                   "n=m1620_rate_sync; bash -c \"exec -a 'python3 /opt/$n.py' sleep 30\" & "
                   "sleep 0.3; \"$@\"; wait $!; echo \"ended $?\"",
                   "sh"});
        QCOMPARE(shell[0], u"Old M-1620 Rate Sync removed\nended 143\n"_s);
    }

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

        QCOMPARE(run(found.removalCommand())[0], u"Old M-1620 Rate Sync removed\n"_s);
        for (const QString &trace : traces)
            QVERIFY2(!QFile::exists(trace), qPrintable(trace));
        QVERIFY(QFile::exists(unrelated));
        QFile log(path("systemctl.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll(),
                 QByteArray("--user disable --now m1620.service\ndisable --now m1620sync.service\n"));
        QVERIFY(!awaitTask(d.detect()));
        QVERIFY(d.lastTraces().isEmpty());

        // One still running when its detector goes must not touch it (the address sanitizer
        // aborts if it does).
        auto leaving
            = std::make_unique<LegacyScriptDetector>(detector(std::make_shared<FixedSearch>(true, 200)));
        const QCoro::Task<bool> pending = leaving->detect();
        leaving.reset();
        QTest::qWait(400);
    }
};

QTEST_GUILESS_MAIN(TestLegacyScriptDetector)
#include "tst_LegacyScriptDetector.moc"
