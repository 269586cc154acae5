#include "device/M1620Client.h"

#include "device/DeviceAddress.h"
#include "device/HttpExchange.h"

#include <QCborValue>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QPointer>
#include <QTcpSocket>

#include <cmath>

namespace {

// Whole numbers only: 64-bit integers arrive exact; a double counts when it has no fraction
// and lies within qint64 (-2^63 and 2^63 are exact doubles; a NaN fails the fraction test).
std::optional<qint64> wholeNumber(const QJsonValue &value)
{
    const QCborValue number = QCborValue::fromJsonValue(value);
    if (number.isInteger())
        return number.toInteger();
    if (!number.isDouble())
        return std::nullopt;
    const double d = number.toDouble();
    if (std::trunc(d) != d || d < -0x1p63 || d >= 0x1p63)
        return std::nullopt;
    return static_cast<qint64>(d);
}

// Each value asked for is sent as null; the device fills in what it returns.
QJsonObject statusQuery()
{
    const QJsonObject madi {{QStringLiteral("rate"), QJsonValue::Null},
                            {QStringLiteral("sync"), QJsonValue::Null}};
    const QJsonObject sources {{QStringLiteral("madi_coaxial"), madi}};
    const QJsonObject clock {{QStringLiteral("sampling_rate"), QJsonValue::Null},
                             {QStringLiteral("sources"), sources}};
    return {{QStringLiteral("clock"), clock}};
}

QJsonObject rateSetting(qint64 hertz)
{
    return {{QStringLiteral("clock"), QJsonObject {{QStringLiteral("sampling_rate"), hertz}}}};
}

DeviceStatus readStatus(const QJsonObject &response)
{
    const QJsonObject clock = response.value(u"clock").toObject();
    const QJsonObject madi = clock.value(u"sources").toObject().value(u"madi_coaxial").toObject();
    DeviceStatus status;
    status.deviceRate = wholeNumber(clock.value(u"sampling_rate"));
    status.madiRate = wholeNumber(madi.value(u"rate"));
    if (const QJsonValue sync = madi.value(u"sync"); sync.isBool())
        status.madiSync = sync.toBool();
    return status;
}

// Qt's parser takes only an object or an array at the top level. Inside an array any JSON
// value parses, so a bare number or string is told apart from a body that is no JSON at all.
M1620Result<QJsonObject> parseAnswer(const QByteArray &body)
{
    QJsonParseError error {};
    const QJsonDocument wrapped = QJsonDocument::fromJson('[' + body + ']', &error);
    if (error.error != QJsonParseError::NoError || wrapped.array().size() != 1) {
        QJsonDocument::fromJson(body, &error);
        return M1620Error::unreachable(error.errorString());
    }
    const QJsonValue answer = wrapped.array().first();
    if (!answer.isObject())
        return M1620Error::badResponse();
    return answer.toObject();
}

// The table of failures: what the exchange ended with, as the client reports it.
M1620Result<QJsonObject> answerOf(HttpExchange::Outcome outcome)
{
    using End = HttpExchange::Outcome::End;
    // Once the status line is outside 2xx the answer is bad, whatever happens to its body.
    if (outcome.status && (*outcome.status < 200 || *outcome.status > 299))
        return M1620Error::badResponse();
    switch (outcome.end) {
    case End::Response:
        return parseAnswer(outcome.body);
    case End::TimedOut:
        return M1620Error::unreachable(M1620Client::timedOutMessage());
    case End::Cancelled:
        return M1620Error::unreachable(M1620Client::cancelledMessage());
    case End::TooLarge:
        return M1620Error::unreachable(M1620Client::tooLargeMessage());
    case End::NotHttp:
        return M1620Error::badResponse();
    case End::Closed:
        // Closed before a status line, unanswered or mid-line, the peer gave no HTTP answer.
        if (!outcome.status)
            return M1620Error::badResponse();
        return M1620Error::unreachable(outcome.errorString);
    case End::ConnectionError:
        return M1620Error::unreachable(outcome.errorString);
    }
    return M1620Error::badResponse();
}

} // namespace

// The connection kept open between exchanges, and the exchanges in flight.
struct M1620Client::Connections
{
    HttpExchange::Connection idle;
    QString host;
    quint16 port = 0;
    bool clientGone = false;
    QList<QPointer<HttpExchange>> inFlight;

    // The idle connection if it leads to host:port and is still open and quiet; else null, and
    // the exchange opens a new one. Taking it leaves none idle, so an exchange that overlaps
    // another never shares its connection.
    HttpExchange::Connection take(const QString &toHost, quint16 toPort)
    {
        HttpExchange::Connection connection = std::move(idle);
        if (connection && toHost == host && toPort == port
            && connection->state() == QAbstractSocket::ConnectedState && connection->bytesAvailable() == 0)
            return connection;
        return {}; // a stale one is closed as it goes
    }

