#include "ScriptedHttpServer.h"

#include "AwaitTask.h"
#include "device/M1620Client.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>

#include <qcoro/qcorotask.h>

Q_DECLARE_METATYPE(std::optional<qint64>)
Q_DECLARE_METATYPE(std::optional<bool>)
Q_DECLARE_METATYPE(ScriptedAnswer)

namespace {

const QByteArray statusQuery
    = R"({"clock":{"sampling_rate":null,"sources":{"madi_coaxial":{"rate":null,"sync":null}}}})";
const QByteArray fullStatus
    = R"({"clock":{"sampling_rate":44100,"sources":{"madi_coaxial":{"rate":48000,"sync":false}}}})";

// The parser's own description for a body that is not JSON, as the client must report it.
QString parserText(const QByteArray &body)
{
    QJsonParseError error {};
    QJsonDocument::fromJson(body, &error);
    return error.errorString();
}

// Runs a task to its end in a nested event loop. QCoro::waitFor would need a default-
// constructible result, which a value-or-error deliberately is not.
template<typename T> T finish(QCoro::Task<T> &&task)
{
    return awaitTask(std::move(task));
}

template<typename T> T finish(QCoro::Task<T> &task)
{
    return awaitTask(std::move(task));
}

// A loopback port on which nothing listens.
quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// A body with no Content-Length that keeps coming until the connection closes.
ScriptedAnswer endless(qsizetype bytes)
{
    ScriptedAnswer answer;
    answer.bytes = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n["
        + QByteArray(bytes, '1').replace(1, 1, ",");
    return answer;
}

} // namespace

class TestM1620Client : public QObject
{
    Q_OBJECT

private:
    ScriptedHttpServer *m_server = nullptr;

    M1620Result<DeviceStatus> fetch(const QString &host)
    {
        M1620Client client(host);
        return finish(client.fetchStatus());
    }
    M1620Result<DeviceStatus> fetch() { return fetch(m_server->hostText()); }

private Q_SLOTS:
    void init()
    {
        m_server = new ScriptedHttpServer(this);
        QVERIFY(m_server->listen());
    }

    void cleanup()
    {
        delete m_server;
        m_server = nullptr;
    }

    // ---- The request on the wire

    void statusQueryOnTheWire()
    {
        m_server->answerWith(ScriptedAnswer::http(200, fullStatus));
        QVERIFY(fetch().ok());
        QCOMPARE(m_server->requests().size(), 1);
        const ReceivedRequest request = m_server->requests().first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.target, QByteArray("/api/v2/self"));
        QCOMPARE(request.header("Host"), m_server->hostText().toUtf8());
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(request.body, statusQuery);
        // Plain HTTP/1.1: no upgrade to HTTP/2 offered to the device.
        QVERIFY(request.header("Upgrade").isEmpty());
    }

