// The real program, headless, against a device that misbehaves in every way we could think of:
// a raw HTTP server scripted here, on loopback, in this test's own network namespace
// (tests/netns.sh). Each case misbehaves for one status query only; then the device behaves
// again. For each case the server measures how long the program held on before giving up,
// the log must say why, and polling must come back; over the whole run memory stays flat.
#include "ProcessStatus.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <sys/socket.h>

#include <functional>
#include <memory>

namespace {

QString logPath()
{
    return qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/Quorvel/sync.log");
}

QStringList logLines()
{
    QFile file(logPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

int countLines(const QString &needle)
{
    const QStringList lines = logLines();
    return int(
        std::count_if(lines.begin(), lines.end(), [&](const QString &l) { return l.contains(needle); }));
}

QString lastLine(const QString &needle)
{
    const QStringList lines = logLines();
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        if (it->contains(needle))
            return it->mid(it->indexOf(needle) + needle.size());
    }
    return {};
}

QByteArray response(QByteArrayView statusLine, QByteArrayView body, QByteArrayView extraHeaders = {})
{
    return "HTTP/1.1 " + statusLine.toByteArray() + "\r\nContent-Type: application/json\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n" + extraHeaders.toByteArray() + "\r\n" + body.toByteArray();
}

QByteArray statusJson(QByteArrayView device, QByteArrayView madi)
{
    return R"({"clock":{"sampling_rate":)" + device.toByteArray() + R"(,"sources":{"madi_coaxial":{"rate":)"
        + madi.toByteArray() + R"(,"sync":true}}}})";
}

const QByteArray goodAnswer = response("200 OK", statusJson("48000", "48000"));

// One connection as the device's server sees it.
struct Peer
{
    QTcpSocket *socket = nullptr;
    QByteArray buffer;
    bool hostile = false; // answering the armed case: further bytes are ignored
    bool ended = false;
};

using Act = std::function<void(Peer &)>;

void resetConnection(QTcpSocket *socket)
{
    const linger abortive {1, 0}; // close with a TCP reset, not a FIN
    ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    socket->abort();
}

} // namespace

Q_DECLARE_METATYPE(Act)

class TestHostileDevice : public QObject
{
    Q_OBJECT

    QTcpServer m_device;
    QTcpServer m_elsewhere; // where a redirect points; nothing may ever connect to it
    int m_elsewhereConnections = 0;
    QProcess m_quorvel;
    QElapsedTimer m_clock;
    QString m_host;

    const Act *m_armed = nullptr;
    qint64 m_hostileStart = -1; // ms on m_clock, when the hostile request was read
    qint64 m_hostileEnd = -1; // when its connection ended
    int m_goodServed = 0;
    qint64 m_lastGoodAt = -1;
    qint64 m_rssBefore = -1;

