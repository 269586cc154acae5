#include "core/AppState.h"
#include "services/AppSettings.h"
#include "services/DiagnosticsEnvironment.h"
#include "services/DiagnosticsReport.h"
#include "services/SettingsStore.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <tuple>

namespace {

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
}

// "[2025-01-05 15:04:00] [INFO] line 1\n" and so on, for lines 1 to count.
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
    QStringList reportLines(qint64 logLines = 200) const { return report(logLines).split(u'\n'); }
    QString report(qint64 logLines = 200) const
    {
        return DiagnosticsReport::makeDiagnosticsReport(*m_state, *m_settings, logLines, m_environment);
    }

private Q_SLOTS:
    void init()
    {
        QFile::remove(logPath());
        QDir(logPath()).removeRecursively();
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
        QCOMPARE(report(),
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
    }

    void connectionAndAddressLines()
    {
        const std::pair<ConnectionState, const char *> connections[] {
            {ConnectionState::connected(QStringLiteral("m1620.local")),
             "Connection: connected (m1620.local)"},
            {ConnectionState::error(QStringLiteral("Device unreachable: timed out")),
             "Connection: error: Device unreachable: timed out"},
            {ConnectionState::disconnected(), "Connection: stopped"},
            {ConnectionState::connecting(), "Connection: connecting"}};
        for (const auto &[connection, line] : connections) {
            m_state->setConnectionState(connection);
            QCOMPARE(reportLines().at(5), QString::fromUtf8(line));
        }
        // The suffix follows the switch alone: a chosen but empty host reads "172.20.0.1 (custom)".
        const std::tuple<bool, const char *, const char *> addresses[] {
            {false, "127.0.0.1:8080", "Device address: 172.20.0.1 (default)"},
            {true, "127.0.0.1:8080", "Device address: 127.0.0.1:8080 (custom)"},
            {true, "", "Device address: 172.20.0.1 (custom)"}};
        for (const auto &[useCustom, host, line] : addresses) {
            m_settings->setCustomHost(QString::fromUtf8(host));
            m_settings->setUseCustomHost(useCustom);
            QCOMPARE(reportLines().at(4), QString::fromUtf8(line));
        }
    }

    void replacementTexts()
    {
        m_environment.version.clear();
        m_environment.build.clear();
        QStringList lines = reportLines();
        QCOMPARE(lines.at(1), QStringLiteral("App: ? (?)"));
        QCOMPARE(lines.at(6), QStringLiteral("Device rate: — | MADI input: — | MADI sync: —"));
        QCOMPARE(lines.at(7), QStringLiteral("Auto-sync: on | Out of sync: no"));

        m_state->setDeviceRate(0); // zero is a value, not a missing one
        m_state->setMadiSync(false);
        m_state->setPaused(true);
        m_state->setRateMismatch(true);
        m_state->setLegacyScriptDetected(true);
        m_environment.launchAtLogin = true;
        lines = reportLines();
        QCOMPARE(lines.at(6), QStringLiteral("Device rate: 0 Hz | MADI input: — | MADI sync: no signal"));
        QCOMPARE(lines.at(7), QStringLiteral("Auto-sync: paused | Out of sync: yes"));
        QCOMPARE(lines.at(8), QStringLiteral("Old M-1620 Rate Sync detected: yes"));
        QCOMPARE(lines.at(9), QStringLiteral("Launch at login: on"));
    }

    void logCases_data()
    {
        QTest::addColumn<int>("lines"); // -1: no log file, -2: a folder in its place
        QTest::addColumn<QString>("tail");
        QTest::newRow("no log") << -1 << "(no log yet)";
        QTest::newRow("a folder, not a log") << -2 << "(no log yet)";
        QTest::newRow("empty log") << 0 << "";
        QTest::newRow("3 lines") << 3 << QString::fromUtf8(logOfLines(3)).chopped(1);
        QTest::newRow("500 lines")
            << 500 << QString::fromUtf8(logOfLines(500).mid(logOfLines(300).size())).chopped(1);
    }

    // Seventeen lines, no line feed after the last; the tail is the last 200 lines.
    void logCases()
    {
        QFETCH(int, lines);
        QFETCH(QString, tail);
        if (lines >= 0)
            writeFile(logPath(), logOfLines(lines));
        if (lines == -2)
            QVERIFY(QDir().mkpath(logPath()));
        const QString text = report();
        QVERIFY(text.endsWith(
            QStringLiteral("\n--- last 200 log lines ---\n") + tail
            + QStringLiteral("\nSettle time: 0 ms\nFollow only locked input: no\nMatch PipeWire rate: "
                             "no\nRate-change command: none")));
        QCOMPARE(text.count(u'\n'), 16 + tail.count(u'\n'));
        QCOMPARE(DiagnosticsReport::logTail(logPath(), 200), tail);
        QCOMPARE(reportLines(5).at(11), QStringLiteral("--- last 5 log lines ---"));
    }

    void tailEdges_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<qint64>("lines");
        QTest::addColumn<QString>("tail");
        const auto row = [](const char *name, const QByteArray &content, qint64 lines, const char *tail) {
            QTest::newRow(name) << content << lines << QString::fromUtf8(tail);
        };
        // n + 1 pieces between line feeds: without the final line feed that is one line more.
        row("no final line feed", "a\nb\nc", 1, "b\nc");
        row("final line feed", "a\nb\nc\n", 2, "b\nc");
        row("empty lines inside kept", "a\n\nb\n", 3, "a\n\nb");
        row("empty line at the start trimmed", "a\n\nb\n", 2, "b");
        row("negative count", "a\nb\n", -7, "");
        row("huge count", "a\nb\n", std::numeric_limits<qint64>::max(), "a\nb");
        row("line breaks trimmed at the ends only", "\r\n\xe2\x80\xa8 a\r\nb \xe2\x80\xa9\xc2\x85\x0b\x0c\n",
            5, " a\r\nb ");
        row("invalid UTF-8", "line 1\n\xff line 2\n", 200, "(no log yet)");
        row("cut-off sequence at the end", "line 1\n\xe2\x80", 200, "(no log yet)");
        row("overlong encoding", "\xc0\xaf\n", 200, "(no log yet)");
    }

    void tailEdges()
    {
        QFETCH(QByteArray, content);
        QFETCH(qint64, lines);
        writeFile(logPath(), content);
        QTEST(DiagnosticsReport::logTail(logPath(), lines), "tail");
    }

    void dateAndTimeInTheLocale()
    {
        const std::pair<QLocale, const char *> locales[] {
            {QLocale(QLocale::English, QLocale::UnitedKingdom), "5 Jan 2025 15:04:05"},
            {QLocale(QLocale::German, QLocale::Germany), "5. Jan. 2025 15:04:05"},
            {QLocale(QLocale::Japanese, QLocale::Japan), "2025年1月5日 15時04分05秒"}};
        for (const auto &[locale, text] : locales) {
            m_environment.locale = locale;
            QCOMPARE(reportLines().first(),
                     QStringLiteral("Quorvel diagnostics — ") + QString::fromUtf8(text));
        }
    }

    // The real inputs: this program, this system, the log of this (temporary) home.
    void currentEnvironment()
    {
        const DiagnosticsEnvironment current = DiagnosticsEnvironment::current();
        QVERIFY(!current.version.isEmpty() && !current.systemName.isEmpty()
                && !current.kernelRelease.isEmpty());
        QVERIFY(current.machine.endsWith(QStringLiteral(", ") + QSysInfo::currentCpuArchitecture()));
        QVERIFY(current.logFile.endsWith(QStringLiteral("/Quorvel/sync.log")));
        QVERIFY(DiagnosticsReport::makeDiagnosticsReport(*m_state, *m_settings, 200).contains(u"\nLinux: "));
    }
};

QTEST_GUILESS_MAIN(TestDiagnosticsReport)
#include "tst_DiagnosticsReport.moc"
