#include "TestFiles.h"
#include "platform/XdgAutostartEntry.h"
#include "services/LaunchAtLogin.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>

class TestLaunchAtLogin : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    std::unique_ptr<Logger> m_logger;
    QString m_dir;

    QString entry() const { return m_dir + QStringLiteral("/app.quorvel.Quorvel.desktop"); }
    std::unique_ptr<AutostartEntry> xdg(const QString &program = QStringLiteral("/usr/bin/quorvel")) const
    {
        return std::make_unique<XdgAutostartEntry>(m_dir, program);
    }

private Q_SLOTS:
    void init()
    {
        static int round = 0;
        const QString base = m_root.path() + QStringLiteral("/round") + QString::number(++round);
        m_logger = std::make_unique<Logger>(base + QStringLiteral("/log"), nullptr);
        m_dir = base + QStringLiteral("/config/autostart"); // not there yet
    }

    // Exec is quoted and escaped as desktop entries require: argument quoting first, then
    // the string escapes of the value, and "%" doubled so it starts no field code.
    void enablingWritesAValidEntry_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << "/usr/bin/quorvel"
                               << "/usr/bin/quorvel";
        QTest::newRow("spaces") << "/home/ann/My Apps/quorvel"
                                << R"("/home/ann/My Apps/quorvel")";
        QTest::newRow("reserved") << R"(/opt/a$b/"q"/back\slash/quorvel)"
                                  << R"("/opt/a\\$b/\\"q\\"/back\\\\slash/quorvel")";
        QTest::newRow("percent") << "/opt/100%/quorvel %f"
                                 << R"("/opt/100%%/quorvel %%f")";
    }

    void enablingWritesAValidEntry()
    {
        QFETCH(QString, program);
        QFETCH(QString, exec);
        LaunchAtLogin login(xdg(program), *m_logger);
        QVERIFY(!login.isEnabled() && !QFileInfo::exists(m_dir)); // reading creates nothing
        QSignalSpy changed(&login, &LaunchAtLogin::isEnabledChanged);
        login.setEnabled(true);
        QVERIFY(login.isEnabled());
        QCOMPARE(changed.count(), 1);
        QCOMPARE(logLines(*m_logger), QStringList {"[INFO] Launch at login enabled"});
        const QByteArray content = readAll(entry());
        QVERIFY(content.startsWith("[Desktop Entry]\n") && !content.contains("Hidden"));
        // Started after the panel, so that the tray is there for the icon.
        for (const QString &line : QStringList {
                 "Exec=" + exec, "TryExec=" + QString(program).replace(u'\\', "\\\\"),
                 QStringLiteral("X-GNOME-Autostart-Delay=2"), QStringLiteral("X-KDE-autostart-after=panel"),
                 QStringLiteral("X-LXQt-Need-Tray=true")})
            QVERIFY2(content.contains(QByteArray(line.toUtf8() + '\n')), qPrintable(line));
        const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (validator.isEmpty())
            QSKIP("desktop-file-validate is not installed (Debian package desktop-file-utils)");
        QProcess validate;
        validate.setProcessChannelMode(QProcess::MergedChannels);
        validate.start(validator, {entry()});
        QVERIFY(validate.waitForFinished(30000));
        const QByteArray output = validate.readAll();
        QVERIFY2(validate.exitCode() == 0 && !output.contains("error:") && !output.contains("warning:"),
                 output);
    }

    // Off only when its main group says Hidden; enabling then replaces it, while a working
    // entry of any origin is left as it is.
    void existingEntries_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("enabled");
        const QByteArray head = "[Desktop Entry]\nType=Application\nName=Quorvel\nExec=/opt/q/quorvel\n";
        QTest::newRow("working entry") << head << true;
        QTest::newRow("Hidden = true") << head + "Hidden = true\n" << false;
        QTest::newRow("Hidden=1") << head + "Hidden=1\n" << false;
        QTest::newRow("hidden in another group") << head + "Hidden=false\n[Desktop Action x]\nHidden=true\n"
                                                 << true;
    }

    void existingEntries()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, enabled);
        writeFile(entry(), content);
        LaunchAtLogin login(xdg(), *m_logger);
        QCOMPARE(login.isEnabled(), enabled);
        QSignalSpy changed(&login, &LaunchAtLogin::isEnabledChanged);
        login.setEnabled(true);
        QVERIFY(login.isEnabled());
        QCOMPARE(changed.count(), 1); // views re-read even when nothing changed
        QCOMPARE(readAll(entry()) == content, enabled);
        QCOMPARE(logLines(*m_logger).size(), enabled ? 0 : 1);
    }

    void disablingRemovesTheEntry()
    {
        LaunchAtLogin login(xdg(), *m_logger);
        login.setEnabled(true);
        login.setEnabled(false);
        QVERIFY(!QFileInfo::exists(entry()) && !login.isEnabled());
        login.setEnabled(true);
        QVERIFY(QFile::remove(entry())); // behind its back, e.g. by a settings app
        QVERIFY(!login.isEnabled()); // read afresh
        login.setEnabled(false); // nothing to remove is the state asked for: no error
        writeFile(entry(), "[Desktop Entry]\nName=Quorvel\nHidden=true\n");
        login.setEnabled(false);
        QVERIFY(!QFileInfo::exists(entry()));
        const QString on = QStringLiteral("[INFO] Launch at login enabled");
        const QString off = QStringLiteral("[INFO] Launch at login disabled");
        QCOMPARE(logLines(*m_logger), (QStringList {on, off, on, off, off}));
    }

    void failuresLogOneErrorAndChangeNothing_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::newRow("a file where the folder goes") << "file"; // permission bits cannot stop root
        QTest::newRow("a folder where the entry goes") << "folder";
        QTest::newRow("a relative program path") << "program";
    }

    void failuresLogOneErrorAndChangeNothing()
    {
        QFETCH(QString, obstacle);
        QVERIFY(QDir().mkpath(QFileInfo(m_dir).path()));
        if (obstacle == u"file")
            writeFile(m_dir, "not a folder");
        if (obstacle == u"folder")
            QVERIFY(QDir().mkpath(entry() + QStringLiteral("/inside")));
        LaunchAtLogin login(
            xdg(obstacle == u"program" ? QStringLiteral("quorvel") : QStringLiteral("/usr/bin/quorvel")),
            *m_logger);
        login.setEnabled(true);
        if (obstacle == u"folder")
            login.setEnabled(false);
        QVERIFY(!login.isEnabled());
        const QStringList lines = logLines(*m_logger);
        QCOMPARE(lines.size(), obstacle == u"folder" ? 2 : 1);
        for (const QString &line : lines)
            QVERIFY2(line.startsWith("[ERROR] Launch at login change failed: ") && line.size() > 45,
                     qPrintable(line));
        QCOMPARE(readAll(m_dir), obstacle == u"file" ? QByteArray("not a folder") : QByteArray());
        QCOMPARE(QFileInfo(entry() + QStringLiteral("/inside")).isDir(), obstacle == u"folder");
    }

    void sharedUsesTheUsersAutostartFolder()
    {
        if (qEnvironmentVariableIsEmpty("QUORVEL_TEST_ROOT"))
            QSKIP("needs the temporary XDG tree of tests/isolated.sh");
        LaunchAtLogin &login = LaunchAtLogin::shared();
        login.setEnabled(true);
        QVERIFY(readAll(qEnvironmentVariable("XDG_CONFIG_HOME") + "/autostart/app.quorvel.Quorvel.desktop")
                    .contains(QByteArray("\nTryExec=" + QCoreApplication::applicationFilePath().toUtf8())));
        login.setEnabled(false);
        QVERIFY(!login.isEnabled());
    }
};

QTEST_GUILESS_MAIN(TestLaunchAtLogin)
#include "tst_LaunchAtLogin.moc"
