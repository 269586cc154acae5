#include "device/M1620Client.h"

#include "device/DeviceAddress.h"
#include "device/DeviceLogging.h"

#include <QCborValue>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

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

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// Each value asked for is sent as null; the device fills in what it returns. The same bytes at
// every poll, so made once.
const QByteArray &statusQuery()
{
    static const QByteArray query = [] {
        const QJsonObject madi {{QStringLiteral("rate"), QJsonValue::Null},
                                {QStringLiteral("sync"), QJsonValue::Null}};
        const QJsonObject sources {{QStringLiteral("madi_coaxial"), madi}};
        const QJsonObject clock {{QStringLiteral("sampling_rate"), QJsonValue::Null},
                                 {QStringLiteral("sources"), sources}};
        return compact({{QStringLiteral("clock"), clock}});
    }();
    return query;
}

QByteArray rateSetting(qint64 hertz)
{
    return compact({{QStringLiteral("clock"), QJsonObject {{QStringLiteral("sampling_rate"), hertz}}}});
}

M1620Result<QByteArray> targetOf(const QString &host)
{
    const M1620Result<QUrl> url = DeviceAddress::apiUrl(host);
    if (!url.ok())
        return url.error();
    return url.value().toEncoded();
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
        // Parsed again unwrapped, so that the offset counts the device’s own bytes.
        return M1620Error::unreachable(
            QStringLiteral("The device’s answer was not valid JSON (%1 at offset %2)")
                .arg(error.errorString())
                .arg(error.offset));
    }
    const QJsonValue answer = wrapped.array().first();
    if (!answer.isObject())
        return M1620Error::badResponse();
    return answer.toObject();
}

// The table of failures. The exchange comes first: if it failed, the device is unreachable
// whatever part of an answer came; only a complete answer can be a bad one.
M1620Result<QJsonObject> answerOf(const HttpOutcome &outcome)
{
    using Failure = HttpOutcome::Failure;
    switch (outcome.failure) {
    case Failure::None:
        if (outcome.status < 200 || outcome.status > 299)
            return M1620Error::badResponse();
        return parseAnswer(outcome.body);
    case Failure::NotHttp:
        return M1620Error::badResponse();
    case Failure::ClosedUnanswered:
        return M1620Error::unreachable(QStringLiteral("The device closed the connection without answering"));
    case Failure::ClosedMidAnswer:
        return M1620Error::unreachable(
            QStringLiteral("The device closed the connection before its answer was complete"));
    case Failure::TooLarge:
        return M1620Error::unreachable(M1620Client::tooLargeMessage());
    default:
        return M1620Error::unreachable(HttpOutcome::describe(outcome.failure));
    }
}

HttpClient::Options deviceOptions()
{
    HttpClient::Options options;
    options.timeout = std::chrono::milliseconds(M1620Client::exchangeTimeoutMs);
    options.maxBodyBytes = M1620Client::maxBodyBytes;
    options.protocols = "http";
    // No redirect is followed (a 3xx is a bad answer) and no proxy is used: only the device
    // itself is ever contacted. curl's "Accept" and "Expect" would be noise to it.
    options.headers = {"Content-Type: application/json", "Accept:", "Expect:"};
    return options;
}

} // namespace

M1620Client::M1620Client(const QString &host, QObject *parent)
    : DeviceClient(parent)
    , m_host(host)
    , m_target(targetOf(host))
    , m_http(deviceOptions())
{ }

// Ends a request still in flight as cancelled (see HttpClient).
M1620Client::~M1620Client() = default;

QString M1620Client::timedOutMessage()
{
    return HttpOutcome::describe(HttpOutcome::Failure::TimedOut);
}

QString M1620Client::tooLargeMessage()
{
    return QStringLiteral("The device’s response is larger than 1 MiB");
}

QString M1620Client::cancelledMessage()
{
    return HttpOutcome::describe(HttpOutcome::Failure::Cancelled);
}

void M1620Client::updateHost(const QString &host)
{
    if (host == m_host)
        return;
    m_host = host;
    m_target = targetOf(host);
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

QCoro::Task<M1620Result<QJsonObject>> M1620Client::post(QByteArray body)
{
    // Everything that reads the client happens before the first suspension.
    if (!m_target.ok()) {
        qCDebug(lcDevice) << "not sent:" << m_target.error().errorDescription();
        co_return m_target.error();
    }
    const QByteArray target = m_target.value();
    qCDebug(lcDevice).noquote() << "POST" << target << body;

    const HttpOutcome outcome = co_await m_http.post(target, body);

    const M1620Result<QJsonObject> answer = answerOf(outcome);
    // After any failure the device's state is unknown: its connection is not used again.
    if (!answer.ok())
        HttpClient::closeConnection(outcome);
    if (outcome.answered())
        qCDebug(lcDevice).noquote().nospace()
            << "HTTP " << outcome.status << ", " << outcome.body.size() << " bytes in "
            << outcome.microseconds << " µs" << (outcome.reusedConnection ? " on the kept connection" : "")
            << (answer.ok() ? QString() : QStringLiteral(": ") + answer.error().errorDescription());
    else
        qCDebug(lcDevice).noquote().nospace()
            << "failed after " << outcome.microseconds << " µs: " << answer.error().errorDescription()
            << " (curl: " << outcome.detail << ')';
    co_return answer;
}
