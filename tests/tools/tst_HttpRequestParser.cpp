#include "HttpRequestParser.h"

#include <QTest>

class TestHttpRequestParser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void requestSplitAcrossReads()
    {
        HttpRequestParser parser;
        HttpRequest request;
        parser.append("POST /sim/state?madi=96000&sync=tr");
        QCOMPARE(parser.next(request), HttpRequestParser::Result::NeedMore);
        parser.append("ue HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\nContent-Type: text/plain\r\n\r\nab");
        QCOMPARE(parser.next(request), HttpRequestParser::Result::NeedMore);
        parser.append("cde");
        QCOMPARE(parser.next(request), HttpRequestParser::Result::Complete);
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.path, QStringLiteral("/sim/state"));
        QCOMPARE(request.query.queryItemValue(QStringLiteral("madi")), QStringLiteral("96000"));
        QCOMPARE(request.query.queryItemValue(QStringLiteral("sync")), QStringLiteral("true"));
        QCOMPARE(request.body, QByteArray("abcde"));
        QCOMPARE(request.contentType, QByteArray("text/plain"));
        QVERIFY(request.keepAlive);
        QCOMPARE(parser.next(request), HttpRequestParser::Result::NeedMore);
    }

    void pipelinedRequestsComeOutInOrder()
    {
        HttpRequestParser parser;
        parser.append(
            "GET /a HTTP/1.1\r\n\r\nPOST /b HTTP/1.1\r\ncontent-length: 2\r\n\r\n{}GET /c HTTP/1.1\r\n");
        HttpRequest request;
        QCOMPARE(parser.next(request), HttpRequestParser::Result::Complete);
        QCOMPARE(request.path, QStringLiteral("/a"));
        QVERIFY(request.body.isEmpty());
        QCOMPARE(parser.next(request), HttpRequestParser::Result::Complete);
        QCOMPARE(request.path, QStringLiteral("/b"));
        QCOMPARE(request.body, QByteArray("{}"));
        QCOMPARE(parser.next(request), HttpRequestParser::Result::NeedMore);
    }

    void connectionCloseAndHttp10EndKeepAlive()
    {
        HttpRequestParser parser;
        parser.append("GET / HTTP/1.0\r\n\r\nGET / HTTP/1.1\r\nConnection: Close\r\n\r\n"
                      "GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n");
        HttpRequest request;
        QCOMPARE(parser.next(request), HttpRequestParser::Result::Complete);
        QVERIFY(!request.keepAlive);
        QCOMPARE(parser.next(request), HttpRequestParser::Result::Complete);
        QVERIFY(!request.keepAlive);
        QCOMPARE(parser.next(request), HttpRequestParser::Result::Complete);
        QVERIFY(request.keepAlive);
    }

    void percentEncodedPathIsDecoded()
    {
        HttpRequestParser parser;
        parser.append("GET /api/v2/%73elf HTTP/1.1\r\n\r\n");
        HttpRequest request;
        QCOMPARE(parser.next(request), HttpRequestParser::Result::Complete);
        QCOMPARE(request.path, QStringLiteral("/api/v2/self"));
        QCOMPARE(request.target, QByteArray("/api/v2/%73elf"));
    }

    void unsafeInputIsRefused_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("status");
        QTest::newRow("not http") << QByteArray("\x16\x03\x01 hello\r\n\r\n") << 400;
        QTest::newRow("no version") << QByteArray("GET /\r\n\r\n") << 400;
        QTest::newRow("absolute target") << QByteArray("GET http://x/ HTTP/1.1\r\n\r\n") << 400;
        QTest::newRow("header without colon") << QByteArray("GET / HTTP/1.1\r\nbroken\r\n\r\n") << 400;
        QTest::newRow("negative length")
            << QByteArray("POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n") << 400;
        QTest::newRow("bad length") << QByteArray("POST / HTTP/1.1\r\nContent-Length: 1x\r\n\r\n") << 400;
        QTest::newRow("body too large")
            << QByteArray("POST / HTTP/1.1\r\nContent-Length: 99999999\r\n\r\n") << 413;
        QTest::newRow("chunked") << QByteArray("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n")
                                 << 501;
        QTest::newRow("endless headers") << QByteArray("GET / HTTP/1.1\r\n") + QByteArray(70000, 'a') << 431;
    }

    void unsafeInputIsRefused()
    {
        QFETCH(QByteArray, input);
        QFETCH(int, status);
        HttpRequestParser parser;
        parser.append(input);
        HttpRequest request;
        QCOMPARE(parser.next(request), HttpRequestParser::Result::Invalid);
        QCOMPARE(parser.errorStatus(), status);
        // Once broken, the stream stays broken: nothing after it is trusted.
        parser.append("GET / HTTP/1.1\r\n\r\n");
        QCOMPARE(parser.next(request), HttpRequestParser::Result::Invalid);
    }
};

QTEST_GUILESS_MAIN(TestHttpRequestParser)
#include "tst_HttpRequestParser.moc"
