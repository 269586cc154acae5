#include "ui/settings/SettingsPageModel.h"

#include <algorithm>

const Setting *SettingsPageModel::setting(const QString &name) const
{
    const auto found = std::find_if(m_settings.begin(), m_settings.end(),
                                    [&](const Setting &s) { return s.name == name; });
    return found == m_settings.end() ? nullptr : &*found;
}

QVariant SettingsPageModel::value(const QString &name) const
{
    const Setting *found = setting(name);
    return found ? found->value() : QVariant();
}

void SettingsPageModel::setValue(const QString &name, const QVariant &value)
{
    if (const Setting *found = setting(name))
        found->set(value);
}