    void setRateOnTheWire()
    {
        m_server->answerWith(ScriptedAnswer::http(200, "{}"));
        M1620Client client(m_server->hostText());
        QVERIFY(finish(client.setRate(48000)).ok());
        QVERIFY(finish(client.setRate(9223372036854775807)).ok());
        QCOMPARE(m_server->requests().size(), 2);
        QCOMPARE(m_server->requests()[0].method, QByteArray("POST"));
        QCOMPARE(m_server->requests()[0].target, QByteArray("/api/v2/self"));
        QCOMPARE(m_server->requests()[0].header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(m_server->requests()[0].body, QByteArray(R"({"clock":{"sampling_rate":48000}})"));
        QCOMPARE(m_server->requests()[1].body,
                 QByteArray(R"({"clock":{"sampling_rate":9223372036854775807}})"));
    }

    void noCookiesKept()
    {
        m_server->answerWith(
            ScriptedAnswer::http(200, "{}", "application/json", {"Set-Cookie: session=1; Path=/"}));
        M1620Client client(m_server->hostText());
        QVERIFY(finish(client.fetchStatus()).ok());
        QVERIFY(finish(client.fetchStatus()).ok());
        QCOMPARE(m_server->requests().size(), 2);
        QVERIFY(m_server->requests()[1].header("Cookie").isEmpty());
    }

    void worksOverIpv6()
    {
        ScriptedHttpServer server;
        if (!server.listen(QHostAddress::LocalHostIPv6))
            QSKIP("no IPv6 loopback on this machine");
        server.answerWith(ScriptedAnswer::http(200, fullStatus));
        const M1620Result<DeviceStatus> result = fetch(server.hostText());
        QVERIFY(result.ok());
        QCOMPARE(result.value().deviceRate, 44100);
        QCOMPARE(server.requests().size(), 1);
    }

    void worksWithAHostName()
    {
        // A name is looked up before connecting; each of its addresses is tried in turn. Only
        // where the hosts file answers the lookup: a DNS query could leave the machine.
        QFile hosts(QStringLiteral("/etc/hosts"));
        if (!hosts.open(QIODevice::ReadOnly)
            || !QRegularExpression(QStringLiteral("^127\\.0\\.0\\.1\\s.*\\blocalhost\\b"),
                                   QRegularExpression::MultilineOption)
                    .match(QString::fromUtf8(hosts.readAll()))
                    .hasMatch())
            QSKIP("localhost is not in the hosts file");
        m_server->answerWith(ScriptedAnswer::http(200, fullStatus));
        const QString host = QStringLiteral("localhost:%1").arg(m_server->port());
        const M1620Result<DeviceStatus> result = fetch(host);
        QVERIFY2(result.ok(), qPrintable(result.ok() ? QString() : result.error().errorDescription()));
        QCOMPARE(m_server->requests().size(), 1);
        QCOMPARE(m_server->requests().first().header("Host"), host.toUtf8());
    }

    // ---- Reading the status

    void statusLookup_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<std::optional<qint64>>("deviceRate");
        QTest::addColumn<std::optional<qint64>>("madiRate");
        QTest::addColumn<std::optional<bool>>("madiSync");
        const std::optional<qint64> none;
        const std::optional<bool> noSync;
        QTest::newRow("device rate only") << QByteArray(R"({"clock":{"sampling_rate":48000}})")
                                          << std::optional<qint64>(48000) << none << noSync;
        QTest::newRow("all three") << fullStatus << std::optional<qint64>(44100)
                                   << std::optional<qint64>(48000) << std::optional<bool>(false);
        QTest::newRow("rate as string")
            << QByteArray(R"({"clock":{"sampling_rate":"48000"}})") << none << none << noSync;
        QTest::newRow("sources null") << QByteArray(R"({"clock":{"sampling_rate":96000,"sources":null}})")
                                      << std::optional<qint64>(96000) << none << noSync;
        QTest::newRow("madi_coaxial not an object")
            << QByteArray(R"({"clock":{"sources":{"madi_coaxial":[48000,true]}}})") << none << none << noSync;
        QTest::newRow("clock an array") << QByteArray(R"({"clock":[1,2]})") << none << none << noSync;
        QTest::newRow("empty object") << QByteArray("{}") << none << none << noSync;
        QTest::newRow("other members ignored")
            << QByteArray(R"({"x":1,"clock":{"y":null,"sampling_rate":88200,"sources":{"madi_coaxial":)"
                          R"({"rate":176400,"sync":true,"z":"q"}}}})")
            << std::optional<qint64>(88200) << std::optional<qint64>(176400) << std::optional<bool>(true);
        QTest::newRow("fractional rate")
            << QByteArray(R"({"clock":{"sampling_rate":48000.5}})") << none << none << noSync;
        QTest::newRow("whole double") << QByteArray(R"({"clock":{"sampling_rate":48000.0}})")
                                      << std::optional<qint64>(48000) << none << noSync;
        QTest::newRow("exponent form") << QByteArray(R"({"clock":{"sampling_rate":1.92e5}})")
                                       << std::optional<qint64>(192000) << none << noSync;
        QTest::newRow("largest qint64")
            << QByteArray(R"({"clock":{"sampling_rate":9223372036854775807}})")
            << std::optional<qint64>(std::numeric_limits<qint64>::max()) << none << noSync;
        QTest::newRow("smallest qint64")
            << QByteArray(R"({"clock":{"sampling_rate":-9223372036854775808}})")
            << std::optional<qint64>(std::numeric_limits<qint64>::min()) << none << noSync;
        QTest::newRow("2^63") << QByteArray(R"({"clock":{"sampling_rate":9223372036854775808}})") << none
                              << none << noSync;
        QTest::newRow("1e19") << QByteArray(R"({"clock":{"sampling_rate":1e19}})") << none << none << noSync;
        QTest::newRow("-1e300") << QByteArray(R"({"clock":{"sampling_rate":-1e300}})") << none << none
                                << noSync;
        QTest::newRow("2^53 + 1 exact")
            << QByteArray(R"({"clock":{"sources":{"madi_coaxial":{"rate":9007199254740993}}}})") << none
            << std::optional<qint64>(9007199254740993) << noSync;
        QTest::newRow("rate null, sync as number") << QByteArray(
            R"({"clock":{"sampling_rate":null,"sources":{"madi_coaxial":{"rate":null,"sync":1}}}})")
                                                   << none << none << noSync;
        QTest::newRow("sync as string")
            << QByteArray(R"({"clock":{"sources":{"madi_coaxial":{"sync":"true"}}}})") << none << none
            << noSync;
        QTest::newRow("rate as boolean")
            << QByteArray(R"({"clock":{"sources":{"madi_coaxial":{"rate":true}}}})") << none << none
            << noSync;
    }

