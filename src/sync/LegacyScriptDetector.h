#pragma once

#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

// Finds traces of the old script-based tool ("Old M-1620 Rate Sync") that would fight the
// engine over the sample rate: its process, or one of its two launchd property lists.
class LegacyScriptDetector
{
public:
    static inline const QString defaultPgrepPath = QStringLiteral("/usr/bin/pgrep");
    static inline const QString processPattern = QStringLiteral(R"(python.*m1620_rate_sync\.py)");

    // home: the user's home folder; pgrep: the program that looks for the process.
    explicit LegacyScriptDetector(QString home, QString pgrepPath = defaultPgrepPath);
    virtual ~LegacyScriptDetector() = default;

    // The detector for this user: home from $HOME.
    static LegacyScriptDetector forCurrentUser();

    // The two property lists, in the order they are looked at.
    QStringList legacyPlistPaths() const;

    // Blocking: waits for pgrep. Found exactly on exit status 0; a failed launch is "not found".
    bool isLegacyProcessRunning() const;
    // Blocking: the process first, then the property lists in order.
    bool isLegacyScriptPresent() const;

    // isLegacyScriptPresent() on a worker thread, so the main thread never waits for pgrep.
    virtual QCoro::Task<bool> detect() const;

private:
    QString m_home;
    QString m_pgrepPath;
};
