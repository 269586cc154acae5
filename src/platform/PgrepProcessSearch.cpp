#include "platform/PgrepProcessSearch.h"

#include <QProcess>

PgrepProcessSearch::PgrepProcessSearch(QString program)
    : m_program(std::move(program))
{ }

bool PgrepProcessSearch::isRunning(const QString &pattern) const
{
    QProcess pgrep;
    pgrep.setProgram(m_program);
    pgrep.setArguments({QStringLiteral("-i"), QStringLiteral("-f"), pattern});
    pgrep.setStandardOutputFile(QProcess::nullDevice());
    pgrep.setStandardErrorFile(QProcess::nullDevice());
    pgrep.start();
    if (!pgrep.waitForStarted())
        return false;
    // pgrep answers within milliseconds; the bound only keeps a wedged one from holding the
    // caller for ever.
    if (!pgrep.waitForFinished(10000)) {
        pgrep.kill();
        pgrep.waitForFinished(1000);
        return false;
    }
    return pgrep.exitStatus() == QProcess::NormalExit && pgrep.exitCode() == 0;
}