    // Keeps a connection for the next exchange; one is enough, and none once the client is gone.
    void keep(HttpExchange::Connection connection, const QString &toHost, quint16 toPort)
    {
        if (!connection || clientGone || idle)
            return;
        idle = std::move(connection);
        host = toHost;
        port = toPort;
    }
};

M1620Client::M1620Client(const QString &host, QObject *parent)
    : QObject(parent)
    , m_host(host)
    , m_connections(std::make_shared<Connections>())
{ }

M1620Client::~M1620Client()
{
    // A request still in flight ends now, as cancelled, so whoever awaits it resumes instead
    // of waiting for an event loop that may already be gone.
    m_connections->clientGone = true;
    if (m_connections->idle)
        m_connections->idle->abort(); // closed now; the object itself goes later
    m_connections->idle.reset();
    const QList<QPointer<HttpExchange>> inFlight = std::exchange(m_connections->inFlight, {});
    for (const QPointer<HttpExchange> &exchange : inFlight) {
        if (exchange)
            exchange->cancel();
    }
}

QString M1620Client::timedOutMessage()
{
    return QStringLiteral("The request timed out");
}

QString M1620Client::tooLargeMessage()
{
    return QStringLiteral("The device’s response is larger than 1 MiB");
}

QString M1620Client::cancelledMessage()
{
    return QStringLiteral("The request was cancelled");
}

void M1620Client::updateHost(const QString &host)
{
    m_host = host;
}

// After a co_await the client may be gone: the coroutines below touch only their own locals
// from there on.
QCoro::Task<M1620Result<DeviceStatus>> M1620Client::fetchStatus()
{
    const M1620Result<QJsonObject> answer = co_await post(statusQuery());
    if (!answer.ok())
        co_return answer.error();
    co_return readStatus(answer.value());
}

QCoro::Task<M1620Result<M1620Done>> M1620Client::setRate(qint64 hertz)
{
    const M1620Result<QJsonObject> answer = co_await post(rateSetting(hertz));
    if (!answer.ok())
        co_return answer.error();
    co_return M1620Done {};
}

QCoro::Task<M1620Result<QJsonObject>> M1620Client::post(const QJsonObject &body)
{
    // Everything that reads the client or the body happens before the first suspension.
    const M1620Result<QUrl> url = DeviceAddress::apiUrl(m_host);
    if (!url.ok())
        co_return url.error();
    // The checked URL names the peer: an IPv6 address comes without its brackets here, and a
    // name in its ASCII form. No port in the host text means the HTTP port.
    const QString host = url.value().host(QUrl::EncodeUnicode);
    const auto port = quint16(url.value().port(80));
    const QByteArray request = HttpExchange::postRequest(
        url.value().path(QUrl::FullyEncoded).toLatin1(), url.value().authority(QUrl::FullyEncoded).toLatin1(),
        "application/json", QJsonDocument(body).toJson(QJsonDocument::Compact));
    const QDeadlineTimer deadline(exchangeTimeoutMs, Qt::PreciseTimer);
    const std::shared_ptr<Connections> connections = m_connections;

    static_assert(idleTimeoutMs >= exchangeTimeoutMs, "the whole-exchange deadline also bounds idle time");
    for (bool retried = false;; retried = true) {
        const std::unique_ptr<HttpExchange, HttpExchange::DeferredDelete> exchange(
            new HttpExchange(connections->take(host, port), host, port, request, deadline, maxBodyBytes));
        connections->inFlight.removeAll(nullptr);
        connections->inFlight.append(exchange.get());
        exchange->start();

        const HttpExchange::Outcome outcome = co_await *exchange;

        connections->inFlight.removeOne(exchange.get());
        // A device may close a kept-alive connection just as the next request goes out. If not
        // a byte came back, it goes once more on a new connection, within the same deadline. A
        // device that did act on it before dropping the connection gets it twice, which is
        // harmless: a status query changes nothing, and a set-rate sets the same rate again.
        using End = HttpExchange::Outcome::End;
        if (!retried && exchange->reusedConnection() && !outcome.answered && !connections->clientGone
            && (outcome.end == End::Closed || outcome.end == End::ConnectionError))
            continue;
        M1620Result<QJsonObject> answer = answerOf(outcome);
        // After any failure the device's state is unknown: its connection is not used again.
        if (answer.ok())
            connections->keep(exchange->takeConnection(), host, port);
        co_return answer;
    }
}
