#pragma once

#include <QtGlobal>

#include <algorithm>
#include <array>

// The sample rates an M-1620 runs at, in hertz; only these are ever followed.
namespace SupportedRates {

inline constexpr std::array<qint64, 6> all {44100, 48000, 88200, 96000, 176400, 192000};

constexpr bool contains(qint64 hertz)
{
    return std::find(all.begin(), all.end(), hertz) != all.end();
}

} // namespace SupportedRates
