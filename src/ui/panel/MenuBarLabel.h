#pragma once

#include <QObject>
#include <QString>

#include <optional>

class AppSettings;
class AppState;
class ConnectionState;

// What the status item shows: a symbol that tells at a glance whether the device is there and
// whether something needs attention, and, when the user wants it, the device's rate in compact
// kilohertz. A pure function of five observed values; it writes nothing and holds no state of
// its own beyond the last result, which it keeps only to announce real changes.
class MenuBarLabel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString iconName READ iconName NOTIFY iconNameChanged)
    Q_PROPERTY(std::optional<QString> rateText READ rateText NOTIFY rateTextChanged)
    Q_PROPERTY(bool rateStale READ rateStale NOTIFY rateStaleChanged)
    Q_PROPERTY(QString toolTip READ toolTip NOTIFY toolTipChanged)

public:
    static inline const QString connectedSymbol = QStringLiteral("metronome.fill");
    static inline const QString idleSymbol = QStringLiteral("metronome");
    static inline const QString warningSymbol = QStringLiteral("exclamationmark.triangle.fill");

    MenuBarLabel(const AppState &state, const AppSettings &settings, QObject *parent = nullptr);

    // First match wins: a lasting mismatch, the legacy script, connected, anything else.
    // isPaused plays no part: a paused program looks like a running one.
    static QString iconNameFor(bool rateMismatch, bool legacyScriptDetected,
                               const ConnectionState &connection);
    // The device's own rate, compact ("48k", "44.1k"), in every connection state; absent when
    // the user hides it or the device has not reported a rate.
    static std::optional<QString> rateTextFor(bool showRateInMenuBar, std::optional<qint64> deviceRate);
    // The rate shown is the last one read, not a live one: the device is not connected. The icon
    // keeps it but marks it, so that a lost device shows at a glance.
    static bool rateStaleFor(const std::optional<QString> &rateText, const ConnectionState &connection);
    // "Quorvel — 48k" while connected; otherwise what is wrong, with the error's own text
    // ("M-1620 not found: The request timed out").
    static QString toolTipFor(const ConnectionState &connection, const std::optional<QString> &rateText);

    QString iconName() const { return m_iconName; }
    std::optional<QString> rateText() const { return m_rateText; }
    // Icon and text (the rate after the symbol, one space apart), or the icon alone.
    bool showsRate() const { return m_rateText.has_value(); }
    bool rateStale() const { return m_rateStale; }
    QString toolTip() const { return m_toolTip; }

Q_SIGNALS:
    void iconNameChanged();
    void rateTextChanged();
    void rateStaleChanged();
    void toolTipChanged();

private:
    void update();

    const AppState &m_state;
    const AppSettings &m_settings;
    QString m_iconName;
    std::optional<QString> m_rateText;
    bool m_rateStale = false;
    QString m_toolTip;
};
