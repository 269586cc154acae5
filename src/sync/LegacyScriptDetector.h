#pragma once

#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <memory>

class ProcessSearch;

// Finds traces of the old script-based tool ("Old M-1620 Rate Sync") that would fight the
// engine over the sample rate: its process, or one of its two launchd property lists.
class LegacyScriptDetector
{
public:
    static inline const QString processPattern = QStringLiteral(R"(python.*m1620_rate_sync\.py)");

    // home: the user's home folder. The process is looked for with pgrep.
    explicit LegacyScriptDetector(QString home);
    // Shared, because detect() hands a copy of the detector to a worker thread.
    LegacyScriptDetector(QString home, std::shared_ptr<const ProcessSearch> processSearch);
    virtual ~LegacyScriptDetector() = default;

    // The detector for this user: home from $HOME.
    static LegacyScriptDetector forCurrentUser();

    // The two property lists, in the order they are looked at.
    QStringList legacyPlistPaths() const;

    // Blocking: waits for the process search. A search that cannot run is "not found".
    bool isLegacyProcessRunning() const;
    // Blocking: the process first, then the property lists in order.
    bool isLegacyScriptPresent() const;

    // isLegacyScriptPresent() on a worker thread, so the main thread never waits for pgrep.
    virtual QCoro::Task<bool> detect() const;

private:
    QString m_home;
    std::shared_ptr<const ProcessSearch> m_processSearch;
};
