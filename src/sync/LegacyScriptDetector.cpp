#include "sync/LegacyScriptDetector.h"

#include "platform/PgrepProcessSearch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

#include <qcoro/qcorofuture.h>

namespace {

QString configHomeFor(const QString &home)
{
    const QString fromEnvironment = qEnvironmentVariable("XDG_CONFIG_HOME");
    return QDir::isAbsolutePath(fromEnvironment) ? fromEnvironment : home + QStringLiteral("/.config");
}

// The files in the folder with that suffix whose text names the script. Only the start of
// each file is read: a unit or desktop entry is small, and a stray huge file must not stall.
QStringList filesNamingScript(const QString &folder, const QString &nameFilter)
{
    constexpr qint64 readLimit = 64 * 1024;
    QStringList found;
    const QFileInfoList entries = QDir(folder).entryInfoList({nameFilter}, QDir::Files, QDir::Name);
    for (const QFileInfo &entry : entries) {
        QFile file(entry.filePath());
        if (file.open(QIODevice::ReadOnly)
            && file.read(readLimit).contains(LegacyScriptDetector::scriptName.toUtf8()))
            found.append(entry.filePath());
    }
    return found;
}

} // namespace

LegacyScriptDetector::LegacyScriptDetector(QString home)
    : LegacyScriptDetector(std::move(home), std::make_shared<PgrepProcessSearch>())
{ }

LegacyScriptDetector::LegacyScriptDetector(QString home, std::shared_ptr<const ProcessSearch> processSearch)
    : LegacyScriptDetector(Folders {home, configHomeFor(home)}, std::move(processSearch))
{ }

LegacyScriptDetector::LegacyScriptDetector(Folders folders,
                                           std::shared_ptr<const ProcessSearch> processSearch)
    : m_folders(std::move(folders))
    , m_processSearch(std::move(processSearch))
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
                       [](const QString &path) { return QFileInfo::exists(path); });
}

LegacyTraces LegacyScriptDetector::findTraces() const
{
    LegacyTraces traces;
    traces.processRunning = isLegacyProcessRunning();
    const QStringList plists = legacyPlistPaths();
    if (QFileInfo::exists(plists[0]))
        traces.userFiles.append(plists[0]);
    if (QFileInfo::exists(plists[1]))
        traces.systemFiles.append(plists[1]);
    traces.userUnits = filesNamingScript(m_folders.configHome + QStringLiteral("/systemd/user"),
                                         QStringLiteral("*.service"));
    traces.userFiles += filesNamingScript(m_folders.configHome + QStringLiteral("/autostart"),
                                          QStringLiteral("*.desktop"));
    traces.systemUnits = filesNamingScript(m_folders.systemUnits, QStringLiteral("*.service"));
    traces.systemFiles += filesNamingScript(m_folders.systemAutostart, QStringLiteral("*.desktop"));
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
