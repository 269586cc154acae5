// The real desktop program on the offscreen platform, in this test's own temporary XDG tree
// (tests/isolated.sh) and, where the machine allows, its own network namespace. It polls a
// closed loopback port: nothing is sent anywhere else.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTest>

#include <csignal>

namespace {

QString binary()
{
    return qEnvironmentVariable("QUORVEL_BIN_DIR") + QStringLiteral("/quorvel");
}

QString logText()
{
    QFile file(qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/Quorvel/sync.log"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class TestDesktopEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFileInfo::exists(binary()), "build the quorvel program first");
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        const QString folder = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Quorvel");
        QVERIFY(QDir().mkpath(folder));
        QFile settings(folder + QStringLiteral("/settings.json"));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write(
            QStringLiteral(R"({"customHost":"127.0.0.1:%1","useCustomHost":true})").arg(port).toUtf8());
    }

    void runsInTheTrayAndASecondStartShowsTheFirst()
    {
        QProcess quorvel;
        quorvel.start(binary(), {});
        QVERIFY(quorvel.waitForStarted());
        QVERIFY2(QTest::qWaitFor([] { return logText().contains(QStringLiteral("] [INFO] Sync starting")); },
                                 15000),
                 qPrintable(logText()));
        QVERIFY(logText().contains(QStringLiteral("] [INFO] Quorvel launched — version ")));

        // A second start hands over to the running one and ends at once.
        QProcess second;
        second.start(binary(), {});
        QVERIFY(second.waitForFinished(15000));
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(second.readAllStandardError(), QByteArray());
        QCOMPARE(quorvel.state(), QProcess::Running);

        // Ends cleanly on SIGTERM, like a session logout.
        ::kill(pid_t(quorvel.processId()), SIGTERM);
        QVERIFY(quorvel.waitForFinished(15000));
        QCOMPARE(quorvel.exitStatus(), QProcess::NormalExit);
        QCOMPARE(quorvel.exitCode(), 0);
    }

    void withoutADisplayItSaysToRunHeadless()
    {
        QProcess quorvel;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        quorvel.setProcessEnvironment(environment);
        quorvel.start(binary(), {});
        QVERIFY(quorvel.waitForFinished(15000));
        QCOMPARE(quorvel.exitCode(), 2);
        QVERIFY(QString::fromUtf8(quorvel.readAllStandardError()).contains(QStringLiteral("--headless")));
    }
};

QTEST_GUILESS_MAIN(TestDesktopEndToEnd)
#include "tst_DesktopEndToEnd.moc"
