#include "services/LaunchAtLogin.h"

#include "platform/XdgAutostartEntry.h"
#include "platform/XdgDirs.h"
#include "services/Logger.h"

#include <QCoreApplication>

LaunchAtLogin &LaunchAtLogin::shared()
{
    static LaunchAtLogin *const instance = new LaunchAtLogin(
        std::make_unique<XdgAutostartEntry>(XdgDirs::configHome() + QStringLiteral("/autostart"),
                                            QCoreApplication::applicationFilePath()),
        Logger::shared());
    return *instance;
}

LaunchAtLogin::LaunchAtLogin(std::unique_ptr<AutostartEntry> entry, Logger &logger, QObject *parent)
    : QObject(parent)
    , m_entry(std::move(entry))
    , m_logger(logger)
{ }

LaunchAtLogin::~LaunchAtLogin() = default;

bool LaunchAtLogin::isEnabled() const
{
    return m_entry->isEnabled();
}

void LaunchAtLogin::setEnabled(bool enabled)
{
    // Enabling what is already on calls nothing and logs nothing; disabling always asks.
    if (!enabled || !m_entry->isEnabled()) {
        if (const std::optional<QString> failure = enabled ? m_entry->enable() : m_entry->disable())
            m_logger.error(QStringLiteral("Launch at login change failed: ") + *failure);
        else
            m_logger.info(enabled ? QStringLiteral("Launch at login enabled")
                                  : QStringLiteral("Launch at login disabled"));
    }
    Q_EMIT isEnabledChanged();
}
