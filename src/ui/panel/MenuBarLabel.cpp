#include "ui/panel/MenuBarLabel.h"

#include "core/AppState.h"
#include "core/RateFormat.h"
#include "services/AppSettings.h"

MenuBarLabel::MenuBarLabel(const AppState &state, const AppSettings &settings, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_settings(settings)
{
    m_iconName
        = iconNameFor(m_state.rateMismatch(), m_state.legacyScriptDetected(), m_state.connectionState());
    m_rateText = rateTextFor(m_settings.showRateInMenuBar(), m_state.deviceRate());

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

void MenuBarLabel::update()
{
    const QString icon
        = iconNameFor(m_state.rateMismatch(), m_state.legacyScriptDetected(), m_state.connectionState());
    const std::optional<QString> rate = rateTextFor(m_settings.showRateInMenuBar(), m_state.deviceRate());
    // Both values are stored before either signal goes out, so an observer of one reads the
    // other already current.
    const bool iconChanged = icon != m_iconName;
    const bool rateChanged = rate != m_rateText;
    m_iconName = icon;
    m_rateText = rate;
    if (iconChanged)
        Q_EMIT iconNameChanged();
    if (rateChanged)
        Q_EMIT rateTextChanged();
}
