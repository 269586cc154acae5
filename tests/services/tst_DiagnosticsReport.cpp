#include "TestFiles.h"
#include "core/AppState.h"
#include "services/AppSettings.h"
#include "services/DiagnosticsEnvironment.h"
#include "services/DiagnosticsReport.h"
#include "services/SettingsStore.h"

#include <QTemporaryDir>

namespace {

QByteArray logOfLines(int count)
{
    QByteArray log;
    for (int i = 1; i <= count; ++i)
        log += "[2025-01-05 15:04:00] [INFO] line " + QByteArray::number(i) + '\n';
    return log;
}

} // namespace

class TestDiagnosticsReport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString logPath() const { return m_dir.filePath(QStringLiteral("sync.log")); }

private Q_SLOTS:
    // Every line's text, nothing known yet, then all filled in.
    void report()
    {
        SettingsStore store(m_dir.filePath(QStringLiteral("settings.json")));
        AppSettings settings(store);
        AppState state;
        DiagnosticsEnvironment environment; // version and build unknown
        environment.now = QDateTime(QDate(2025, 1, 5), QTime(15, 4, 5));
        environment.locale = QLocale(QLocale::English, QLocale::UnitedStates);
        environment.systemName = QStringLiteral("Debian GNU/Linux 12 (bookworm)");
        environment.kernelRelease = QStringLiteral("6.1.0-18-amd64");
        environment.machine = QStringLiteral("ThinkPad T14 Gen 3, x86_64");
        environment.logFile = logPath();
        const auto lines = [&](qint64 logLines = 200) {
            return DiagnosticsReport::makeDiagnosticsReport(state, settings, logLines, environment)
                .split(u'\n');
        };
        QStringList text = lines(5);
        QCOMPARE(text.mid(1, 17),
                 (QStringList {"App: ? (?)", "Linux: Debian GNU/Linux 12 (bookworm), kernel 6.1.0-18-amd64",
                               "Machine: ThinkPad T14 Gen 3, x86_64", "Device address: 172.20.0.1 (default)",
                               "Connection: stopped", "Device rate: — | MADI input: — | MADI sync: —",
                               "Auto-sync: on | Out of sync: no", "Old M-1620 Rate Sync detected: no",
                               "Launch at login: off", "", "--- last 5 log lines ---", "(no log yet)",
                               "Settle time: 0 ms", "Follow only locked input: no", "Match PipeWire rate: no",
                               "Rate-change command: none"}));
        // The suffix follows the switch alone: a chosen but empty host reads "172.20.0.1 (custom)".
        settings.setUseCustomHost(true);
        QCOMPARE(lines().at(4), QStringLiteral("Device address: 172.20.0.1 (custom)"));
        for (const auto &[connection, line] :
             {std::pair {ConnectionState::error(QStringLiteral("Device unreachable: timed out")),
                         "Connection: error: Device unreachable: timed out"},
              {ConnectionState::connecting(), "Connection: connecting"}}) {
            state.setConnectionState(connection);
            QCOMPARE(lines().at(5), QString::fromUtf8(line));
        }
        state.setDeviceRate(0); // zero is a value, not a missing one
        state.setMadiSync(false);
        state.setPaused(true);
        QCOMPARE(lines().mid(6, 2),
                 (QStringList {"Device rate: 0 Hz | MADI input: — | MADI sync: no signal",
                               "Auto-sync: paused | Out of sync: no"}));

        writeFile(logPath(), logOfLines(3));
        environment.version = QStringLiteral("1.2");
        environment.build = QStringLiteral("34");
        environment.launchAtLogin = true;
        settings.setCustomHost(QStringLiteral("m1620.local"));
        state.setPaused(false);
        state.setConnectionState(ConnectionState::connected(QStringLiteral("m1620.local")));
        state.setDeviceRate(48000);
        state.setMadiRate(96000);
        state.setMadiSync(true);
        state.setRateMismatch(true);
        state.setLegacyScriptDetected(true);
        settings.setSettleMilliseconds(1500);
        settings.setFollowOnlyWhenLocked(true);
        settings.setMatchPipeWireRate(true);
        settings.setRateChangeCommand(QStringLiteral("jack_control restart"));
        QCOMPARE(lines().join(u'\n'),
                 QStringLiteral("Quorvel diagnostics — Jan 5, 2025 3:04:05 PM\n"
                                "App: 1.2 (34)\n"
                                "Linux: Debian GNU/Linux 12 (bookworm), kernel 6.1.0-18-amd64\n"
                                "Machine: ThinkPad T14 Gen 3, x86_64\n"
                                "Device address: m1620.local (custom)\n"
                                "Connection: connected (m1620.local)\n"
                                "Device rate: 48000 Hz | MADI input: 96000 Hz | MADI sync: locked\n"
                                "Auto-sync: on | Out of sync: yes\n"
                                "Old M-1620 Rate Sync detected: yes\n"
                                "Launch at login: on\n"
                                "\n"
                                "--- last 200 log lines ---\n"
                                "[2025-01-05 15:04:00] [INFO] line 1\n"
                                "[2025-01-05 15:04:00] [INFO] line 2\n"
                                "[2025-01-05 15:04:00] [INFO] line 3\n"
                                "Settle time: 1500 ms\n"
                                "Follow only locked input: yes\n"
                                "Match PipeWire rate: yes\n"
                                "Rate-change command: jack_control restart"));
    }

    void logTail_data()
    {
        QTest::addColumn<QByteArray>("content"); // "/": a folder in the log's place
        QTest::addColumn<qint64>("lines");
        QTest::addColumn<QString>("tail");
        const auto row = [](const char *name, const QByteArray &content, qint64 lines, const char *tail) {
            QTest::newRow(name) << content << lines << QString::fromUtf8(tail);
        };
        row("a folder, not a log", "/", 200, "(no log yet)");
        row("last 200 of 500", logOfLines(500), 200,
            logOfLines(500).mid(logOfLines(300).size()).chopped(1).constData());
        // n + 1 pieces between line feeds: without the final line feed that is one line more.
        row("no final line feed", "a\nb\nc", 1, "b\nc");
        row("negative count", "a\nb\n", -7, "");
        row("huge count", "a\nb\n", std::numeric_limits<qint64>::max(), "a\nb");
        row("line breaks trimmed at the ends only", "\r\n\xe2\x80\xa8 a\r\nb \xe2\x80\xa9\xc2\x85\x0b\x0c\n",
            5, " a\r\nb ");
        row("invalid UTF-8", "line 1\n\xff line 2\n", 200, "(no log yet)");
    }

    void logTail()
    {
        QFETCH(QByteArray, content);
        QFile::remove(logPath());
        if (content == "/")
            QVERIFY(QDir().mkpath(logPath()));
        else
            writeFile(logPath(), content);
        QFETCH(qint64, lines);
        QTEST(DiagnosticsReport::logTail(logPath(), lines), "tail");
        QDir(logPath()).removeRecursively();
    }
};

QTEST_GUILESS_MAIN(TestDiagnosticsReport)
#include "tst_DiagnosticsReport.moc"