    void statusLookup()
    {
        QFETCH(QByteArray, body);
        QFETCH(std::optional<qint64>, deviceRate);
        QFETCH(std::optional<qint64>, madiRate);
        QFETCH(std::optional<bool>, madiSync);
        m_server->answerWith(ScriptedAnswer::http(200, body));
        const M1620Result<DeviceStatus> result = fetch();
        QVERIFY2(result.ok(), qPrintable(result.ok() ? QString() : result.error().errorDescription()));
        QCOMPARE(result.value().deviceRate, deviceRate);
        QCOMPARE(result.value().madiRate, madiRate);
        QCOMPARE(result.value().madiSync, madiSync);
    }

    // ---- Failures

    void failures_data()
    {
        QTest::addColumn<ScriptedAnswer>("answer");
        QTest::addColumn<bool>("unreachable");
        QTest::addColumn<QString>("message"); // empty: any non-empty text
        const QString bad = QStringLiteral("Unexpected response from device");
        const QByteArray object = fullStatus;
        QTest::newRow("404") << ScriptedAnswer::http(404, object) << false << bad;
        QTest::newRow("500") << ScriptedAnswer::http(500, object) << false << bad;
        QTest::newRow("300") << ScriptedAnswer::http(300, object) << false << bad;
        QTest::newRow("401 without challenge") << ScriptedAnswer::http(401, object) << false << bad;
        QTest::newRow("599") << ScriptedAnswer::http(599, object) << false << bad;
        QTest::newRow("204 empty") << ScriptedAnswer::http(204, "", "") << true << parserText("");
        QTest::newRow("200 empty") << ScriptedAnswer::http(200, "") << true << parserText("");
        QTest::newRow("200 blank") << ScriptedAnswer::http(200, " \r\n") << true << parserText(" \r\n");
        QTest::newRow("200 text") << ScriptedAnswer::http(200, "OK", "text/plain") << true
                                  << parserText("OK");
        QTest::newRow("200 broken object")
            << ScriptedAnswer::http(200, R"({"clock":)") << true << parserText(R"({"clock":)");
        QTest::newRow("200 two values") << ScriptedAnswer::http(200, "1,2") << true << parserText("1,2");
        QTest::newRow("200 trailing garbage")
            << ScriptedAnswer::http(200, "{}x") << true << parserText("{}x");
        QTest::newRow("200 array") << ScriptedAnswer::http(200, "[" + object + "]") << false << bad;
        QTest::newRow("200 number") << ScriptedAnswer::http(200, "42") << false << bad;
        QTest::newRow("200 string") << ScriptedAnswer::http(200, R"("ok")") << false << bad;
        QTest::newRow("200 null") << ScriptedAnswer::http(200, "null") << false << bad;
        QTest::newRow("299 array") << ScriptedAnswer::http(299, "[]") << false << bad;

        ScriptedAnswer ssh;
        ssh.bytes = "SSH-2.0-OpenSSH_9.2p1\r\n";
        QTest::newRow("another protocol, closed") << ssh << false << bad;
        ssh.closeAfter = false;
        QTest::newRow("another protocol, left open") << ssh << false << bad;
        ScriptedAnswer binary;
        binary.bytes = QByteArray::fromHex("160303005a0200005603035f1c");
        QTest::newRow("binary garbage") << binary << false << bad;
        ScriptedAnswer noStatus;
        noStatus.bytes = "HTTP/1.1 OK\r\nContent-Length: 2\r\n\r\n{}";
        QTest::newRow("malformed status line") << noStatus << false << bad;

        // A peer that closes a new connection unanswered gave no HTTP answer either.
        ScriptedAnswer silent;
        QTest::newRow("closed without answer") << silent << false << bad;

        ScriptedAnswer cut = ScriptedAnswer::http(200, object);
        cut.bytes.chop(10);
        QTest::newRow("closed mid-body") << cut << true << QString();

        ScriptedAnswer cutError = ScriptedAnswer::http(500, object);
        cutError.bytes.chop(10);
        QTest::newRow("500 closed mid-body") << cutError << false << bad;

        const QString tooLarge = M1620Client::tooLargeMessage();
        QTest::newRow("declared over 1 MiB")
            << ScriptedAnswer::http(200, QByteArray(M1620Client::maxBodyBytes + 1, ' ')) << true << tooLarge;
        QTest::newRow("streamed over 1 MiB") << endless(4 * M1620Client::maxBodyBytes) << true << tooLarge;
    }

