#include "platform/JournaldSystemLog.h"

#include <QDir>
#include <QTest>

#include <cstring>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using Backend = JournaldSystemLog::Backend;
using Priority = SystemLog::Priority;

namespace {

// A datagram socket at a path, standing in for journald or the syslog daemon.
struct FakeLogSocket
{
    const char *path;
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);

    explicit FakeLogSocket(const char *at)
        : path(at)
    {
        sockaddr_un address {AF_UNIX, {}};
        std::strncpy(address.sun_path, path, sizeof(address.sun_path) - 1);
        ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address));
    }
    ~FakeLogSocket()
    {
        stopKeepingPath();
        ::unlink(path);
    }
    void stopKeepingPath() { ::close(std::exchange(fd, -1)); }

    // One datagram; empty when none came in time.
    QByteArray receive(int waitMs = 5000) const
    {
        pollfd ready {fd, POLLIN, 0};
        QByteArray buffer(1 << 16, Qt::Uninitialized);
        const ssize_t size = ::poll(&ready, 1, waitMs) == 1 ? ::recv(fd, buffer.data(), 1 << 16, 0) : -1;
        return size < 0 ? QByteArray() : buffer.left(size);
    }
};

} // namespace

class TestJournaldSystemLog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // The real logs are never touched: this thread's own mount namespace gets an empty
        // /run and /dev for the fake sockets, its mounts kept private to it.
        if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0
            || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || ::mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0
            || ::mount("tmpfs", "/dev", "tmpfs", 0, "mode=0755") != 0)
            QSKIP("needs root and a private mount namespace to fake the system log");
        QVERIFY(QDir().mkpath(QStringLiteral("/run/systemd/journal")));
        QCOMPARE(JournaldSystemLog::detectBackend(), Backend::None);
        JournaldSystemLog().write(Priority::Error, QStringLiteral("into the void"));
    }

    // The text is never a format; the line goes to the journal alone while it takes lines, and
    // to syslog once it stops.
    void journalGetsTheMessageWithQuorvelsFields()
    {
#ifndef QUORVEL_HAVE_SYSTEMD
        QSKIP("built without libsystemd");
#endif
        FakeLogSocket syslogDaemon(JournaldSystemLog::syslogSocketPath);
        FakeLogSocket journal(JournaldSystemLog::journalSocketPath);
        JournaldSystemLog systemLog;
        QCOMPARE(systemLog.backend(), Backend::Journal);
        for (const auto &[priority, field] : {std::pair {Priority::Info, "6"}, {Priority::Error, "3"}}) {
            systemLog.write(priority, QStringLiteral("Lost 100% %s %n → gone"));
            const QByteArray datagram = QByteArray('\n' + journal.receive());
            for (const QByteArray &line : QByteArrayList {
                     "MESSAGE=Lost 100% %s %n → gone", "PRIORITY=" + QByteArray(field),
                     "SYSLOG_IDENTIFIER=quorvel", "QUORVEL_SUBSYSTEM=app.quorvel", "QUORVEL_CATEGORY=sync"})
                QVERIFY2(datagram.contains(QByteArray('\n' + line + '\n')), datagram.constData());
        }
        QCOMPARE(syslogDaemon.receive(100), QByteArray());
        // Stopped, its socket left behind: the send fails and the line goes to syslog.
        journal.stopKeepingPath();
        systemLog.write(Priority::Error, QStringLiteral("journal stopped"));
        const QByteArray datagram = syslogDaemon.receive(); // user facility, err
        QVERIFY2(datagram.startsWith("<11>")
                     && datagram.endsWith(
                         QByteArray("quorvel[" + QByteArray::number(::getpid()) + "]: journal stopped")),
                 datagram.constData());
    }
};

QTEST_GUILESS_MAIN(TestJournaldSystemLog)
#include "tst_JournaldSystemLog.moc"
