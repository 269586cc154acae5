#pragma once

#include "platform/Desktop.h"

#include <QList>
#include <QStringList>
#include <QUrl>

// Records what would have reached the clipboard, the file manager or the desktop's handlers.
class RecordingDesktop final : public Desktop
{
public:
    void copyText(const QString &text) override { copied.append(text); }
    void revealFile(const QString &path) override { revealed.append(path); }
    void openUrl(const QUrl &url) override { opened.append(url); }
    QCoro::Task<bool> offer(const QString &title, const QString &, const QString &,
                            std::function<void()> onChosen) override
    {
        offered.append(title);
        chosen = std::move(onChosen);
        co_return notificationsShown;
    }
    bool notificationsShown = true;
    std::function<void()> chosen;
    QStringList offered, copied, revealed;
    QList<QUrl> opened;
};