    void failures()
    {
        QFETCH(ScriptedAnswer, answer);
        QFETCH(bool, unreachable);
        QFETCH(QString, message);
        m_server->answerWith(answer);
        const M1620Result<DeviceStatus> result = fetch();
        QVERIFY(!result.ok());
        QCOMPARE(result.error().kind(),
                 unreachable ? M1620Error::Kind::Unreachable : M1620Error::Kind::BadResponse);
        if (message.isEmpty())
            QVERIFY(!result.error().errorDescription().isEmpty());
        else
            QCOMPARE(result.error().errorDescription(), message);
    }

    void everyStatusFrom200To299Succeeds()
    {
        for (const int status : {200, 201, 202, 250, 299}) {
            m_server->answerWith(ScriptedAnswer::http(status, fullStatus));
            const M1620Result<DeviceStatus> result = fetch();
            QVERIFY2(result.ok(), qPrintable(QString::number(status)));
            QCOMPARE(result.value().deviceRate, 44100);
        }
    }

    void bodyOfExactlyTheLimitIsRead()
    {
        QByteArray body = fullStatus;
        body.append(QByteArray(M1620Client::maxBodyBytes - body.size(), ' '));
        m_server->answerWith(ScriptedAnswer::http(200, body));
        const M1620Result<DeviceStatus> result = fetch();
        QVERIFY(result.ok());
        QCOMPARE(result.value().madiRate, 48000);
    }

    void setRateChecksTheAnswerToo()
    {
        M1620Client client(m_server->hostText());
        m_server->answerWith(ScriptedAnswer::http(500, fullStatus));
        M1620Result<M1620Done> result = finish(client.setRate(96000));
        QVERIFY(!result.ok());
        QCOMPARE(result.error(), M1620Error::badResponse());

        m_server->answerWith(ScriptedAnswer::http(200, "[]"));
        result = finish(client.setRate(96000));
        QVERIFY(!result.ok());
        QCOMPARE(result.error(), M1620Error::badResponse());

        m_server->answerWith(ScriptedAnswer::http(204, ""));
        result = finish(client.setRate(96000));
        QVERIFY(!result.ok());
        QCOMPARE(result.error().kind(), M1620Error::Kind::Unreachable);
    }

    void redirectIsNotFollowed()
    {
        ScriptedHttpServer elsewhere;
        QVERIFY(elsewhere.listen());
        elsewhere.answerWith(ScriptedAnswer::http(200, fullStatus));
        const QByteArray location = "Location: http://" + elsewhere.hostText().toUtf8() + "/api/v2/self";
        for (const int status : {301, 302, 307, 308}) {
            m_server->answerWith(ScriptedAnswer::http(status, "{}", "application/json", {location}));
            const M1620Result<DeviceStatus> result = fetch();
            QVERIFY(!result.ok());
            QCOMPARE(result.error(), M1620Error::badResponse());
        }
        QCOMPARE(elsewhere.connectionCount(), 0);
    }

    void refusedConnection()
    {
        const M1620Result<DeviceStatus> result = fetch(QStringLiteral("127.0.0.1:%1").arg(closedPort()));
        QVERIFY(!result.ok());
        QCOMPARE(result.error(), M1620Error::unreachable(QStringLiteral("Connection refused")));
    }

    void requestBytesOnTheWire()
    {
        m_server->answerWith(ScriptedAnswer::http(200, fullStatus));
        QVERIFY(fetch().ok());
        QCOMPARE(m_server->requests().size(), 1);
        QCOMPARE(m_server->requests().first().raw,
                 "POST /api/v2/self HTTP/1.1\r\nHost: " + m_server->hostText().toUtf8()
                     + "\r\nContent-Type: application/json\r\nContent-Length: "
                     + QByteArray::number(statusQuery.size()) + "\r\nConnection: keep-alive\r\n\r\n"
                     + statusQuery);
    }

    void answerArrivingInPieces()
    {
        // The status line is cut after "HTTP/", and every later byte arrives on its own.
        ScriptedAnswer pieces = ScriptedAnswer::http(200, R"({"clock":{"sampling_rate":48000}})");
        pieces.trickleAfter = 5;
        pieces.trickleMs = 2;
        m_server->answerWith(pieces);
        const M1620Result<DeviceStatus> result = fetch();
        QVERIFY2(result.ok(), qPrintable(result.ok() ? QString() : result.error().errorDescription()));
        QCOMPARE(result.value().deviceRate, 48000);
    }

