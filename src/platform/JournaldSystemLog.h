#pragma once

#include "platform/SystemLog.h"

#include <QByteArray>

#include <atomic>
#include <chrono>

// The system log on Linux: journald with Quorvel's own fields, or syslog(3) where no journal
// runs (containers, non-systemd desktops). Nothing it does ever fails towards the caller.
class JournaldSystemLog : public SystemLog
{
public:
    enum class Backend { Journal, Syslog, None };

    static constexpr const char *journalSocketPath = "/run/systemd/journal/socket";
    static constexpr const char *syslogSocketPath = "/dev/log";
    static constexpr const char *identifier = "quorvel";
    static constexpr const char *subsystem = "app.quorvel";
    static constexpr const char *category = "sync";
    // How long a look at the sockets stays good; journald may stop or start meanwhile.
    static constexpr std::chrono::milliseconds recheckInterval {1000};

    // What is there right now: the journal when its socket is, else syslog when its socket
    // is, else nothing that would receive a line.
    static Backend detectBackend();

    // Where the next line goes: detectBackend(), looked up again after recheckInterval and
    // right after a send that failed.
    Backend backend();

    // INFO at LOG_INFO, WARN and ERROR at LOG_ERR.
    static int syslogPriority(Priority priority);

    void write(Priority priority, const QString &message) override;

private:
    static bool sendToJournal(int priority, const QByteArray &message);
    static void sendToSyslog(int priority, const QByteArray &message);

    std::atomic<Backend> m_backend {Backend::None};
    std::atomic<std::chrono::steady_clock::rep> m_checkedAt {0}; // 0: never looked
};
