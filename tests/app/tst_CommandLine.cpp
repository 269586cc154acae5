#include "app/CommandLine.h"

#include <QTest>

class TestCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void modes_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("host");
        using M = CommandLine::Mode;
        QTest::newRow("none") << QStringList {} << int(M::Desktop) << QString();
        QTest::newRow("headless") << QStringList {"--headless"} << int(M::Headless) << QString();
        QTest::newRow("test") << QStringList {"--test-connection", "m1620.local"} << int(M::TestConnection)
                              << "m1620.local";
        QTest::newRow("test=") << QStringList {"--test-connection=10.0.0.9:81"} << int(M::TestConnection)
                               << "10.0.0.9:81";
        QTest::newRow("blank host kept")
            << QStringList {"--test-connection", " "} << int(M::TestConnection) << " ";
        QTest::newRow("status json") << QStringList {"status", "--json"} << int(M::Status) << QString();
        QTest::newRow("json alone") << QStringList {"--json"} << int(M::Invalid) << QString();
        QTest::newRow("pause") << QStringList {"pause"} << int(M::Pause) << QString();
        QTest::newRow("resume") << QStringList {"resume"} << int(M::Resume) << QString();
        QTest::newRow("help") << QStringList {"-h"} << int(M::Help) << QString();
        QTest::newRow("missing host") << QStringList {"--test-connection"} << int(M::Invalid) << QString();
        QTest::newRow("unknown") << QStringList {"--frob"} << int(M::Invalid) << QString();
        QTest::newRow("two modes") << QStringList {"--headless", "--version"} << int(M::Invalid) << QString();
        QTest::newRow("stray word") << QStringList {"headless"} << int(M::Invalid) << QString();
    }

    void modes()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, mode);
        QFETCH(QString, host);
        const CommandLine line = CommandLine::parse(QStringList {"quorvel"} + arguments);
        QCOMPARE(int(line.mode), mode);
        QCOMPARE(line.host, host);
        QCOMPARE(line.json,
                 arguments.contains(QStringLiteral("--json")) && line.mode == CommandLine::Mode::Status);
        QCOMPARE(line.error.isEmpty(), line.mode != CommandLine::Mode::Invalid);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_CommandLine.moc"
