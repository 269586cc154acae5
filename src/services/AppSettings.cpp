#include "services/AppSettings.h"

#include "core/SetAndNotify.h"
#include "services/SettingsStore.h"

#include <QJsonValue>

#include <algorithm>

namespace {

const QString customHostKey = QStringLiteral("customHost");
const QString useCustomHostKey = QStringLiteral("useCustomHost");
const QString notifyOnRateChangeKey = QStringLiteral("notifyOnRateChange");
const QString notifyOnDisconnectKey = QStringLiteral("notifyOnDisconnect");
const QString showRateInMenuBarKey = QStringLiteral("showRateInMenuBar");
const QString settleMillisecondsKey = QStringLiteral("settleMilliseconds");
const QString followOnlyWhenLockedKey = QStringLiteral("followOnlyWhenLocked");
const QString matchPipeWireRateKey = QStringLiteral("matchPipeWireRate");
const QString rateChangeCommandKey = QStringLiteral("rateChangeCommand");

qint64 settleInRange(qint64 milliseconds)
{
    return std::clamp<qint64>(milliseconds, 0, AppSettings::maximumSettleMilliseconds);
}

} // namespace

AppSettings &AppSettings::shared()
{
    static AppSettings *const instance = new AppSettings(SettingsStore::shared());
    return *instance;
}

// Reads only; building the object writes nothing. The notification flags count only when
// stored as booleans, so anything else leaves them on; the other flags default to off. A settle
// time that is not a whole number is none; one out of range (edited by hand) is brought into it.
AppSettings::AppSettings(SettingsStore &store, QObject *parent)
    : QObject(parent)
    , m_store(store)
{
    m_customHost = m_store.stringValue(customHostKey).value_or(QString());
    m_useCustomHost = m_store.boolValue(useCustomHostKey).value_or(false);
    m_notifyOnRateChange = m_store.boolValue(notifyOnRateChangeKey).value_or(true);
    m_notifyOnDisconnect = m_store.boolValue(notifyOnDisconnectKey).value_or(true);
    m_showRateInMenuBar = m_store.boolValue(showRateInMenuBarKey).value_or(false);
    m_settleMilliseconds = settleInRange(m_store.integerValue(settleMillisecondsKey).value_or(0));
    m_followOnlyWhenLocked = m_store.boolValue(followOnlyWhenLockedKey).value_or(false);
    m_matchPipeWireRate = m_store.boolValue(matchPipeWireRateKey).value_or(false);
    m_rateChangeCommand = m_store.stringValue(rateChangeCommandKey).value_or(QString());
}

template<typename T>
void AppSettings::assign(T &field, const T &value, const QString &key, void (AppSettings::*changed)())
{
    const QString hostBefore = effectiveHost();
    m_store.setValue(key, QJsonValue(value));
    if (setAndNotify(this, field, value, changed) && effectiveHost() != hostBefore)
        Q_EMIT effectiveHostChanged();
}

void AppSettings::setCustomHost(const QString &value)
{
    assign(m_customHost, value, customHostKey, &AppSettings::customHostChanged);
}

void AppSettings::setUseCustomHost(bool value)
{
    assign(m_useCustomHost, value, useCustomHostKey, &AppSettings::useCustomHostChanged);
}

void AppSettings::setNotifyOnRateChange(bool value)
{
    assign(m_notifyOnRateChange, value, notifyOnRateChangeKey, &AppSettings::notifyOnRateChangeChanged);
}

void AppSettings::setNotifyOnDisconnect(bool value)
{
    assign(m_notifyOnDisconnect, value, notifyOnDisconnectKey, &AppSettings::notifyOnDisconnectChanged);
}

void AppSettings::setShowRateInMenuBar(bool value)
{
    assign(m_showRateInMenuBar, value, showRateInMenuBarKey, &AppSettings::showRateInMenuBarChanged);
}

void AppSettings::setSettleMilliseconds(qint64 value)
{
    assign(m_settleMilliseconds, settleInRange(value), settleMillisecondsKey,
           &AppSettings::settleMillisecondsChanged);
}

void AppSettings::setFollowOnlyWhenLocked(bool value)
{
    assign(m_followOnlyWhenLocked, value, followOnlyWhenLockedKey, &AppSettings::followOnlyWhenLockedChanged);
}

void AppSettings::setMatchPipeWireRate(bool value)
{
    assign(m_matchPipeWireRate, value, matchPipeWireRateKey, &AppSettings::matchPipeWireRateChanged);
}

void AppSettings::setRateChangeCommand(const QString &value)
{
    assign(m_rateChangeCommand, value, rateChangeCommandKey, &AppSettings::rateChangeCommandChanged);
}

QString AppSettings::effectiveHost() const
{
    // Blanks count as a host: no trimming, a bad host fails later at the device client.
    if (!m_useCustomHost || m_customHost.isEmpty())
        return defaultHost;
    return m_customHost;
}
