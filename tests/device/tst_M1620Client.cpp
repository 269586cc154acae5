#include "ScriptedHttpServer.h"

#include "AwaitTask.h"
#include "device/M1620Client.h"

#include <QElapsedTimer>
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

QByteArray rateBody(qint64 hertz)
{
    return R"({"clock":{"sampling_rate":)" + QByteArray::number(hertz) + "}}";
}

// Every byte of the request the client must send for this body.
QByteArray requestBytes(const QString &host, const QByteArray &body)
{
    return "POST /api/v2/self HTTP/1.1\r\nHost: " + host.toUtf8()
        + "\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\n\r\n" + body;
}

QString notJson(const char *problem, int offset)
{
    return QStringLiteral("The device’s answer was not valid JSON (%1 at offset %2)")
        .arg(problem)
        .arg(offset);
}

std::optional<qint64> rateOf(M1620Client &client)
{
    const M1620Result<DeviceStatus> result = awaitTask(client.fetchStatus());
    return result.ok() ? result.value().deviceRate : std::nullopt;
}

// The client's own failure texts, as the user reads them.
const QString timedOut = QStringLiteral("The request timed out");
const QString tooLarge = QStringLiteral("The device’s response is larger than 1 MiB");
const QString unanswered = QStringLiteral("The device closed the connection without answering");
const QString cutShort = QStringLiteral("The device closed the connection before its answer was complete");

// An answer that stops 10 bytes short of its Content-Length, then closes or resets.
ScriptedAnswer cutAnswer(int status, bool reset = false)
{
    ScriptedAnswer answer = ScriptedAnswer::http(status, fullStatus);
    answer.bytes.chop(10);
    answer.reset = reset;
    return answer;
}

} // namespace

class TestM1620Client : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ScriptedHttpServer> m_server;

    M1620Result<DeviceStatus> fetch(const QString &host)
    {
        M1620Client client(host);
        return awaitTask(client.fetchStatus());
    }
    M1620Result<DeviceStatus> fetch() { return fetch(m_server->hostText()); }

