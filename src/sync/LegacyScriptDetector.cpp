#include "sync/LegacyScriptDetector.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QtConcurrent/QtConcurrentRun>

#include <qcoro/qcorofuture.h>

LegacyScriptDetector::LegacyScriptDetector(QString home, QString pgrepPath)
    : m_home(std::move(home))
    , m_pgrepPath(std::move(pgrepPath))
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
    QProcess pgrep;
    pgrep.setProgram(m_pgrepPath);
    pgrep.setArguments({QStringLiteral("-i"), QStringLiteral("-f"), processPattern});
    pgrep.setStandardOutputFile(QProcess::nullDevice());
    pgrep.setStandardErrorFile(QProcess::nullDevice());
    pgrep.start();
    if (!pgrep.waitForStarted())
        return false;
    // pgrep answers within milliseconds; the bound only keeps a wedged one from holding the
    // worker for ever.
    if (!pgrep.waitForFinished(10000)) {
        pgrep.kill();
        pgrep.waitForFinished(1000);
        return false;
    }
    return pgrep.exitStatus() == QProcess::NormalExit && pgrep.exitCode() == 0;
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
