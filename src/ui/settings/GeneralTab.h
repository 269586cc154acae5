#pragma once

#include "ui/settings/GeneralTabModel.h"

#include <QHash>
#include <QWidget>

class ElidedLabel;
class FormSection;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class SwitchButton;

// The "General" form: notifications, the menu-bar text, updates with the version and "About
// Quorvel", launch at login, the log file with the diagnostics report, and how the MADI rate is
// followed. It draws the model and hands every click to it.
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
    // A row for the model's number of milliseconds of that name.
    void addMilliseconds(FormSection *section, const QString &name);
    void addText(FormSection *section, const QString &name, const QString &placeholder);
    // Shows what the owner holds for that setting, whatever draws it.
    void showSetting(const QString &name);
    void showCheckNow();
    void showDiagnosticsCaption();
    void applyColors();

    GeneralTabModel &m_model;
    QHash<QString, SwitchButton *> m_switches;
    QHash<QString, QSpinBox *> m_millisecondBoxes;
    QHash<QString, QLineEdit *> m_lines;
    QLabel *m_menuBarNote = nullptr;
    QLabel *m_packageManagerNote = nullptr; // only in a build without an update feed
    QLabel *m_version = nullptr;
    QPushButton *m_checkNow = nullptr; // only in a build with an update feed
    ElidedLabel *m_logPath = nullptr;
    QLabel *m_diagnosticsCaption = nullptr;
    QLabel *m_commandNote = nullptr;
};
