#pragma once

#include "device/DeviceClient.h"
#include "device/HttpClient.h"

#include <QJsonObject>
#include <QString>

// The program's only way of talking to an M-1620: one HTTP POST of a JSON object to
// "/api/v2/self" per exchange, on a connection kept open between exchanges with the same host,
// so that polling twice a second costs one small write and one read each time.
class M1620Client : public DeviceClient
{
    Q_OBJECT

public:
    // Limits on one exchange: the whole exchange, connecting included, and the largest body.
    static constexpr int exchangeTimeoutMs = 2000;
    static constexpr qint64 maxBodyBytes = 1024 * 1024;
    // Failure texts of the client's own limits and of a request ended by deleting the client.
    static QString timedOutMessage();
    static QString tooLargeMessage();
    static QString cancelledMessage();

    explicit M1620Client(const QString &host, QObject *parent = nullptr);
    ~M1620Client() override;

    QString host() const override { return m_host; }
    void updateHost(const QString &host) override;

    QCoro::Task<M1620Result<DeviceStatus>> fetchStatus() override;
    QCoro::Task<M1620Result<M1620Done>> setRate(qint64 hertz) override;

private:
    QCoro::Task<M1620Result<QJsonObject>> post(QByteArray body);

    QString m_host;
    // The host's API address, worked out once per host rather than at every poll.
    M1620Result<QByteArray> m_target;
    HttpClient m_http;
};
