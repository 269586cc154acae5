#pragma once

#include "HttpRequestParser.h"
#include "HttpResponse.h"
#include "SimFault.h"

#include <QObject>
#include <QTimer>

class QTcpSocket;

// One accepted connection: reads requests one at a time (keep-alive and pipelining
// included) and writes each answer, shaped and paced by the fault that applies to it.
class SimConnection : public QObject
{
    Q_OBJECT

public:
    // Larger "huge" bodies are cut to this, so a typo cannot eat the machine's memory.
    static constexpr qint64 maxHugeBytes = 256 * 1024 * 1024;

    SimConnection(QTcpSocket *socket, QObject *parent);

    // Answers the request last announced by requestReceived(). Every request gets exactly one
    // call; the next request is read only after this answer is written.
    void respond(HttpResponse response, const SimFault &fault, bool keepAlive);
    // Drops the connection with a TCP reset, as a device that stops short does; deletes itself.
    void resetConnection();

Q_SIGNALS:
    void requestReceived(const HttpRequest &request);
    // Bytes that do not form an HTTP request; answered with `status`, then the connection closes.
    void invalidRequest(int status);

private:
    void processNext();
    void send(const QByteArray &bytes, bool closeAfter);
    void pump();

    QTcpSocket *m_socket;
    HttpRequestParser m_parser;
    bool m_busy = false;
    bool m_closeAfter = false;
    bool m_trickle = false;
    QByteArray m_out;
    qsizetype m_outPos = 0;
    QTimer m_timer;
};
