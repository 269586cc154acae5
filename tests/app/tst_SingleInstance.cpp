#include "app/SingleInstance.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestSingleInstance : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void secondInstanceIsRefusedAndCanActivateTheFirst()
    {
        QTemporaryDir folder;
        SingleInstance first(folder.path());
        QVERIFY(!first.activateRunning(500)); // nobody to activate yet
        QVERIFY(first.tryAcquire());
        QSignalSpy activations(&first, &SingleInstance::activationRequested);

        SingleInstance second(folder.path());
        QVERIFY(!second.tryAcquire());
        QCOMPARE(second.runningPid(), QCoreApplication::applicationPid());
        // activateRunning blocks until written; the first answers from the event loop.
        QVERIFY(second.activateRunning());
        QVERIFY(activations.wait(5000));
        QCOMPARE(activations.count(), 1);
    }

    void lockOfADeadProcessIsTakenOver()
    {
        QTemporaryDir folder;
        // A lock file naming a process that no longer exists, as a crash would leave it.
        QProcess gone;
        gone.start(QStringLiteral("true"));
        QVERIFY(gone.waitForStarted());
        const qint64 pid = gone.processId();
        QVERIFY(gone.waitForFinished());
        QFile stale(folder.path() + QStringLiteral("/app.quorvel.Quorvel.lock"));
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write(QByteArray::number(pid) + "\nquorvel\n" + QSysInfo::machineHostName().toUtf8() + "\n");
        stale.close();

        SingleInstance instance(folder.path());
        QVERIFY(instance.tryAcquire());
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_SingleInstance.moc"
