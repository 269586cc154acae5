#pragma once

#include "core/ConnectionState.h"
#include "core/RateChange.h"

#include <QObject>

#include <optional>

// What the program knows about the device right now. The sync engine is its only writer;
// views only read it. Every property notifies on its own, and only on a real change.
class AppState : public QObject
{
    Q_OBJECT
    Q_PROPERTY(ConnectionState connectionState READ connectionState WRITE setConnectionState NOTIFY
                   connectionStateChanged)
    Q_PROPERTY(std::optional<qint64> deviceRate READ deviceRate WRITE setDeviceRate NOTIFY deviceRateChanged)
    Q_PROPERTY(std::optional<qint64> madiRate READ madiRate WRITE setMadiRate NOTIFY madiRateChanged)
    Q_PROPERTY(std::optional<bool> madiSync READ madiSync WRITE setMadiSync NOTIFY madiSyncChanged)
    Q_PROPERTY(RateHistory history READ history WRITE setHistory NOTIFY historyChanged)
    Q_PROPERTY(bool isPaused READ isPaused WRITE setPaused NOTIFY isPausedChanged)
    Q_PROPERTY(bool legacyScriptDetected READ legacyScriptDetected WRITE setLegacyScriptDetected NOTIFY
                   legacyScriptDetectedChanged)
    Q_PROPERTY(bool rateMismatch READ rateMismatch WRITE setRateMismatch NOTIFY rateMismatchChanged)

public:
    static constexpr qsizetype maxHistory = 10;

    explicit AppState(QObject *parent = nullptr);

    ConnectionState connectionState() const { return m_connectionState; }
    void setConnectionState(const ConnectionState &value);

    std::optional<qint64> deviceRate() const { return m_deviceRate; }
    void setDeviceRate(std::optional<qint64> value);

    std::optional<qint64> madiRate() const { return m_madiRate; }
    void setMadiRate(std::optional<qint64> value);

    std::optional<bool> madiSync() const { return m_madiSync; }
    void setMadiSync(std::optional<bool> value);

    // Newest first, at most maxHistory entries.
    RateHistory history() const { return m_history; }
    void setHistory(const RateHistory &value);

    bool isPaused() const { return m_isPaused; }
    void setPaused(bool value);

    bool legacyScriptDetected() const { return m_legacyScriptDetected; }
    void setLegacyScriptDetected(bool value);

    bool rateMismatch() const { return m_rateMismatch; }
    void setRateMismatch(bool value);

    // Puts a new entry at the front and drops the oldest beyond maxHistory.
    void recordRateChange(std::optional<qint64> from, qint64 to);

Q_SIGNALS:
    void connectionStateChanged();
    void deviceRateChanged();
    void madiRateChanged();
    void madiSyncChanged();
    void historyChanged();
    void isPausedChanged();
    void legacyScriptDetectedChanged();
    void rateMismatchChanged();

private:
    ConnectionState m_connectionState;
    std::optional<qint64> m_deviceRate;
    std::optional<qint64> m_madiRate;
    std::optional<bool> m_madiSync;
    RateHistory m_history;
    bool m_isPaused = false;
    bool m_legacyScriptDetected = false;
    bool m_rateMismatch = false;
};
