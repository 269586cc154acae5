#pragma once

#include <QString>

class AppSettings;
class AppState;
class QDateTime;
class QLocale;
struct DiagnosticsEnvironment;

// The plain-text summary a user copies into a message: program, system, machine, connection
// settings, the live sync state and the end of the log. Built on demand; nothing is cached
// and nothing is written. Every missing value has a fixed replacement text.
class DiagnosticsReport
{
public:
    DiagnosticsReport() = delete;

    // Lines joined by line feeds, none after the last: thirteen whose last is the log tail, then
    // one line for each following setting (settle time, locked input only).
    static QString makeDiagnosticsReport(const AppState &state, const AppSettings &settings, qint64 logLines);
    static QString makeDiagnosticsReport(const AppState &state, const AppSettings &settings, qint64 logLines,
                                         const DiagnosticsEnvironment &environment);

    // The last lines of the shared log's "sync.log", or "(no log yet)".
    static QString logTail(qint64 lines);
    // The last lines of the given file: "(no log yet)" when it cannot be read or is not UTF-8.
    // A negative count is taken as zero.
    static QString logTail(const QString &logFile, qint64 lines);

    // The moment with the locale's abbreviated date (month name, day, year) followed by its time
    // with seconds: "Jan 5, 2025 3:04:05 PM" in American English.
    static QString dateTimeText(const QDateTime &moment, const QLocale &locale);
};
