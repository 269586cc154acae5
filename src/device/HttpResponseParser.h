#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>
#include <utility>

// Reads one HTTP/1.x response from the bytes of a connection, piece by piece as they arrive.
// It does no I/O: the caller feeds what it read and says when the connection ended, so every
// framing rule can be checked on plain bytes. Interim (1xx) responses are skipped; the body is
// framed by Content-Length, by chunked transfer coding, or by the end of the connection.
class HttpResponseParser
{
public:
    enum class State {
        Incomplete, // more bytes are needed
        Complete, // the whole response is read
        Invalid, // not an HTTP/1.x response, or its framing is broken
        TooLarge, // the body is larger than the limit
        Truncated, // the connection ended inside the response
    };

    // Status lines, header fields and trailers of one response together, interim heads included:
    // a device answers with a few hundred bytes, so anything near this is not an answer.
    static constexpr qsizetype maxHeadBytes = 64 * 1024;
    // One chunk-size line, extensions included.
    static constexpr qsizetype maxChunkLineBytes = 4 * 1024;

    explicit HttpResponseParser(qint64 maxBodyBytes);

    // Takes the next bytes of the connection. Bytes after a complete response leave it complete
    // but make the connection unfit for another request.
    State feed(QByteArrayView bytes);
    // The peer closed the connection: ends a body that runs until the close, else truncates.
    State endOfStream();

    State state() const { return m_state; }
    // The final status code, as soon as its status line has been read (interim ones never count).
    std::optional<int> status() const { return m_status; }
    const QByteArray &body() const { return m_body; }
    QByteArray takeBody() { return std::exchange(m_body, {}); }
    // Once complete: the connection may carry another request.
    bool keepAlive() const { return m_state == State::Complete && m_keepAlive; }

private:
    enum class Phase {
        StatusLine,
        Headers,
        FixedBody,
        ChunkSize,
        ChunkData,
        ChunkEnd,
        Trailers,
        UntilClose,
        Done
    };

    void run();
    void readStatusLine(QByteArrayView line);
    void readHeaderLine(QByteArrayView line);
    void readChunkSize(QByteArrayView line);
    void endOfHead();
    void fail(State state);
    void complete();

    qint64 m_maxBodyBytes;
    State m_state = State::Incomplete;
    Phase m_phase = Phase::StatusLine;
    QByteArray m_buffer; // bytes fed but not yet consumed
    qsizetype m_headBytes = 0;
    int m_code = 0; // of the head being read, interim or final
    int m_minorVersion = 1;
    QList<std::pair<QByteArray, QByteArray>> m_fields; // of the head being read
    std::optional<int> m_status;
    qint64 m_remaining = 0; // of the Content-Length body or of the current chunk
    QByteArray m_body;
    bool m_keepAlive = false;
};
