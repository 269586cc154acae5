#include "SimConnection.h"

#include <QTcpSocket>

#include <sys/socket.h>

namespace {
constexpr qsizetype chunkBytes = 256 * 1024;

// Pads a JSON object to `size` bytes with a member that readers ignore.
QByteArray padObject(const QByteArray &object, qint64 size)
{
    const QByteArray prefix = "{\"padding\":\"";
    const QByteArray rest = object.size() > 2 ? "\"," + object.mid(1) : QByteArray("\"}");
    const qint64 fill = size - prefix.size() - rest.size();
    return prefix + QByteArray(std::max<qint64>(fill, 0), 'x') + rest;
}
} // namespace

SimConnection::SimConnection(QTcpSocket *socket, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
{
    m_socket->setParent(this);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(m_socket, &QTcpSocket::readyRead, this, [this] {
        m_parser.append(m_socket->readAll());
        processNext();
    });
    connect(m_socket, &QTcpSocket::bytesWritten, this, [this] {
        if (!m_trickle)
            pump();
    });
    connect(m_socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
}

void SimConnection::processNext()
{
    if (m_busy || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    HttpRequest request;
    switch (m_parser.next(request)) {
    case HttpRequestParser::Result::NeedMore:
        return;
    case HttpRequestParser::Result::Invalid: {
        m_busy = true;
        const int status = m_parser.errorStatus();
        Q_EMIT invalidRequest(status);
        respond({status, "application/json", "{\"error\":\"" + HttpResponse::reason(status) + "\"}"}, {},
                false);
        return;
    }
    case HttpRequestParser::Result::Complete:
        m_busy = true;
        Q_EMIT requestReceived(request);
        return;
    }
}

void SimConnection::respond(HttpResponse response, const SimFault &fault, bool keepAlive)
{
    using Mode = SimFault::Mode;
    switch (fault.active() ? fault.mode : Mode::None) {
    case Mode::Status:
        response.status = int(fault.value);
        // These codes carry no body by definition; sending one would corrupt the stream.
        if (response.status == 204 || response.status == 304)
            response.body.clear();
        break;
    case Mode::Empty:
        response.body.clear();
        break;
    case Mode::NotJson:
        response.contentType = "text/html";
        response.body = "<html><body>M-1620</body></html>";
        break;
    case Mode::Array:
        response.body = '[' + response.body + ']';
        break;
    case Mode::Huge:
        response.body = padObject(response.body, std::min(fault.value, maxHugeBytes));
        break;
    case Mode::Hang:
        return;
    case Mode::HangHeaders: {
        const QByteArray head = response.head(keepAlive);
        m_socket->write(head.left(head.indexOf("Content-Length") + 9));
        return;
    }
    case Mode::CloseMidBody:
        send(response.head(keepAlive) + response.body.left(response.body.size() / 2), true);
        return;
    case Mode::Garbage:
        send(QByteArrayLiteral("\x16\x03\x01\x00 garbage, not HTTP \xff\xfe\r\n\r\n"), true);
        return;
    case Mode::Reset:
    case Mode::Reboot:
        resetConnection();
        return;
    case Mode::Delay: {
        const QByteArray bytes = response.head(keepAlive) + response.body;
        m_timer.setSingleShot(true);
        m_timer.disconnect();
        connect(&m_timer, &QTimer::timeout, this, [this, bytes, keepAlive] { send(bytes, !keepAlive); });
        m_timer.start(int(fault.value));
        return;
    }
    case Mode::Trickle:
        m_trickle = true;
        m_timer.setSingleShot(false);
        m_timer.disconnect();
        connect(&m_timer, &QTimer::timeout, this, &SimConnection::pump);
        m_timer.start(1000);
        break;
    case Mode::None:
        break;
    }
    send(response.head(keepAlive) + response.body, !keepAlive);
}

void SimConnection::send(const QByteArray &bytes, bool closeAfter)
{
    m_out = bytes;
    m_outPos = 0;
    m_closeAfter = closeAfter;
    pump();
}

// Writes the pending answer in pieces so a huge body never sits twice in memory; a trickle
// writes one byte per timer tick.
void SimConnection::pump()
{
    if (m_out.isEmpty() && m_outPos == 0)
        return;
    const qsizetype limit = m_trickle ? 1 : chunkBytes;
    while (m_outPos < m_out.size() && m_socket->bytesToWrite() < chunkBytes) {
        const qsizetype n = std::min(limit, m_out.size() - m_outPos);
        m_socket->write(m_out.constData() + m_outPos, n);
        m_outPos += n;
        if (m_trickle)
            break;
    }
    if (m_outPos < m_out.size())
        return;
    m_out.clear();
    m_outPos = 0;
    m_trickle = false;
    m_timer.stop();
    if (m_closeAfter) {
        m_socket->disconnectFromHost();
        return;
    }
    m_busy = false;
    QMetaObject::invokeMethod(this, &SimConnection::processNext, Qt::QueuedConnection);
}

void SimConnection::resetConnection()
{
    // A zero linger time makes close() send a RST instead of a FIN.
    const ::linger hard {1, 0};
    ::setsockopt(int(m_socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    m_socket->abort();
    deleteLater();
}
