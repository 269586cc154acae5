#pragma once

#include "HttpRequest.h"

#include <QByteArray>

// Cuts HTTP/1.x requests out of the bytes of one connection. Requests may arrive split
// across reads or several in one read. Bodies need a Content-Length; chunked bodies are
// refused, since neither the program nor curl sends them for such small requests.
class HttpRequestParser
{
public:
    enum class Result { NeedMore, Complete, Invalid };

    static constexpr qsizetype maxHeaderBytes = 64 * 1024;
    static constexpr qsizetype maxBodyBytes = 1024 * 1024;

    void append(const QByteArray &data) { m_buffer += data; }
    // Takes the next complete request out of the buffer. After Invalid the connection is
    // beyond repair: errorStatus() tells the answer to give before closing it.
    Result next(HttpRequest &request);
    int errorStatus() const { return m_errorStatus; }

private:
    Result fail(int status);

    QByteArray m_buffer;
    int m_errorStatus = 0;
};
