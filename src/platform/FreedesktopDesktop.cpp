#include "platform/FreedesktopDesktop.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>

void FreedesktopDesktop::copyText(const QString &text)
{
    // Cleared first so that no other format of an older copy survives beside the text.
    if (QClipboard *clipboard = QGuiApplication::clipboard()) {
        clipboard->clear();
        clipboard->setText(text);
    }
}

void FreedesktopDesktop::revealFile(const QString &path)
{
    const QFileInfo file(path);
    const QUrl folder = QUrl::fromLocalFile(file.absolutePath());
    // A file manager asked to select a missing file shows an error; the folder is more use.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!file.exists() || !bus.isConnected()) {
        openUrl(folder);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList {QUrl::fromLocalFile(file.absoluteFilePath()).toString(QUrl::FullyEncoded)}
         << QString();
    auto *watcher = new QDBusPendingCallWatcher(
        bus.asyncCall(call, static_cast<int>(fileManagerTimeout.count())), &m_calls);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [this, watcher, folder] {
        if (watcher->isError())
            openUrl(folder);
        watcher->deleteLater();
    });
}

void FreedesktopDesktop::openUrl(const QUrl &url)
{
    QDesktopServices::openUrl(url);
}
