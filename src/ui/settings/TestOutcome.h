#pragma once

#include "device/DeviceStatus.h"
#include "device/M1620Result.h"

#include <QString>

// What a connection test found, as the user reads it: whether the device answered, and the
// line that says so ("✓ Connected. Device rate: 48000 Hz", "… unknown", or "✗ " and the
// error). Views colour it by ok, never by looking at the text.
struct TestOutcome
{
    bool ok = false;
    QString text;

    static TestOutcome from(const M1620Result<DeviceStatus> &result);

    friend bool operator==(const TestOutcome &, const TestOutcome &) = default;
};
