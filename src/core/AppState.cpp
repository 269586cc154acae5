#include "core/AppState.h"

#include "core/SetAndNotify.h"

AppState::AppState(QObject *parent)
    : QObject(parent)
{ }

void AppState::setConnectionState(const ConnectionState &value)
{
    setAndNotify(this, m_connectionState, value, &AppState::connectionStateChanged);
}

void AppState::setDeviceRate(std::optional<qint64> value)
{
    setAndNotify(this, m_deviceRate, value, &AppState::deviceRateChanged);
}

void AppState::setMadiRate(std::optional<qint64> value)
{
    setAndNotify(this, m_madiRate, value, &AppState::madiRateChanged);
}

void AppState::setMadiSync(std::optional<bool> value)
{
    setAndNotify(this, m_madiSync, value, &AppState::madiSyncChanged);
}

void AppState::setHistory(const RateHistory &value)
{
    setAndNotify(this, m_history, value, &AppState::historyChanged);
}

void AppState::setPaused(bool value)
{
    setAndNotify(this, m_isPaused, value, &AppState::isPausedChanged);
}

void AppState::setLegacyScriptDetected(bool value)
{
    setAndNotify(this, m_legacyScriptDetected, value, &AppState::legacyScriptDetectedChanged);
}

void AppState::setRateMismatch(bool value)
{
    setAndNotify(this, m_rateMismatch, value, &AppState::rateMismatchChanged);
}

void AppState::recordRateChange(std::optional<qint64> from, qint64 to)
{
    m_history.prepend(RateChange::make(from, to));
    Q_EMIT historyChanged();
    if (m_history.size() > maxHistory) {
        m_history.removeLast();
        Q_EMIT historyChanged();
    }
}
