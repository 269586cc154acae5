#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

// An update feed in the appcast format: RSS 2.0 whose items describe releases with elements
// and enclosure attributes of the sparkle namespace. Reading is pure: no network, no files.
class Appcast
{
public:
    static inline const QString sparkleNamespace
        = QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");
    // Feeds are small; anything larger is not a feed.
    static constexpr qint64 maxBytes = 1024 * 1024;

    struct Item
    {
        QString title;
        QString version; // sparkle:version, the element or else the enclosure's attribute
        QString shortVersionString; // the same for sparkle:shortVersionString
        QString minimumSystemVersion;
        QString channel; // empty: the default channel that everybody follows
        QString os; // the enclosure's sparkle:os; empty: any
        QUrl releaseNotesLink; // http(s) only, resolved against the feed
        QUrl link; // the item's web page
        QUrl enclosureUrl;

        // The version people see and that is compared: the short version when given.
        QString displayVersion() const;
        // Where the user gets it: the item's page, else the file itself.
        QUrl downloadPage() const;
    };

    // Reads a feed fetched from feedUrl (used to resolve relative links). On failure the
    // result has an error and no items.
    static Appcast parse(const QByteArray &data, const QUrl &feedUrl = QUrl());

    bool isValid() const { return m_errorString.isEmpty(); }
    // Readable, one line; empty when the feed was read.
    QString errorString() const { return m_errorString; }
    const QList<Item> &items() const { return m_items; }

    // The newest item meant for everybody on Linux that runs on systemVersion (an empty
    // systemVersion passes every minimum); none when no item qualifies.
    std::optional<Item> newestApplicable(const QString &systemVersion) const;

private:
    QList<Item> m_items;
    QString m_errorString;
};
