#include "DeviceSimulator.h"

#include "SimConnection.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpSocket>

#include <algorithm>
#include <ctime>

namespace {
const QString clockKey = QStringLiteral("clock");
const QString rateKey = QStringLiteral("sampling_rate");
const QString sourcesKey = QStringLiteral("sources");
const QString madiKey = QStringLiteral("madi_coaxial");

const std::array<QString, 3> memberNames {QStringLiteral("device"), QStringLiteral("madi"),
                                          QStringLiteral("sync")};

HttpResponse json(int status, const QJsonObject &object)
{
    return {status, "application/json", QJsonDocument(object).toJson(QJsonDocument::Compact)};
}

HttpResponse error(int status, const QString &message)
{
    return json(status, {{QStringLiteral("error"), message}});
}

// A JSON number with a whole value, as the device takes rates.
std::optional<qint64> wholeNumber(const QJsonValue &value)
{
    if (!value.isDouble() || value.toInteger(0) != value.toInteger(1))
        return std::nullopt;
    return value.toInteger();
}

std::optional<bool> parseBool(const QString &text)
{
    if (text == u"true" || text == u"1" || text == u"yes" || text == u"on")
        return true;
    if (text == u"false" || text == u"0" || text == u"no" || text == u"off")
        return false;
    return std::nullopt;
}

std::optional<qint64> parseInt(const QString &text, qint64 low, qint64 high)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    return ok && value >= low && value <= high ? std::optional(value) : std::nullopt;
}

// A null member is a question: answer it with the value, or leave it out when unreported.
void fill(QJsonObject &object, const QString &key, bool reported, const QJsonValue &value)
{
    if (reported)
        object.insert(key, value);
    else
        object.remove(key);
}
} // namespace

DeviceSimulator::DeviceSimulator(QObject *parent)
    : QObject(parent)
{
    m_followTimer.setSingleShot(true);
    m_followTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_followTimer, &QTimer::timeout, this, [this] {
        const qint64 rate = *m_pendingRate;
        m_pendingRate.reset();
        applyDeviceRate(rate);
    });
    m_rebootTimer.setSingleShot(true);
    m_rebootTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_rebootTimer, &QTimer::timeout, this, [this] { log(QStringLiteral("state up")); });
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            auto *connection = new SimConnection(socket, this);
            connect(connection, &SimConnection::requestReceived, this,
                    [this, connection](const HttpRequest &request) { handle(connection, request); });
            connect(connection, &SimConnection::invalidRequest, this, [this](int status) {
                ++m_requestCount;
                log(QStringLiteral("request bad-http ") + QString::number(status));
            });
        }
    });
}

DeviceSimulator::~DeviceSimulator() = default;

bool DeviceSimulator::listen(quint16 port, const QHostAddress &address)
{
    if (!m_server.listen(address, port))
        return false;
    log(QStringLiteral("listening ") + address.toString() + u':' + QString::number(m_server.serverPort()));
    return true;
}

QString DeviceSimulator::timestamp()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return QString::asprintf("%lld.%06ld", static_cast<long long>(now.tv_sec), now.tv_nsec / 1000);
}

void DeviceSimulator::log(const QString &text)
{
    Q_EMIT logLine(timestamp() + u' ' + text);
}

void DeviceSimulator::setDeviceRate(qint64 rate)
{
    m_followTimer.stop();
    m_pendingRate.reset();
    applyDeviceRate(rate);
}

void DeviceSimulator::applyDeviceRate(qint64 rate)
{
    if (rate == m_deviceRate)
        return;
    m_deviceRate = rate;
    log(QStringLiteral("state device=") + QString::number(rate));
    Q_EMIT deviceRateChanged(rate);
}

void DeviceSimulator::setMadiRate(qint64 rate)
{
    if (rate == m_madiRate)
        return;
    m_madiRate = rate;
    log(QStringLiteral("state madi=") + QString::number(rate));
    Q_EMIT madiRateChanged(rate);
}

void DeviceSimulator::setMadiSync(bool locked)
{
    if (locked == m_madiSync)
        return;
    m_madiSync = locked;
    log(QStringLiteral("state sync=") + QLatin1String(locked ? "true" : "false"));
    Q_EMIT madiSyncChanged(locked);
}

