#include "device/HttpExchange.h"

#include <QNetworkProxy>
#include <QTcpSocket>

#include <utility>

namespace {

// Whole milliseconds left, rounded up: a precise timer then never fires before the deadline.
int remainingMs(const QDeadlineTimer &deadline)
{
    const qint64 ns = deadline.remainingTimeNSecs();
    return ns <= 0 ? 0 : int((ns + 999'999) / 1'000'000);
}

} // namespace

QByteArray HttpExchange::postRequest(QByteArrayView target, QByteArrayView authority,
                                     QByteArrayView contentType, QByteArrayView body)
{
    QByteArray request;
    request.reserve(160 + target.size() + authority.size() + body.size());
    request.append("POST ").append(target).append(" HTTP/1.1\r\nHost: ").append(authority);
    request.append("\r\nContent-Type: ").append(contentType);
    request.append("\r\nContent-Length: ").append(QByteArray::number(body.size()));
    request.append("\r\nConnection: keep-alive\r\n\r\n").append(body);
    return request;
}

HttpExchange::HttpExchange(Connection connection, const QString &host, quint16 port, QByteArray request,
                           QDeadlineTimer deadline, qint64 maxBodyBytes, QObject *parent)
    : QObject(parent)
    , m_socket(std::move(connection))
    , m_reused(m_socket && m_socket->state() == QAbstractSocket::ConnectedState)
    , m_host(host)
    , m_port(port)
    , m_request(std::move(request))
    , m_deadline(deadline)
    , m_parser(maxBodyBytes)
{
    if (!m_reused) {
        m_socket.reset(new QTcpSocket);
        // Only the device is ever contacted, never a proxy configured for the application.
        m_socket->setProxy(QNetworkProxy::NoProxy);
    }
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { end(Outcome::End::TimedOut); });
}

HttpExchange::~HttpExchange() = default;

void HttpExchange::start()
{
    QTcpSocket *const socket = m_socket.get();
    connect(socket, &QTcpSocket::connected, this, &HttpExchange::send);
    connect(socket, &QTcpSocket::readyRead, this, &HttpExchange::read);
    connect(socket, &QTcpSocket::errorOccurred, this, &HttpExchange::socketError);
    connect(socket, &QTcpSocket::disconnected, this, &HttpExchange::connectionEnded);
    if (m_deadline.hasExpired()) {
        end(Outcome::End::TimedOut);
        return;
    }
    m_timer.start(remainingMs(m_deadline));
    if (m_reused)
        send();
    else
        socket->connectToHost(m_host, m_port);
}

void HttpExchange::cancel()
{
    end(Outcome::End::Cancelled);
}

HttpExchange::Connection HttpExchange::takeConnection()
{
    return m_reusable ? std::move(m_socket) : Connection();
}

void HttpExchange::send()
{
    // Written at once rather than on the next turn of the event loop: one write, one segment.
    m_socket->write(m_request);
    m_socket->flush();
}

void HttpExchange::read()
{
    // Whatever the socket has buffered, in one piece; the parser keeps partial lines itself.
    const QByteArray bytes = m_socket->readAll();
    if (bytes.isEmpty() || isFinished())
        return;
    m_answered = true;
    settle(m_parser.feed(bytes));
}

void HttpExchange::socketError()
{
    if (isFinished())
        return;
    // A close by the peer is the end of the stream, which may also be the end of the body.
    if (m_socket->error() == QAbstractSocket::RemoteHostClosedError) {
        connectionEnded();
        return;
    }
    end(Outcome::End::ConnectionError);
}

void HttpExchange::connectionEnded()
{
    read(); // anything that arrived together with the close
    if (isFinished())
        return;
    settle(m_parser.endOfStream());
}

void HttpExchange::settle(HttpResponseParser::State state)
{
    switch (state) {
    case HttpResponseParser::State::Incomplete:
        return;
    case HttpResponseParser::State::Complete:
        end(Outcome::End::Response);
        return;
    case HttpResponseParser::State::Invalid:
        end(Outcome::End::NotHttp);
        return;
    case HttpResponseParser::State::TooLarge:
        end(Outcome::End::TooLarge);
        return;
    case HttpResponseParser::State::Truncated:
        end(Outcome::End::Closed);
        return;
    }
}

void HttpExchange::end(Outcome::End end)
{
    if (isFinished())
        return;
    m_timer.stop();
    disconnect(m_socket.get(), nullptr, this, nullptr);

    Outcome outcome;
    outcome.end = end;
    outcome.status = m_parser.status();
    outcome.answered = m_answered;
    if (end == Outcome::End::ConnectionError || end == Outcome::End::Closed)
        outcome.errorString = m_socket->errorString();
    if (end == Outcome::End::Response)
        outcome.body = m_parser.takeBody();

    // After a deadline or any failure the connection is in an unknown state: closed, never reused.
    m_reusable = end == Outcome::End::Response && m_parser.keepAlive()
        && m_socket->state() == QAbstractSocket::ConnectedState && m_socket->bytesAvailable() == 0;
    if (!m_reusable)
        m_socket->abort();

    m_outcome = std::move(outcome);
    // Last: the awaiting coroutine may release this exchange as soon as it runs.
    if (const std::coroutine_handle<> waiter = std::exchange(m_waiter, {}))
        waiter.resume();
}
