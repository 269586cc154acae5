#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

// What the server does with one request: which bytes it sends back, and how.
struct ScriptedAnswer
{
    QByteArray bytes; // sent as they are, HTTP or not
    int delayMs = 0; // wait after the request before answering
    int trickleMs = 0; // > 0: after the first trickleAfter bytes, one byte per trickleMs
    qsizetype trickleAfter = 0;
    bool hang = false; // read the request, never answer, keep the connection open
    bool closeAfter = true; // close the connection once the bytes are sent
    bool reset = false; // instead of closing, drop the connection with a TCP reset

    // A complete HTTP/1.1 answer with Content-Length and "Connection: close".
    static ScriptedAnswer http(int status, const QByteArray &body,
                               const QByteArray &contentType = QByteArrayLiteral("application/json"),
                               const QList<QByteArray> &extraHeaders = {});
    // A complete HTTP/1.1 answer with Content-Length after which the connection stays open.
    static ScriptedAnswer keepAlive(int status, const QByteArray &body,
                                    const QList<QByteArray> &extraHeaders = {});
};

// One request as the server read it off the wire.
struct ReceivedRequest
{
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray raw; // every byte of the request as it arrived
    int connection = 0; // which connection it came on, counted from 1 in order of arrival

    QByteArray header(const QByteArray &name) const; // first value, name case-insensitive
};

// A real HTTP/1.1 server on loopback that answers every request with a scripted answer and
// records what it received. Runs in the test's own event loop.
class ScriptedHttpServer : public QObject
{
    Q_OBJECT

public:
    explicit ScriptedHttpServer(QObject *parent = nullptr);
    ~ScriptedHttpServer() override;

    bool listen(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    // "127.0.0.1:port" or "[::1]:port", as the client's host text.
    QString hostText() const;
    quint16 port() const { return m_server.serverPort(); }

    void answerWith(const ScriptedAnswer &answer) { m_answer = answer; }
    // Answers the next request with this, ahead of the standing answer; queued in order.
    void answerNext(const ScriptedAnswer &answer) { m_next.append(answer); }

    int connectionCount() const { return m_connections; }
    int openConnectionCount() const { return m_open; }
    const QList<ReceivedRequest> &requests() const { return m_requests; }

private:
    void accept();
    void readFrom(QTcpSocket *socket);
    void respond(QTcpSocket *socket);

    QTcpServer m_server;
    ScriptedAnswer m_answer;
    QList<ScriptedAnswer> m_next;
    int m_connections = 0;
    int m_open = 0;
    QList<ReceivedRequest> m_requests;
};
