#include "HttpRequestParser.h"

#include <QTest>

using Result = HttpRequestParser::Result;

class TestHttpRequestParser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void requestsSplitOrPipelinedComeOutWhole()
    {
        HttpRequestParser parser;
        HttpRequest request;
        parser.append("POST /sim/state?madi=96000&sync=tr");
        QCOMPARE(parser.next(request), Result::NeedMore);
        parser.append("ue HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\nContent-Type: text/plain\r\n\r\nab");
        QCOMPARE(parser.next(request), Result::NeedMore);
        parser.append("cdeGET /api/v2/%73elf HTTP/1.0\r\n\r\nGET / HTTP/1.1\r\nConnection: Close\r\n\r\n"
                      "GET / HTTP/1.0\r\nconnection: keep-alive\r\n\r\nGET /c HTTP/1.1\r\n");
        QCOMPARE(parser.next(request), Result::Complete);
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.path, QStringLiteral("/sim/state"));
        QCOMPARE(request.query.queryItemValue(QStringLiteral("sync")), QStringLiteral("true"));
        QCOMPARE(request.body, QByteArray("abcde"));
        QCOMPARE(request.contentType, QByteArray("text/plain"));
        QVERIFY(request.keepAlive);

        QCOMPARE(parser.next(request), Result::Complete);
        QCOMPARE(request.path, QStringLiteral("/api/v2/self")); // percent-decoded
        QVERIFY(request.body.isEmpty());
        QVERIFY(!request.keepAlive); // HTTP/1.0
        QCOMPARE(parser.next(request), Result::Complete);
        QVERIFY(!request.keepAlive);
        QCOMPARE(parser.next(request), Result::Complete);
        QVERIFY(request.keepAlive);
        QCOMPARE(parser.next(request), Result::NeedMore);
    }

    void unsafeInputIsRefused_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("status");
        QTest::newRow("not http") << QByteArray("\x16\x03\x01 hello\r\n\r\n") << 400;
        QTest::newRow("absolute target") << QByteArray("GET http://x/ HTTP/1.1\r\n\r\n") << 400;
        QTest::newRow("header without colon") << QByteArray("GET / HTTP/1.1\r\nbroken\r\n\r\n") << 400;
        QTest::newRow("negative length")
            << QByteArray("POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n") << 400;
        QTest::newRow("body too large")
            << QByteArray("POST / HTTP/1.1\r\nContent-Length: 99999999\r\n\r\n") << 413;
        QTest::newRow("chunked") << QByteArray("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n")
                                 << 501;
        QTest::newRow("endless headers") << QByteArray("GET / HTTP/1.1\r\n") + QByteArray(70000, 'a') << 431;
    }

    void unsafeInputIsRefused()
    {
        QFETCH(QByteArray, input);
        HttpRequestParser parser;
        parser.append(input);
        HttpRequest request;
        QCOMPARE(parser.next(request), Result::Invalid);
        QTEST(parser.errorStatus(), "status");
        // Once broken, the stream stays broken: nothing after it is trusted.
        parser.append("GET / HTTP/1.1\r\n\r\n");
        QCOMPARE(parser.next(request), Result::Invalid);
    }
};

QTEST_GUILESS_MAIN(TestHttpRequestParser)
#include "tst_HttpRequestParser.moc"