private Q_SLOTS:
    void init()
    {
        m_server = std::make_unique<ScriptedHttpServer>();
        QVERIFY(m_server->listen());
    }

    void cleanup() { m_server.reset(); }

    void statusLookup_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<std::optional<qint64>>("deviceRate");
        QTest::addColumn<std::optional<qint64>>("madiRate");
        QTest::addColumn<std::optional<bool>>("madiSync");
        const auto row = [](const char *name, const QByteArray &body, std::optional<qint64> deviceRate,
                            std::optional<qint64> madiRate = {}, std::optional<bool> madiSync = {}) {
            QTest::newRow(name) << body << deviceRate << madiRate << madiSync;
        };
        const auto madi = [](const QByteArray &members) -> QByteArray {
            return R"({"clock":{"sources":{"madi_coaxial":{)" + members + "}}}}";
        };
        const qint64 max = std::numeric_limits<qint64>::max();
        row("other members ignored",
            R"({"x":1,"clock":{"y":null,"sampling_rate":88200,"sources":{"madi_coaxial":)"
            R"({"rate":176400,"sync":true,"z":"q"}}}})",
            88200, 176400, true);
        row("rate as string", R"({"clock":{"sampling_rate":"48000"}})", {});
        row("fractional rate", R"({"clock":{"sampling_rate":48000.5}})", {});
        row("whole double", R"({"clock":{"sampling_rate":48000.0}})", 48000);
        row("largest qint64", rateBody(max), max);
        row("2^63", R"({"clock":{"sampling_rate":9223372036854775808}})", {});
        row("2^53 + 1 exact", madi(R"("rate":9007199254740993)"), {}, 9007199254740993);
        row("rate null, sync as number", madi(R"("rate":null,"sync":1)"), {});
        row("body of exactly 1 MiB",
            fullStatus + QByteArray(M1620Client::maxBodyBytes - fullStatus.size(), ' '), 44100, 48000, false);
    }

    void statusLookup()
    {
        QFETCH(QByteArray, body);
        QFETCH(std::optional<qint64>, deviceRate);
        QFETCH(std::optional<qint64>, madiRate);
        QFETCH(std::optional<bool>, madiSync);
        m_server->answerWith(ScriptedAnswer::http(200, body));
        const M1620Result<DeviceStatus> result = fetch();
        QVERIFY(result.ok());
        QCOMPARE(result.value().deviceRate, deviceRate);
        QCOMPARE(result.value().madiRate, madiRate);
        QCOMPARE(result.value().madiSync, madiSync);
    }

    void failures_data()
    {
        QTest::addColumn<ScriptedAnswer>("answer");
        QTest::addColumn<bool>("unreachable");
        QTest::addColumn<QString>("message");
        const auto bad = [](const char *name, const ScriptedAnswer &answer) {
            QTest::newRow(name) << answer << false << QStringLiteral("Unexpected response from device");
        };
        const auto unreachable = [](const char *name, const ScriptedAnswer &answer, const QString &message) {
            QTest::newRow(name) << answer << true << message;
        };
        bad("300", ScriptedAnswer::http(300, fullStatus));
        bad("500, kept alive", ScriptedAnswer::keepAlive(500, fullStatus));
        // Headers at once, then a byte of the body every 400 ms: an idle limit alone never fires.
        // Timed out after the head of an error answer, the exchange failed first: unreachable.
        ScriptedAnswer trickle = ScriptedAnswer::keepAlive(500, fullStatus);
        trickle.trickleAfter = trickle.bytes.indexOf("\r\n\r\n") + 4;
        trickle.trickleMs = 400;
        unreachable("trickling 500", trickle, timedOut);
        // A redirect is not followed: to a host that refuses, it would read as unreachable.
        bad("307 elsewhere",
            ScriptedAnswer::http(307, "{}", "application/json",
                                 {"Location: http://127.0.0.1:1/api/v2/self"}));
        unreachable("204 empty", ScriptedAnswer::http(204, "", ""), notJson("illegal value", 0));
        bad("200 array", ScriptedAnswer::http(200, "[" + fullStatus + "]"));

        ScriptedAnswer ssh;
        ssh.bytes = "SSH-2.0-OpenSSH_9.2p1\r\n";
        ssh.closeAfter = false;
        bad("another protocol, left open", ssh);
        // A failed exchange is unreachable, even after the status line of an error answer.
        unreachable("closed without answer", ScriptedAnswer(), unanswered);
        unreachable("closed mid-body", cutAnswer(200), cutShort);
        unreachable("500 closed mid-body", cutAnswer(500), cutShort);
        unreachable("reset mid-body", cutAnswer(200, true), QStringLiteral("The connection was reset"));
        // Documents deep or large enough to hurt a parser.
        unreachable("exponent 1e400", ScriptedAnswer::http(200, R"({"clock":{"sampling_rate":1e400}})"),
                    notJson("illegal number", 31));
        unreachable("100000 levels of [", ScriptedAnswer::http(200, QByteArray(100000, '[')),
                    notJson("too deeply nested document", 1025));

        unreachable("declared over 1 MiB",
                    ScriptedAnswer::http(200, QByteArray(M1620Client::maxBodyBytes + 1, ' ')), tooLarge);
        ScriptedAnswer endless; // no length: the body runs until the close
        endless.bytes = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n["
            + QByteArray(4 * M1620Client::maxBodyBytes, '1');
        unreachable("streamed over 1 MiB", endless, tooLarge);
    }

    void failures()
    {
        // The same failure for either request, each sent exactly once; its connection is closed,
        // so the next request goes on a new one.
        QFETCH(ScriptedAnswer, answer);
        QFETCH(bool, unreachable);
        QFETCH(QString, message);
        m_server->answerWith(ScriptedAnswer::keepAlive(200, fullStatus));
        m_server->answerNext(answer);
        m_server->answerNext(answer);
        M1620Client client(m_server->hostText());
        QElapsedTimer clock;
        clock.start();
        const M1620Result<DeviceStatus> status = awaitTask(client.fetchStatus());
        // The deadline bounds the whole exchange; the upper bound is generous for a busy machine.
        if (message == timedOut)
            QVERIFY2(clock.elapsed() >= 1990 && clock.elapsed() < 5000,
                     qPrintable(QString::number(clock.elapsed())));
        const M1620Result<M1620Done> done = awaitTask(client.setRate(48000));
        QVERIFY(!status.ok() && !done.ok());
        QCOMPARE(done.error(), status.error());
        QCOMPARE(status.error().kind(),
                 unreachable ? M1620Error::Kind::Unreachable : M1620Error::Kind::BadResponse);
        QCOMPARE(status.error().errorDescription(), message);
        QVERIFY(awaitTask(client.fetchStatus()).ok());
        QCOMPARE(m_server->requests().size(), 3);
        QCOMPARE(m_server->connectionCount(), 3);
    }

    void answerFramings_data()
    {
        QTest::addColumn<ScriptedAnswer>("answer");
        QTest::addColumn<bool>("kept"); // the connection, for all requests
        // A cookie the device sets is never sent back.
        QTest::newRow("kept alive") << ScriptedAnswer::keepAlive(200, fullStatus,
                                                                 {"Set-Cookie: session=1; Path=/"})
                                    << true;
        QTest::newRow("299, kept alive") << ScriptedAnswer::keepAlive(299, fullStatus) << true;
        ScriptedAnswer untilClose;
        untilClose.bytes = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n" + fullStatus;
        QTest::newRow("body until the close") << untilClose << false;
        // The device says it will close but leaves the connection open: the client closes it.
        ScriptedAnswer closeLeftOpen = ScriptedAnswer::http(200, fullStatus);
        closeLeftOpen.closeAfter = false;
        QTest::newRow("close announced, left open") << closeLeftOpen << false;
    }

    void answerFramings()
    {
        // Each request byte for byte as meant, on one connection if the answer keeps it open, else
        // on one each.
        QFETCH(ScriptedAnswer, answer);
        QFETCH(bool, kept);
        m_server->answerWith(answer);
        M1620Client client(m_server->hostText());
        const M1620Result<DeviceStatus> result = awaitTask(client.fetchStatus());
        QVERIFY(result.ok());
        QVERIFY(result.value() == (DeviceStatus {44100, 48000, false}));
        QVERIFY(awaitTask(client.setRate(48000)).ok());
        QVERIFY(awaitTask(client.setRate(std::numeric_limits<qint64>::max())).ok());
        QCOMPARE(rateOf(client), 44100);
        const QList<QByteArray> bodies {statusQuery, rateBody(48000), rateBody(9223372036854775807),
                                        statusQuery};
        QCOMPARE(m_server->requests().size(), bodies.size());
        for (qsizetype i = 0; i < bodies.size(); ++i)
            QCOMPARE(m_server->requests()[i].raw, requestBytes(m_server->hostText(), bodies[i]));
        QCOMPARE(m_server->connectionCount(), kept ? 1 : bodies.size());
    }

    void requestLostOnAKeptConnectionGoesOnceMore()
    {
        // The device closes the kept connection just as the next request arrives, without a
        // byte of answer: that request goes again, on a new connection, and no more than once.
        m_server->answerWith(ScriptedAnswer::keepAlive(200, rateBody(96000)));
        m_server->answerNext(ScriptedAnswer::keepAlive(200, fullStatus));
        m_server->answerNext(ScriptedAnswer()); // close without answering
        M1620Client client(m_server->hostText());
        QCOMPARE(rateOf(client), 44100);
        const M1620Result<M1620Done> result = awaitTask(client.setRate(96000));
        QVERIFY(result.ok());
        QCOMPARE(m_server->requests().size(), 3);
        QCOMPARE(m_server->requests()[1].connection, 1);
        QCOMPARE(m_server->requests()[2].connection, 2);
        QCOMPARE(m_server->requests()[2].raw, m_server->requests()[1].raw);
        // The new connection is the one kept from now on.
        QCOMPARE(rateOf(client), 96000);
        QCOMPARE(m_server->requests()[3].connection, 2);

        m_server->answerNext(ScriptedAnswer());
        m_server->answerNext(ScriptedAnswer());
        QCOMPARE(awaitTask(client.fetchStatus()).error(), M1620Error::unreachable(unanswered));
        QCOMPARE(m_server->requests().size(), 6);
        QCOMPARE(m_server->connectionCount(), 3);
        // A byte of answer means the device took the request up: it is not sent again.
        QCOMPARE(rateOf(client), 96000);
        m_server->answerNext(cutAnswer(200));
        QCOMPARE(awaitTask(client.fetchStatus()).error(), M1620Error::unreachable(cutShort));
        QCOMPARE(m_server->requests().size(), 8);
    }

    void unreachableHosts()
    {
        QTcpServer probe; // a loopback port on which nothing listens once it is closed
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const QString refusing = QStringLiteral("127.0.0.1:%1").arg(probe.serverPort());
        probe.close();
        QCOMPARE(fetch(refusing).error(), M1620Error::unreachable(QStringLiteral("Connection refused")));
        // A malformed host sends nothing.
        const M1620Result<DeviceStatus> result = fetch(m_server->hostText() + "/x");
        QCOMPARE(result.error().kind(), M1620Error::Kind::Unreachable);
        QVERIFY(result.error().errorDescription().startsWith(QStringLiteral("Invalid device address “")));
        QTest::qWait(100); // room for a stray connection to arrive
        QCOMPARE(m_server->connectionCount(), 0);
    }

    void deletingTheClientEndsItsRequestAndConnection()
    {
        // Whoever awaits the request resumes now, not when an event loop that may be gone
        // would have delivered the answer or the deadline.
        ScriptedAnswer hanging;
        hanging.hang = true; // reads the request, never answers
        m_server->answerWith(hanging);
        m_server->answerNext(ScriptedAnswer::keepAlive(200, fullStatus));
        auto *client = new M1620Client(m_server->hostText());
        QVERIFY(awaitTask(client->fetchStatus()).ok());
        QCoro::Task<M1620Result<DeviceStatus>> pending = client->fetchStatus();
        QVERIFY(QTest::qWaitFor([&] { return m_server->requests().size() == 2; }, 5000));
        delete client;
        QVERIFY(pending.isReady());
        QCOMPARE(awaitTask(std::move(pending)).error(),
                 M1620Error::unreachable(QStringLiteral("The request was cancelled")));
        QTRY_COMPARE(m_server->openConnectionCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestM1620Client)
#include "tst_M1620Client.moc"
