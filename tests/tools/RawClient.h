#pragma once

#include <QByteArray>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// A bare TCP client for faults that only show below HTTP (a reset, a half body, a
// trickle). Connecting and sending may block: the kernel completes a loopback handshake
// and takes a small request without the simulator's event loop. Reading never blocks, so
// the test can keep the event loop running between reads.
class RawClient
{
public:
    explicit RawClient(quint16 port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(m_fd, reinterpret_cast<const sockaddr *>(&address),
                  sizeof address); // a failure shows in send()
    }
    ~RawClient() { ::close(m_fd); }
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    bool send(const QByteArray &bytes)
    {
        return ::send(m_fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
    }

    bool sendRequest(const QByteArray &body)
    {
        return send("POST /api/v2/self HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                    "Content-Length: "
                    + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    }

    // Reads whatever has arrived; returns *this so it can sit inside QTRY_ conditions.
    RawClient &poll()
    {
        char buffer[4096];
        while (!m_eof && m_error == 0) {
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0)
                m_received.append(buffer, n);
            else if (n == 0)
                m_eof = true;
            else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                m_error = errno;
            else
                break;
        }
        return *this;
    }

    const QByteArray &received() const { return m_received; }
    bool eof() const { return m_eof; }
    int error() const { return m_error; }
    bool ended() const { return m_eof || m_error != 0; }

private:
    int m_fd = -1;
    bool m_eof = false;
    int m_error = 0;
    QByteArray m_received;
};
