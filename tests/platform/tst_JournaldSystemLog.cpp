#include "platform/JournaldSystemLog.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QTest>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

// A datagram socket bound at a path, standing in for journald or the syslog daemon.
class FakeLogSocket
{
public:
    explicit FakeLogSocket(const char *path)
        : m_path(path)
    {
        ::unlink(path);
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path, sizeof(address.sun_path) - 1);
        if (::bind(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) != 0) {
            ::close(m_fd);
            m_fd = -1;
            return;
        }
        const timeval timeout {5, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    }
    ~FakeLogSocket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        ::unlink(m_path);
    }
    FakeLogSocket(const FakeLogSocket &) = delete;
    FakeLogSocket &operator=(const FakeLogSocket &) = delete;

    bool isValid() const { return m_fd >= 0; }

    void closeKeepingPath()
    {
        ::close(m_fd);
        m_fd = -1;
    }

    // One datagram, or empty after five seconds.
    QByteArray receive() const
    {
        QByteArray buffer(1 << 16, Qt::Uninitialized);
        const ssize_t size = ::recv(m_fd, buffer.data(), size_t(buffer.size()), 0);
        return size < 0 ? QByteArray() : buffer.left(size);
    }

private:
    const char *m_path;
    int m_fd = -1;
};

// journald's native protocol: "KEY=value\n", or "KEY\n" + 64-bit little-endian length +
// value + "\n" for values that hold a line feed.
QMap<QByteArray, QByteArray> journalFields(const QByteArray &datagram)
{
    QMap<QByteArray, QByteArray> fields;
    qsizetype at = 0;
    while (at < datagram.size()) {
        const qsizetype lineEnd = datagram.indexOf('\n', at);
        if (lineEnd < 0)
            break;
        const qsizetype equals = datagram.indexOf('=', at);
        if (equals >= 0 && equals < lineEnd) {
            fields.insert(datagram.mid(at, equals - at), datagram.mid(equals + 1, lineEnd - equals - 1));
            at = lineEnd + 1;
            continue;
        }
        quint64 length = 0;
        for (int i = 7; i >= 0; --i)
            length = (length << 8) | quint8(datagram.at(lineEnd + 1 + i));
        fields.insert(datagram.mid(at, lineEnd - at), datagram.mid(lineEnd + 9, qsizetype(length)));
        at = lineEnd + 9 + qsizetype(length) + 1;
    }
    return fields;
}

QString errorText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

class TestJournaldSystemLog : public QObject
{
    Q_OBJECT

private:
    // Empty when this thread runs in a private mount namespace with its own /run and /dev.
    QString m_noNamespace;

