#include "platform/LinuxMachineInfo.h"
#include "platform/NameServiceSwitch.h"
#include "platform/PgrepProcessSearch.h"
#include "platform/XdgAutostartEntry.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// Processes, the machine's name, local names, and the autostart entry as the session reads it
// (switching it and its failures are the settings window's tests).
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

    // Only the hosts line counts, and only an mdns module on it; no file, no .local names.
    void nameServiceSwitch()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("nsswitch.conf"));
        QVERIFY(!NameServiceSwitch::resolvesLocalNames(path));
        for (const auto &[text, resolves] :
             {std::pair {QByteArray("passwd: files\nhosts:  files mdns4_minimal [NOTFOUND=return] dns\n"),
                         true},
              {"hosts: files dns\n# hosts: files mdns4_minimal dns\nnetworks: mdns\n", false}}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size());
            file.close();
            QCOMPARE(NameServiceSwitch::resolvesLocalNames(path), resolves);
        }
    }

    // Exec is quoted and escaped as desktop entries require: argument quoting first, then
    // the string escapes of the value, and "%" doubled so it starts no field code.
    void writesAValidEntry_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("exec");
        QTest::newRow("spaces") << "/home/ann/My Apps/quorvel"
                                << R"("/home/ann/My Apps/quorvel")";
        QTest::newRow("reserved") << R"(/opt/a$b/"q"/back\slash/quorvel)"
                                  << R"("/opt/a\\$b/\\"q\\"/back\\\\slash/quorvel")";
        QTest::newRow("percent") << "/opt/100%/quorvel %f"
                                 << R"("/opt/100%%/quorvel %%f")";
    }

    void writesAValidEntry()
    {
        QFETCH(QString, program);
        QFETCH(QString, exec);
        QTemporaryDir dir;
        XdgAutostartEntry entry(dir.filePath(QStringLiteral("autostart")), program);
        QVERIFY(!entry.enable() && entry.isEnabled());
        QFile file(entry.path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        // Started after the panel, so that the tray is there for the icon.
        for (const QString &line : QStringList {
                 "Exec=" + exec, "TryExec=" + QString(program).replace(u'\\', "\\\\"),
                 "X-GNOME-Autostart-Delay=2", "X-KDE-autostart-after=panel", "X-LXQt-Need-Tray=true"})
            QVERIFY2(content.contains(QByteArray('\n' + line.toUtf8() + '\n')), qPrintable(line));
        const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (validator.isEmpty())
            QSKIP("desktop-file-validate is not installed (Debian package desktop-file-utils)");
        QProcess validate;
        validate.setProcessChannelMode(QProcess::MergedChannels);
        validate.start(validator, {entry.path()});
        QVERIFY(validate.waitForFinished(30000));
        const QByteArray output = validate.readAll();
        QVERIFY2(validate.exitCode() == 0 && !output.contains("error:") && !output.contains("warning:"),
                 output);
    }
};

QTEST_GUILESS_MAIN(TestLinuxPlatform)
#include "tst_LinuxPlatform.moc"
