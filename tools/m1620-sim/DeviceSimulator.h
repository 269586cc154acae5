#pragma once

#include "HttpRequest.h"
#include "HttpResponse.h"
#include "SimFault.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QTimer>

#include <array>
#include <optional>

class SimConnection;

// An M-1620 on loopback: answers the device's JSON API at /api/v2/self, lets tests and
// people change its state and inject faults (C++ API here, HTTP under /sim/), and reports
// every request and state change as a log line with a CLOCK_MONOTONIC timestamp.
class DeviceSimulator : public QObject
{
    Q_OBJECT
    Q_PROPERTY(qint64 deviceRate READ deviceRate WRITE setDeviceRate NOTIFY deviceRateChanged)
    Q_PROPERTY(qint64 madiRate READ madiRate WRITE setMadiRate NOTIFY madiRateChanged)
    Q_PROPERTY(bool madiSync READ madiSync WRITE setMadiSync NOTIFY madiSyncChanged)
    Q_PROPERTY(int followDelay READ followDelay WRITE setFollowDelay NOTIFY followDelayChanged)

public:
    // The three members of a status answer, each of which can be left out.
    enum class Member { DeviceRate, MadiRate, MadiSync };
    Q_ENUM(Member)

    static constexpr std::array<qint64, 6> supportedRates {44100, 48000, 88200, 96000, 176400, 192000};
    static constexpr qint64 startRate = 48000;

    explicit DeviceSimulator(QObject *parent = nullptr);
    ~DeviceSimulator() override;

    // Listens on 127.0.0.1 unless told otherwise; port 0 lets the system choose.
    bool listen(quint16 port = 0, const QHostAddress &address = QHostAddress(QHostAddress::LocalHost));
    quint16 port() const { return m_server.serverPort(); }
    QString errorString() const { return m_server.errorString(); }

    qint64 deviceRate() const { return m_deviceRate; }
    // Any rate, at once; cancels a set-rate still waiting for its follow delay.
    void setDeviceRate(qint64 rate);
    qint64 madiRate() const { return m_madiRate; }
    void setMadiRate(qint64 rate);
    bool madiSync() const { return m_madiSync; }
    void setMadiSync(bool locked);
    bool isReported(Member member) const { return m_reported[index(member)]; }
    void setReported(Member member, bool reported);
    // Milliseconds between an accepted set-rate and the new device rate; 0 = at once.
    int followDelay() const { return m_followDelay; }
    void setFollowDelay(int ms);
    std::optional<qint64> pendingRate() const { return m_pendingRate; }

    // Restarts the device: every connection is dropped with a reset, no device request is
    // answered for `ms` ms, and a set-rate still waiting for its follow delay is lost.
    void reboot(int ms);
    bool isRebooting() const { return m_rebootTimer.isActive(); }

    SimFault fault() const { return m_fault; }
    void setFault(const SimFault &fault);
    void setFault(SimFault::Mode mode, int count = -1, qint64 value = 0) { setFault({mode, count, value}); }
    void clearFault() { setFault(SimFault {}); }

    // Device requests (everything outside /sim/), status queries among them, and the rate of
    // every set-rate received, rejected ones included, oldest first.
    int requestCount() const { return m_requestCount; }
    int statusQueryCount() const { return m_statusQueryCount; }
    QList<qint64> setRateRequests() const { return m_setRates; }

    // Back to the start state: 48000 Hz locked to MADI 48000 Hz, everything reported, no
    // follow delay, no fault, counters at zero.
    void reset();
    // The state as GET /sim/state shows it.
    QJsonObject stateObject() const;

    // CLOCK_MONOTONIC as seconds with six decimals, the clock of every log line.
    static QString timestamp();

Q_SIGNALS:
    void deviceRateChanged(qint64 rate);
    void madiRateChanged(qint64 rate);
    void madiSyncChanged(bool locked);
    void reportedChanged(DeviceSimulator::Member member, bool reported);
    void followDelayChanged(int ms);
    void faultChanged();
    // Every device-API request whose body is a JSON object, as parsed, before it is answered.
    void requestReceived(const QJsonObject &body);
    // One log line without its line end, e.g. "1234.567890 request status".
    void logLine(const QString &line);

private:
    static qsizetype index(Member member) { return static_cast<qsizetype>(member); }

    void handle(SimConnection *connection, const HttpRequest &request);
    HttpResponse answerDevice(const HttpRequest &request);
    HttpResponse answerQuery(QJsonObject body);
    HttpResponse answerControl(const HttpRequest &request);
    HttpResponse changeState(const QUrlQuery &params);
    HttpResponse changeFault(const QUrlQuery &params);
    SimFault takeFault();
    void applyDeviceRate(qint64 rate);
    void log(const QString &text);

    QTcpServer m_server;
    qint64 m_deviceRate = startRate;
    qint64 m_madiRate = startRate;
    bool m_madiSync = true;
    std::array<bool, 3> m_reported {true, true, true};
    int m_followDelay = 0;
    std::optional<qint64> m_pendingRate;
    QTimer m_followTimer;
    QTimer m_rebootTimer;
    SimFault m_fault;
    int m_requestCount = 0;
    int m_statusQueryCount = 0;
    QList<qint64> m_setRates;
};