    bool inNamespace() { return m_noNamespace.isEmpty(); }

private Q_SLOTS:
    void initTestCase()
    {
        // The real journal and syslog are never touched: a private mount namespace (this
        // thread only) gets an empty /run and /dev in which fake sockets stand at the
        // well-known paths.
        if (::geteuid() != 0) {
            m_noNamespace = QStringLiteral("needs root to fake the journal in a private mount namespace");
            return;
        }
        if (::unshare(CLONE_NEWNS) != 0) {
            m_noNamespace = QStringLiteral("no private mount namespace: ") + errorText();
            return;
        }
        // Without this, the mounts below would show in the machine's own namespace.
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            m_noNamespace = QStringLiteral("cannot make mounts private: ") + errorText();
            return;
        }
        for (const char *folder : {"/run", "/dev"}) {
            if (::mount("tmpfs", folder, "tmpfs", 0, "mode=0755") != 0) {
                m_noNamespace
                    = QStringLiteral("cannot mount a private %1: ").arg(QLatin1String(folder)) + errorText();
                return;
            }
        }
        QVERIFY(QDir().mkpath(QStringLiteral("/run/systemd/journal")));
    }

    void prioritiesMatchTheLevels()
    {
        QCOMPARE(JournaldSystemLog::syslogPriority(SystemLog::Priority::Info), 6);
        QCOMPARE(JournaldSystemLog::syslogPriority(SystemLog::Priority::Error), 3);
    }

    void withNeitherLogThereIsNothingToSend()
    {
        if (!inNamespace())
            QSKIP(qPrintable(m_noNamespace));
        QCOMPARE(JournaldSystemLog::detectBackend(), JournaldSystemLog::Backend::None);
        JournaldSystemLog systemLog;
        QCOMPARE(systemLog.backend(), JournaldSystemLog::Backend::None);
        systemLog.write(SystemLog::Priority::Error, QStringLiteral("into the void"));
    }

    void journalGetsTheMessageWithQuorvelsFields_data()
    {
        QTest::addColumn<SystemLog::Priority>("priority");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("expectedPriority");
        QTest::newRow("info") << SystemLog::Priority::Info << QStringLiteral("Launched Quorvel")
                              << QByteArray("6");
        QTest::newRow("error, two lines and format characters")
            << SystemLog::Priority::Error << QStringLiteral("Lost device\n100% %s %n → gone")
            << QByteArray("3");
    }

    void journalGetsTheMessageWithQuorvelsFields()
    {
#ifndef QUORVEL_HAVE_SYSTEMD
        QSKIP("built without libsystemd");
#endif
        if (!inNamespace())
            QSKIP(qPrintable(m_noNamespace));
        QFETCH(SystemLog::Priority, priority);
        QFETCH(QString, message);
        QFETCH(QByteArray, expectedPriority);

        FakeLogSocket syslogDaemon(JournaldSystemLog::syslogSocketPath);
        FakeLogSocket journal(JournaldSystemLog::journalSocketPath);
        QVERIFY(journal.isValid());
        JournaldSystemLog systemLog;
        QCOMPARE(systemLog.backend(), JournaldSystemLog::Backend::Journal);
        systemLog.write(priority, message);

        const QMap<QByteArray, QByteArray> fields = journalFields(journal.receive());
        QCOMPARE(fields.value("MESSAGE"), message.toUtf8());
        QCOMPARE(fields.value("PRIORITY"), expectedPriority);
        QCOMPARE(fields.value("SYSLOG_IDENTIFIER"), QByteArray("quorvel"));
        QCOMPARE(fields.value("QUORVEL_SUBSYSTEM"), QByteArray("app.quorvel"));
        QCOMPARE(fields.value("QUORVEL_CATEGORY"), QByteArray("sync"));
        QVERIFY(!fields.contains("CODE_FILE"));
    }

    void syslogWhenThereIsNoJournal()
    {
        if (!inNamespace())
            QSKIP(qPrintable(m_noNamespace));
        FakeLogSocket syslogDaemon(JournaldSystemLog::syslogSocketPath);
        QVERIFY(syslogDaemon.isValid());
        JournaldSystemLog systemLog;
        QCOMPARE(systemLog.backend(), JournaldSystemLog::Backend::Syslog);
        systemLog.write(SystemLog::Priority::Info, QStringLiteral("plain 100% %s"));
        const QByteArray datagram = syslogDaemon.receive();
        QVERIFY2(datagram.startsWith("<14>"), datagram.constData()); // user facility, info
        QVERIFY2(datagram.endsWith(QByteArray(syslogTag() + "plain 100% %s")), datagram.constData());
        systemLog.write(SystemLog::Priority::Error, QStringLiteral("bad"));
        QVERIFY(syslogDaemon.receive().startsWith("<11>")); // user facility, err
    }

    void syslogTakesOverFromAJournalThatStops()
    {
#ifndef QUORVEL_HAVE_SYSTEMD
        QSKIP("built without libsystemd");
#endif
        if (!inNamespace())
            QSKIP(qPrintable(m_noNamespace));
        FakeLogSocket syslogDaemon(JournaldSystemLog::syslogSocketPath);
        JournaldSystemLog systemLog;
        {
            // Stopped, its socket left behind: the send fails and the line goes to syslog.
            FakeLogSocket journal(JournaldSystemLog::journalSocketPath);
            QCOMPARE(systemLog.backend(), JournaldSystemLog::Backend::Journal);
            journal.closeKeepingPath();
            systemLog.write(SystemLog::Priority::Error, QStringLiteral("journal stopped"));
            QVERIFY(syslogDaemon.receive().endsWith(QByteArray(syslogTag() + "journal stopped")));
        }
        {
            // Gone altogether: noticed at the next look at the sockets.
            FakeLogSocket journal(JournaldSystemLog::journalSocketPath);
            systemLog.write(SystemLog::Priority::Info, QStringLiteral("to the journal"));
            QCOMPARE(journalFields(journal.receive()).value("MESSAGE"), QByteArray("to the journal"));
        }
        QVERIFY(!QFile::exists(QString::fromLatin1(JournaldSystemLog::journalSocketPath)));
        std::this_thread::sleep_for(JournaldSystemLog::recheckInterval + std::chrono::milliseconds(200));
        systemLog.write(SystemLog::Priority::Error, QStringLiteral("journal gone"));
        QVERIFY(syslogDaemon.receive().endsWith(QByteArray(syslogTag() + "journal gone")));
    }

private:
    static QByteArray syslogTag()
    {
        return QByteArray("quorvel[") + QByteArray::number(::getpid()) + "]: ";
    }
};

QTEST_GUILESS_MAIN(TestJournaldSystemLog)
#include "tst_JournaldSystemLog.moc"
