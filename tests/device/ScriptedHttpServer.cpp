#include "ScriptedHttpServer.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

namespace {

// Per-connection read state, kept on the socket so that the server needs no map.
constexpr const char *bufferProperty = "scriptedBuffer";
constexpr const char *connectionProperty = "scriptedConnection";

// A full request (head and Content-Length body) at the front of buffer, or nothing yet.
std::optional<ReceivedRequest> takeRequest(QByteArray &buffer)
{
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return std::nullopt;
    ReceivedRequest request;
    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.append({lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
    }
    const qsizetype length = request.header("Content-Length").toLongLong();
    if (buffer.size() < headEnd + 4 + length)
        return std::nullopt;
    request.raw = buffer.left(headEnd + 4 + length);
    buffer.remove(0, headEnd + 4 + length);
    return request;
}

// Writes the bytes, one every intervalMs when it is > 0, then ends the connection as asked.
void send(QPointer<QTcpSocket> socket, QByteArray bytes, int intervalMs, const ScriptedAnswer &answer)
{
    if (!socket)
        return;
    if (intervalMs > 0 && !bytes.isEmpty()) {
        socket->write(bytes.first(1));
        QTimer::singleShot(intervalMs, Qt::PreciseTimer, socket,
                           [=] { send(socket, bytes.mid(1), intervalMs, answer); });
        return;
    }
    socket->write(bytes);
    socket->flush();
    if (answer.reset) {
        const linger abortive {1, 0}; // close() sends a RST, not a FIN
        ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        socket->abort();
    } else if (answer.closeAfter) {
        socket->disconnectFromHost();
    }
}

} // namespace

ScriptedAnswer ScriptedAnswer::http(int status, const QByteArray &body, const QByteArray &contentType,
                                    const QList<QByteArray> &extraHeaders)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + " Scripted\r\n";
    if (!contentType.isEmpty())
        head += "Content-Type: " + contentType + "\r\n";
    for (const QByteArray &line : extraHeaders)
        head += line + "\r\n";
    head += "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n";
    ScriptedAnswer answer;
    answer.bytes = head + body;
    return answer;
}

ScriptedAnswer ScriptedAnswer::keepAlive(int status, const QByteArray &body,
                                         const QList<QByteArray> &extraHeaders)
{
    ScriptedAnswer answer = http(status, body, QByteArrayLiteral("application/json"), extraHeaders);
    answer.bytes.replace("Connection: close\r\n", "");
    answer.closeAfter = false;
    return answer;
}

QByteArray ReceivedRequest::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

ScriptedHttpServer::ScriptedHttpServer(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &ScriptedHttpServer::accept);
}

ScriptedHttpServer::~ScriptedHttpServer() = default;

bool ScriptedHttpServer::listen(const QHostAddress &address, quint16 port)
{
    return m_server.listen(address, port);
}

QString ScriptedHttpServer::hostText() const
{
    const QHostAddress address = m_server.serverAddress();
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
        ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
        : address.toString();
    return host + QLatin1Char(':') + QString::number(port());
}

void ScriptedHttpServer::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        ++m_connections;
        ++m_open;
        socket->setParent(this);
        socket->setProperty(connectionProperty, m_connections);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            --m_open;
            socket->deleteLater();
        });
    }
}

void ScriptedHttpServer::readFrom(QTcpSocket *socket)
{
    QByteArray buffer = socket->property(bufferProperty).toByteArray() + socket->readAll();
    while (std::optional<ReceivedRequest> request = takeRequest(buffer)) {
        request->connection = socket->property(connectionProperty).toInt();
        m_requests.append(*request);
        respond(socket);
    }
    socket->setProperty(bufferProperty, buffer);
}

void ScriptedHttpServer::respond(QTcpSocket *socket)
{
    const ScriptedAnswer answer = m_next.isEmpty() ? m_answer : m_next.takeFirst();
    if (answer.hang)
        return;
    const QPointer<QTcpSocket> guarded(socket);
    QTimer::singleShot(answer.delayMs, Qt::PreciseTimer, socket, [guarded, answer] {
        const qsizetype atOnce = answer.trickleMs > 0 ? answer.trickleAfter : answer.bytes.size();
        if (guarded)
            guarded->write(answer.bytes.first(atOnce));
        send(guarded, answer.bytes.mid(atOnce), answer.trickleMs, answer);
    });
}
