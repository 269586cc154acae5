#include "core/RateChange.h"

RateChange RateChange::make(std::optional<qint64> from, qint64 to)
{
    return RateChange(QUuid::createUuid(), QDateTime::currentDateTime(), from, to);
}
