#include "platform/JournaldSystemLog.h"

#include <QString>

#include <mutex>

#include <sys/stat.h>
#include <syslog.h>

#ifdef QUORVEL_HAVE_SYSTEMD
// The source location of this file says nothing about the event being logged.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>
#endif

namespace {

bool isSocket(const char *path)
{
    struct stat info = {};
    return ::stat(path, &info) == 0 && S_ISSOCK(info.st_mode);
}

} // namespace

JournaldSystemLog::Backend JournaldSystemLog::detectBackend()
{
#ifdef QUORVEL_HAVE_SYSTEMD
    if (isSocket(journalSocketPath))
        return Backend::Journal;
#endif
    return isSocket(syslogSocketPath) ? Backend::Syslog : Backend::None;
}

JournaldSystemLog::Backend JournaldSystemLog::backend()
{
    // Two stat() calls per line would cost more than the send itself on a busy machine.
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    const auto checkedAt = m_checkedAt.load(std::memory_order_relaxed);
    if (checkedAt != 0 && now - checkedAt < std::chrono::steady_clock::duration(recheckInterval).count())
        return m_backend.load(std::memory_order_relaxed);
    const Backend found = detectBackend();
    m_backend.store(found, std::memory_order_relaxed);
    m_checkedAt.store(now, std::memory_order_relaxed);
    return found;
}

int JournaldSystemLog::syslogPriority(Priority priority)
{
    return priority == Priority::Info ? LOG_INFO : LOG_ERR;
}

void JournaldSystemLog::write(Priority priority, const QString &message)
{
    const Backend target = backend();
    if (target == Backend::None)
        return; // nobody would receive it; syslog(3) would only retry its connect every time
    const int level = syslogPriority(priority);
    const QByteArray text = message.toUtf8();
    if (target == Backend::Journal) {
        if (sendToJournal(level, text))
            return;
        // journald stopped and left its socket behind: this line goes to syslog if it is
        // there, and the next one looks at the sockets again.
        m_checkedAt.store(0, std::memory_order_relaxed);
        if (!isSocket(syslogSocketPath))
            return;
    }
    sendToSyslog(level, text);
}

bool JournaldSystemLog::sendToJournal(int priority, const QByteArray &message)
{
#ifdef QUORVEL_HAVE_SYSTEMD
    // Note: sd_journal_send() reports success when the socket is missing altogether; the
    // periodic look at the sockets catches that case.
    return sd_journal_send("MESSAGE=%s", message.constData(), "PRIORITY=%i", priority, "SYSLOG_IDENTIFIER=%s",
                           identifier, "QUORVEL_SUBSYSTEM=%s", subsystem, "QUORVEL_CATEGORY=%s", category,
                           nullptr)
        >= 0;
#else
    Q_UNUSED(priority)
    Q_UNUSED(message)
    return false;
#endif
}

void JournaldSystemLog::sendToSyslog(int priority, const QByteArray &message)
{
    // openlog() sets process-wide state; closelog() would drop the identifier for everyone,
    // so it is opened once and left open.
    static std::once_flag opened;
    std::call_once(opened, [] { openlog(identifier, LOG_PID, LOG_USER); });
    syslog(priority, "%s", message.constData());
}
