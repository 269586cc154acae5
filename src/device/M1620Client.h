#pragma once

#include "device/DeviceStatus.h"
#include "device/M1620Result.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

#include <memory>

class QNetworkAccessManager;

// The program's only way of talking to an M-1620: one HTTP POST of a JSON object to
// "/api/v2/self" per exchange, on one network manager that lives as long as the client.
class M1620Client : public QObject
{
    Q_OBJECT

public:
    // Limits on one exchange: idle time, whole exchange, and the largest body read.
    static constexpr int idleTimeoutMs = 2000;
    static constexpr int exchangeTimeoutMs = 2000;
    static constexpr qint64 maxBodyBytes = 1024 * 1024;
    // Failure texts of the client's own limits; every other failure carries Qt's text.
    static QString timedOutMessage();
    static QString tooLargeMessage();

    explicit M1620Client(const QString &host, QObject *parent = nullptr);
    ~M1620Client() override;

    QString host() const { return m_host; }
    // Takes effect from the next request; requests in flight keep their URL.
    void updateHost(const QString &host);

    QCoro::Task<M1620Result<DeviceStatus>> fetchStatus();
    QCoro::Task<M1620Result<M1620Done>> setRate(qint64 hertz);

private:
    QCoro::Task<M1620Result<QJsonObject>> post(const QJsonObject &body);

    QString m_host;
    // Shared with every exchange in flight, so that deleting the client mid-request lets the
    // request end in an orderly way (answer or time-out) instead of leaving its caller waiting.
    std::shared_ptr<QNetworkAccessManager> m_network;
};
