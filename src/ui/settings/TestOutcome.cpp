#include "ui/settings/TestOutcome.h"

TestOutcome TestOutcome::from(const M1620Result<DeviceStatus> &result)
{
    if (!result.ok())
        return {false, QStringLiteral("✗ ") + result.error().errorDescription()};
    const std::optional<qint64> rate = result.value().deviceRate;
    return {true,
            QStringLiteral("✓ Connected. Device rate: ")
                + (rate ? QString::number(*rate) + QStringLiteral(" Hz") : QStringLiteral("unknown"))};
}
