#pragma once

#include <QString>
#include <QUrl>

// What the windows ask of the desktop around them: the clipboard, the file manager and opening
// a location. Virtual so that tests watch what would happen instead of touching the desktop.
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
};