    void interimAnswerIsSkipped()
    {
        ScriptedAnswer answer = ScriptedAnswer::http(200, fullStatus);
        answer.bytes.prepend("HTTP/1.1 100 Continue\r\n\r\n");
        m_server->answerWith(answer);
        const M1620Result<DeviceStatus> result = fetch();
        QVERIFY(result.ok());
        QCOMPARE(result.value().deviceRate, 44100);
    }

    void chunkedAnswer()
    {
        // The body in three chunks, the first with an extension, then a trailer field.
        const QList<QByteArray> pieces {"{\"clock\":{\"sampli", "ng_rate\":4800", "0}}"};
        ScriptedAnswer answer;
        answer.bytes = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
        for (const QByteArray &piece : pieces)
            answer.bytes += QByteArray::number(piece.size(), 16) + (piece == pieces.first() ? ";part=1" : "")
                + "\r\n" + piece + "\r\n";
        answer.bytes += "0\r\nX-Trailer: 1\r\n\r\n";
        answer.closeAfter = false;
        m_server->answerWith(answer);
        M1620Client client(m_server->hostText());
        for (int i = 0; i < 2; ++i) {
            const M1620Result<DeviceStatus> result = finish(client.fetchStatus());
            QVERIFY2(result.ok(), qPrintable(result.ok() ? QString() : result.error().errorDescription()));
            QCOMPARE(result.value().deviceRate, 48000);
        }
        QCOMPARE(m_server->connectionCount(), 1); // a chunked answer leaves the connection usable
    }

    // ---- Keeping the connection

    void keptAliveConnectionCarriesEveryRequest()
    {
        m_server->answerWith(ScriptedAnswer::keepAlive(200, fullStatus));
        M1620Client client(m_server->hostText());
        QVERIFY(finish(client.fetchStatus()).ok());
        QVERIFY(finish(client.setRate(48000)).ok());
        QVERIFY(finish(client.fetchStatus()).ok());
        QCOMPARE(m_server->requests().size(), 3);
        QCOMPARE(m_server->connectionCount(), 1);
        QCOMPARE(m_server->requests()[1].body, QByteArray(R"({"clock":{"sampling_rate":48000}})"));
    }

    void connectionCloseIsHonoured()
    {
        // The device says it will close but leaves the connection open: the client closes it.
        ScriptedAnswer answer = ScriptedAnswer::http(200, fullStatus);
        answer.closeAfter = false;
        m_server->answerWith(answer);
        M1620Client client(m_server->hostText());
        QVERIFY(finish(client.fetchStatus()).ok());
        QTRY_COMPARE(m_server->openConnectionCount(), 0);
        QVERIFY(finish(client.fetchStatus()).ok());
        QCOMPARE(m_server->connectionCount(), 2);
    }

    void bodyUntilTheCloseEndsTheConnection()
    {
        ScriptedAnswer answer;
        answer.bytes = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n" + fullStatus;
        m_server->answerWith(answer);
        M1620Client client(m_server->hostText());
        QCOMPARE(finish(client.fetchStatus()).value().madiRate, 48000);
        QCOMPARE(finish(client.fetchStatus()).value().madiRate, 48000);
        QCOMPARE(m_server->connectionCount(), 2);
    }

    void idleConnectionClosedByTheDeviceIsReplaced()
    {
        m_server->answerWith(ScriptedAnswer::keepAlive(200, fullStatus));
        M1620Client client(m_server->hostText());
        QVERIFY(finish(client.fetchStatus()).ok());
        m_server->closeConnections();
        QTRY_COMPARE(m_server->openConnectionCount(), 0);
        QTest::qWait(50); // the client's side sees the close too
        QVERIFY(finish(client.fetchStatus()).ok());
        // Sent once, on a new connection.
        QCOMPARE(m_server->requests().size(), 2);
        QCOMPARE(m_server->connectionCount(), 2);
        QCOMPARE(m_server->requests()[1].connection, 2);
    }

