#pragma once

#include "ui/settings/Setting.h"

#include <QList>
#include <QObject>

// What the settings window's tabs share: their settings, each described by a Setting, and one
// signal when the value of one of them may have changed, whoever changed it.
class SettingsPageModel : public QObject
{
    Q_OBJECT

public:
    QList<Setting> settings() const { return m_settings; }
    // The setting of that name, or null.
    const Setting *setting(const QString &name) const;
    QVariant value(const QString &name) const;
    // Writes through the owner; settingChanged follows when the owner took it.
    void setValue(const QString &name, const QVariant &value);

Q_SIGNALS:
    void settingChanged(const QString &name);

protected:
    using QObject::QObject;

    // A setting whose owner announces each change of its value with signal.
    template<typename Owner, typename Signal> void add(Setting setting, const Owner *owner, Signal signal)
    {
        const QString name = setting.name;
        m_settings.append(std::move(setting));
        connect(owner, signal, this, [this, name] { Q_EMIT settingChanged(name); });
    }

private:
    QList<Setting> m_settings;
};
