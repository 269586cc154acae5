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
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<AppSettings> m_settings;
    std::unique_ptr<AppState> m_state;
    DiagnosticsEnvironment m_environment;

    QString logPath() const { return m_dir.filePath(QStringLiteral("sync.log")); }
    QStringList lines(qint64 logLines = 200) const
    {
        return DiagnosticsReport::makeDiagnosticsReport(*m_state, *m_settings, logLines, m_environment)
            .split(u'\n');
    }

private Q_SLOTS:
    void init()
    {
        QFile::remove(logPath());
        QFile::remove(m_dir.filePath(QStringLiteral("settings.json")));
        m_store = std::make_unique<SettingsStore>(m_dir.filePath(QStringLiteral("settings.json")));
        m_settings = std::make_unique<AppSettings>(*m_store);
        m_state = std::make_unique<AppState>();
        m_environment = {QDateTime(QDate(2025, 1, 5), QTime(15, 4, 5)),
                         QLocale(QLocale::English, QLocale::UnitedStates),
                         QStringLiteral("1.2"),
                         QStringLiteral("34"),
                         QStringLiteral("Debian GNU/Linux 12 (bookworm)"),
                         QStringLiteral("6.1.0-18-amd64"),
                         QStringLiteral("ThinkPad T14 Gen 3, x86_64"),
                         false,
                         logPath()};
    }

    void wholeReport()
    {
        writeFile(logPath(), logOfLines(3));
        m_settings->setCustomHost(QStringLiteral("m1620.local"));
        m_settings->setUseCustomHost(true);
        m_state->setConnectionState(ConnectionState::connected(QStringLiteral("m1620.local")));
        m_state->setDeviceRate(48000);
        m_state->setMadiRate(96000);
        m_state->setMadiSync(true);
        m_state->setRateMismatch(true);
        m_settings->setSettleMilliseconds(1500);
        m_settings->setFollowOnlyWhenLocked(true);
        m_settings->setMatchPipeWireRate(true);
        m_settings->setRateChangeCommand(QStringLiteral("jack_control restart"));
        QCOMPARE(lines().join(u'\n'),
                 QStringLiteral("Quorvel diagnostics — Jan 5, 2025 3:04:05 PM\n"
                                "App: 1.2 (34)\n"
                                "Linux: Debian GNU/Linux 12 (bookworm), kernel 6.1.0-18-amd64\n"
                                "Machine: ThinkPad T14 Gen 3, x86_64\n"
                                "Device address: m1620.local (custom)\n"
                                "Connection: connected (m1620.local)\n"
                                "Device rate: 48000 Hz | MADI input: 96000 Hz | MADI sync: locked\n"
                                "Auto-sync: on | Out of sync: yes\n"
                                "Old M-1620 Rate Sync detected: no\n"
                                "Launch at login: off\n"
                                "\n"
                                "--- last 200 log lines ---\n"
                                "[2025-01-05 15:04:00] [INFO] line 1\n"
                                "[2025-01-05 15:04:00] [INFO] line 2\n"
                                "[2025-01-05 15:04:00] [INFO] line 3\n"
                                "Settle time: 1500 ms\n"
                                "Follow only locked input: yes\n"
                                "Match PipeWire rate: yes\n"
                                "Rate-change command: jack_control restart"));
        QCOMPARE(lines(5).at(11), QStringLiteral("--- last 5 log lines ---"));
        m_environment.locale = QLocale(QLocale::German, QLocale::Germany);
        QCOMPARE(lines().first(), QStringLiteral("Quorvel diagnostics — 5. Jan. 2025 15:04:05"));
    }

    void stateLines()
    {
        const std::pair<ConnectionState, const char *> connections[] {
            {ConnectionState::error(QStringLiteral("Device unreachable: timed out")),
             "Connection: error: Device unreachable: timed out"},
            {ConnectionState::disconnected(), "Connection: stopped"},
            {ConnectionState::connecting(), "Connection: connecting"}};
        for (const auto &[connection, line] : connections) {
            m_state->setConnectionState(connection);
            QCOMPARE(lines().at(5), QString::fromUtf8(line));
        }
        // The suffix follows the switch alone: a chosen but empty host reads "172.20.0.1 (custom)".
        QCOMPARE(lines().at(4), QStringLiteral("Device address: 172.20.0.1 (default)"));
        m_settings->setUseCustomHost(true);
        QCOMPARE(lines().at(4), QStringLiteral("Device address: 172.20.0.1 (custom)"));

        m_environment.version.clear();
        m_environment.build.clear();
        QStringList text = lines();
        QCOMPARE(text.at(1), QStringLiteral("App: ? (?)"));
        QCOMPARE(text.at(6), QStringLiteral("Device rate: — | MADI input: — | MADI sync: —"));
        QCOMPARE(text.at(7), QStringLiteral("Auto-sync: on | Out of sync: no"));
        QCOMPARE(text.at(12), QStringLiteral("(no log yet)"));
        QCOMPARE(text.at(16), QStringLiteral("Rate-change command: none"));
        m_state->setDeviceRate(0); // zero is a value, not a missing one
        m_state->setMadiSync(false);
        m_state->setPaused(true);
        m_state->setRateMismatch(true);
        m_state->setLegacyScriptDetected(true);
        m_environment.launchAtLogin = true;
        text = lines();
        QCOMPARE(text.mid(6, 4),
                 (QStringList {"Device rate: 0 Hz | MADI input: — | MADI sync: no signal",
                               "Auto-sync: paused | Out of sync: yes", "Old M-1620 Rate Sync detected: yes",
                               "Launch at login: on"}));
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
        row("empty log", "", 200, "");
        row("last 200 of 500", logOfLines(500), 200,
            logOfLines(500).mid(logOfLines(300).size()).chopped(1).constData());
        // n + 1 pieces between line feeds: without the final line feed that is one line more.
        row("no final line feed", "a\nb\nc", 1, "b\nc");
        row("empty lines inside kept", "a\n\nb\n", 3, "a\n\nb");
        row("empty line at the start trimmed", "a\n\nb\n", 2, "b");
        row("negative count", "a\nb\n", -7, "");
        row("huge count", "a\nb\n", std::numeric_limits<qint64>::max(), "a\nb");
        row("line breaks trimmed at the ends only", "\r\n\xe2\x80\xa8 a\r\nb \xe2\x80\xa9\xc2\x85\x0b\x0c\n",
            5, " a\r\nb ");
        row("invalid UTF-8", "line 1\n\xff line 2\n", 200, "(no log yet)");
        row("overlong encoding", "\xc0\xaf\n", 200, "(no log yet)");
    }

    void logTail()
    {
        QFETCH(QByteArray, content);
        if (content == "/")
            QVERIFY(QDir().mkpath(logPath()));
        else
            writeFile(logPath(), content);
        QFETCH(qint64, lines);
        QTEST(DiagnosticsReport::logTail(logPath(), lines), "tail");
        QDir(logPath()).removeRecursively();
    }

    // The real inputs: this program, this system, the log of this (temporary) home.
    void currentEnvironment()
    {
        const DiagnosticsEnvironment current = DiagnosticsEnvironment::current();
        QVERIFY(!current.version.isEmpty() && !current.systemName.isEmpty()
                && !current.kernelRelease.isEmpty());
        QVERIFY(current.machine.endsWith(QStringLiteral(", ") + QSysInfo::currentCpuArchitecture()));
        QVERIFY(current.logFile.endsWith(QStringLiteral("/Quorvel/sync.log")));
    }
};

QTEST_GUILESS_MAIN(TestDiagnosticsReport)
#include "tst_DiagnosticsReport.moc"
