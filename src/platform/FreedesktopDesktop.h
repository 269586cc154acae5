#pragma once

#include "platform/Desktop.h"

#include <QObject>

#include <chrono>
#include <memory>

class NotificationOffers;

// The desktop as freedesktop.org desktops offer it: Qt's clipboard, the file manager over D-Bus
// (org.freedesktop.FileManager1.ShowItems), QDesktopServices and org.freedesktop.Notifications.
class FreedesktopDesktop : public Desktop
{
public:
    FreedesktopDesktop();
    ~FreedesktopDesktop() override;

    // How long the file manager has to answer before its folder is opened instead; long enough
    // for a file manager that the bus starts on demand.
    static constexpr std::chrono::milliseconds fileManagerTimeout {10000};

    void copyText(const QString &text) override;
    // Asks without waiting. When no file manager answers, or the file does not exist, the
    // folder is opened instead.
    void revealFile(const QString &path) override;
    void openUrl(const QUrl &url) override;
    QCoro::Task<bool> offer(const QString &title, const QString &body, const QString &choice,
                            std::function<void()> onChosen) override;

private:
    // Pending file-manager calls end with this object.
    QObject m_calls;
    std::unique_ptr<NotificationOffers> m_offers;
};