    void serve(QTcpSocket *socket)
    {
        auto peer = std::make_shared<Peer>();
        peer->socket = socket;
        auto ended = [this, peer] {
            if (peer->ended)
                return;
            peer->ended = true;
            if (peer->hostile && m_hostileEnd < 0)
                m_hostileEnd = m_clock.elapsed();
            peer->socket->deleteLater();
        };
        connect(socket, &QTcpSocket::disconnected, this, ended);
        connect(socket, &QTcpSocket::errorOccurred, this, ended);
        connect(socket, &QTcpSocket::readyRead, this, [this, peer] {
            peer->buffer.append(peer->socket->readAll());
            while (!peer->hostile && !peer->ended) {
                const qsizetype headEnd = peer->buffer.indexOf("\r\n\r\n");
                if (headEnd < 0)
                    return;
                const QByteArray head = peer->buffer.first(headEnd).toLower();
                const qsizetype field = head.indexOf("content-length:");
                const qsizetype length
                    = field < 0 ? 0 : head.mid(field + 15).split('\r').first().trimmed().toLongLong();
                if (peer->buffer.size() < headEnd + 4 + length)
                    return;
                peer->buffer.remove(0, headEnd + 4 + length);
                if (const Act *act = std::exchange(m_armed, nullptr)) {
                    peer->hostile = true;
                    m_hostileStart = m_clock.elapsed();
                    (*act)(*peer);
                } else {
                    peer->socket->write(goodAnswer);
                    ++m_goodServed;
                    m_lastGoodAt = m_clock.elapsed();
                }
            }
        });
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_clock.start();
        QVERIFY(m_device.listen(QHostAddress::LocalHost));
        QVERIFY(m_elsewhere.listen(QHostAddress::LocalHost));
        connect(&m_device, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_device.nextPendingConnection())
                serve(socket);
        });
        connect(&m_elsewhere, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_elsewhere.nextPendingConnection()) {
                ++m_elsewhereConnections;
                socket->abort();
                socket->deleteLater();
            }
        });
        m_host = QStringLiteral("127.0.0.1:%1").arg(m_device.serverPort());

        // The program polls only this server: never the default address.
        const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Quorvel");
        QVERIFY(QDir().mkpath(config));
        QFile settings(config + QStringLiteral("/settings.json"));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write(QStringLiteral(R"({"customHost":"%1","useCustomHost":true})").arg(m_host).toUtf8());
        settings.close();

        m_quorvel.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_quorvel.start(qEnvironmentVariable("QUORVEL_BIN_DIR") + QStringLiteral("/quorvel"),
                        {QStringLiteral("--headless")});
        QVERIFY(m_quorvel.waitForStarted());
        QVERIFY2(QTest::qWaitFor([] { return countLines(QStringLiteral("Connected to ")) == 1; }, 15000),
                 qPrintable(logLines().join('\n')));
        // A few good polls first, so that what start-up allocates is not counted as growth.
        const int served = m_goodServed;
        QVERIFY(QTest::qWaitFor([&] { return m_goodServed >= served + 4; }, 10000));
        m_rssBefore = residentKiB(QString::number(m_quorvel.processId()));
        QVERIFY(m_rssBefore > 0);
    }

    void cleanupTestCase()
    {
        if (m_quorvel.state() != QProcess::NotRunning) {
            const qint64 rssAfter = residentKiB(QString::number(m_quorvel.processId()));
            qInfo("VmRSS of quorvel: %lld KiB before the hostile cases, %lld KiB after", m_rssBefore,
                  rssAfter);
            m_quorvel.terminate(); // SIGTERM, by its own id
            QVERIFY(m_quorvel.waitForFinished(10000));
            QCOMPARE(m_quorvel.exitCode(), 0);
            QVERIFY2(rssAfter - m_rssBefore < 30 * 1024, "memory grew by more than 30 MB");
        }
        QCOMPARE(m_elsewhereConnections, 0);
        QCOMPARE(countLines(QStringLiteral("Syncing")), 0);
    }

    // Answers the program gives up on: how long it held on, what it logged, and the recovery. The
    // wrong statuses and bodies the client's failure table covers are not repeated here (each
    // costs seconds of the real program); these are the ones that need the whole program: its
    // deadline, its memory under a flood, a redirect it must not follow anywhere, a reset, and
    // documents deep or large enough to hurt the parser.
    void givesUp_data()
    {
        QTest::addColumn<Act>("act");
        QTest::addColumn<QString>("error"); // empty: any text but the bad-response one

        const QString timedOut = QStringLiteral("The request timed out");
        const QString tooLarge = QStringLiteral("The device’s response is larger than 1 MiB");
        const QString bad = QStringLiteral("Unexpected response from device");
        auto answer = [](QByteArray bytes) { return Act([bytes](Peer &p) { p.socket->write(bytes); }); };
        auto ok = [](QByteArray body) { return response("200 OK", body); };

        QTest::newRow("hang after the request") << Act([](Peer &) {}) << timedOut;
        QTest::newRow("100 MB streamed") << Act([](Peer &p) {
            p.socket->write(
                "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n{\"a\":\"");
            const QByteArray block(1024 * 1024, 'a');
            QObject::connect(p.socket, &QTcpSocket::bytesWritten, p.socket,
                             [socket = p.socket, block, left = 100]() mutable {
                                 if (socket->bytesToWrite() < block.size() && left > 0
                                     && socket->state() == QAbstractSocket::ConnectedState) {
                                     socket->write(block);
                                     --left;
                                 }
                             });
        }) << tooLarge;
        QTest::newRow("307 to another host") << Act([this](Peer &p) {
            p.socket->write(
                response("307 Temporary Redirect", "{}",
                         QByteArray("Location: http://127.0.0.1:"
                                    + QByteArray::number(m_elsewhere.serverPort()) + "/api/v2/self\r\n")));
        }) << bad;
        QTest::newRow("reset mid-body") << Act([](Peer &p) {
            p.socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: "
                            "500\r\n\r\n{\"clock\":");
            p.socket->flush();
            QTimer::singleShot(100, p.socket, [socket = p.socket] { resetConnection(socket); });
        }) << QString();
        // Beyond a double's range: Qt's reader refuses the document, so the poll fails.
        QTest::newRow("exponent 1e400") << answer(ok(statusJson("48000", "1e400"))) << QString();
        QTest::newRow("100000 levels of [") << answer(ok(QByteArray(100000, '['))) << QString();
        QTest::newRow("100000 nested objects")
            << answer(ok(QByteArray("{\"a\":").repeated(100000) + "1" + QByteArray(100000, '}')))
            << QString();
    }

    void givesUp()
    {
        QFETCH(Act, act);
        QFETCH(QString, error);
        const int lost = countLines(QStringLiteral("Lost connection: "));
        const int connected = countLines(QStringLiteral("Connected to "));
        m_hostileStart = m_hostileEnd = -1;
        m_armed = &act;

        QVERIFY(QTest::qWaitFor([&] { return m_hostileStart >= 0; }, 5000));
        QVERIFY2(QTest::qWaitFor([&] { return m_hostileEnd >= 0; }, 10000), "the program never let go");
        const qint64 heldOn = m_hostileEnd - m_hostileStart;
        QVERIFY(QTest::qWaitFor([&] { return countLines(QStringLiteral("Lost connection: ")) == lost + 1; },
                                5000));
        const QString text = lastLine(QStringLiteral("Lost connection: "));
        if (error.isEmpty()) {
            QVERIFY(!text.isEmpty());
            QVERIFY2(text != QStringLiteral("Unexpected response from device"), qPrintable(text));
        } else {
            QCOMPARE(text, error);
        }
        // The device behaves again: the next poll, one disconnected interval (3 s) on, connects.
        QVERIFY(QTest::qWaitFor([&] { return countLines(QStringLiteral("Connected to ")) == connected + 1; },
                                10000));
        const qint64 recovered = m_clock.elapsed() - m_hostileEnd;
        qInfo("held on %lld ms, recovered %lld ms later: \"%s\"", heldOn, recovered, qPrintable(text));
        QVERIFY2(heldOn < 3500, qPrintable(QStringLiteral("held on for %1 ms").arg(heldOn)));
        QVERIFY2(recovered < 6500, qPrintable(QStringLiteral("recovered after %1 ms").arg(recovered)));
    }

    // Valid objects whose numbers are no usable rate: the poll succeeds with the rate unknown,
    // and nothing is set on the strength of a number that was rounded, wrapped or cut.
    void readsUnusableNumbersAsUnknown_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("2^64 + 96000") << statusJson("48000", "18446744073709647616");
        QTest::newRow("2^63 + 96000") << statusJson("48000", "9223372036854871808");
        QTest::newRow("fractional 96000.5") << statusJson("48000", "96000.5");
        QTest::newRow("negative") << statusJson("48000", "-96000");
        QTest::newRow("rate as a string") << statusJson("48000", "\"96000\"");
    }

    void readsUnusableNumbersAsUnknown()
    {
        QFETCH(QByteArray, body);
        const QByteArray bytes = response("200 OK", body);
        const Act act = [bytes](Peer &p) {
            p.socket->write(bytes);
            p.hostile = false; // a valid answer: the connection goes on
        };
        const int lost = countLines(QStringLiteral("Lost connection: "));
        m_hostileStart = -1;
        m_armed = &act;
        QVERIFY(QTest::qWaitFor([&] { return m_hostileStart >= 0; }, 5000));
        // The next poll comes at the connected interval (0.5 s), not the disconnected one (3 s).
        const int served = m_goodServed;
        QVERIFY(QTest::qWaitFor([&] { return m_goodServed > served; }, 5000));
        const qint64 gap = m_lastGoodAt - m_hostileStart;
        QVERIFY2(gap < 2000, qPrintable(QStringLiteral("next poll after %1 ms").arg(gap)));
        QCOMPARE(countLines(QStringLiteral("Lost connection: ")), lost);
        QCOMPARE(countLines(QStringLiteral("Syncing")), 0);
        QCOMPARE(countLines(QStringLiteral("Set rate")), 0);
    }
};

QTEST_GUILESS_MAIN(TestHostileDevice)
#include "tst_HostileDevice.moc"
