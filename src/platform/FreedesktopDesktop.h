#pragma once

#include "platform/Desktop.h"

#include <QObject>

#include <chrono>

// The desktop as freedesktop.org desktops offer it: Qt's clipboard, the file manager over D-Bus
// (org.freedesktop.FileManager1.ShowItems) and QDesktopServices.
class FreedesktopDesktop : public Desktop
{
public:
    // How long the file manager has to answer before its folder is opened instead; long enough
    // for a file manager that the bus starts on demand.
    static constexpr std::chrono::milliseconds fileManagerTimeout {10000};

    void copyText(const QString &text) override;
    // Asks without waiting. When no file manager answers, or the file does not exist, the
    // folder is opened instead.
    void revealFile(const QString &path) override;
    void openUrl(const QUrl &url) override;

private:
    // Pending file-manager calls end with this object.
    QObject m_calls;
};
