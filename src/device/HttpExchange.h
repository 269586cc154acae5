#pragma once

#include "device/HttpResponseParser.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <coroutine>
#include <memory>
#include <optional>

class QTcpSocket;

// One HTTP/1.1 request and its response on one connection: a kept-alive one that it is given,
// or a new one that it opens. Runs in the calling thread on a buffered socket, bounded by one
// deadline for the whole exchange. The caller starts it and co_awaits its Outcome; a connection
// that may carry another request can then be taken back.
class HttpExchange : public QObject
{
    Q_OBJECT

public:
    // A socket may be busy in a signal further up the stack when its owner lets go of it, so
    // it is only ever released with deleteLater().
    struct DeferredDelete
    {
        void operator()(QObject *object) const { object->deleteLater(); }
    };
    using Connection = std::unique_ptr<QTcpSocket, DeferredDelete>;

    struct Outcome
    {
        enum class End {
            Response, // a complete response; status and body are set
            TimedOut, // the deadline passed first
            Cancelled,
            ConnectionError, // connecting or sending failed; errorString says why
            Closed, // the peer closed or reset the connection before the response was complete
            NotHttp, // the answer is not an HTTP/1.x response, or its framing is broken
            TooLarge, // the body exceeds the limit
        };

        End end = End::Cancelled;
        std::optional<int> status; // of the final response, once its status line arrived
        QByteArray body; // of a complete response
        QString errorString; // Qt's text, for ConnectionError and Closed
        bool answered = false; // at least one byte of an answer arrived
    };

    // The bytes of a POST with a body, asking to keep the connection open.
    static QByteArray postRequest(QByteArrayView target, QByteArrayView authority, QByteArrayView contentType,
                                  QByteArrayView body);

    // host is a name or an address (an IPv6 address without brackets); used only when a new
    // connection is opened, that is when connection is null or no longer connected.
    HttpExchange(Connection connection, const QString &host, quint16 port, QByteArray request,
                 QDeadlineTimer deadline, qint64 maxBodyBytes, QObject *parent = nullptr);
    ~HttpExchange() override;

    // Connects if needed and sends the request. May end at once (the deadline has passed, or
    // the connection is refused before this returns).
    void start();
    // Ends the exchange now as cancelled, resuming whoever awaits it before this returns.
    void cancel();

    bool reusedConnection() const { return m_reused; }
    bool isFinished() const { return m_outcome.has_value(); }
    // The connection, if the response left it fit for another request; null otherwise.
    Connection takeConnection();

    struct Awaiter
    {
        HttpExchange *exchange;
        bool await_ready() const noexcept { return exchange->isFinished(); }
        void await_suspend(std::coroutine_handle<> waiter) const noexcept { exchange->m_waiter = waiter; }
        Outcome await_resume() const { return *exchange->m_outcome; }
    };
    // Resumes the awaiting coroutine from within the event that ends the exchange. The
    // exchange must outlive that moment, so it is released with deleteLater() as well.
    Awaiter operator co_await() { return Awaiter {this}; }

private:
    void send();
    void read();
    void socketError();
    void connectionEnded();
    void settle(HttpResponseParser::State state);
    void end(Outcome::End end);

    Connection m_socket;
    const bool m_reused;
    const QString m_host;
    const quint16 m_port;
    const QByteArray m_request;
    const QDeadlineTimer m_deadline;
    HttpResponseParser m_parser;
    QTimer m_timer;
    bool m_answered = false;
    bool m_reusable = false;
    std::optional<Outcome> m_outcome;
    std::coroutine_handle<> m_waiter;
};
