#include "ui/PlatformUi.h"

#include "ui/settings/AboutDialog.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QWidget>

PlatformUi &PlatformUi::shared()
{
    static PlatformUi instance;
    return instance;
}

PlatformUi::~PlatformUi() = default;

void PlatformUi::copyText(const QString &text)
{
    if (QClipboard *clipboard = QGuiApplication::clipboard()) {
        clipboard->clear();
        clipboard->setText(text);
    }
}

void PlatformUi::revealFile(const QString &path)
{
    const QFileInfo file(path);
    const QUrl folder = QUrl::fromLocalFile(file.absolutePath());
    // A file manager asked to select a missing file shows an error; the folder is more use.
    if (!file.exists()) {
        openUrl(folder);
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openUrl(folder);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList {QUrl::fromLocalFile(file.absoluteFilePath()).toString(QUrl::FullyEncoded)}
         << QString();
    auto *watcher
        = new QDBusPendingCallWatcher(bus.asyncCall(call, static_cast<int>(fileManagerTimeout.count())));
    // The answer comes back to this object: the program's shared one lives to the end.
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [this, watcher, folder] {
        if (watcher->isError())
            openUrl(folder);
        watcher->deleteLater();
    });
}

void PlatformUi::openUrl(const QUrl &url)
{
    QDesktopServices::openUrl(url);
}

void PlatformUi::showAbout(QWidget *parent, const std::optional<QString> &credits)
{
    QWidget *owner = parent ? parent->window() : nullptr;
    AboutDialog *dialog
        = owner ? owner->findChild<AboutDialog *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
    if (!dialog) {
        dialog = new AboutDialog(credits, owner);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
    }
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}
