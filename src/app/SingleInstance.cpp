#include "app/SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

namespace {
const QByteArray activateMessage = QByteArrayLiteral("activate\n");
}

SingleInstance::SingleInstance(const QString &folder, QObject *parent)
    : QObject(parent)
    , m_lockPath(folder + QStringLiteral("/app.quorvel.Quorvel.lock"))
    , m_socketName(folder + QStringLiteral("/app.quorvel.Quorvel.socket"))
    , m_lock(m_lockPath)
{
    // A stale lock is one whose process is gone; QLockFile checks the pid, never the age.
    m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    QDir().mkpath(folder);
    return folder;
}

bool SingleInstance::tryAcquire()
{
    if (!m_lock.tryLock(0))
        return false;
    // The lock is ours, so any socket file left at this path belongs to a dead instance.
    QLocalServer::removeServer(m_socketName);
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_socketName))
        return true; // still the one instance; it only cannot be activated from outside
    connect(m_server.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->canReadLine() && socket->readLine() == activateMessage)
                    Q_EMIT activationRequested();
                socket->disconnectFromServer();
            });
        }
    });
    return true;
}

bool SingleInstance::activateRunning(int timeoutMs)
{
    // Runs before the event loop of a process that is about to exit, so blocking is fine.
    QLocalSocket socket;
    socket.connectToServer(m_socketName);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(activateMessage);
    return socket.waitForBytesWritten(timeoutMs);
}

qint64 SingleInstance::runningPid() const
{
    qint64 pid = 0;
    QString host, app;
    return m_lock.getLockInfo(&pid, &host, &app) ? pid : 0;
}
