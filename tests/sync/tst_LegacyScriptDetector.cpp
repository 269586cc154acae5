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

    // Runs the command as a user would, with sudo and systemctl as
    // stand-ins that only record what they were asked: nothing may ask for a password. Answers
    // standard output.
    QString run(const QString &command) const
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
        shell.start("sh", {"-c", command});
        shell.waitForFinished(10000);
        return QString::fromUtf8(shell.readAllStandardOutput());
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
};

QTEST_GUILESS_MAIN(TestLegacyScriptDetector)
#include "tst_LegacyScriptDetector.moc"
