#include "core/AppState.h"
#include "discovery/DiagnosticsEnvironment.h"
#include "discovery/DiagnosticsReport.h"
#include "services/AppSettings.h"
#include "services/SettingsStore.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
}

// "[2025-01-05 15:04:00] [INFO] line 1\n" ... for lines 1 to count.
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

private:
    QTemporaryDir dir;
    std::unique_ptr<SettingsStore> store;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<AppState> state;

    QString logPath() const { return dir.filePath(QStringLiteral("sync.log")); }

    DiagnosticsEnvironment environment() const
    {
        DiagnosticsEnvironment environment;
        environment.now = QDateTime(QDate(2025, 1, 5), QTime(15, 4, 5));
        environment.locale = QLocale(QLocale::English, QLocale::UnitedStates);
        environment.version = QStringLiteral("1.2");
        environment.build = QStringLiteral("34");
        environment.systemName = QStringLiteral("Debian GNU/Linux 12 (bookworm)");
        environment.kernelRelease = QStringLiteral("6.1.0-18-amd64");
        environment.machine = QStringLiteral("ThinkPad T14 Gen 3, x86_64");
        environment.launchAtLogin = false;
        environment.logFile = logPath();
        return environment;
    }

    QStringList reportLines(qint64 logLines = 200) const { return report(logLines).split(QLatin1Char('\n')); }

    QString report(qint64 logLines = 200, const DiagnosticsEnvironment *custom = nullptr) const
    {
        return DiagnosticsReport::makeDiagnosticsReport(*state, *settings, logLines,
                                                        custom ? *custom : environment());
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY(dir.isValid());
        QFile::remove(logPath());
        QFile::remove(dir.filePath(QStringLiteral("settings.json")));
        store = std::make_unique<SettingsStore>(dir.filePath(QStringLiteral("settings.json")));
        settings = std::make_unique<AppSettings>(*store);
        state = std::make_unique<AppState>();
    }

    void wholeReport()
    {
        writeFile(logPath(), logOfLines(3));
        settings->setCustomHost(QStringLiteral("m1620.local"));
        settings->setUseCustomHost(true);
        state->setConnectionState(ConnectionState::connected(QStringLiteral("m1620.local")));
        state->setDeviceRate(48000);
        state->setMadiRate(96000);
        state->setMadiSync(true);
        state->setRateMismatch(true);
        const QString expected
            = QStringLiteral("Quorvel diagnostics — Jan 5, 2025 3:04:05 PM\n"
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
                             "[2025-01-05 15:04:00] [INFO] line 3");
        QCOMPARE(report(), expected);
    }

    void connectionWords_data()
    {
        QTest::addColumn<ConnectionState>("connection");
        QTest::addColumn<QString>("line");
        QTest::newRow("connected") << ConnectionState::connected(QStringLiteral("m1620.local"))
                                   << QStringLiteral("Connection: connected (m1620.local)");
        QTest::newRow("error") << ConnectionState::error(QStringLiteral("Device unreachable: timed out"))
                               << QStringLiteral("Connection: error: Device unreachable: timed out");
        QTest::newRow("disconnected")
            << ConnectionState::disconnected() << QStringLiteral("Connection: stopped");
        QTest::newRow("connecting") << ConnectionState::connecting()
                                    << QStringLiteral("Connection: connecting");
    }

    void connectionWords()
    {
        QFETCH(ConnectionState, connection);
        QFETCH(QString, line);
        state->setConnectionState(connection);
        const QStringList lines = reportLines();
        QCOMPARE(lines.size(), 13);
        QCOMPARE(lines.at(5), line);
    }

    void addressSuffixFollowsTheSwitchAlone_data()
    {
        QTest::addColumn<bool>("useCustom");
        QTest::addColumn<QString>("customHost");
        QTest::addColumn<QString>("line");
        QTest::newRow("default") << false << QString()
                                 << QStringLiteral("Device address: 172.20.0.1 (default)");
        QTest::newRow("custom host switched off") << false << QStringLiteral("127.0.0.1:8080")
                                                  << QStringLiteral("Device address: 172.20.0.1 (default)");
        QTest::newRow("custom") << true << QStringLiteral("127.0.0.1:8080")
                                << QStringLiteral("Device address: 127.0.0.1:8080 (custom)");
        QTest::newRow("custom but empty")
            << true << QString() << QStringLiteral("Device address: 172.20.0.1 (custom)");
    }

    void addressSuffixFollowsTheSwitchAlone()
    {
        QFETCH(bool, useCustom);
        QFETCH(QString, customHost);
        QFETCH(QString, line);
        settings->setCustomHost(customHost);
        settings->setUseCustomHost(useCustom);
        QCOMPARE(reportLines().at(4), line);
    }

    void ratesAndSync_data()
    {
        QTest::addColumn<std::optional<qint64>>("device");
        QTest::addColumn<std::optional<qint64>>("madi");
        QTest::addColumn<std::optional<bool>>("sync");
        QTest::addColumn<QString>("line");
        QTest::newRow("all absent") << std::optional<qint64>() << std::optional<qint64>()
                                    << std::optional<bool>()
                                    << QStringLiteral("Device rate: — | MADI input: — | MADI sync: —");
        QTest::newRow("no MADI rate, no signal")
            << std::optional<qint64>(48000) << std::optional<qint64>() << std::optional<bool>(false)
            << QStringLiteral("Device rate: 48000 Hz | MADI input: — | MADI sync: no signal");
        QTest::newRow("locked") << std::optional<qint64>(44100) << std::optional<qint64>(192000)
                                << std::optional<bool>(true)
                                << QStringLiteral(
                                       "Device rate: 44100 Hz | MADI input: 192000 Hz | MADI sync: locked");
        QTest::newRow("zero is a value")
            << std::optional<qint64>(0) << std::optional<qint64>(0) << std::optional<bool>(false)
            << QStringLiteral("Device rate: 0 Hz | MADI input: 0 Hz | MADI sync: no signal");
    }

    void ratesAndSync()
    {
        QFETCH(std::optional<qint64>, device);
        QFETCH(std::optional<qint64>, madi);
        QFETCH(std::optional<bool>, sync);
        QFETCH(QString, line);
        state->setDeviceRate(device);
        state->setMadiRate(madi);
        state->setMadiSync(sync);
        QCOMPARE(reportLines().at(6), line);
    }

    void switchesAndFlags()
    {
        QStringList lines = reportLines();
        QCOMPARE(lines.at(7), QStringLiteral("Auto-sync: on | Out of sync: no"));
        QCOMPARE(lines.at(8), QStringLiteral("Old M-1620 Rate Sync detected: no"));
        QCOMPARE(lines.at(9), QStringLiteral("Launch at login: off"));

        state->setPaused(true);
        state->setRateMismatch(true);
        state->setLegacyScriptDetected(true);
        DiagnosticsEnvironment launching = environment();
        launching.launchAtLogin = true;
        lines = report(200, &launching).split(QLatin1Char('\n'));
        QCOMPARE(lines.at(7), QStringLiteral("Auto-sync: paused | Out of sync: yes"));
        QCOMPARE(lines.at(8), QStringLiteral("Old M-1620 Rate Sync detected: yes"));
        QCOMPARE(lines.at(9), QStringLiteral("Launch at login: on"));
        QCOMPARE(lines.at(10), QString());
    }

    void missingVersionValues()
    {
        DiagnosticsEnvironment bare = environment();
        bare.build.clear();
        QCOMPARE(report(200, &bare).split(QLatin1Char('\n')).at(1), QStringLiteral("App: 1.2 (?)"));
        bare.version.clear();
        QCOMPARE(report(200, &bare).split(QLatin1Char('\n')).at(1), QStringLiteral("App: ? (?)"));
    }

    void noLogYet()
    {
        const QString text = report();
        QVERIFY(!text.endsWith(QLatin1Char('\n')));
        const QStringList lines = text.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 13);
        QCOMPARE(lines.at(11), QStringLiteral("--- last 200 log lines ---"));
        QCOMPARE(lines.at(12), QStringLiteral("(no log yet)"));
    }

    void emptyLog()
    {
        writeFile(logPath(), QByteArray());
        const QString text = report();
        QVERIFY(text.endsWith(QStringLiteral("--- last 200 log lines ---\n")));
        QCOMPARE(text.split(QLatin1Char('\n')).size(), 13);
        QCOMPARE(DiagnosticsReport::logTail(logPath(), 200), QString());
    }

    void threeLineLog()
    {
        writeFile(logPath(), logOfLines(3));
        const QString tail = DiagnosticsReport::logTail(logPath(), 200);
        QCOMPARE(tail, QString::fromUtf8(logOfLines(3)).chopped(1));
        QVERIFY(report().endsWith(tail));
    }

    void fiveHundredLineLog()
    {
        writeFile(logPath(), logOfLines(500));
        const QStringList tail = DiagnosticsReport::logTail(logPath(), 200).split(QLatin1Char('\n'));
        QCOMPARE(tail.size(), 200);
        QCOMPARE(tail.first(), QStringLiteral("[2025-01-05 15:04:00] [INFO] line 301"));
        QCOMPARE(tail.last(), QStringLiteral("[2025-01-05 15:04:00] [INFO] line 500"));
        const QStringList lines = reportLines();
        QCOMPARE(lines.size(), 12 + 200);
        QCOMPARE(lines.at(11), QStringLiteral("--- last 200 log lines ---"));
        QCOMPARE(lines.at(12), tail.first());
        QCOMPARE(reportLines(5).at(11), QStringLiteral("--- last 5 log lines ---"));
    }

    void tailEdges_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<qint64>("lines");
        QTest::addColumn<QString>("tail");
        // n + 1 pieces: without the final line feed that is one line more.
        QTest::newRow("no final line feed") << QByteArray("a\nb\nc") << qint64(1) << QStringLiteral("b\nc");
        QTest::newRow("final line feed") << QByteArray("a\nb\nc\n") << qint64(2) << QStringLiteral("b\nc");
        QTest::newRow("exactly n lines") << QByteArray("a\nb\n") << qint64(2) << QStringLiteral("a\nb");
        QTest::newRow("empty lines inside kept")
            << QByteArray("a\n\nb\n") << qint64(3) << QStringLiteral("a\n\nb");
        QTest::newRow("empty line at the start trimmed")
            << QByteArray("a\n\nb\n") << qint64(2) << QStringLiteral("b");
        QTest::newRow("zero lines") << QByteArray("a\nb\n") << qint64(0) << QString();
        QTest::newRow("negative count") << QByteArray("a\nb\n") << qint64(-7) << QString();
        QTest::newRow("huge count") << QByteArray("a\nb\n") << std::numeric_limits<qint64>::max()
                                    << QStringLiteral("a\nb");
        QTest::newRow("carriage returns trimmed at the ends only")
            << QByteArray("\r\na\r\nb\r\n") << qint64(5) << QStringLiteral("a\r\nb");
        QTest::newRow("unicode line breaks trimmed") << QByteArray("\xe2\x80\xa8"
                                                                   "a\n"
                                                                   "b\xe2\x80\xa9\xc2\x85\x0b\x0c\n")
                                                     << qint64(5) << QStringLiteral("a\nb");
        QTest::newRow("blanks are not line breaks")
            << QByteArray("  a \n") << qint64(5) << QStringLiteral("  a ");
        QTest::newRow("text in other scripts")
            << QByteArray("Größe 48 kHz → 96 kHz\n") << qint64(1) << QStringLiteral("Größe 48 kHz → 96 kHz");
    }

    void tailEdges()
    {
        QFETCH(QByteArray, content);
        QFETCH(qint64, lines);
        QFETCH(QString, tail);
        writeFile(logPath(), content);
        QCOMPARE(DiagnosticsReport::logTail(logPath(), lines), tail);
    }

    void unreadableLogs_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("invalid byte") << QByteArray("line 1\n\xff line 2\n");
        QTest::newRow("cut-off sequence at the end") << QByteArray("line 1\n\xe2\x80");
        QTest::newRow("overlong encoding") << QByteArray("\xc0\xaf\n");
    }

    void unreadableLogs()
    {
        QFETCH(QByteArray, content);
        writeFile(logPath(), content);
        QCOMPARE(DiagnosticsReport::logTail(logPath(), 200), QStringLiteral("(no log yet)"));
    }

    void folderInsteadOfLog()
    {
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("folder")));
        QCOMPARE(DiagnosticsReport::logTail(dir.filePath(QStringLiteral("folder")), 200),
                 QStringLiteral("(no log yet)"));
    }

    void machineDescription()
    {
        const QString dmi = dir.filePath(QStringLiteral("product_name"));
        const QString tree = dir.filePath(QStringLiteral("model"));
        const QString none = dir.filePath(QStringLiteral("missing"));

        writeFile(dmi, "ThinkPad T14 Gen 3\n");
        writeFile(tree, QByteArray("Raspberry Pi 4 Model B Rev 1.4\0", 31));
        QCOMPARE(DiagnosticsReport::machineDescription(dmi, tree, QStringLiteral("x86_64")),
                 QStringLiteral("ThinkPad T14 Gen 3, x86_64"));
        QCOMPARE(DiagnosticsReport::machineDescription(none, tree, QStringLiteral("arm64")),
                 QStringLiteral("Raspberry Pi 4 Model B Rev 1.4, arm64"));
        writeFile(dmi, "\n");
        QCOMPARE(DiagnosticsReport::machineDescription(dmi, tree, QStringLiteral("arm64")),
                 QStringLiteral("Raspberry Pi 4 Model B Rev 1.4, arm64"));
        writeFile(tree, QByteArray("Board\0junk", 10));
        QCOMPARE(DiagnosticsReport::machineDescription(none, tree, QStringLiteral("riscv64")),
                 QStringLiteral("Board, riscv64"));
        QCOMPARE(DiagnosticsReport::machineDescription(none, none, QStringLiteral("x86_64")),
                 QStringLiteral("unknown, x86_64"));

        const QString here = DiagnosticsReport::machineDescription();
        QVERIFY2(here.endsWith(QStringLiteral(", ") + QSysInfo::currentCpuArchitecture()), qPrintable(here));
    }

    void dateAndTimeInTheLocale_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("text");
        QTest::newRow("en_US") << QLocale(QLocale::English, QLocale::UnitedStates)
                               << QStringLiteral("Jan 5, 2025 3:04:05 PM");
        QTest::newRow("en_GB") << QLocale(QLocale::English, QLocale::UnitedKingdom)
                               << QStringLiteral("5 Jan 2025 15:04:05");
        QTest::newRow("de_DE") << QLocale(QLocale::German, QLocale::Germany)
                               << QStringLiteral("5. Jan. 2025 15:04:05");
        QTest::newRow("es_ES") << QLocale(QLocale::Spanish, QLocale::Spain)
                               << QStringLiteral("5 de ene de 2025 15:04:05");
        QTest::newRow("ja_JP") << QLocale(QLocale::Japanese, QLocale::Japan)
                               << QStringLiteral("2025年1月5日 15時04分05秒");
    }

    void dateAndTimeInTheLocale()
    {
        QFETCH(QLocale, locale);
        QFETCH(QString, text);
        const QDateTime moment(QDate(2025, 1, 5), QTime(15, 4, 5));
        QCOMPARE(DiagnosticsReport::dateTimeText(moment, locale), text);
    }

    void firstLine()
    {
        DiagnosticsEnvironment german = environment();
        german.locale = QLocale(QLocale::German, QLocale::Germany);
        QCOMPARE(report(200, &german).section(QLatin1Char('\n'), 0, 0),
                 QStringLiteral("Quorvel diagnostics — 5. Jan. 2025 15:04:05"));
    }

    // The real inputs: this program's version, this system, the log of this (temporary) home.
    void currentEnvironment()
    {
        const DiagnosticsEnvironment current = DiagnosticsEnvironment::current();
        QVERIFY(!current.version.isEmpty());
        QCOMPARE(current.systemName, QSysInfo::prettyProductName());
        QCOMPARE(current.kernelRelease, QSysInfo::kernelVersion());
        QCOMPARE(current.machine, DiagnosticsReport::machineDescription());
        QVERIFY(current.logFile.endsWith(QStringLiteral("/Quorvel/sync.log")));
        const QStringList lines
            = DiagnosticsReport::makeDiagnosticsReport(*state, *settings, 200).split(QLatin1Char('\n'));
        QVERIFY(lines.size() >= 13);
        QCOMPARE(lines.at(2),
                 QStringLiteral("Linux: ") + QSysInfo::prettyProductName() + QStringLiteral(", kernel ")
                     + QSysInfo::kernelVersion());
        QCOMPARE(lines.at(9), QStringLiteral("Launch at login: off"));
    }
};

QTEST_GUILESS_MAIN(TestDiagnosticsReport)
#include "tst_DiagnosticsReport.moc"
