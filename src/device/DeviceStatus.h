#pragma once

#include <QtGlobal>
#include <optional>

// One status reading. Each value is absent when the device did not report it in a usable form.
struct DeviceStatus
{
    std::optional<qint64> deviceRate;
    std::optional<qint64> madiRate;
    std::optional<bool> madiSync;

    friend bool operator==(const DeviceStatus &, const DeviceStatus &) = default;
};