    void requestLostOnAKeptConnectionGoesOnceMore()
    {
        // The device closes the kept connection just as the next request arrives, without a
        // byte of answer: that request goes again, on a new connection.
        m_server->answerWith(ScriptedAnswer::keepAlive(200, R"({"clock":{"sampling_rate":96000}})"));
        m_server->answerNext(ScriptedAnswer::keepAlive(200, fullStatus));
        m_server->answerNext(ScriptedAnswer()); // close without answering
        M1620Client client(m_server->hostText());
        QCOMPARE(finish(client.fetchStatus()).value().deviceRate, 44100);
        const M1620Result<M1620Done> result = finish(client.setRate(96000));
        QVERIFY2(result.ok(), qPrintable(result.ok() ? QString() : result.error().errorDescription()));
        QCOMPARE(m_server->requests().size(), 3);
        QCOMPARE(m_server->requests()[1].connection, 1);
        QCOMPARE(m_server->requests()[2].connection, 2);
        QCOMPARE(m_server->requests()[2].raw, m_server->requests()[1].raw);
        // The new connection is the one kept from now on.
        QCOMPARE(finish(client.fetchStatus()).value().deviceRate, 96000);
        QCOMPARE(m_server->requests().last().connection, 2);
        QCOMPARE(m_server->connectionCount(), 2);
    }

    void lostRequestGoesOnceMoreOnly()
    {
        m_server->answerWith(ScriptedAnswer::keepAlive(200, fullStatus));
        m_server->answerNext(ScriptedAnswer::keepAlive(200, fullStatus));
        m_server->answerNext(ScriptedAnswer());
        m_server->answerNext(ScriptedAnswer());
        M1620Client client(m_server->hostText());
        QVERIFY(finish(client.fetchStatus()).ok());
        const M1620Result<DeviceStatus> result = finish(client.fetchStatus());
        QVERIFY(!result.ok());
        QCOMPARE(result.error(), M1620Error::badResponse());
        QCOMPARE(m_server->requests().size(), 3);
        QCOMPARE(m_server->connectionCount(), 2);
    }

    void partlyAnsweredRequestIsNotSentAgain()
    {
        // A byte of answer means the device took the request up: no second try.
        ScriptedAnswer cut = ScriptedAnswer::keepAlive(200, fullStatus);
        cut.bytes.chop(10);
        cut.closeAfter = true;
        m_server->answerWith(ScriptedAnswer::keepAlive(200, fullStatus));
        m_server->answerNext(ScriptedAnswer::keepAlive(200, fullStatus));
        m_server->answerNext(cut);
        M1620Client client(m_server->hostText());
        QVERIFY(finish(client.fetchStatus()).ok());
        const M1620Result<DeviceStatus> result = finish(client.fetchStatus());
        QVERIFY(!result.ok());
        QCOMPARE(result.error().kind(), M1620Error::Kind::Unreachable);
        QVERIFY(!result.error().errorDescription().isEmpty());
        QCOMPARE(m_server->requests().size(), 2);
        QCOMPARE(m_server->connectionCount(), 1);
    }

    void newConnectionClosedUnansweredIsNotSentAgain()
    {
        m_server->answerWith(ScriptedAnswer());
        const M1620Result<DeviceStatus> result = fetch();
        QCOMPARE(result.error(), M1620Error::badResponse());
        QCOMPARE(m_server->requests().size(), 1);
        QCOMPARE(m_server->connectionCount(), 1);
    }

    void failedExchangeClosesItsConnection()
    {
        m_server->answerWith(ScriptedAnswer::keepAlive(200, fullStatus));
        m_server->answerNext(ScriptedAnswer::keepAlive(500, fullStatus));
        M1620Client client(m_server->hostText());
        QCOMPARE(finish(client.fetchStatus()).error(), M1620Error::badResponse());
        QTRY_COMPARE(m_server->openConnectionCount(), 0);
        QVERIFY(finish(client.fetchStatus()).ok());
        QCOMPARE(m_server->connectionCount(), 2);
    }

    void hostChangeReplacesTheConnection()
    {
        ScriptedHttpServer second;
        QVERIFY(second.listen());
        m_server->answerWith(ScriptedAnswer::keepAlive(200, R"({"clock":{"sampling_rate":44100}})"));
        second.answerWith(ScriptedAnswer::keepAlive(200, R"({"clock":{"sampling_rate":96000}})"));
        M1620Client client(m_server->hostText());
        QCOMPARE(finish(client.fetchStatus()).value().deviceRate, 44100);
        client.updateHost(second.hostText());
        QCOMPARE(finish(client.fetchStatus()).value().deviceRate, 96000);
        QTRY_COMPARE(m_server->openConnectionCount(), 0); // the first host's connection is let go
        QCOMPARE(finish(client.fetchStatus()).value().deviceRate, 96000);
        QCOMPARE(second.connectionCount(), 1);
        client.updateHost(m_server->hostText());
        QCOMPARE(finish(client.fetchStatus()).value().deviceRate, 44100);
        QCOMPARE(m_server->connectionCount(), 2);
    }

