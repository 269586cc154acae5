#pragma once

#include <QObject>
#include <QString>

class SettingsStore;

// The user's choices that survive a restart. Every assignment is written through to the
// store; observers hear only of real changes.
class AppSettings : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString customHost READ customHost WRITE setCustomHost NOTIFY customHostChanged)
    Q_PROPERTY(bool useCustomHost READ useCustomHost WRITE setUseCustomHost NOTIFY useCustomHostChanged)
    Q_PROPERTY(bool notifyOnRateChange READ notifyOnRateChange WRITE setNotifyOnRateChange NOTIFY
                   notifyOnRateChangeChanged)
    Q_PROPERTY(bool notifyOnDisconnect READ notifyOnDisconnect WRITE setNotifyOnDisconnect NOTIFY
                   notifyOnDisconnectChanged)
    Q_PROPERTY(bool showRateInMenuBar READ showRateInMenuBar WRITE setShowRateInMenuBar NOTIFY
                   showRateInMenuBarChanged)
    Q_PROPERTY(qint64 settleMilliseconds READ settleMilliseconds WRITE setSettleMilliseconds NOTIFY
                   settleMillisecondsChanged)
    Q_PROPERTY(bool followOnlyWhenLocked READ followOnlyWhenLocked WRITE setFollowOnlyWhenLocked NOTIFY
                   followOnlyWhenLockedChanged)
    Q_PROPERTY(bool matchPipeWireRate READ matchPipeWireRate WRITE setMatchPipeWireRate NOTIFY
                   matchPipeWireRateChanged)
    Q_PROPERTY(QString rateChangeCommand READ rateChangeCommand WRITE setRateChangeCommand NOTIFY
                   rateChangeCommandChanged)
    Q_PROPERTY(QString effectiveHost READ effectiveHost NOTIFY effectiveHostChanged)

public:
    // The M-1620's USB control address, polled whenever no custom host is in force.
    static inline const QString defaultHost = QStringLiteral("172.20.0.1");

    // The longest the engine can be told to wait for a MADI rate to hold still.
    static constexpr qint64 maximumSettleMilliseconds = 5000;

    static AppSettings &shared(); // on SettingsStore::shared()

    explicit AppSettings(SettingsStore &store, QObject *parent = nullptr);

    QString customHost() const { return m_customHost; }
    void setCustomHost(const QString &value);
    bool useCustomHost() const { return m_useCustomHost; }
    void setUseCustomHost(bool value);
    bool notifyOnRateChange() const { return m_notifyOnRateChange; }
    void setNotifyOnRateChange(bool value);
    bool notifyOnDisconnect() const { return m_notifyOnDisconnect; }
    void setNotifyOnDisconnect(bool value);
    bool showRateInMenuBar() const { return m_showRateInMenuBar; }
    void setShowRateInMenuBar(bool value);
    // How long a MADI rate must read the same before it is followed; 0 follows at once.
    qint64 settleMilliseconds() const { return m_settleMilliseconds; }
    void setSettleMilliseconds(qint64 value); // clamped to 0 … maximumSettleMilliseconds
    // An input that does not report lock is not followed.
    bool followOnlyWhenLocked() const { return m_followOnlyWhenLocked; }
    void setFollowOnlyWhenLocked(bool value);

    // The computer's audio graph (PipeWire) is kept at the device's rate.
    bool matchPipeWireRate() const { return m_matchPipeWireRate; }
    void setMatchPipeWireRate(bool value);
    // Run after each rate the device took; empty runs nothing.
    QString rateChangeCommand() const { return m_rateChangeCommand; }
    void setRateChangeCommand(const QString &value);

    // The custom host when switched on and not empty (no trimming), else defaultHost.
    QString effectiveHost() const;

Q_SIGNALS:
    void customHostChanged();
    void useCustomHostChanged();
    void notifyOnRateChangeChanged();
    void notifyOnDisconnectChanged();
    void showRateInMenuBarChanged();
    void settleMillisecondsChanged();
    void followOnlyWhenLockedChanged();
    void matchPipeWireRateChanged();
    void rateChangeCommandChanged();
    void effectiveHostChanged();

private:
    // Stores and writes through on every assignment; notifies only on a real change.
    template<typename T>
    void assign(T &field, const T &value, const QString &key, void (AppSettings::*changed)());

    SettingsStore &m_store;
    QString m_customHost;
    bool m_useCustomHost = false;
    bool m_notifyOnRateChange = true;
    bool m_notifyOnDisconnect = true;
    bool m_showRateInMenuBar = false;
    qint64 m_settleMilliseconds = 0;
    bool m_followOnlyWhenLocked = false;
    bool m_matchPipeWireRate = false;
    QString m_rateChangeCommand;
};
