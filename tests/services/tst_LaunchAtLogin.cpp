#include "platform/SystemLog.h"
#include "services/LaunchAtLogin.h"
#include "services/Logger.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// The lines of the log without their time stamps: "[INFO] Launch at login enabled".
QStringList logLines(Logger &logger)
{
    logger.flush();
    static const QRegularExpression stamp(QStringLiteral(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] )"));
    QStringList lines;
    for (const QByteArray &line : readAll(logger.logFile()).split('\n')) {
        if (!line.isEmpty())
            lines.append(QString::fromUtf8(line).remove(stamp));
    }
    return lines;
}

// The keys of the [Desktop Entry] group, values as written.
QMap<QString, QString> entryKeys(const QString &path)
{
    QMap<QString, QString> keys;
    for (const QByteArray &raw : readAll(path).split('\n')) {
        const QString line = QString::fromUtf8(raw);
        const qsizetype equals = line.indexOf(u'=');
        if (equals > 0)
            keys.insert(line.left(equals), line.mid(equals + 1));
    }
    return keys;
}

// Reads Exec back the way a desktop does: string escapes first, then the quoting of
// arguments, then "%%" to "%".
QStringList execArguments(const QString &value)
{
    QString unescaped;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == u'\\' && i + 1 < value.size()) {
            const QChar next = value[++i];
            unescaped += next == u's' ? QChar(u' ')
                : next == u'n'        ? QChar(u'\n')
                : next == u't'        ? QChar(u'\t')
                : next == u'r'        ? QChar(u'\r')
                                      : next;
        } else {
            unescaped += value[i];
        }
    }
    QStringList arguments;
    QString current;
    bool quoted = false;
    bool any = false;
    for (qsizetype i = 0; i < unescaped.size(); ++i) {
        const QChar c = unescaped[i];
        if (quoted) {
            if (c == u'\\' && i + 1 < unescaped.size())
                current += unescaped[++i];
            else if (c == u'"')
                quoted = false;
            else
                current += c;
        } else if (c == u'"') {
            quoted = true;
            any = true;
        } else if (c == u' ') {
            if (any || !current.isEmpty())
                arguments.append(current);
            current.clear();
            any = false;
        } else {
            current += c;
        }
    }
    if (any || !current.isEmpty())
        arguments.append(current);
    for (QString &argument : arguments)
        argument.replace(QStringLiteral("%%"), QStringLiteral("%"));
    return arguments;
}

const QByteArray hiddenEntry = "[Desktop Entry]\nType=Application\nName=Quorvel\nExec=/usr/bin/quorvel\n"
                               "Hidden=true\n";

} // namespace

class TestLaunchAtLogin : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    std::unique_ptr<Logger> m_logger;
    QString m_dir;
    QString m_program;

    QString entry() const { return m_dir + QStringLiteral("/app.quorvel.Quorvel.desktop"); }

