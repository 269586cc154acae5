#pragma once

#include <QString>

#include <qcoro/qcorotask.h>

// Posts a desktop notification with a title and a body, as a fresh notification each time.
// Never fails towards the caller: a notification that cannot be shown is dropped.
class Notifier
{
public:
    virtual ~Notifier() = default;
    virtual QCoro::Task<> post(const QString &title, const QString &body) = 0;
};
