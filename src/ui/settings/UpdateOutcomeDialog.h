#pragma once

#include "services/UpdateController.h"

#include <QDialog>
#include <QString>

class Desktop;
class QLabel;
class QPushButton;

// What an update check that the user asked for found: up to date, a newer version with its
// notes and a way to its download page, or why the check failed. Not modal: the program goes
// on working behind it.
class UpdateOutcomeDialog : public QDialog
{
    Q_OBJECT

public:
    struct Texts
    {
        QString heading;
        QString message;
        QString notesLink; // rich-text link to the release notes, or empty
        QString downloadButton; // empty when there is nothing to download
        QString closeButton;
    };

    // currentVersion: this program's version, as the user sees it.
    static Texts textsFor(const UpdateController::Outcome &outcome, const QString &currentVersion);

    // desktop opens the download page; it must outlive the dialog.
    explicit UpdateOutcomeDialog(Desktop &desktop, QWidget *parent = nullptr);

    void setOutcome(const UpdateController::Outcome &outcome);
    // Shows it and brings it to the front.
    void present();

private:
    Desktop &m_desktop;
    UpdateController::Outcome m_outcome;
    QLabel *m_symbol;
    QLabel *m_heading;
    QLabel *m_message;
    QLabel *m_notes;
    QPushButton *m_download;
    QPushButton *m_close;
};
