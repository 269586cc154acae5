#pragma once

#include "device/DeviceStatus.h"
#include "device/M1620Result.h"

#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

// What the sync engine needs of a device: read its status, set its rate, follow a host change.
// Deleting a client ends its requests at once, each failing as cancelled.
class DeviceClient : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual QString host() const = 0;
    // Takes effect from the next request; requests in flight keep their host.
    virtual void updateHost(const QString &host) = 0;

    virtual QCoro::Task<M1620Result<DeviceStatus>> fetchStatus() = 0;
    virtual QCoro::Task<M1620Result<M1620Done>> setRate(qint64 hertz) = 0;
};
