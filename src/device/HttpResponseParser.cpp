#include "device/HttpResponseParser.h"

#include <algorithm>

namespace {

constexpr QByteArrayView versionPrefix = "HTTP/1.";

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int hexValue(char c)
{
    if (isDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isTokenChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDigit(c)
        || QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool sameName(QByteArrayView a, QByteArrayView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// The comma-separated elements of a field value, trimmed, empty ones dropped.
QList<QByteArrayView> elements(QByteArrayView value)
{
    QList<QByteArrayView> items;
    while (!value.isEmpty()) {
        const qsizetype comma = value.indexOf(',');
        const QByteArrayView item = (comma < 0 ? value : value.first(comma)).trimmed();
        if (!item.isEmpty())
            items.append(item);
        value = comma < 0 ? QByteArrayView() : value.sliced(comma + 1);
    }
    return items;
}

// A decimal length; values beyond the cap are held as cap + 1, which is all a caller that
// refuses them needs, and which keeps the arithmetic from overflowing.
std::optional<qint64> decimalLength(QByteArrayView text, qint64 cap)
{
    if (text.isEmpty() || !std::all_of(text.begin(), text.end(), isDigit))
        return std::nullopt;
    qint64 value = 0;
    for (const char c : text)
        value = std::min(value * 10 + (c - '0'), cap + 1);
    return value;
}

} // namespace

HttpResponseParser::HttpResponseParser(qint64 maxBodyBytes)
    : m_maxBodyBytes(maxBodyBytes)
{ }

HttpResponseParser::State HttpResponseParser::feed(QByteArrayView bytes)
{
    if (m_state != State::Incomplete) {
        if (m_state == State::Complete && !bytes.isEmpty())
            m_keepAlive = false; // bytes nobody asked for: the connection is out of step
        return m_state;
    }
    m_buffer.append(bytes);
    run();
    return m_state;
}

HttpResponseParser::State HttpResponseParser::endOfStream()
{
    if (m_state != State::Incomplete)
        return m_state;
    if (m_phase == Phase::UntilClose)
        complete();
    else
        fail(State::Truncated);
    return m_state;
}

void HttpResponseParser::run()
{
    qsizetype pos = 0;
    while (m_state == State::Incomplete && pos < m_buffer.size()) {
        const QByteArrayView rest = QByteArrayView(m_buffer).sliced(pos);
        switch (m_phase) {
        case Phase::FixedBody:
        case Phase::ChunkData: {
            const qsizetype take = qsizetype(std::min<qint64>(m_remaining, rest.size()));
            m_body.append(rest.first(take));
            pos += take;
            m_remaining -= take;
            if (m_remaining == 0) {
                if (m_phase == Phase::FixedBody)
                    complete();
                else
                    m_phase = Phase::ChunkEnd;
            }
            continue;
        }
        case Phase::UntilClose:
            m_body.append(rest);
            pos += rest.size();
            if (m_body.size() > m_maxBodyBytes)
                fail(State::TooLarge);
            continue;
        case Phase::Done:
            pos = m_buffer.size();
            continue;
        case Phase::StatusLine:
            // Another protocol shows itself in its first bytes; no need to wait for a line end.
            if (!rest.startsWith(versionPrefix.first(std::min(rest.size(), versionPrefix.size())))) {
                fail(State::Invalid);
                continue;
            }
            break;
        case Phase::Headers:
        case Phase::ChunkSize:
        case Phase::ChunkEnd:
        case Phase::Trailers:
            break;
        }

        // Line-based phases. A bare LF ends a line too, as recipients are allowed to accept.
        const bool chunkLine = m_phase == Phase::ChunkSize || m_phase == Phase::ChunkEnd;
        const qsizetype room = chunkLine ? maxChunkLineBytes : maxHeadBytes - m_headBytes;
        const qsizetype newline = rest.first(std::min(rest.size(), room)).indexOf('\n');
        if (newline < 0) {
            if (rest.size() >= room)
                fail(State::Invalid);
            break; // wait for the rest of the line
        }
        QByteArrayView line = rest.first(newline);
        if (line.endsWith('\r'))
            line.chop(1);
        pos += newline + 1;
        if (!chunkLine)
            m_headBytes += newline + 1;
        switch (m_phase) {
        case Phase::StatusLine:
            readStatusLine(line);
            break;
        case Phase::Headers:
            readHeaderLine(line);
            break;
        case Phase::ChunkSize:
            readChunkSize(line);
            break;
        case Phase::ChunkEnd:
            if (line.isEmpty())
                m_phase = Phase::ChunkSize;
            else
                fail(State::Invalid);
            break;
        case Phase::Trailers:
            // Trailer fields carry nothing the client reads; an empty line ends them.
            if (line.isEmpty())
                complete();
            break;
        default:
            break;
        }
    }
    if (m_state == State::Complete && pos < m_buffer.size())
        m_keepAlive = false;
    if (m_state == State::Incomplete)
        m_buffer.remove(0, pos);
    else
        m_buffer.clear();
}

void HttpResponseParser::readStatusLine(QByteArrayView line)
{
    // "HTTP/1." DIGIT SP 3DIGIT [SP reason-phrase]
    if (line.size() < 12 || !isDigit(line[7]) || line[8] != ' ' || !isDigit(line[9]) || !isDigit(line[10])
        || !isDigit(line[11]) || (line.size() > 12 && line[12] != ' ')) {
        fail(State::Invalid);
        return;
    }
    const int code = (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
    // 101 would switch to a protocol that was never asked for.
    if (code < 100 || code > 599 || code == 101) {
        fail(State::Invalid);
        return;
    }
    m_code = code;
    m_minorVersion = line[7] - '0';
    m_fields.clear();
    if (code >= 200)
        m_status = code;
    m_phase = Phase::Headers;
}

void HttpResponseParser::readHeaderLine(QByteArrayView line)
{
    if (line.isEmpty()) {
        endOfHead();
        return;
    }
    if (isBlank(line.front())) {
        // An obsolete line folding continues the previous field's value.
        if (m_fields.isEmpty()) {
            fail(State::Invalid);
            return;
        }
        m_fields.last().second += ' ' + line.trimmed().toByteArray();
        return;
    }
    const qsizetype colon = line.indexOf(':');
    const QByteArrayView name = line.first(std::max<qsizetype>(colon, 0));
    if (name.isEmpty() || !std::all_of(name.begin(), name.end(), isTokenChar)) {
        fail(State::Invalid);
        return;
    }
    m_fields.append({name.toByteArray(), line.sliced(colon + 1).trimmed().toByteArray()});
}

void HttpResponseParser::endOfHead()
{
    if (m_code < 200) {
        m_phase = Phase::StatusLine; // an interim answer; the real one follows
        return;
    }

    bool close = false;
    bool keepAliveToken = false;
    bool transferEncoding = false;
    bool chunked = false;
    std::optional<qint64> length;
    for (const auto &[name, value] : std::as_const(m_fields)) {
        if (sameName(name, "Connection")) {
            for (const QByteArrayView token : elements(value)) {
                close = close || sameName(token, "close");
                keepAliveToken = keepAliveToken || sameName(token, "keep-alive");
            }
        } else if (sameName(name, "Transfer-Encoding")) {
            transferEncoding = true;
            const QList<QByteArrayView> codings = elements(value);
            if (!codings.isEmpty())
                chunked = sameName(codings.last(), "chunked");
        } else if (sameName(name, "Content-Length")) {
            // Repeated lengths are tolerated only when they all agree.
            const QList<QByteArrayView> values = elements(value);
            if (values.isEmpty()) {
                fail(State::Invalid);
                return;
            }
            for (const QByteArrayView text : values) {
                const std::optional<qint64> parsed = decimalLength(text, m_maxBodyBytes);
                if (!parsed || (length && *length != *parsed)) {
                    fail(State::Invalid);
                    return;
                }
                length = parsed;
            }
        }
    }
    m_fields.clear();
    m_keepAlive = !close && (m_minorVersion >= 1 || keepAliveToken);

    if (m_code == 204 || m_code == 304) {
        complete();
    } else if (transferEncoding) {
        // Transfer-Encoding overrides Content-Length; a message with both is suspect, so its
        // connection is not used again. A last coding other than chunked runs until the close.
        if (length)
            m_keepAlive = false;
        if (chunked) {
            m_phase = Phase::ChunkSize;
        } else {
            m_keepAlive = false;
            m_phase = Phase::UntilClose;
        }
    } else if (length) {
        if (*length > m_maxBodyBytes) {
            fail(State::TooLarge);
        } else if (*length == 0) {
            complete();
        } else {
            m_remaining = *length;
            m_phase = Phase::FixedBody;
        }
    } else {
        m_keepAlive = false;
        m_phase = Phase::UntilClose;
    }
}

void HttpResponseParser::readChunkSize(QByteArrayView line)
{
    // chunk-size [BWS] [";" extensions], the extensions ignored
    qsizetype digits = 0;
    qint64 size = 0;
    while (digits < line.size() && hexValue(line[digits]) >= 0) {
        size = std::min(size * 16 + hexValue(line[digits]), m_maxBodyBytes + 1);
        ++digits;
    }
    const QByteArrayView rest = line.sliced(digits).trimmed();
    if (digits == 0 || (!rest.isEmpty() && rest.front() != ';')) {
        fail(State::Invalid);
        return;
    }
    if (size == 0) {
        m_phase = Phase::Trailers;
    } else if (size > m_maxBodyBytes - m_body.size()) {
        fail(State::TooLarge);
    } else {
        m_remaining = size;
        m_phase = Phase::ChunkData;
    }
}

void HttpResponseParser::fail(State state)
{
    m_state = state;
    m_phase = Phase::Done;
    m_keepAlive = false;
}

void HttpResponseParser::complete()
{
    m_state = State::Complete;
    m_phase = Phase::Done;
}
