#include "sync/LegacyTraces.h"

#include "sync/LegacyScriptDetector.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace {

// Quoted for any POSIX shell, bash, zsh and fish alike, unless nothing in it needs quoting.
QString shellWord(const QString &word)
{
    static const QRegularExpression plain(QStringLiteral(R"(^[A-Za-z0-9_./@%+=:,-]+$)"));
    if (plain.match(word).hasMatch())
        return word;
    QString quoted = word;
    quoted.replace(QLatin1Char('\''), QStringLiteral(R"('\'')"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString unitName(const QString &path)
{
    return shellWord(QFileInfo(path).fileName());
}

} // namespace

bool LegacyTraces::isEmpty() const
{
    return !processRunning && userFiles.isEmpty() && userUnits.isEmpty() && systemUnits.isEmpty()
        && systemFiles.isEmpty();
}

bool LegacyTraces::usesSudo() const
{
    return !systemUnits.isEmpty() || !systemFiles.isEmpty();
}

QString LegacyTraces::removalCommand() const
{
    QStringList steps;
    if (processRunning) {
        // First, because && and || bind alike in a shell: only here can "none left counts as
        // done" stand without braces, which fish does not know. A unit's manager may start
        // the script again; stopping the unit below ends that one for good. A process of a
        // system unit belongs to root.
        const QString pattern = shellWord(LegacyScriptDetector::processPattern);
        steps.append(QStringLiteral("%1pkill -i -f %2 || ! pgrep -i -f %2 >/dev/null")
                         .arg(systemUnits.isEmpty() ? QString() : QStringLiteral("sudo "), pattern));
    }
    for (const QString &unit : userUnits)
        steps.append(QStringLiteral("systemctl --user disable --now ") + unitName(unit));
    for (const QString &unit : systemUnits)
        steps.append(QStringLiteral("sudo systemctl disable --now ") + unitName(unit));
    for (const QString &file : userUnits + userFiles)
        steps.append(QStringLiteral("rm -f ") + shellWord(file));
    for (const QString &file : systemUnits + systemFiles)
        steps.append(QStringLiteral("sudo rm -f ") + shellWord(file));
    steps.append(QStringLiteral("echo \"%1\"").arg(successLine));
    return steps.join(QStringLiteral(" && "));
}
