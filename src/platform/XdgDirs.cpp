#include "platform/XdgDirs.h"

#include <QDir>

namespace {
QString baseDir(const char *variable, const QString &fallback, const QString &home = QDir::homePath())
{
    const QString value = qEnvironmentVariable(variable);
    return !value.isEmpty() && QDir::isAbsolutePath(value) ? value : home + fallback;
}
} // namespace

QString XdgDirs::configHome()
{
    return baseDir("XDG_CONFIG_HOME", QStringLiteral("/.config"));
}

QString XdgDirs::configHomeOf(const QString &home)
{
    return baseDir("XDG_CONFIG_HOME", QStringLiteral("/.config"), home);
}

QString XdgDirs::stateHome()
{
    return baseDir("XDG_STATE_HOME", QStringLiteral("/.local/state"));
}
