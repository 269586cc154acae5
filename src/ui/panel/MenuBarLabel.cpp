#include "ui/panel/MenuBarLabel.h"

#include "core/AppState.h"
#include "core/RateFormat.h"
#include "services/AppSettings.h"

MenuBarLabel::MenuBarLabel(const AppState &state, const AppSettings &settings, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_settings(settings)
{
    update();

    connect(&m_state, &AppState::rateMismatchChanged, this, &MenuBarLabel::update);
    connect(&m_state, &AppState::legacyScriptDetectedChanged, this, &MenuBarLabel::update);
    connect(&m_state, &AppState::connectionStateChanged, this, &MenuBarLabel::update);
    connect(&m_state, &AppState::deviceRateChanged, this, &MenuBarLabel::update);
    connect(&m_settings, &AppSettings::showRateInMenuBarChanged, this, &MenuBarLabel::update);
}

QString MenuBarLabel::iconNameFor(bool rateMismatch, bool legacyScriptDetected,
                                  const ConnectionState &connection)
{
    if (rateMismatch)
        return warningSymbol;
    if (legacyScriptDetected)
        return warningSymbol;
    if (connection.isConnected())
        return connectedSymbol;
    return idleSymbol;
}

std::optional<QString> MenuBarLabel::rateTextFor(bool showRateInMenuBar, std::optional<qint64> deviceRate)
{
    if (!showRateInMenuBar)
        return std::nullopt;
    if (!deviceRate)
        return std::nullopt;
    return RateFormat::compact(*deviceRate);
}

bool MenuBarLabel::rateStaleFor(const std::optional<QString> &rateText, const ConnectionState &connection)
{
    return rateText && !connection.isConnected();
}

QString MenuBarLabel::toolTipFor(const ConnectionState &connection, const std::optional<QString> &rateText)
{
    switch (connection.kind()) {
    case ConnectionState::Kind::Connected:
        return rateText ? QStringLiteral("Quorvel — ") + *rateText : QStringLiteral("Quorvel");
    case ConnectionState::Kind::Connecting:
        return QStringLiteral("Looking for M-1620…");
    case ConnectionState::Kind::Error:
        if (connection.message().isEmpty())
            return QStringLiteral("M-1620 not found");
        return QStringLiteral("M-1620 not found: ") + connection.message();
    case ConnectionState::Kind::Disconnected:
        break;
    }
    return QStringLiteral("Quorvel — Stopped");
}

void MenuBarLabel::update()
{
    const ConnectionState connection = m_state.connectionState();
    const QString icon = iconNameFor(m_state.rateMismatch(), m_state.legacyScriptDetected(), connection);
    const std::optional<QString> rate = rateTextFor(m_settings.showRateInMenuBar(), m_state.deviceRate());
    const bool stale = rateStaleFor(rate, connection);
    const QString toolTip = toolTipFor(connection, rate);
    // Every value is stored before any signal goes out, so an observer of one reads the others
    // already current.
    const bool iconChanged = icon != m_iconName;
    const bool rateChanged = rate != m_rateText;
    const bool staleChanged = stale != m_rateStale;
    const bool toolTipChanged = toolTip != m_toolTip;
    m_iconName = icon;
    m_rateText = rate;
    m_rateStale = stale;
    m_toolTip = toolTip;
    if (iconChanged)
        Q_EMIT iconNameChanged();
    if (rateChanged)
        Q_EMIT rateTextChanged();
    if (staleChanged)
        Q_EMIT rateStaleChanged();
    if (toolTipChanged)
        Q_EMIT this->toolTipChanged();
}
