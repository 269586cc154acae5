#include "core/RateFormat.h"

namespace {
// QString::number ignores the user's locale (printf would not: Qt sets LC_NUMERIC from
// the environment at start-up), so the separator is always ".".
QString oneDecimal(qint64 hertz)
{
    return QString::number(static_cast<double>(hertz) / 1000.0, 'f', 1);
}
} // namespace

namespace RateFormat {

QString kilohertz(qint64 hertz)
{
    return oneDecimal(hertz) + QStringLiteral(" kHz");
}

QString kilohertzOrDash(std::optional<qint64> hertz)
{
    return hertz ? kilohertz(*hertz) : QStringLiteral("—");
}

QString compact(qint64 hertz)
{
    if (hertz % 1000 == 0)
        return QString::number(hertz / 1000) + QLatin1Char('k');
    return oneDecimal(hertz) + QLatin1Char('k');
}

} // namespace RateFormat
