#pragma once

#include <QString>
#include <QUrl>

#include <functional>
#include <qcoro/qcorotask.h>

// What the windows ask of the desktop around them: the clipboard, the file manager, opening a
// location and a notification to click. Virtual so that tests watch what would happen instead of touching the
// desktop.
class Desktop
{
public:
    virtual ~Desktop() = default;

    // The clipboard holds exactly this text afterwards; whether it took it is not looked at.
    virtual void copyText(const QString &text) = 0;
    // A file-manager window with the file selected; its folder when that cannot be done.
    virtual void revealFile(const QString &path) = 0;
    // Hands a location to the desktop's handler for it.
    virtual void openUrl(const QUrl &url) = 0;
    // A notification that stays until dismissed, with one choice; onChosen runs when the user
    // takes it or clicks the notification. False when no notification server showed it.
    virtual QCoro::Task<bool> offer(const QString &title, const QString &body, const QString &choice,
                                    std::function<void()> onChosen)
        = 0;
};