void DeviceSimulator::setReported(Member member, bool reported)
{
    if (m_reported[index(member)] == reported)
        return;
    m_reported[index(member)] = reported;
    log(QStringLiteral("state report-") + memberNames[index(member)] + u'='
        + (reported ? u"true" : u"false"));
    Q_EMIT reportedChanged(member, reported);
}

void DeviceSimulator::setFollowDelay(int ms)
{
    if (ms == m_followDelay)
        return;
    m_followDelay = ms;
    log(QStringLiteral("state follow-delay=") + QString::number(ms));
    Q_EMIT followDelayChanged(ms);
}

void DeviceSimulator::setFault(const SimFault &fault)
{
    const SimFault next = fault.active() ? fault : SimFault {};
    if (next == m_fault)
        return;
    m_fault = next;
    log(QStringLiteral("state fault=") + m_fault.describe());
    Q_EMIT faultChanged();
}

void DeviceSimulator::reset()
{
    setDeviceRate(startRate);
    setMadiRate(startRate);
    setMadiSync(true);
    for (Member member : {Member::DeviceRate, Member::MadiRate, Member::MadiSync})
        setReported(member, true);
    setFollowDelay(0);
    clearFault();
    m_requestCount = 0;
    m_statusQueryCount = 0;
    m_setRates.clear();
    log(QStringLiteral("state counters=0"));
}

QJsonObject DeviceSimulator::stateObject() const
{
    QJsonObject fault {{QStringLiteral("mode"), SimFault::name(m_fault.mode)}};
    if (!SimFault::valueName(m_fault.mode).isEmpty())
        fault.insert(SimFault::valueName(m_fault.mode), m_fault.value);
    if (m_fault.active() && m_fault.count >= 0)
        fault.insert(QStringLiteral("count"), m_fault.count);
    QJsonArray setRates;
    for (qint64 rate : m_setRates)
        setRates.append(rate);
    return {
        {QStringLiteral("device_rate"), m_deviceRate},
        {QStringLiteral("madi_rate"), m_madiRate},
        {QStringLiteral("madi_sync"), m_madiSync},
        {QStringLiteral("report"),
         QJsonObject {{QStringLiteral("device_rate"), m_reported[0]},
                      {QStringLiteral("madi_rate"), m_reported[1]},
                      {QStringLiteral("madi_sync"), m_reported[2]}}},
        {QStringLiteral("follow_delay_ms"), m_followDelay},
        {QStringLiteral("pending_rate"), m_pendingRate ? QJsonValue(*m_pendingRate) : QJsonValue()},
        {QStringLiteral("fault"), fault},
        {QStringLiteral("requests"), m_requestCount},
        {QStringLiteral("status_queries"), m_statusQueryCount},
        {QStringLiteral("set_rates"), setRates},
    };
}

void DeviceSimulator::handle(SimConnection *connection, const HttpRequest &request)
{
    if (request.path == u"/sim" || request.path.startsWith(u"/sim/")) {
        log(QStringLiteral("control ") + QString::fromLatin1(request.method) + u' '
            + QString::fromUtf8(request.target));
        connection->respond(answerControl(request), {}, request.keepAlive);
        return;
    }
    ++m_requestCount;
    if (isRebooting()) {
        log(QStringLiteral("request dropped rebooting"));
        connection->resetConnection();
        return;
    }
    if (m_fault.active() && m_fault.mode == SimFault::Mode::Reboot) {
        // Only a set-rate sets a reboot off; everything else is answered as usual.
        const QJsonObject clock = QJsonDocument::fromJson(request.body).object().value(clockKey).toObject();
        const auto rate = wholeNumber(clock.value(rateKey));
        if (request.path == u"/api/v2/self" && rate) {
            m_setRates.append(*rate);
            log(QStringLiteral("request set-rate ") + QString::number(*rate) + QStringLiteral(" lost"));
            reboot(int(takeFault().value));
            return;
        }
        connection->respond(answerDevice(request), {}, request.keepAlive);
        return;
    }
    const HttpResponse response = answerDevice(request);
    connection->respond(response, takeFault(), request.keepAlive);
}

void DeviceSimulator::reboot(int ms)
{
    log(QStringLiteral("reboot ms=") + QString::number(ms));
    m_followTimer.stop();
    m_pendingRate.reset();
    for (SimConnection *connection : findChildren<SimConnection *>(Qt::FindDirectChildrenOnly))
        connection->resetConnection();
    m_rebootTimer.start(ms);
}

