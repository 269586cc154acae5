#include "platform/FreedesktopDesktop.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QPointer>

#include <qcoro/qcorodbuspendingcall.h>

namespace {
const QString notificationsService = QStringLiteral("org.freedesktop.Notifications");
const QString notificationsPath = QStringLiteral("/org/freedesktop/Notifications");
} // namespace

// The offers on screen by notification id, until chosen or closed.
class NotificationOffers : public QObject
{
    Q_OBJECT

public:
    QHash<uint, std::function<void()>> pending;
    bool listening = false;

public Q_SLOTS:
    // The action's key does not matter: there is one choice, and a click on the body means it too.
    void actionInvoked(uint id, const QString &)
    {
        if (const std::function<void()> chosen = pending.take(id))
            chosen();
    }
    void notificationClosed(uint id, uint) { pending.remove(id); }
};

FreedesktopDesktop::FreedesktopDesktop()
    : m_offers(std::make_unique<NotificationOffers>())
{ }

FreedesktopDesktop::~FreedesktopDesktop() = default;

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

QCoro::Task<bool> FreedesktopDesktop::offer(const QString &title, const QString &body, const QString &choice,
                                            std::function<void()> onChosen)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        co_return false;
    const QPointer<NotificationOffers> offers = m_offers.get();
    if (!offers->listening) {
        offers->listening = true;
        bus.connect(notificationsService, notificationsPath, notificationsService,
                    QStringLiteral("ActionInvoked"), offers, SLOT(actionInvoked(uint, QString)));
        bus.connect(notificationsService, notificationsPath, notificationsService,
                    QStringLiteral("NotificationClosed"), offers, SLOT(notificationClosed(uint, uint)));
    }
    QDBusMessage call = QDBusMessage::createMethodCall(notificationsService, notificationsPath,
                                                       notificationsService, QStringLiteral("Notify"));
    // expire 0: it stays until the user acts on it or dismisses it.
    call << QStringLiteral("Quorvel") << 0u << QStringLiteral("app.quorvel.Quorvel") << title << body
         << QStringList {QStringLiteral("default"), choice}
         << QVariantMap {{QStringLiteral("desktop-entry"), QStringLiteral("app.quorvel.Quorvel")}} << 0;
    const QDBusMessage reply = co_await qCoro(bus.asyncCall(call, 5000)).waitForFinished();
    if (!offers || reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        co_return false;
    const uint id = reply.arguments().constFirst().toUInt();
    if (id == 0)
        co_return false;
    offers->pending.insert(id, std::move(onChosen));
    co_return true;
}

#include "FreedesktopDesktop.moc"
