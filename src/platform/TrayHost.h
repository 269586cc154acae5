#pragma once

#include <QObject>

// Whether the desktop has a tray that can take an icon. The one implementation is
// TrayHostWatcher; tests put a tray up and down.
class TrayHost : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool available READ isAvailable NOTIFY availableChanged)

public:
    using QObject::QObject;

    virtual bool isAvailable() const = 0;

Q_SIGNALS:
    void availableChanged();
};