    void hostChangeOnTheSamePort()
    {
        ScriptedHttpServer second;
        if (!second.listen(QHostAddress(QStringLiteral("127.0.0.2")), m_server->port()))
            QSKIP("127.0.0.2 is not a loopback address here");
        m_server->answerWith(ScriptedAnswer::keepAlive(200, R"({"clock":{"sampling_rate":44100}})"));
        second.answerWith(ScriptedAnswer::keepAlive(200, R"({"clock":{"sampling_rate":96000}})"));
        M1620Client client(m_server->hostText());
        QCOMPARE(finish(client.fetchStatus()).value().deviceRate, 44100);
        client.updateHost(second.hostText());
        QCOMPARE(finish(client.fetchStatus()).value().deviceRate, 96000);
        QCOMPARE(second.requests().size(), 1);
    }

    void overlappingRequestsNeverShareAConnection()
    {
        ScriptedAnswer slow = ScriptedAnswer::keepAlive(200, fullStatus);
        slow.delayMs = 200;
        m_server->answerWith(slow);
        M1620Client client(m_server->hostText());
        QVERIFY(finish(client.fetchStatus()).ok());
        QCoro::Task<M1620Result<DeviceStatus>> first = client.fetchStatus();
        QCoro::Task<M1620Result<DeviceStatus>> second = client.fetchStatus();
        QVERIFY(finish(first).ok());
        QVERIFY(finish(second).ok());
        QCOMPARE(m_server->requests().size(), 3);
        QCOMPARE(m_server->requests()[1].connection, 1);
        QCOMPARE(m_server->requests()[2].connection, 2);
    }

    void deletingTheClientClosesItsConnection()
    {
        m_server->answerWith(ScriptedAnswer::keepAlive(200, fullStatus));
        auto *client = new M1620Client(m_server->hostText());
        QVERIFY(finish(client->fetchStatus()).ok());
        QCOMPARE(m_server->openConnectionCount(), 1);
        delete client;
        QTRY_COMPARE(m_server->openConnectionCount(), 0);
    }

    // ---- Time-outs (upper bounds are generous so that a busy machine cannot break them)

    void silentDeviceTimesOutAtTwoSeconds()
    {
        ScriptedAnswer hang;
        hang.hang = true;
        m_server->answerWith(hang);
        QElapsedTimer clock;
        clock.start();
        const M1620Result<DeviceStatus> result = fetch();
        const qint64 elapsed = clock.elapsed();
        QVERIFY(!result.ok());
        QCOMPARE(result.error(), M1620Error::unreachable(M1620Client::timedOutMessage()));
        QVERIFY2(elapsed >= 1990 && elapsed < 5000, qPrintable(QString::number(elapsed)));
    }

    void tricklingDeviceTimesOutAtTwoSeconds()
    {
        // Headers at once, then a byte of the body every 400 ms: the idle limit never fires.
        ScriptedAnswer trickle = ScriptedAnswer::http(200, fullStatus);
        trickle.trickleAfter = trickle.bytes.indexOf("\r\n\r\n") + 4;
        trickle.trickleMs = 400;
        m_server->answerWith(trickle);
        QElapsedTimer clock;
        clock.start();
        const M1620Result<DeviceStatus> result = fetch();
        const qint64 elapsed = clock.elapsed();
        QVERIFY(!result.ok());
        QCOMPARE(result.error(), M1620Error::unreachable(M1620Client::timedOutMessage()));
        QVERIFY2(elapsed >= 1990 && elapsed < 5000, qPrintable(QString::number(elapsed)));
    }

    void timedOutExchangeClosesItsConnection()
    {
        ScriptedAnswer hang;
        hang.hang = true;
        m_server->answerWith(ScriptedAnswer::keepAlive(200, fullStatus));
        m_server->answerNext(ScriptedAnswer::keepAlive(200, fullStatus));
        m_server->answerNext(hang);
        M1620Client client(m_server->hostText());
        QVERIFY(finish(client.fetchStatus()).ok());
        QCOMPARE(finish(client.fetchStatus()).error(),
                 M1620Error::unreachable(M1620Client::timedOutMessage()));
        QTRY_COMPARE(m_server->openConnectionCount(), 0);
        QVERIFY(finish(client.fetchStatus()).ok());
        QCOMPARE(m_server->connectionCount(), 2);
    }

    void slowButCompleteAnswerSucceeds()
    {
        ScriptedAnswer slow = ScriptedAnswer::http(200, fullStatus);
        slow.delayMs = 1200;
        m_server->answerWith(slow);
        QVERIFY(fetch().ok());
    }

    // ---- Host handling

