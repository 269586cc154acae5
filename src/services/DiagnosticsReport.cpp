#include "services/DiagnosticsReport.h"

#include "core/AppState.h"
#include "services/AppSettings.h"
#include "services/DiagnosticsEnvironment.h"
#include "services/Logger.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringList>

#include <algorithm>
#include <optional>

namespace {

const QString noLogText = QStringLiteral("(no log yet)");
const QString dash = QStringLiteral("—");

QString orQuestionMark(const QString &value)
{
    return value.isEmpty() ? QStringLiteral("?") : value;
}

QString hertzOrDash(std::optional<qint64> hertz)
{
    return hertz ? QString::number(*hertz) + QStringLiteral(" Hz") : dash;
}

QString syncWord(std::optional<bool> locked)
{
    if (!locked)
        return dash;
    return *locked ? QStringLiteral("locked") : QStringLiteral("no signal");
}

QString yesNo(bool value)
{
    return value ? QStringLiteral("yes") : QStringLiteral("no");
}

QString connectionWord(const ConnectionState &state)
{
    switch (state.kind()) {
    case ConnectionState::Kind::Connected:
        return QStringLiteral("connected (") + state.host() + QStringLiteral(")");
    case ConnectionState::Kind::Error:
        return QStringLiteral("error: ") + state.message();
    case ConnectionState::Kind::Disconnected:
        return QStringLiteral("stopped");
    case ConnectionState::Kind::Connecting:
        return QStringLiteral("connecting");
    }
    return QStringLiteral("stopped");
}

// Line feed, vertical tab, form feed, carriage return, next line, line and paragraph separators.
bool isLineBreak(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x000A && u <= 0x000D) || u == 0x0085 || u == 0x2028 || u == 0x2029;
}

QStringView trimLineBreaks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isLineBreak(text[begin]))
        ++begin;
    while (end > begin && isLineBreak(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

} // namespace

QString DiagnosticsReport::makeDiagnosticsReport(const AppState &state, const AppSettings &settings,
                                                 qint64 logLines)
{
    return makeDiagnosticsReport(state, settings, logLines, DiagnosticsEnvironment::current());
}

QString DiagnosticsReport::makeDiagnosticsReport(const AppState &state, const AppSettings &settings,
                                                 qint64 logLines, const DiagnosticsEnvironment &environment)
{
    const QStringList lines {
        QStringLiteral("Quorvel diagnostics — ") + dateTimeText(environment.now, environment.locale),
        QStringLiteral("App: ") + orQuestionMark(environment.version) + QStringLiteral(" (")
            + orQuestionMark(environment.build) + QStringLiteral(")"),
        QStringLiteral("Linux: ") + orQuestionMark(environment.systemName) + QStringLiteral(", kernel ")
            + orQuestionMark(environment.kernelRelease),
        QStringLiteral("Machine: ") + orQuestionMark(environment.machine),
        // The suffix follows the switch alone, so a chosen but empty custom host reads as the
        // default host followed by " (custom)".
        QStringLiteral("Device address: ") + settings.effectiveHost()
            + (settings.useCustomHost() ? QStringLiteral(" (custom)") : QStringLiteral(" (default)")),
        QStringLiteral("Connection: ") + connectionWord(state.connectionState()),
        QStringLiteral("Device rate: ") + hertzOrDash(state.deviceRate()) + QStringLiteral(" | MADI input: ")
            + hertzOrDash(state.madiRate()) + QStringLiteral(" | MADI sync: ") + syncWord(state.madiSync()),
        QStringLiteral("Auto-sync: ") + (state.isPaused() ? QStringLiteral("paused") : QStringLiteral("on"))
            + QStringLiteral(" | Out of sync: ") + yesNo(state.rateMismatch()),
        QStringLiteral("Old M-1620 Rate Sync detected: ") + yesNo(state.legacyScriptDetected()),
        QStringLiteral("Launch at login: ")
            + (environment.launchAtLogin ? QStringLiteral("on") : QStringLiteral("off")),
        QString(),
        QStringLiteral("--- last ") + QString::number(logLines) + QStringLiteral(" log lines ---"),
        logTail(environment.logFile, logLines),
        // Later additions go below the tail, so the first thirteen lines keep their places.
        QStringLiteral("Settle time: ") + QString::number(settings.settleMilliseconds())
            + QStringLiteral(" ms"),
        QStringLiteral("Follow only locked input: ") + yesNo(settings.followOnlyWhenLocked()),
        QStringLiteral("Match PipeWire rate: ") + yesNo(settings.matchPipeWireRate()),
        QStringLiteral("Rate-change command: ")
            + (settings.rateChangeCommand().trimmed().isEmpty() ? QStringLiteral("none")
                                                                : settings.rateChangeCommand()),
    };
    return lines.join(QLatin1Char('\n'));
}

QString DiagnosticsReport::logTail(qint64 lines)
{
    return logTail(Logger::shared().logFile(), lines);
}

QString DiagnosticsReport::logTail(const QString &logFile, qint64 lines)
{
    QFile file(logFile);
    if (!file.open(QIODevice::ReadOnly))
        return noLogText;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return noLogText;
    // Stateless, so that a sequence cut off at the end counts as invalid too.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return noLogText;

    // Split at every line feed, keep the last n + 1 pieces and join them again: the same as
    // keeping what follows the (n + 1)-th line feed from the end, or everything when there
    // are fewer.
    // There are never more pieces than characters plus one, so the count is capped there.
    const qint64 keep = std::clamp<qint64>(lines, 0, text.size()) + 1;
    qsizetype start = 0;
    qsizetype searchFrom = text.size() - 1;
    for (qint64 found = 0; found < keep && searchFrom >= 0; ++found) {
        const qsizetype lineFeed = text.lastIndexOf(QLatin1Char('\n'), searchFrom);
        if (lineFeed < 0)
            break;
        if (found == keep - 1)
            start = lineFeed + 1;
        searchFrom = lineFeed - 1;
    }
    return trimLineBreaks(QStringView(text).sliced(start)).toString();
}

QString DiagnosticsReport::dateTimeText(const QDateTime &moment, const QLocale &locale)
{
    // Qt has a long date (with weekday and full month name) and a long time (with the zone);
    // the abbreviated date and the time with seconds are made from them.
    static const QRegularExpression weekday(QStringLiteral(R"(\s*d{4}[,،]?\s*)"));
    static const QRegularExpression fullMonth(QStringLiteral("M{4}"));
    static const QRegularExpression zone(QStringLiteral(R"(\s*\(?\bt\b\)?\s*)"));
    QString date = locale.dateFormat(QLocale::LongFormat);
    date.replace(weekday, QStringLiteral(" "));
    date.replace(fullMonth, QStringLiteral("MMM"));
    QString time = locale.timeFormat(QLocale::LongFormat);
    time.replace(zone, QStringLiteral(" "));
    return locale.toString(moment, date.trimmed() + QLatin1Char(' ') + time.trimmed());
}
