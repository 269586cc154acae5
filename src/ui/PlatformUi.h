#pragma once

#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

class QWidget;

// The desktop operations the settings window reaches outside itself for: the clipboard, the
// file manager, opening a location and the About dialog. Each is a virtual call so that tests
// can watch what would happen instead of touching the desktop.
class PlatformUi
{
public:
    // How long the file manager has to answer before its folder is opened instead; long enough
    // for a file manager that the bus starts on demand.
    static constexpr std::chrono::milliseconds fileManagerTimeout {10000};

    static PlatformUi &shared();

    PlatformUi() = default;
    virtual ~PlatformUi();
    PlatformUi(const PlatformUi &) = delete;
    PlatformUi &operator=(const PlatformUi &) = delete;

    // The clipboard holds exactly this text afterwards; whether it took it is not looked at.
    virtual void copyText(const QString &text);

    // A file-manager window with the file selected, asked of the desktop's file manager over
    // D-Bus (org.freedesktop.FileManager1.ShowItems) without waiting for it. When no file
    // manager answers, or the file does not exist, its folder is opened instead.
    virtual void revealFile(const QString &path);

    // Hands a location to the desktop (QDesktopServices).
    virtual void openUrl(const QUrl &url);

    // The About dialog in front of parent's window: the icon, the name, the version and the
    // credits when there are any. A second call brings the open one forward.
    virtual void showAbout(QWidget *parent, const std::optional<QString> &credits);
};
