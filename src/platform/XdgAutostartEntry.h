#pragma once

#include "platform/AutostartEntry.h"

// A desktop entry in the user's XDG autostart folder. It counts as enabled exactly when it
// exists and its main group does not say Hidden=true.
class XdgAutostartEntry final : public AutostartEntry
{
public:
    static inline const QString fileName = QStringLiteral("app.quorvel.Quorvel.desktop");

    // autostartDir: the folder of the entry; program: the absolute path written as Exec.
    XdgAutostartEntry(QString autostartDir, QString program);

    QString path() const;

    bool isEnabled() const override;
    // Creates the folder and writes the entry atomically.
    std::optional<QString> enable() override;
    std::optional<QString> disable() override;

private:
    // The entry as written: Exec and TryExec name the program; it starts after the panel.
    QString entryText() const;

    QString m_autostartDir;
    QString m_program;
};
