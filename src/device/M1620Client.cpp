#include "device/M1620Client.h"

#include "device/DeviceAddress.h"

#include <QCborValue>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <qcoro/qcoronetworkreply.h>

#include <cmath>

namespace {

// Qt objects that may still be busy in a signal up the stack (a reply that just emitted
// finished, the manager that owns it) are only ever released with deleteLater().
struct DeleteLater
{
    void operator()(QObject *object) const { object->deleteLater(); }
};

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

} // namespace

M1620Client::M1620Client(const QString &host, QObject *parent)
    : QObject(parent)
    , m_host(host)
    , m_network(new QNetworkAccessManager, DeleteLater())
{
    // Only the device is ever contacted: no proxy, no redirect followed. No cache is set and
    // cookies are neither stored nor sent (see post()).
    m_network->setProxy(QNetworkProxy::NoProxy);
    m_network->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

M1620Client::~M1620Client()
{
    // A request still in flight ends now, as cancelled, so whoever awaits it resumes instead
    // of waiting for an event loop that may already be gone.
    const QList<QNetworkReply *> inFlight = m_network->findChildren<QNetworkReply *>();
    for (QNetworkReply *reply : inFlight)
        reply->abort();
}

QString M1620Client::timedOutMessage()
{
    return QStringLiteral("The request timed out");
}

QString M1620Client::tooLargeMessage()
{
    return QStringLiteral("The device’s response is larger than 1 MiB");
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
    QNetworkRequest request(url.value());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);

    const std::shared_ptr<QNetworkAccessManager> network = m_network;
    const std::unique_ptr<QNetworkReply, DeleteLater> reply(
        network->post(request, QJsonDocument(body).toJson(QJsonDocument::Compact)));
    QNetworkReply *const r = reply.get();

    // One precise deadline bounds the whole exchange. It also keeps the idle limit: the idle
    // time can never exceed the time since the start. (Qt's own transfer time-out runs on a
    // coarse timer that fires up to 5 % early, so it is not used.)
    static_assert(idleTimeoutMs >= exchangeTimeoutMs);
    auto *deadline = new QTimer(r);
    deadline->setTimerType(Qt::PreciseTimer);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, r, &QNetworkReply::abort);
    deadline->start(exchangeTimeoutMs);

    // An answer is a few hundred bytes; a device that sends megabytes is not read to the end.
    const auto tooLarge = std::make_shared<bool>(false);
    const auto limit = [r, tooLarge](qint64 bytes) {
        if (bytes > maxBodyBytes && !*tooLarge) {
            *tooLarge = true;
            r->abort();
        }
    };
    QObject::connect(r, &QNetworkReply::metaDataChanged, r,
                     [r, limit] { limit(r->header(QNetworkRequest::ContentLengthHeader).toLongLong()); });
    QObject::connect(r, &QNetworkReply::downloadProgress, r,
                     [limit](qint64 received, qint64) { limit(received); });

    co_await r;

    if (*tooLarge)
        co_return M1620Error::unreachable(tooLargeMessage());
    // Apart from the size limit above, only the deadline aborts a request.
    if (r->error() == QNetworkReply::OperationCanceledError)
        co_return M1620Error::unreachable(timedOutMessage());
    const QVariant status = r->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        // No status line. Qt treats a peer that answers in another protocol like one that
        // closes the connection unanswered (RemoteHostClosedError either way), so both count as
        // an answer that is not HTTP. Refused, unresolvable or unroutable stay unreachable.
        const QNetworkReply::NetworkError error = r->error();
        if (error == QNetworkReply::NoError || error == QNetworkReply::RemoteHostClosedError
            || error == QNetworkReply::ProtocolFailure)
            co_return M1620Error::badResponse();
        co_return M1620Error::unreachable(r->errorString());
    }
    // Once the status line is outside 2xx the answer is bad, whatever happens to its body.
    if (const int code = status.toInt(); code < 200 || code > 299)
        co_return M1620Error::badResponse();
    if (r->error() != QNetworkReply::NoError)
        co_return M1620Error::unreachable(r->errorString());
    co_return parseAnswer(r->readAll());
}
