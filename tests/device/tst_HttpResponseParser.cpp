#include "device/HttpResponseParser.h"

#include <QTest>

namespace {

using State = HttpResponseParser::State;

constexpr qint64 limit = 1024 * 1024;
const QByteArray ok = "HTTP/1.1 200 OK\r\n";
const QByteArray chunked = ok + "Transfer-Encoding: chunked\r\n\r\n";

// Feeds the pieces in turn, ends the stream if asked to, and tells the outcome in one line:
// state and final status (0: none), then for a complete response keep-alive or close and the body.
QByteArray parse(const QList<QByteArray> &pieces, bool thenClose)
{
    HttpResponseParser parser(limit);
    for (const QByteArray &piece : pieces)
        parser.feed(piece);
    if (thenClose)
        parser.endOfStream();
    static const char *const names[] = {"incomplete", "complete", "invalid", "too large", "truncated"};
    QByteArray text
        = names[int(parser.state())] + QByteArray(" ") + QByteArray::number(parser.status().value_or(0));
    if (parser.state() == State::Complete)
        text += (parser.keepAlive() ? " keep-alive " : " close ") + parser.body();
    return text;
}

QByteArray withLength(const QByteArray &head, const QByteArray &body)
{
    return head + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

void addColumns()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("close"); // the connection ends after the bytes
    QTest::addColumn<QByteArray>("outcome");
}

void row(const char *name, const QByteArray &bytes, const QByteArray &outcome)
{
    QTest::newRow(name) << bytes << false << outcome;
}

void closed(const char *name, const QByteArray &bytes, const QByteArray &outcome)
{
    QTest::newRow(name) << bytes << true << outcome;
}

// A 200 answer with these fields and "{}" after the head.
void head(const char *name, const QByteArray &fields, const QByteArray &outcome)
{
    row(name, ok + fields + "\r\n\r\n{}", outcome);
}

// This status line, then a body "{}" of known length.
void statusLine(const char *name, const QByteArray &line, const QByteArray &outcome)
{
    row(name, line + "\r\nContent-Length: 2\r\n\r\n{}", outcome);
}

} // namespace

class TestHttpResponseParser : public QObject
{
    Q_OBJECT

private:
    // The outcome must not depend on how the bytes arrive: whole, cut in two anywhere, or one
    // byte at a time.
    void check(bool everySplit)
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, close);
        QFETCH(QByteArray, outcome);
        QCOMPARE(parse({bytes}, close), outcome);
        if (!everySplit)
            return;
        QList<QByteArray> bytewise;
        for (qsizetype split = 0; split <= bytes.size(); ++split) {
            QVERIFY2(parse({bytes.left(split), bytes.mid(split)}, close) == outcome,
                     qPrintable(QString::number(split)));
            bytewise.append(bytes.mid(split, 1));
        }
        QCOMPARE(parse(bytewise, close), outcome);
    }