SimFault DeviceSimulator::takeFault()
{
    if (!m_fault.active())
        return {};
    const SimFault applied = m_fault;
    QString text = QStringLiteral("fault ") + SimFault::name(applied.mode);
    if (!SimFault::valueName(applied.mode).isEmpty())
        text += u' ' + SimFault::valueName(applied.mode) + u'=' + QString::number(applied.value);
    log(text);
    if (m_fault.count > 0) {
        SimFault left = m_fault;
        --left.count;
        setFault(left);
    }
    return applied;
}

HttpResponse DeviceSimulator::answerDevice(const HttpRequest &request)
{
    const QString what = QString::fromLatin1(request.method) + u' ' + QString::fromUtf8(request.target);
    if (request.path != u"/api/v2/self") {
        log(QStringLiteral("request not-found ") + what);
        return error(404, QStringLiteral("not found"));
    }
    if (request.method != "POST") {
        log(QStringLiteral("request bad-method ") + what);
        return error(405, QStringLiteral("only POST is allowed"));
    }
    const QJsonDocument document = QJsonDocument::fromJson(request.body);
    if (!document.isObject()) {
        log(QStringLiteral("request bad-json"));
        return error(400, QStringLiteral("the body must be a JSON object"));
    }
    Q_EMIT requestReceived(document.object());
    return answerQuery(document.object());
}

// Fills in the members asked for (sent as null), applies a set-rate, and leaves every other
// member as it came, the way the device echoes what it does not know.
HttpResponse DeviceSimulator::answerQuery(QJsonObject body)
{
    QJsonObject clock = body.value(clockKey).toObject();
    QJsonObject sources = clock.value(sourcesKey).toObject();
    QJsonObject madi = sources.value(madiKey).toObject();
    const QString madiRateKey = QStringLiteral("rate");
    const QString syncKey = QStringLiteral("sync");

    std::optional<qint64> newRate;
    if (clock.contains(rateKey) && !clock.value(rateKey).isNull()) {
        newRate = wholeNumber(clock.value(rateKey));
        if (!newRate) {
            log(QStringLiteral("request bad-value sampling_rate"));
            return error(400, QStringLiteral("sampling_rate must be an integer"));
        }
    }
    for (const QString &key : {madiRateKey, syncKey}) {
        if (madi.contains(key) && !madi.value(key).isNull()) {
            log(QStringLiteral("request bad-value ") + key);
            return error(400, key + QStringLiteral(" is read-only"));
        }
    }
    const bool asksRate = !newRate && clock.contains(rateKey);
    const bool asksMadi = madi.contains(madiRateKey) || madi.contains(syncKey);

    if (newRate) {
        m_setRates.append(*newRate);
        const bool supported = std::ranges::find(supportedRates, *newRate) != supportedRates.end();
        log(QStringLiteral("request set-rate ") + QString::number(*newRate)
            + (supported ? u"" : u" rejected"));
        if (!supported)
            return error(400, QStringLiteral("unsupported sampling rate ") + QString::number(*newRate));
        if (m_followDelay > 0) {
            m_pendingRate = newRate;
            m_followTimer.start(m_followDelay);
        } else {
            setDeviceRate(*newRate);
        }
    } else if (asksRate || asksMadi) {
        ++m_statusQueryCount;
        log(QStringLiteral("request status"));
    } else {
        log(QStringLiteral("request other"));
        return json(200, body);
    }

    if (asksRate)
        fill(clock, rateKey, isReported(Member::DeviceRate), m_deviceRate);
    if (madi.contains(madiRateKey))
        fill(madi, madiRateKey, isReported(Member::MadiRate), m_madiRate);
    if (madi.contains(syncKey))
        fill(madi, syncKey, isReported(Member::MadiSync), m_madiSync);
    if (asksMadi) {
        sources.insert(madiKey, madi);
        clock.insert(sourcesKey, sources);
    }
    body.insert(clockKey, clock);
    return json(200, body);
}

