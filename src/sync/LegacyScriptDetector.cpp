#include "sync/LegacyScriptDetector.h"

#include "platform/LocalFileSearch.h"
#include "platform/PgrepProcessSearch.h"
#include "platform/XdgDirs.h"

#include <QDir>
#include <QtConcurrent/QtConcurrentRun>

#include <qcoro/qcorofuture.h>

LegacyScriptDetector::LegacyScriptDetector(QString home)
    : LegacyScriptDetector(std::move(home), std::make_shared<PgrepProcessSearch>())
{ }

LegacyScriptDetector::LegacyScriptDetector(QString home, std::shared_ptr<const ProcessSearch> processSearch)
    : LegacyScriptDetector(Folders {home, XdgDirs::configHomeOf(home)}, std::move(processSearch))
{ }

LegacyScriptDetector::LegacyScriptDetector(Folders folders,
                                           std::shared_ptr<const ProcessSearch> processSearch,
                                           std::shared_ptr<const FileSearch> fileSearch)
    : m_folders(std::move(folders))
    , m_processSearch(std::move(processSearch))
    , m_fileSearch(fileSearch ? std::move(fileSearch) : std::make_shared<LocalFileSearch>())
{ }

LegacyScriptDetector LegacyScriptDetector::forCurrentUser()
{
    return LegacyScriptDetector(QDir::homePath());
}

QStringList LegacyScriptDetector::legacyPlistPaths() const
{
    return {m_folders.home + QStringLiteral("/Library/LaunchAgents/com.studio.m1620sync.plist"),
            m_folders.systemPlist};
}

bool LegacyScriptDetector::isLegacyProcessRunning() const
{
    return m_processSearch->isRunning(processPattern);
}

bool LegacyScriptDetector::isLegacyScriptPresent() const
{
    if (isLegacyProcessRunning())
        return true;
    const QStringList paths = legacyPlistPaths();
    return std::any_of(paths.begin(), paths.end(),
                       [this](const QString &path) { return m_fileSearch->exists(path); });
}

LegacyTraces LegacyScriptDetector::findTraces() const
{
    LegacyTraces traces;
    traces.processRunning = isLegacyProcessRunning();
    const QStringList plists = legacyPlistPaths();
    if (m_fileSearch->exists(plists[0]))
        traces.userFiles.append(plists[0]);
    if (m_fileSearch->exists(plists[1]))
        traces.systemFiles.append(plists[1]);
    const QByteArray script = scriptName.toUtf8();
    const auto naming = [&](const QString &folder, const QString &filter) {
        return m_fileSearch->filesNaming(folder, filter, script);
    };
    traces.userUnits
        = naming(m_folders.configHome + QStringLiteral("/systemd/user"), QStringLiteral("*.service"));
    traces.userFiles
        += naming(m_folders.configHome + QStringLiteral("/autostart"), QStringLiteral("*.desktop"));
    traces.systemUnits = naming(m_folders.systemUnits, QStringLiteral("*.service"));
    traces.systemFiles += naming(m_folders.systemAutostart, QStringLiteral("*.desktop"));
    return traces;
}

QCoro::Task<bool> LegacyScriptDetector::detect() const
{
    // Neither the worker nor what follows the wait may depend on this object's lifetime.
    const LegacyScriptDetector copy = *this;
    const std::shared_ptr<LegacyTraces> last = m_lastTraces;
    const QFuture<LegacyTraces> answer = QtConcurrent::run([copy] { return copy.findTraces(); });
    *last = co_await qCoro(answer).waitForFinished();
    co_return !last->isEmpty();
}
