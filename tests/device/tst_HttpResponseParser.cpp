#include "device/HttpResponseParser.h"

#include <QTest>

using State = HttpResponseParser::State;

Q_DECLARE_METATYPE(HttpResponseParser::State)

namespace {

constexpr qint64 limit = 1024 * 1024;

// Feeds the whole response, then the end of the stream if the parser still waits for it.
struct Parsed
{
    State state;
    std::optional<int> status;
    QByteArray body;
    bool keepAlive;
};

Parsed parse(const QList<QByteArray> &pieces, bool thenClose, qint64 maxBody = limit)
{
    HttpResponseParser parser(maxBody);
    for (const QByteArray &piece : pieces)
        parser.feed(piece);
    if (thenClose)
        parser.endOfStream();
    return {parser.state(), parser.status(), parser.body(), parser.keepAlive()};
}

Parsed parse(const QByteArray &bytes, bool thenClose = false)
{
    return parse(QList<QByteArray> {bytes}, thenClose);
}

QByteArray withLength(const QByteArray &head, const QByteArray &body)
{
    return head + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

} // namespace

class TestHttpResponseParser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // ---- Status line

    void statusLine_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("status"); // 0: not an HTTP response
        QTest::newRow("1.1 with reason") << QByteArray("HTTP/1.1 200 OK") << 200;
        QTest::newRow("1.0") << QByteArray("HTTP/1.0 201 Created") << 201;
        QTest::newRow("no reason") << QByteArray("HTTP/1.1 204") << 204;
        QTest::newRow("empty reason") << QByteArray("HTTP/1.1 299 ") << 299;
        QTest::newRow("reason with spaces") << QByteArray("HTTP/1.1 404 Not Found Here") << 404;
        QTest::newRow("599") << QByteArray("HTTP/1.1 599 X") << 599;
        QTest::newRow("no code") << QByteArray("HTTP/1.1 OK") << 0;
        QTest::newRow("two digits") << QByteArray("HTTP/1.1 20 OK") << 0;
        QTest::newRow("four digits") << QByteArray("HTTP/1.1 2000 OK") << 0;
        QTest::newRow("below 100") << QByteArray("HTTP/1.1 099 X") << 0;
        QTest::newRow("above 599") << QByteArray("HTTP/1.1 600 X") << 0;
        QTest::newRow("double space") << QByteArray("HTTP/1.1  200 OK") << 0;
        QTest::newRow("HTTP/2") << QByteArray("HTTP/2 200 OK") << 0;
        QTest::newRow("HTTP/1.x") << QByteArray("HTTP/1.x 200 OK") << 0;
        QTest::newRow("lower case") << QByteArray("http/1.1 200 OK") << 0;
        QTest::newRow("leading space") << QByteArray(" HTTP/1.1 200 OK") << 0;
        QTest::newRow("ICY") << QByteArray("ICY 200 OK") << 0;
        QTest::newRow("switching protocols") << QByteArray("HTTP/1.1 101 Switching Protocols") << 0;
    }

    void statusLine()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, status);
        const Parsed parsed = parse(line + "\r\nContent-Length: 2\r\n\r\n{}");
        if (status == 0) {
            QCOMPARE(parsed.state, State::Invalid);
            QCOMPARE(parsed.status, std::nullopt);
        } else {
            QCOMPARE(parsed.state, State::Complete);
            QCOMPARE(parsed.status, status);
        }
    }

    void anotherProtocolIsSeenAtItsFirstByte()
    {
        HttpResponseParser parser(limit);
        QCOMPARE(parser.feed("S"), State::Invalid);
        HttpResponseParser binary(limit);
        QCOMPARE(binary.feed(QByteArray::fromHex("16")), State::Invalid);
        // A prefix of a status line is not judged before it is complete.
        HttpResponseParser partial(limit);
        QCOMPARE(partial.feed("HTTP/1"), State::Incomplete);
        QCOMPARE(partial.feed(".1 200 O"), State::Incomplete);
        QCOMPARE(partial.status(), std::nullopt);
    }

    void statusIsKnownBeforeTheBody()
    {
        HttpResponseParser parser(limit);
        QCOMPARE(parser.feed("HTTP/1.1 500 Oops\r\nContent-Length: 10\r\n"), State::Incomplete);
        QCOMPARE(parser.status(), 500);
        QCOMPARE(parser.feed("\r\n{\"a\""), State::Incomplete);
        QCOMPARE(parser.endOfStream(), State::Truncated);
        QCOMPARE(parser.status(), 500);
    }

    void bareLineFeedsAreAccepted()
    {
        const Parsed parsed = parse("HTTP/1.1 200 OK\nContent-Length: 2\n\n{}");
        QCOMPARE(parsed.state, State::Complete);
        QCOMPARE(parsed.body, QByteArray("{}"));
    }

    // ---- Splitting: the result never depends on how the bytes arrive

    void everySplitGivesTheSameResult_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("keepAlive");
        QTest::newRow("content-length")
            << withLength("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n", R"({"clock":{}})")
            << QByteArray(R"({"clock":{}})") << true;
        QTest::newRow("chunked with extensions and trailers")
            << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                          "4;name=value\r\n{\"cl\r\n"
                          "A ; x=\"y\"\r\nock\":null}\r\n"
                          "0;last\r\nX-Checksum: 1\r\nX-Other: 2\r\n\r\n")
            << QByteArray(R"({"clock":null})") << true;
        QTest::newRow("interim answers first")
            << "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </x>\r\n\r\n"
                + withLength("HTTP/1.1 200 OK\r\n", "{}")
            << QByteArray("{}") << true;
        QTest::newRow("connection close")
            << withLength("HTTP/1.1 200 OK\r\nConnection: close\r\n", "[1]") << QByteArray("[1]") << false;
    }

    void everySplitGivesTheSameResult()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, body);
        QFETCH(bool, keepAlive);
        for (qsizetype split = 0; split <= bytes.size(); ++split) {
            const Parsed parsed = parse({bytes.left(split), bytes.mid(split)}, false);
            QVERIFY2(parsed.state == State::Complete, qPrintable(QString::number(split)));
            QCOMPARE(parsed.status, 200);
            QCOMPARE(parsed.body, body);
            QCOMPARE(parsed.keepAlive, keepAlive);
        }
        QList<QByteArray> bytewise;
        for (const char c : bytes)
            bytewise.append(QByteArray(1, c));
        const Parsed parsed = parse(bytewise, false);
        QCOMPARE(parsed.state, State::Complete);
        QCOMPARE(parsed.body, body);
    }

    // ---- Header fields

    void headerFields_data()
    {
        QTest::addColumn<QByteArray>("head"); // status line and fields, without the empty line
        QTest::addColumn<State>("state");
        QTest::addColumn<bool>("keepAlive");
        const QByteArray ok = "HTTP/1.1 200 OK\r\n";
        QTest::newRow("names are case-insensitive")
            << QByteArray(ok + "content-LENGTH: 2\r\nCONNECTION: Close") << State::Complete << false;
        QTest::newRow("repeated equal lengths")
            << QByteArray(ok + "Content-Length: 2\r\nContent-Length: 2") << State::Complete << true;
        QTest::newRow("equal lengths in a list")
            << QByteArray(ok + "Content-Length: 2, 2") << State::Complete << true;
        QTest::newRow("conflicting lengths")
            << QByteArray(ok + "Content-Length: 2\r\nContent-Length: 3") << State::Invalid << false;
        QTest::newRow("negative length") << QByteArray(ok + "Content-Length: -2") << State::Invalid << false;
        QTest::newRow("length not a number")
            << QByteArray(ok + "Content-Length: two") << State::Invalid << false;
        QTest::newRow("empty length") << QByteArray(ok + "Content-Length:") << State::Invalid << false;
        QTest::newRow("space before colon")
            << QByteArray(ok + "Content-Length : 2") << State::Invalid << false;
        QTest::newRow("no colon") << QByteArray(ok + "Content-Length 2") << State::Invalid << false;
        QTest::newRow("no name") << QByteArray(ok + ": 2\r\nContent-Length: 2") << State::Invalid << false;
        QTest::newRow("value without spaces")
            << QByteArray(ok + "Content-Length:2") << State::Complete << true;
        QTest::newRow("folded value")
            << QByteArray(ok + "Content-Length: 2\r\nConnection: keep-alive,\r\n\tclose") << State::Complete
            << false;
        QTest::newRow("fold before any field")
            << QByteArray(ok + " Content-Length: 2") << State::Invalid << false;
        QTest::newRow("close among other tokens")
            << QByteArray(ok + "Content-Length: 2\r\nConnection: Upgrade, CLOSE") << State::Complete << false;
        QTest::newRow("1.0 closes by default")
            << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 2") << State::Complete << false;
        QTest::newRow("1.0 with keep-alive")
            << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 2\r\nConnection: Keep-Alive") << State::Complete
            << true;
    }

    void headerFields()
    {
        QFETCH(QByteArray, head);
        QFETCH(State, state);
        QFETCH(bool, keepAlive);
        const Parsed parsed = parse(head + "\r\n\r\n{}");
        QCOMPARE(parsed.state, state);
        QCOMPARE(parsed.keepAlive, keepAlive);
        if (state == State::Complete)
            QCOMPARE(parsed.body, QByteArray("{}"));
    }

    // ---- Body framing

    void contentLength()
    {
        HttpResponseParser parser(limit);
        QCOMPARE(parser.feed("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n{}"), State::Incomplete);
        QCOMPARE(parser.feed("  "), State::Complete);
        QCOMPARE(parser.body(), QByteArray("{}  "));
        QVERIFY(parser.keepAlive());
    }

    void zeroLengthIsCompleteAtTheEndOfTheHead()
    {
        const Parsed parsed = parse("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
        QCOMPARE(parsed.state, State::Complete);
        QVERIFY(parsed.body.isEmpty());
        QVERIFY(parsed.keepAlive);
    }

    void bytesAfterTheResponseSpoilTheConnection()
    {
        // In the same read ...
        Parsed parsed = parse("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}HTTP/1.1 200 OK\r\n");
        QCOMPARE(parsed.state, State::Complete);
        QCOMPARE(parsed.body, QByteArray("{}"));
        QVERIFY(!parsed.keepAlive);
        // ... or in a later one.
        HttpResponseParser parser(limit);
        parser.feed("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}");
        QVERIFY(parser.keepAlive());
        QCOMPARE(parser.feed("x"), State::Complete);
        QVERIFY(!parser.keepAlive());
    }

    void bodyUntilClose()
    {
        HttpResponseParser parser(limit);
        QCOMPARE(parser.feed("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n{\"a\""),
                 State::Incomplete);
        QCOMPARE(parser.feed(":1}"), State::Incomplete);
        QCOMPARE(parser.endOfStream(), State::Complete);
        QCOMPARE(parser.body(), QByteArray(R"({"a":1})"));
        QVERIFY(!parser.keepAlive());
    }

    void transferEncodingOverridesContentLength()
    {
        const Parsed parsed = parse("HTTP/1.1 200 OK\r\nContent-Length: 100\r\nTransfer-Encoding: "
                                    "chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n");
        QCOMPARE(parsed.state, State::Complete);
        QCOMPARE(parsed.body, QByteArray("{}"));
        QVERIFY(!parsed.keepAlive); // both framings at once is suspect: not used again
    }

    void chunkedMustBeTheLastCoding()
    {
        Parsed parsed
            = parse("HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n1\r\nx\r\n0\r\n\r\n");
        QCOMPARE(parsed.state, State::Complete);
        QCOMPARE(parsed.body, QByteArray("x"));
        // Any other last coding runs until the connection closes.
        parsed = parse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked, gzip\r\n\r\nabc", true);
        QCOMPARE(parsed.state, State::Complete);
        QCOMPARE(parsed.body, QByteArray("abc"));
        QVERIFY(!parsed.keepAlive);
    }

    void noBodyFor204And304()
    {
        for (const QByteArray code : {"204", "304"}) {
            HttpResponseParser parser(limit);
            QCOMPARE(parser.feed(QByteArray("HTTP/1.1 " + code + " X\r\nContent-Length: 5\r\n\r\n")),
                     State::Complete);
            QVERIFY(parser.body().isEmpty());
            QVERIFY(parser.keepAlive());
        }
    }

    void brokenChunks_data()
    {
        QTest::addColumn<QByteArray>("chunks");
        QTest::newRow("no size") << QByteArray("\r\n{}\r\n0\r\n\r\n");
        QTest::newRow("size not hex") << QByteArray("zz\r\n{}\r\n0\r\n\r\n");
        QTest::newRow("junk after size") << QByteArray("2 x\r\n{}\r\n0\r\n\r\n");
        QTest::newRow("negative size") << QByteArray("-2\r\n{}\r\n0\r\n\r\n");
        QTest::newRow("data longer than size") << QByteArray("1\r\n{}\r\n0\r\n\r\n");
        QTest::newRow("size line too long")
            << "2;" + QByteArray(HttpResponseParser::maxChunkLineBytes, 'x') + "\r\n{}\r\n0\r\n\r\n";
    }

    void brokenChunks()
    {
        QFETCH(QByteArray, chunks);
        const Parsed parsed = parse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunks);
        QCOMPARE(parsed.state, State::Invalid);
    }

    void interimAnswersAreSkipped()
    {
        HttpResponseParser parser(limit);
        QCOMPARE(parser.feed("HTTP/1.1 100 Continue\r\n\r\n"), State::Incomplete);
        QCOMPARE(parser.status(), std::nullopt); // an interim status is never the answer's
        QCOMPARE(parser.feed("HTTP/1.1 102 Processing\r\nX: y\r\n\r\n"), State::Incomplete);
        QCOMPARE(parser.feed(withLength("HTTP/1.1 202 Accepted\r\n", "{}")), State::Complete);
        QCOMPARE(parser.status(), 202);
        QCOMPARE(parser.body(), QByteArray("{}"));
        // What follows an interim answer must be HTTP again.
        QCOMPARE(parse("HTTP/1.1 100 Continue\r\n\r\n{}").state, State::Invalid);
    }

    // ---- Limits

    void headLimit()
    {
        // Right at the limit, status line and empty line included, the head is read ...
        const QByteArray start = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nX: ";
        const QByteArray filler(HttpResponseParser::maxHeadBytes - start.size() - 4, 'a');
        QCOMPARE(parse(start + filler + "\r\n\r\n{}").state, State::Complete);
        // ... one byte more is refused.
        QCOMPARE(parse(start + filler + "a\r\n\r\n{}").state, State::Invalid);
    }

    void endlessHeadIsRefusedWithoutWaitingForItsEnd()
    {
        HttpResponseParser parser(limit);
        QCOMPARE(parser.feed("HTTP/1.1 200 OK\r\nX: "), State::Incomplete);
        const QByteArray piece(4096, 'a');
        State state = State::Incomplete;
        for (int i = 0; i < 17 && state == State::Incomplete; ++i)
            state = parser.feed(piece);
        QCOMPARE(state, State::Invalid);
    }

    void interimHeadsCountTowardsTheLimit()
    {
        const QByteArray interim = "HTTP/1.1 100 Continue\r\n\r\n"; // 25 bytes
        QByteArray bytes;
        while (bytes.size() <= HttpResponseParser::maxHeadBytes)
            bytes += interim;
        QCOMPARE(parse(bytes + withLength("HTTP/1.1 200 OK\r\n", "{}")).state, State::Invalid);
    }

    void trailersCountTowardsTheLimit()
    {
        const QByteArray trailer = "X: " + QByteArray(HttpResponseParser::maxHeadBytes, 'a') + "\r\n";
        QCOMPARE(parse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n" + trailer + "\r\n").state,
                 State::Invalid);
    }

    void bodyLimit()
    {
        const QByteArray atLimit(limit, ' ');
        QCOMPARE(parse(withLength("HTTP/1.1 200 OK\r\n", atLimit)).state, State::Complete);
        // A declared length over the limit fails before any of the body arrives.
        HttpResponseParser declared(limit);
        QCOMPARE(declared.feed("HTTP/1.1 200 OK\r\nContent-Length: 1048577\r\n\r\n"), State::TooLarge);
        HttpResponseParser huge(limit);
        QCOMPARE(huge.feed("HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\n"),
                 State::TooLarge);
        // A body until the close fails as soon as it passes the limit.
        HttpResponseParser streamed(limit);
        QCOMPARE(streamed.feed(QByteArray("HTTP/1.1 200 OK\r\n\r\n" + atLimit)), State::Incomplete);
        QCOMPARE(streamed.feed(" "), State::TooLarge);
    }

    void chunkLimit()
    {
        const QByteArray head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
        // One chunk over the limit fails on its size line.
        HttpResponseParser one(limit);
        QCOMPARE(one.feed(QByteArray(head + "100001\r\n")), State::TooLarge);
        HttpResponseParser overflow(limit);
        QCOMPARE(overflow.feed(QByteArray(head + "ffffffffffffffffffffffff\r\n")), State::TooLarge);
        // Chunks that add up to more than the limit fail on the one that passes it.
        HttpResponseParser sum(limit);
        QCOMPARE(sum.feed(QByteArray(head + "80000\r\n" + QByteArray(0x80000, ' ') + "\r\n")),
                 State::Incomplete);
        QCOMPARE(sum.feed("80000\r\n"), State::Incomplete);
        QCOMPARE(sum.feed(QByteArray(QByteArray(0x80000, ' ') + "\r\n")), State::Incomplete);
        QCOMPARE(sum.feed("1\r\n"), State::TooLarge);
    }

    // ---- End of the stream

    void endOfStream_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<State>("state");
        QTest::addColumn<int>("status"); // 0: none known
        QTest::newRow("nothing") << QByteArray() << State::Truncated << 0;
        QTest::newRow("in the status line") << QByteArray("HTTP/1.1 20") << State::Truncated << 0;
        QTest::newRow("in the fields")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Le") << State::Truncated << 200;
        QTest::newRow("in a sized body")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n{}") << State::Truncated << 200;
        QTest::newRow("in a chunk") << QByteArray(
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\n{}")
                                    << State::Truncated << 200;
        QTest::newRow("before the last chunk")
            << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\n{}\r\n")
            << State::Truncated << 200;
        QTest::newRow("after an interim answer")
            << QByteArray("HTTP/1.1 100 Continue\r\n\r\n") << State::Truncated << 0;
        QTest::newRow("empty body until close")
            << QByteArray("HTTP/1.1 200 OK\r\n\r\n") << State::Complete << 200;
        QTest::newRow("after a complete answer")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}") << State::Complete << 200;
    }

    void endOfStream()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(State, state);
        QFETCH(int, status);
        const Parsed parsed = parse(bytes, true);
        QCOMPARE(parsed.state, state);
        QCOMPARE(parsed.status, status == 0 ? std::nullopt : std::optional<int>(status));
    }
};

QTEST_APPLESS_MAIN(TestHttpResponseParser)
#include "tst_HttpResponseParser.moc"
