#include "platform/XdgDirs.h"

#include <QDir>

namespace {
QString baseDir(const char *variable, const QString &fallback)
{
    const QString value = qEnvironmentVariable(variable);
    return !value.isEmpty() && QDir::isAbsolutePath(value) ? value : QDir::homePath() + fallback;
}
} // namespace

QString XdgDirs::configHome()
{
    return baseDir("XDG_CONFIG_HOME", QStringLiteral("/.config"));
}

QString XdgDirs::stateHome()
{
    return baseDir("XDG_STATE_HOME", QStringLiteral("/.local/state"));
}
