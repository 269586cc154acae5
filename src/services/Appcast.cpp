#include "services/Appcast.h"

#include "services/VersionNumber.h"

#include <QXmlStreamReader>

namespace {

// Links from a feed end up opened in the user's browser: only web pages qualify, so a feed
// can never make the desktop run a file or a custom URL handler.
QUrl webUrl(const QString &text, const QUrl &feedUrl)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return {};
    QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid())
        return {};
    if (url.isRelative() && feedUrl.isValid())
        url = feedUrl.resolved(url);
    const QString scheme = url.scheme().toLower();
    if ((scheme != u"https" && scheme != u"http") || url.host().isEmpty())
        return {};
    return url;
}

class Reader
{
public:
    Reader(const QByteArray &data, const QUrl &feedUrl)
        : m_xml(data)
        , m_feedUrl(feedUrl)
    { }

    QList<Appcast::Item> read(QString &error)
    {
        QList<Appcast::Item> items;
        if (m_xml.readNextStartElement()) {
            if (m_xml.name() != u"rss" || !m_xml.namespaceUri().isEmpty()) {
                error = QStringLiteral("The update feed is not an RSS feed.");
                return {};
            }
            while (m_xml.readNextStartElement()) {
                if (m_xml.name() == u"channel" && m_xml.namespaceUri().isEmpty())
                    readChannel(items);
                else
                    m_xml.skipCurrentElement();
            }
        }
        if (m_xml.hasError()) {
            error = QStringLiteral("The update feed is not valid XML (line %1: %2).")
                        .arg(m_xml.lineNumber())
                        .arg(m_xml.errorString());
            return {};
        }
        return items;
    }

private:
    bool isSparkle(QStringView name) const
    {
        return m_xml.namespaceUri() == Appcast::sparkleNamespace && m_xml.name() == name;
    }
    bool isPlain(QStringView name) const { return m_xml.namespaceUri().isEmpty() && m_xml.name() == name; }

    QString text() { return m_xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed(); }

    void readChannel(QList<Appcast::Item> &items)
    {
        while (m_xml.readNextStartElement()) {
            if (isPlain(u"item"))
                items.append(readItem());
            else
                m_xml.skipCurrentElement();
        }
    }

    Appcast::Item readItem()
    {
        Appcast::Item item;
        QString enclosureVersion;
        QString enclosureShortVersion;
        while (m_xml.readNextStartElement()) {
            if (isSparkle(u"version")) {
                item.version = text();
            } else if (isSparkle(u"shortVersionString")) {
                item.shortVersionString = text();
            } else if (isSparkle(u"releaseNotesLink")) {
                item.releaseNotesLink = webUrl(text(), m_feedUrl);
            } else if (isSparkle(u"minimumSystemVersion")) {
                item.minimumSystemVersion = text();
            } else if (isSparkle(u"channel")) {
                item.channel = text();
            } else if (isPlain(u"title")) {
                item.title = text();
            } else if (isPlain(u"link")) {
                item.link = webUrl(text(), m_feedUrl);
            } else if (isPlain(u"enclosure")) {
                const QXmlStreamAttributes attributes = m_xml.attributes();
                item.enclosureUrl = webUrl(attributes.value(QLatin1String("url")).toString(), m_feedUrl);
                enclosureVersion = attributes.value(Appcast::sparkleNamespace, QLatin1String("version"))
                                       .trimmed()
                                       .toString();
                enclosureShortVersion
                    = attributes.value(Appcast::sparkleNamespace, QLatin1String("shortVersionString"))
                          .trimmed()
                          .toString();
                item.os
                    = attributes.value(Appcast::sparkleNamespace, QLatin1String("os")).trimmed().toString();
                m_xml.skipCurrentElement();
            } else {
                m_xml.skipCurrentElement();
            }
        }
        // The elements win over the older enclosure attributes.
        if (item.version.isEmpty())
            item.version = enclosureVersion;
        if (item.shortVersionString.isEmpty())
            item.shortVersionString = enclosureShortVersion;
        return item;
    }

    QXmlStreamReader m_xml;
    const QUrl m_feedUrl;
};

} // namespace

QString Appcast::Item::displayVersion() const
{
    return shortVersionString.isEmpty() ? version : shortVersionString;
}

QUrl Appcast::Item::downloadPage() const
{
    return link.isEmpty() ? enclosureUrl : link;
}

Appcast Appcast::parse(const QByteArray &data, const QUrl &feedUrl)
{
    Appcast appcast;
    if (data.size() > maxBytes) {
        appcast.m_errorString = QStringLiteral("The update feed is larger than 1 MiB.");
        return appcast;
    }
    if (data.trimmed().isEmpty()) {
        appcast.m_errorString = QStringLiteral("The update feed is empty.");
        return appcast;
    }
    Reader reader(data, feedUrl);
    appcast.m_items = reader.read(appcast.m_errorString);
    return appcast;
}

std::optional<Appcast::Item> Appcast::newestApplicable(const QString &systemVersion) const
{
    std::optional<Item> newest;
    for (const Item &item : m_items) {
        if (item.displayVersion().isEmpty())
            continue;
        // Other channels (betas) are only for those who asked for them, which nobody can here.
        if (!item.channel.isEmpty())
            continue;
        if (!item.os.isEmpty() && item.os.compare(u"linux", Qt::CaseInsensitive) != 0)
            continue;
        if (!systemVersion.isEmpty() && !item.minimumSystemVersion.isEmpty()
            && VersionNumber(systemVersion) < VersionNumber(item.minimumSystemVersion))
            continue;
        if (!newest || VersionNumber(newest->displayVersion()) < VersionNumber(item.displayVersion()))
            newest = item;
    }
    return newest;
}
