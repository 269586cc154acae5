#include "HttpRequestParser.h"

#include <QUrl>

HttpRequestParser::Result HttpRequestParser::fail(int status)
{
    m_errorStatus = status;
    m_buffer.clear();
    return Result::Invalid;
}

HttpRequestParser::Result HttpRequestParser::next(HttpRequest &request)
{
    if (m_errorStatus != 0)
        return Result::Invalid;
    const qsizetype headerEnd = m_buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return m_buffer.size() > maxHeaderBytes ? fail(431) : Result::NeedMore;
    if (headerEnd > maxHeaderBytes)
        return fail(431);

    const QList<QByteArray> lines = m_buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() != 3 || requestLine[0].isEmpty() || !requestLine[1].startsWith('/')
        || !requestLine[2].startsWith("HTTP/1."))
        return fail(400);

    HttpRequest parsed;
    parsed.method = requestLine[0];
    parsed.target = requestLine[1];
    parsed.keepAlive = requestLine[2] != "HTTP/1.0";
    qint64 contentLength = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines[i];
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return fail(400);
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length") {
            bool ok = false;
            contentLength = value.toLongLong(&ok);
            if (!ok || contentLength < 0)
                return fail(400);
        } else if (name == "transfer-encoding") {
            return fail(501);
        } else if (name == "content-type") {
            parsed.contentType = value;
        } else if (name == "connection") {
            const QByteArray token = value.toLower();
            if (token == "close")
                parsed.keepAlive = false;
            else if (token == "keep-alive")
                parsed.keepAlive = true;
        }
    }
    if (contentLength > maxBodyBytes)
        return fail(413);
    const qsizetype bodyStart = headerEnd + 4;
    if (m_buffer.size() - bodyStart < contentLength)
        return Result::NeedMore;

    parsed.body = m_buffer.mid(bodyStart, contentLength);
    m_buffer.remove(0, bodyStart + contentLength);
    const qsizetype question = parsed.target.indexOf('?');
    parsed.path = QUrl::fromPercentEncoding(question < 0 ? parsed.target : parsed.target.left(question));
    if (question >= 0)
        parsed.query = QUrlQuery(QString::fromUtf8(parsed.target.mid(question + 1)));
    request = std::move(parsed);
    return Result::Complete;
}
