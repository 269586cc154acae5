#pragma once

#include <QString>

#include <optional>

// Rate texts shared by the log, notifications and views. Always "." as the decimal
// separator, whatever the user's locale.
namespace RateFormat {

// "48.0 kHz", "44.1 kHz": hertz / 1000.0 with one decimal.
QString kilohertz(qint64 hertz);
// As kilohertz(), with "—" for an absent rate.
QString kilohertzOrDash(std::optional<qint64> hertz);
// "48k", "44.1k": whole kilohertz without a decimal, others with one.
QString compact(qint64 hertz);

} // namespace RateFormat