private Q_SLOTS:
    void init()
    {
        static int round = 0;
        const QString base = m_root.path() + QStringLiteral("/round") + QString::number(++round);
        QVERIFY(QDir().mkpath(base));
        m_logger = std::make_unique<Logger>(base + QStringLiteral("/log"), nullptr);
        m_dir = base + QStringLiteral("/config/autostart"); // not there yet
        m_program = QStringLiteral("/usr/bin/quorvel");
    }

    void cleanup() { m_logger.reset(); }

    void offWhenThereIsNoEntry()
    {
        LaunchAtLogin login(m_dir, m_program, *m_logger);
        QCOMPARE(login.entryPath(), entry());
        QVERIFY(!login.isEnabled());
        QVERIFY(!QFileInfo::exists(m_dir)); // reading creates nothing
    }

    void enablingWritesTheEntryAndLogs()
    {
        LaunchAtLogin login(m_dir, m_program, *m_logger);
        QSignalSpy changed(&login, &LaunchAtLogin::isEnabledChanged);
        login.setEnabled(true);
        QVERIFY(login.isEnabled());
        QCOMPARE(changed.count(), 1);
        QCOMPARE(logLines(*m_logger), QStringList {QStringLiteral("[INFO] Launch at login enabled")});

        const QMap<QString, QString> keys = entryKeys(entry());
        QVERIFY(readAll(entry()).startsWith("[Desktop Entry]\n"));
        QCOMPARE(keys.value(QStringLiteral("Type")), QStringLiteral("Application"));
        QCOMPARE(keys.value(QStringLiteral("Name")), QStringLiteral("Quorvel"));
        QCOMPARE(keys.value(QStringLiteral("Exec")), m_program);
        QCOMPARE(keys.value(QStringLiteral("TryExec")), m_program);
        QCOMPARE(keys.value(QStringLiteral("Icon")), QStringLiteral("app.quorvel.Quorvel"));
        QCOMPARE(keys.value(QStringLiteral("X-GNOME-Autostart-Delay")), QStringLiteral("2"));
        QCOMPARE(keys.value(QStringLiteral("X-KDE-autostart-after")), QStringLiteral("panel"));
        QCOMPARE(keys.value(QStringLiteral("X-LXQt-Need-Tray")), QStringLiteral("true"));
        QVERIFY(!keys.value(QStringLiteral("Comment")).isEmpty());
        QVERIFY(!keys.contains(QStringLiteral("Hidden")));
    }

    void enablingWhenAlreadyEnabledDoesNothing()
    {
        QVERIFY(QDir().mkpath(m_dir));
        const QByteArray own = "[Desktop Entry]\nType=Application\nName=Quorvel\nExec=/opt/q/quorvel\n";
        QVERIFY(writeFile(entry(), own));
        LaunchAtLogin login(m_dir, m_program, *m_logger);
        QSignalSpy changed(&login, &LaunchAtLogin::isEnabledChanged);
        login.setEnabled(true);
        QCOMPARE(readAll(entry()), own); // not rewritten
        QVERIFY(logLines(*m_logger).isEmpty());
        QCOMPARE(changed.count(), 1); // views still re-read
    }

    void hiddenEntryCountsAsOff()
    {
        QVERIFY(QDir().mkpath(m_dir));
        LaunchAtLogin login(m_dir, m_program, *m_logger);
        QVERIFY(writeFile(entry(), hiddenEntry));
        QVERIFY(!login.isEnabled());
        QVERIFY(writeFile(entry(), "[Desktop Entry]\nName=Quorvel\nHidden = true\n"));
        QVERIFY(!login.isEnabled());
        QVERIFY(writeFile(entry(), "[Desktop Entry]\nName=Quorvel\nHidden=1\n"));
        QVERIFY(!login.isEnabled());
        // Only the main group speaks for the entry; "false" is no hiding either.
        QVERIFY(writeFile(entry(),
                          "[Desktop Entry]\nName=Quorvel\nHidden=false\n[Desktop Action x]\nHidden=true\n"));
        QVERIFY(login.isEnabled());

        QVERIFY(writeFile(entry(), hiddenEntry));
        login.setEnabled(true); // replaces the hidden entry with a working one
        QVERIFY(login.isEnabled());
        QVERIFY(!entryKeys(entry()).contains(QStringLiteral("Hidden")));
        QCOMPARE(logLines(*m_logger), QStringList {QStringLiteral("[INFO] Launch at login enabled")});
    }

    void isEnabledIsReadAfreshEachTime()
    {
        LaunchAtLogin login(m_dir, m_program, *m_logger);
        login.setEnabled(true);
        QVERIFY(login.isEnabled());
        QVERIFY(QFile::remove(entry())); // removed behind its back, e.g. by a settings app
        QVERIFY(!login.isEnabled());
    }

    void disablingRemovesTheEntryAndLogs()
    {
        LaunchAtLogin login(m_dir, m_program, *m_logger);
        login.setEnabled(true);
        QSignalSpy changed(&login, &LaunchAtLogin::isEnabledChanged);
        login.setEnabled(false);
        QVERIFY(!QFileInfo::exists(entry()));
        QVERIFY(!login.isEnabled());
        QCOMPARE(changed.count(), 1);
        QCOMPARE(logLines(*m_logger),
                 (QStringList {QStringLiteral("[INFO] Launch at login enabled"),
                               QStringLiteral("[INFO] Launch at login disabled")}));
    }

    void disablingWithoutAnEntrySucceeds()
    {
        // Nothing to remove is the state asked for: no error to report.
        LaunchAtLogin login(m_dir, m_program, *m_logger);
        QSignalSpy changed(&login, &LaunchAtLogin::isEnabledChanged);
        login.setEnabled(false);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(logLines(*m_logger), QStringList {QStringLiteral("[INFO] Launch at login disabled")});
        QVERIFY(!QFileInfo::exists(m_dir));
    }

    void disablingAHiddenEntryRemovesIt()
    {
        QVERIFY(QDir().mkpath(m_dir));
        QVERIFY(writeFile(entry(), hiddenEntry));
        LaunchAtLogin login(m_dir, m_program, *m_logger);
        login.setEnabled(false); // without looking first
        QVERIFY(!QFileInfo::exists(entry()));
        QCOMPARE(logLines(*m_logger), QStringList {QStringLiteral("[INFO] Launch at login disabled")});
    }

    void folderThatCannotBeCreatedLogsOneError()
    {
        // A regular file where the folder should be: permission bits cannot stop root, this can.
        QVERIFY(QDir().mkpath(QFileInfo(m_dir).path()));
        QVERIFY(writeFile(m_dir, "not a folder"));
        LaunchAtLogin login(m_dir, m_program, *m_logger);
        QSignalSpy changed(&login, &LaunchAtLogin::isEnabledChanged);
        login.setEnabled(true);
        QVERIFY(!login.isEnabled());
        QCOMPARE(changed.count(), 1);
        QCOMPARE(readAll(m_dir), QByteArray("not a folder"));
        const QStringList lines = logLines(*m_logger);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].startsWith(QStringLiteral("[ERROR] Launch at login change failed: ")),
                 qPrintable(lines[0]));
        QVERIFY(lines[0].size() > QStringLiteral("[ERROR] Launch at login change failed: ").size());
    }

    void entryThatCannotBeWrittenLogsOneError()
    {
        // A folder in the entry's place: it can be neither replaced nor removed.
        QVERIFY(QDir().mkpath(entry() + QStringLiteral("/inside")));
        LaunchAtLogin login(m_dir, m_program, *m_logger);
        QVERIFY(!login.isEnabled());
        login.setEnabled(true);
        QVERIFY(!login.isEnabled());
        login.setEnabled(false);
        QVERIFY(QFileInfo(entry() + QStringLiteral("/inside")).isDir()); // nothing else changed
        const QStringList lines = logLines(*m_logger);
        QCOMPARE(lines.size(), 2);
        for (const QString &line : lines) {
            QVERIFY2(line.startsWith(QStringLiteral("[ERROR] Launch at login change failed: ")),
                     qPrintable(line));
            QVERIFY(line.size() > QStringLiteral("[ERROR] Launch at login change failed: ").size());
        }
    }

    void unusableProgramPathLogsOneError()
    {
        LaunchAtLogin login(m_dir, QString(), *m_logger);
        login.setEnabled(true);
        QVERIFY(!login.isEnabled());
        QVERIFY(!QFileInfo::exists(entry()));
        const QStringList lines = logLines(*m_logger);
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines[0].startsWith(QStringLiteral("[ERROR] Launch at login change failed: ")));
    }

    void execIsQuotedSoThePathReadsBack_data()
    {
        QTest::addColumn<QString>("program");
        QTest::newRow("plain") << QStringLiteral("/usr/bin/quorvel");
        QTest::newRow("spaces") << QStringLiteral("/home/ann/My Apps/Quorvel Beta/quorvel");
        QTest::newRow("reserved") << QStringLiteral("/opt/a$b/\"q\"/it's (new)/back\\slash/`x`/quorvel");
        QTest::newRow("percent") << QStringLiteral("/opt/100%/quorvel %f");
        QTest::newRow("space after a slash") << QStringLiteral("/tmp/ q/quorvel");
    }

    void execIsQuotedSoThePathReadsBack()
    {
        QFETCH(QString, program);
        LaunchAtLogin login(m_dir, program, *m_logger);
        login.setEnabled(true);
        QVERIFY(login.isEnabled());
        QCOMPARE(execArguments(entryKeys(entry()).value(QStringLiteral("Exec"))), QStringList {program});
    }

    void writtenEntryIsValid_data() { execIsQuotedSoThePathReadsBack_data(); }

    void writtenEntryIsValid()
    {
        const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (validator.isEmpty())
            QSKIP("desktop-file-validate is not installed (Debian package desktop-file-utils)");
        QFETCH(QString, program);
        LaunchAtLogin login(m_dir, program, *m_logger);
        login.setEnabled(true);
        QProcess validate;
        validate.start(validator, {entry()});
        QVERIFY(validate.waitForFinished(30000));
        const QString output
            = QString::fromUtf8(validate.readAllStandardOutput() + validate.readAllStandardError());
        QVERIFY2(validate.exitStatus() == QProcess::NormalExit && validate.exitCode() == 0,
                 qPrintable(output));
        QVERIFY2(!output.contains(QStringLiteral("error:")) && !output.contains(QStringLiteral("warning:")),
                 qPrintable(output));
    }

    void sharedUsesTheUsersAutostartFolder()
    {
        if (qEnvironmentVariableIsEmpty("QUORVEL_TEST_ROOT"))
            QSKIP("needs the temporary XDG tree of tests/isolated.sh");
        LaunchAtLogin &login = LaunchAtLogin::shared();
        QCOMPARE(&login, &LaunchAtLogin::shared());
        QCOMPARE(login.entryPath(),
                 qEnvironmentVariable("XDG_CONFIG_HOME")
                     + QStringLiteral("/autostart/app.quorvel.Quorvel.desktop"));
        login.setEnabled(true);
        QCOMPARE(entryKeys(login.entryPath()).value(QStringLiteral("TryExec")),
                 QCoreApplication::applicationFilePath());
        login.setEnabled(false);
        QVERIFY(!login.isEnabled());
    }
};

QTEST_GUILESS_MAIN(TestLaunchAtLogin)
#include "tst_LaunchAtLogin.moc"
