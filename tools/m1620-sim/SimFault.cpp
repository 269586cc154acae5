#include "SimFault.h"

#include <array>
#include <utility>

namespace {
constexpr std::array<std::pair<SimFault::Mode, const char *>, 14> names {{
    {SimFault::Mode::None, "none"},
    {SimFault::Mode::Delay, "delay"},
    {SimFault::Mode::Hang, "hang"},
    {SimFault::Mode::HangHeaders, "hang-headers"},
    {SimFault::Mode::Trickle, "trickle"},
    {SimFault::Mode::Status, "status"},
    {SimFault::Mode::Empty, "empty"},
    {SimFault::Mode::NotJson, "not-json"},
    {SimFault::Mode::Array, "array"},
    {SimFault::Mode::Huge, "huge"},
    {SimFault::Mode::CloseMidBody, "close-mid-body"},
    {SimFault::Mode::Garbage, "garbage"},
    {SimFault::Mode::Reset, "reset"},
    {SimFault::Mode::Reboot, "reboot"},
}};
} // namespace

QString SimFault::name(Mode mode)
{
    for (const auto &[m, text] : names) {
        if (m == mode)
            return QString::fromLatin1(text);
    }
    return {};
}

std::optional<SimFault::Mode> SimFault::modeFromName(const QString &name)
{
    for (const auto &[m, text] : names) {
        if (name == QLatin1String(text))
            return m;
    }
    return std::nullopt;
}

QString SimFault::valueName(Mode mode)
{
    switch (mode) {
    case Mode::Delay:
    case Mode::Reboot:
        return QStringLiteral("ms");
    case Mode::Status:
        return QStringLiteral("code");
    case Mode::Huge:
        return QStringLiteral("bytes");
    default:
        return {};
    }
}

QString SimFault::describe() const
{
    if (!active())
        return QStringLiteral("none");
    QString text = name(mode);
    if (!valueName(mode).isEmpty())
        text += u' ' + valueName(mode) + u'=' + QString::number(value);
    if (count >= 0)
        text += QStringLiteral(" count=") + QString::number(count);
    return text;
}
