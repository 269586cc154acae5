// M1620Client::fetchStatus, the whole path a device answer takes, against a loopback server
// that answers with the input and closes: curl's reading of it, the failure table, the JSON
// reading and the status look-up. The first byte chooses the shape of the input: the body of
// a 200 answer (most of the JSON look-up's paths), or the raw bytes of the whole answer.
#include "device/M1620Client.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

QByteArray g_answer;
QTcpServer *g_server = nullptr;
M1620Client *g_keepCurl = nullptr;

// Reads the whole request (head and Content-Length body) before answering, so that the close
// that follows the answer never meets unread bytes and turns into a reset.
void serve(QTcpSocket *socket)
{
    auto buffer = std::make_shared<QByteArray>();
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, buffer] {
        buffer->append(socket->readAll());
        const qsizetype headEnd = buffer->indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        qsizetype length = 0;
        const qsizetype field = buffer->first(headEnd).toLower().indexOf("content-length:");
        if (field >= 0)
            length
                = buffer->mid(field + 15, buffer->indexOf('\r', field) - field - 15).trimmed().toLongLong();
        if (buffer->size() < headEnd + 4 + length)
            return;
        buffer->clear();
        socket->write(g_answer);
        socket->disconnectFromHost();
    });
}

// Runs the event loop until the status query has ended. (No coroutine of our own here:
// clang 14 miscompiles a coroutine in a file built with coverage instrumentation and -g.)
M1620Result<DeviceStatus> fetch(M1620Client &client)
{
    std::optional<M1620Result<DeviceStatus>> result;
    QEventLoop loop;
    QCoro::connect(client.fetchStatus(), &loop, [&](const M1620Result<DeviceStatus> &answer) {
        result = answer;
        loop.quit();
    });
    if (!result)
        loop.exec();
    return *result;
}

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_device_answer: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    new QCoreApplication(*argc, *argv); // lives as long as the process
    // Keeps curl and the thread's multi handle set up between inputs, as in the program.
    g_keepCurl = new M1620Client(QString());
    g_server = new QTcpServer;
    if (!g_server->listen(QHostAddress::LocalHost)) {
        std::fprintf(stderr, "fuzz_device_answer: cannot listen on loopback\n");
        std::abort();
    }
    QObject::connect(g_server, &QTcpServer::newConnection, g_server, [] {
        while (QTcpSocket *socket = g_server->nextPendingConnection())
            serve(socket);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray rest(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    if (data[0] % 2 == 0) {
        g_answer = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: "
            + QByteArray::number(rest.size()) + "\r\n\r\n" + rest;
    } else {
        g_answer = rest;
    }

    {
        M1620Client client(QStringLiteral("127.0.0.1:%1").arg(g_server->serverPort()));
        const M1620Result<DeviceStatus> result = fetch(client);
        // The server always closes after its answer: no answer may wait for the deadline.
        check(result.ok() || result.error().errorDescription() != M1620Client::timedOutMessage(),
              "a closed connection waited for the deadline");
    }
    // Release what curl's socket watch and the server handed to deleteLater().
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return 0;
}