private Q_SLOTS:
    void framing_data()
    {
        addColumns();
        statusLine("1.1 with reason", "HTTP/1.1 200 OK", "complete 200 keep-alive {}");
        statusLine("1.0", "HTTP/1.0 201 Created", "complete 201 close {}");
        statusLine("no reason", "HTTP/1.1 200", "complete 200 keep-alive {}");
        statusLine("empty reason", "HTTP/1.1 299 ", "complete 299 keep-alive {}");
        statusLine("reason with spaces", "HTTP/1.1 404 Not Found Here", "complete 404 keep-alive {}");
        statusLine("599", "HTTP/1.1 599 X", "complete 599 keep-alive {}");
        statusLine("two digits", "HTTP/1.1 20 OK", "invalid 0");
        statusLine("four digits", "HTTP/1.1 2000 OK", "invalid 0");
        statusLine("below 100", "HTTP/1.1 099 X", "invalid 0");
        statusLine("above 599", "HTTP/1.1 600 X", "invalid 0");
        statusLine("double space", "HTTP/1.1  200 OK", "invalid 0");
        statusLine("HTTP/2", "HTTP/2 200 OK", "invalid 0");
        statusLine("HTTP/1.x", "HTTP/1.x 200 OK", "invalid 0");
        statusLine("lower case", "http/1.1 200 OK", "invalid 0");
        statusLine("leading space", " HTTP/1.1 200 OK", "invalid 0");
        statusLine("switching protocols", "HTTP/1.1 101 Switching Protocols", "invalid 0");
        // Another protocol shows at its first byte; a prefix of a status line is not judged early.
        row("another protocol", "S", "invalid 0");
        row("binary", QByteArray::fromHex("16"), "invalid 0");
        row("part of a status line", "HTTP/1.1 200 O", "incomplete 0");
        row("status before the body", "HTTP/1.1 500 Oops\r\nContent-Length: 10\r\n", "incomplete 500");
        row("bare line feeds", "HTTP/1.1 200 OK\nContent-Length: 2\n\n{}", "complete 200 keep-alive {}");

        head("names are case-insensitive", "content-LENGTH: 2\r\nCONNECTION: Close", "complete 200 close {}");
        head("repeated equal lengths", "Content-Length: 2\r\nContent-Length: 2",
             "complete 200 keep-alive {}");
        head("equal lengths in a list", "Content-Length: 2, 2", "complete 200 keep-alive {}");
        head("conflicting lengths", "Content-Length: 2\r\nContent-Length: 3", "invalid 200");
        head("negative length", "Content-Length: -2", "invalid 200");
        head("empty length", "Content-Length:", "invalid 200");
        head("space before colon", "Content-Length : 2", "invalid 200");
        head("no colon", "Content-Length 2", "invalid 200");
        head("no name", ": 2\r\nContent-Length: 2", "invalid 200");
        head("value without spaces", "Content-Length:2", "complete 200 keep-alive {}");
        head("folded value", "Content-Length: 2\r\nConnection: keep-alive,\r\n\tclose",
             "complete 200 close {}");
        head("fold before any field", " Content-Length: 2", "invalid 200");
        head("close among other tokens", "Content-Length: 2\r\nConnection: Upgrade, CLOSE",
             "complete 200 close {}");
        statusLine("1.0 with keep-alive", "HTTP/1.0 200 OK\r\nConnection: Keep-Alive",
                   "complete 200 keep-alive {}");

        row("content-length", withLength(ok + "Content-Type: application/json\r\n", R"({"clock":{}})"),
            R"(complete 200 keep-alive {"clock":{}})");
        row("zero length", ok + "Content-Length: 0\r\n\r\n", "complete 200 keep-alive ");
        row("bytes after the response", withLength(ok, "{}") + "HTTP/1.1 200 OK\r\n",
            "complete 200 close {}");
        row("chunked with extensions and trailers",
            chunked
                + "4;name=value\r\n{\"cl\r\nA ; x=\"y\"\r\nock\":null}\r\n0;last\r\nX-Sum: 1\r\nX-B: "
                  "2\r\n\r\n",
            R"(complete 200 keep-alive {"clock":null})");
        // Both framings at once is suspect: the connection is not used again.
        row("chunked overrides length",
            ok + "Content-Length: 100\r\nTransfer-Encoding: chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n",
            "complete 200 close {}");
        row("chunked after gzip", ok + "Transfer-Encoding: gzip, chunked\r\n\r\n1\r\nx\r\n0\r\n\r\n",
            "complete 200 keep-alive x");
        closed("gzip after chunked runs until close", ok + "Transfer-Encoding: chunked, gzip\r\n\r\nabc",
               "complete 200 close abc");
        closed("body until close", ok + "Content-Type: application/json\r\n\r\n{\"a\":1}",
               R"(complete 200 close {"a":1})");
        row("204 has no body", "HTTP/1.1 204 X\r\nContent-Length: 5\r\n\r\n", "complete 204 keep-alive ");
        row("304 has no body", "HTTP/1.1 304 X\r\nContent-Length: 5\r\n\r\n", "complete 304 keep-alive ");
        row("interim answers skipped",
            "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 102 Processing\r\nX: y\r\n\r\n"
                + withLength("HTTP/1.1 202 A\r\n", "{}"),
            "complete 202 keep-alive {}");
        row("no HTTP after an interim answer", "HTTP/1.1 100 Continue\r\n\r\n{}", "invalid 0");

        row("chunk without size", chunked + "\r\n{}\r\n0\r\n\r\n", "invalid 200");
        row("chunk size not hex", chunked + "zz\r\n{}\r\n0\r\n\r\n", "invalid 200");
        row("junk after chunk size", chunked + "2 x\r\n{}\r\n0\r\n\r\n", "invalid 200");
        row("negative chunk size", chunked + "-2\r\n{}\r\n0\r\n\r\n", "invalid 200");
        row("chunk data longer than size", chunked + "1\r\n{}\r\n0\r\n\r\n", "invalid 200");

        closed("closed before anything", "", "truncated 0");
        closed("closed in the status line", "HTTP/1.1 20", "truncated 0");
        closed("closed in the fields", ok + "Content-Le", "truncated 200");
        closed("closed in a sized body", "HTTP/1.1 500 E\r\nContent-Length: 3\r\n\r\n{}", "truncated 500");
        closed("closed in a chunk", chunked + "3\r\n{}", "truncated 200");
        closed("closed before the last chunk", chunked + "2\r\n{}\r\n", "truncated 200");
        closed("closed after an interim answer", "HTTP/1.1 100 Continue\r\n\r\n", "truncated 0");
        closed("closed: empty body until close", ok + "\r\n", "complete 200 close ");
        closed("closed after a complete answer", withLength(ok, "{}"), "complete 200 keep-alive {}");
    }

    void framing() { check(true); }

    void limits_data()
    {
        addColumns();
        const QByteArray atLimit(limit, ' ');
        const QByteArray half = "80000\r\n" + QByteArray(0x80000, ' ') + "\r\n";
        const QByteArray filler(HttpResponseParser::maxHeadBytes, 'a');

        // The head: status lines, fields and trailers together, interim heads included.
        const QByteArray start = ok + "Content-Length: 2\r\nX: ";
        const QByteArray fits = start + filler.first(filler.size() - start.size() - 4);
        row("head at the limit", fits + "\r\n\r\n{}", "complete 200 keep-alive {}");
        row("head one byte over", fits + "a\r\n\r\n{}", "invalid 200");
        row("endless head", ok + "X: " + filler, "invalid 200");
        QByteArray interims;
        while (interims.size() <= HttpResponseParser::maxHeadBytes)
            interims += "HTTP/1.1 100 Continue\r\n\r\n";
        row("interim heads count", interims + withLength(ok, "{}"), "invalid 0");
        row("trailers count", chunked + "0\r\nX: " + filler + "\r\n\r\n", "invalid 200");
        row("chunk-size line too long",
            chunked + "2;" + filler.first(HttpResponseParser::maxChunkLineBytes) + "\r\n", "invalid 200");

        // The body; a length over the limit fails before any of the body arrives.
        row("length at the limit", withLength(ok, atLimit), "complete 200 keep-alive " + atLimit);
        row("length over the limit", ok + "Content-Length: 1048577\r\n\r\n", "too large 200");
        row("huge length", ok + "Content-Length: 99999999999999999999999\r\n\r\n", "too large 200");
        closed("until close, at the limit", ok + "\r\n" + atLimit, "complete 200 close " + atLimit);
        row("until close, over the limit", ok + "\r\n" + atLimit + " ", "too large 200");
        row("chunks adding up to the limit", chunked + half + half + "0\r\n\r\n",
            "complete 200 keep-alive " + atLimit);
        row("chunk passing the limit", chunked + half + half + "1\r\n", "too large 200");
        row("one chunk over the limit", chunked + "100001\r\n", "too large 200");
        row("chunk size overflowing", chunked + "ffffffffffffffffffffffff\r\n", "too large 200");
    }

    void limits() { check(false); }
};

QTEST_APPLESS_MAIN(TestHttpResponseParser)
#include "tst_HttpResponseParser.moc"
