#pragma once

#include "sync/LegacyTraces.h"

#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <memory>

class FileSearch;
class ProcessSearch;

// Finds traces of the old script-based tool ("Old M-1620 Rate Sync") that would fight the
// engine over the sample rate: its process, one of its two launchd property lists, or what
// starts it at login on Linux (a systemd unit or an XDG autostart entry naming the script).
class LegacyScriptDetector
{
public:
    static inline const QString processPattern = QStringLiteral(R"(python.*m1620_rate_sync\.py)");
    // A unit or autostart entry is the tool's when its text names the script.
    static inline const QString scriptName = QStringLiteral("m1620_rate_sync.py");

    // Where the traces are looked for; the defaults are the real system folders.
    struct Folders
    {
        QString home;
        QString configHome; // $XDG_CONFIG_HOME
        QString systemUnits = QStringLiteral("/etc/systemd/system");
        QString systemAutostart = QStringLiteral("/etc/xdg/autostart");
        QString systemPlist = QStringLiteral("/Library/LaunchDaemons/com.studio.m1620sync.plist");
    };

    // home: the user's home folder; the configuration folder from $XDG_CONFIG_HOME, else
    // home/.config. The process is looked for with pgrep, the files on the local disk.
    explicit LegacyScriptDetector(QString home);
    // Shared, because detect() hands a copy of the detector to a worker thread.
    LegacyScriptDetector(QString home, std::shared_ptr<const ProcessSearch> processSearch);
    LegacyScriptDetector(Folders folders, std::shared_ptr<const ProcessSearch> processSearch,
                         std::shared_ptr<const FileSearch> fileSearch = {});
    virtual ~LegacyScriptDetector() = default;

    // The detector for this user: home from $HOME.
    static LegacyScriptDetector forCurrentUser();

    // The two property lists, in the order they are looked at.
    QStringList legacyPlistPaths() const;

    // Blocking: waits for the process search. A search that cannot run is "not found".
    bool isLegacyProcessRunning() const;
    // Blocking: the process first, then the property lists in order.
    bool isLegacyScriptPresent() const;
    // Blocking: every trace there is, so that the removal command can name each.
    LegacyTraces findTraces() const;

    // findTraces() on a worker thread, so the main thread never waits for pgrep; answers
    // whether anything was found and keeps what was, for lastTraces().
    virtual QCoro::Task<bool> detect() const;
    // What the last detect() found; nothing before the first. Main thread only.
    LegacyTraces lastTraces() const { return *m_lastTraces; }

private:
    Folders m_folders;
    std::shared_ptr<const ProcessSearch> m_processSearch;
    std::shared_ptr<const FileSearch> m_fileSearch;
    // Shared with a detect() in flight, which may end after the detector is gone (at quit).
    std::shared_ptr<LegacyTraces> m_lastTraces = std::make_shared<LegacyTraces>();
};