    void updateHostTakesEffectFromTheNextRequest()
    {
        ScriptedHttpServer second;
        QVERIFY(second.listen());
        m_server->answerWith(ScriptedAnswer::http(200, R"({"clock":{"sampling_rate":44100}})"));
        second.answerWith(ScriptedAnswer::http(200, R"({"clock":{"sampling_rate":96000}})"));

        M1620Client client(m_server->hostText());
        QCOMPARE(finish(client.fetchStatus()).value().deviceRate, 44100);
        client.updateHost(second.hostText());
        QCOMPARE(client.host(), second.hostText());
        QCOMPARE(finish(client.fetchStatus()).value().deviceRate, 96000);
        QCOMPARE(m_server->requests().size(), 1);
        QCOMPARE(second.requests().size(), 1);
    }

    void requestInFlightKeepsItsHost()
    {
        ScriptedHttpServer second;
        QVERIFY(second.listen());
        ScriptedAnswer slow = ScriptedAnswer::http(200, R"({"clock":{"sampling_rate":44100}})");
        slow.delayMs = 300;
        m_server->answerWith(slow);
        second.answerWith(ScriptedAnswer::http(200, R"({"clock":{"sampling_rate":96000}})"));

        M1620Client client(m_server->hostText());
        QCoro::Task<M1620Result<DeviceStatus>> first = client.fetchStatus();
        client.updateHost(second.hostText());
        QCOMPARE(finish(first).value().deviceRate, 44100);
        QCOMPARE(finish(client.fetchStatus()).value().deviceRate, 96000);
        QCOMPARE(m_server->requests().size(), 1);
        QCOMPARE(second.requests().size(), 1);
    }

    void malformedHostSendsNothing_data()
    {
        QTest::addColumn<QString>("pattern"); // HOST is "127.0.0.1:port" of the server, PORT its port
        QTest::newRow("path") << "HOST/x";
        QTest::newRow("query") << "HOST?x";
        QTest::newRow("fragment") << "HOST#x";
        QTest::newRow("user info") << "u@HOST";
        QTest::newRow("space") << " HOST";
        QTest::newRow("newline") << "HOST\n";
        QTest::newRow("short IPv4") << "127.1:PORT";
        QTest::newRow("second port") << "HOST:80";
    }

    void malformedHostSendsNothing()
    {
        QFETCH(QString, pattern);
        const QString host = QString(pattern)
                                 .replace(QStringLiteral("HOST"), m_server->hostText())
                                 .replace(QStringLiteral("PORT"), QString::number(m_server->port()));
        m_server->answerWith(ScriptedAnswer::http(200, fullStatus));
        const M1620Result<DeviceStatus> result = fetch(host);
        QVERIFY(!result.ok());
        QCOMPARE(result.error().kind(), M1620Error::Kind::Unreachable);
        QVERIFY2(result.error().errorDescription().startsWith(QStringLiteral("Invalid device address “")),
                 qPrintable(result.error().errorDescription()));
        QTest::qWait(100); // room for a stray connection to arrive
        QCOMPARE(m_server->connectionCount(), 0);
    }

    // ---- Lifetime

    void clientDeletedMidRequestEndsItAtOnce()
    {
        // Whoever awaits the request resumes now, not when an event loop that may be gone
        // would have delivered the answer or the deadline.
        ScriptedAnswer hang;
        hang.hang = true;
        m_server->answerWith(hang);
        auto *client = new M1620Client(m_server->hostText());
        QCoro::Task<M1620Result<DeviceStatus>> pending = client->fetchStatus();
        QVERIFY(QTest::qWaitFor([&] { return !m_server->requests().isEmpty(); }, 5000));
        QElapsedTimer clock;
        clock.start();
        delete client;
        QVERIFY(pending.isReady());
        const M1620Result<DeviceStatus> result = finish(pending);
        QVERIFY(!result.ok());
        QCOMPARE(result.error(), M1620Error::unreachable(M1620Client::cancelledMessage()));
        QVERIFY(clock.elapsed() < 1000);
    }

    void clientLivingInsideACoroutine()
    {
        // The connection test's shape: the client ends with the coroutine frame, which is
        // resumed from within the socket's own signal.
        m_server->answerWith(ScriptedAnswer::http(200, fullStatus));
        const auto probe = [](QString host) -> QCoro::Task<std::optional<qint64>> {
            M1620Client client(host);
            const M1620Result<DeviceStatus> result = co_await client.fetchStatus();
            co_return result.ok() ? result.value().deviceRate : std::nullopt;
        };
        QCOMPARE(finish(probe(m_server->hostText())), 44100);
        QCOMPARE(finish(probe(m_server->hostText())), 44100);
    }
};

QTEST_GUILESS_MAIN(TestM1620Client)
#include "tst_M1620Client.moc"
