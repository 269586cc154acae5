#include "core/AppState.h"

namespace {
// Stores value and emits only when it differs from what was there.
template<typename T, typename Signal> void assign(AppState *self, T &field, const T &value, Signal signal)
{
    if (field == value)
        return;
    field = value;
    Q_EMIT(self->*signal)();
}
} // namespace

AppState::AppState(QObject *parent)
    : QObject(parent)
{ }

void AppState::setConnectionState(const ConnectionState &value)
{
    assign(this, m_connectionState, value, &AppState::connectionStateChanged);
}

void AppState::setDeviceRate(std::optional<qint64> value)
{
    assign(this, m_deviceRate, value, &AppState::deviceRateChanged);
}

void AppState::setMadiRate(std::optional<qint64> value)
{
    assign(this, m_madiRate, value, &AppState::madiRateChanged);
}

void AppState::setMadiSync(std::optional<bool> value)
{
    assign(this, m_madiSync, value, &AppState::madiSyncChanged);
}

void AppState::setHistory(const RateHistory &value)
{
    assign(this, m_history, value, &AppState::historyChanged);
}

void AppState::setPaused(bool value)
{
    assign(this, m_isPaused, value, &AppState::isPausedChanged);
}

void AppState::setLegacyScriptDetected(bool value)
{
    assign(this, m_legacyScriptDetected, value, &AppState::legacyScriptDetectedChanged);
}

void AppState::setRateMismatch(bool value)
{
    assign(this, m_rateMismatch, value, &AppState::rateMismatchChanged);
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
