#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;

// One Quorvel per user: two engines would fight over the device and interleave the log.
// The first instance holds a lock file and listens on a local socket beside it; a later
// start can ask it to show itself.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // The folder for the lock and the socket: $XDG_RUNTIME_DIR, or Qt's per-user fallback.
    explicit SingleInstance(const QString &folder = defaultFolder(), QObject *parent = nullptr);
    ~SingleInstance() override;

    static QString defaultFolder();

    // True when this process is now the one instance and listens for activation requests.
    bool tryAcquire();
    // Asks the running instance to show itself. False when none answered.
    bool activateRunning(int timeoutMs = 2000);
    // The pid holding the lock, or 0 when unknown.
    qint64 runningPid() const;

Q_SIGNALS:
    // A later start asked this instance to show itself.
    void activationRequested();

private:
    QString m_lockPath;
    QString m_socketName;
    QLockFile m_lock;
    std::unique_ptr<QLocalServer> m_server;
};
