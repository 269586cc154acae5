#include "sync/LegacyScriptDetector.h"

#include "platform/PgrepProcessSearch.h"

#include <QDir>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

#include <qcoro/qcorofuture.h>

LegacyScriptDetector::LegacyScriptDetector(QString home)
    : LegacyScriptDetector(std::move(home), std::make_shared<PgrepProcessSearch>())
{ }

LegacyScriptDetector::LegacyScriptDetector(QString home, std::shared_ptr<const ProcessSearch> processSearch)
    : m_home(std::move(home))
    , m_processSearch(std::move(processSearch))
{ }

LegacyScriptDetector LegacyScriptDetector::forCurrentUser()
{
    return LegacyScriptDetector(QDir::homePath());
}

QStringList LegacyScriptDetector::legacyPlistPaths() const
{
    return {m_home + QStringLiteral("/Library/LaunchAgents/com.studio.m1620sync.plist"),
            QStringLiteral("/Library/LaunchDaemons/com.studio.m1620sync.plist")};
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

QCoro::Task<bool> LegacyScriptDetector::detect() const
{
    const LegacyScriptDetector copy = *this; // the worker must not depend on this object's lifetime
    const QFuture<bool> answer = QtConcurrent::run([copy] { return copy.isLegacyScriptPresent(); });
    co_return co_await qCoro(answer).waitForFinished();
}
