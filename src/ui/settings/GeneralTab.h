#pragma once

#include "ui/settings/GeneralTabModel.h"

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
    explicit GeneralTab(GeneralTabModel &model, QWidget *parent = nullptr);

protected:
    void changeEvent(QEvent *event) override;

private:
    // A row for the model's switch of that name.
    void addSwitch(FormSection *section, const QString &name);
    void showSwitch(const QString &name);
    void showCheckNow();
    void showDiagnosticsCaption();
    void applyColors();

    GeneralTabModel &m_model;
    QHash<QString, SwitchButton *> m_switches;
    QLabel *m_menuBarNote = nullptr;
    QLabel *m_packageManagerNote = nullptr; // only in a build without an update feed
    QLabel *m_version = nullptr;
    QPushButton *m_checkNow = nullptr; // only in a build with an update feed
    ElidedLabel *m_logPath = nullptr;
    QLabel *m_diagnosticsCaption = nullptr;
};
