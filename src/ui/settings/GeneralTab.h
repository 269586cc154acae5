#pragma once

#include "ui/settings/SettingsViewModel.h"

#include <QHash>
#include <QWidget>

class ElidedLabel;
class FormSection;
class QLabel;
class QPushButton;
class SwitchButton;

// The "General" form: notifications, the menu-bar text, updates with the version and "About
// Quorvel", launch at login, and the log file with the diagnostics report. It draws the model
// and hands every click to it.
class GeneralTab : public QWidget
{
    Q_OBJECT

public:
    explicit GeneralTab(SettingsViewModel &model, QWidget *parent = nullptr);

    SwitchButton *switchFor(SettingsViewModel::Toggle toggle) const { return m_switches.value(toggle); }

protected:
    void changeEvent(QEvent *event) override;

private:
    void addSwitch(FormSection *section, const QString &name, SettingsViewModel::Toggle toggle);
    void showSwitch(SettingsViewModel::Toggle toggle);
    void showCheckNow();
    void showDiagnosticsCaption();
    void applyColors();

    SettingsViewModel &m_model;
    QHash<SettingsViewModel::Toggle, SwitchButton *> m_switches;
    QLabel *m_menuBarNote = nullptr;
    QLabel *m_version = nullptr;
    QPushButton *m_checkNow = nullptr;
    ElidedLabel *m_logPath = nullptr;
    QLabel *m_diagnosticsCaption = nullptr;
};