HttpResponse DeviceSimulator::answerControl(const HttpRequest &request)
{
    QUrlQuery params = request.query;
    // curl -d sends its parameters as a form body rather than in the URL.
    for (const auto &[key, value] : QUrlQuery(QString::fromUtf8(request.body)).queryItems(QUrl::FullyDecoded))
        params.addQueryItem(key, value);

    const bool post = request.method == "POST";
    if (request.path == u"/sim/state" && request.method == "GET")
        return json(200, stateObject());
    if (request.path == u"/sim/state" && post)
        return changeState(params);
    if (request.path == u"/sim/fault" && post)
        return changeFault(params);
    if (request.path == u"/sim/reset" && post) {
        reset();
        return json(200, stateObject());
    }
    if (request.path == u"/sim/state" || request.path == u"/sim/fault" || request.path == u"/sim/reset")
        return error(405, QStringLiteral("method not allowed here"));
    return error(404, QStringLiteral("control paths: /sim/state, /sim/fault, /sim/reset"));
}

HttpResponse DeviceSimulator::changeState(const QUrlQuery &params)
{
    // Check everything first, so a bad request changes nothing.
    std::optional<qint64> device, madi, delay;
    std::optional<bool> sync;
    std::array<std::optional<bool>, 3> report;
    for (const auto &[key, value] : params.queryItems(QUrl::FullyDecoded)) {
        bool ok = true;
        if (key == u"device")
            ok = (device = parseInt(value, 0, 10'000'000)).has_value();
        else if (key == u"madi")
            ok = (madi = parseInt(value, 0, 10'000'000)).has_value();
        else if (key == u"sync")
            ok = (sync = parseBool(value)).has_value();
        else if (key == u"follow-delay")
            ok = (delay = parseInt(value, 0, 3'600'000)).has_value();
        else if (key.startsWith(u"report-") && std::ranges::count(memberNames, key.mid(7)) == 1)
            ok = (report[std::ranges::find(memberNames, key.mid(7)) - memberNames.begin()] = parseBool(value))
                     .has_value();
        else
            return error(400, QStringLiteral("unknown parameter ") + key);
        if (!ok)
            return error(400, QStringLiteral("bad value for ") + key + QStringLiteral(": ") + value);
    }
    if (device)
        setDeviceRate(*device);
    if (madi)
        setMadiRate(*madi);
    if (sync)
        setMadiSync(*sync);
    if (delay)
        setFollowDelay(int(*delay));
    for (qsizetype i = 0; i < 3; ++i) {
        if (report[i])
            setReported(static_cast<Member>(i), *report[i]);
    }
    return json(200, stateObject());
}

HttpResponse DeviceSimulator::changeFault(const QUrlQuery &params)
{
    const auto mode = SimFault::modeFromName(params.queryItemValue(QStringLiteral("mode")));
    if (!mode)
        return error(400,
                     QStringLiteral("mode must be one of none, delay, hang, hang-headers, trickle, status, "
                                    "empty, not-json, array, huge, close-mid-body, garbage, reset, reboot"));
    SimFault fault {*mode, -1, 0};
    const QString valueName = SimFault::valueName(*mode);
    for (const auto &[key, value] : params.queryItems(QUrl::FullyDecoded)) {
        if (key == u"mode")
            continue;
        std::optional<qint64> number;
        if (key == u"count")
            number = parseInt(value, 1, 1'000'000'000);
        else if (key == valueName && *mode == SimFault::Mode::Delay)
            number = parseInt(value, 0, 3'600'000);
        else if (key == valueName && *mode == SimFault::Mode::Status)
            number = parseInt(value, 200, 599);
        else if (key == valueName && *mode == SimFault::Mode::Reboot)
            number = parseInt(value, 1, 3'600'000);
        else if (key == valueName && *mode == SimFault::Mode::Huge)
            number = parseInt(value, 1, SimConnection::maxHugeBytes);
        else
            return error(400,
                         QStringLiteral("unknown parameter ") + key + QStringLiteral(" for mode ")
                             + SimFault::name(*mode));
        if (!number)
            return error(400, QStringLiteral("bad value for ") + key + QStringLiteral(": ") + value);
        if (key == u"count")
            fault.count = int(*number);
        else
            fault.value = *number;
    }
    if (!valueName.isEmpty() && !params.hasQueryItem(valueName))
        return error(400,
                     QStringLiteral("mode ") + SimFault::name(*mode) + QStringLiteral(" needs ") + valueName);
    setFault(fault);
    return json(200, stateObject());
}
