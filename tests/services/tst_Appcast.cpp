#include "services/Appcast.h"

#include <QTest>

namespace {

const QUrl feedUrl(QStringLiteral("https://127.0.0.1:8443/quorvel/appcast.xml"));

QByteArray feed(const QByteArray &items)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">\n"
           "<channel><title>Quorvel</title><link>https://127.0.0.1:8443/quorvel/</link>\n"
        + items + "\n</channel></rss>\n";
}

QByteArray item(const QByteArray &version, const QByteArray &extra = {})
{
    return "<item><sparkle:version>" + version + "</sparkle:version>" + extra + "</item>\n";
}

} // namespace

class TestAppcast : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsTheSparkleElements()
    {
        const Appcast appcast = Appcast::parse(
            feed("<item><title>Quorvel 1.3</title><link>https://127.0.0.1:8443/quorvel/1.3.html</link>\n"
                 "  <sparkle:version>130</sparkle:version>\n"
                 "  <sparkle:shortVersionString> 1.3 </sparkle:shortVersionString>\n"
                 "  <sparkle:releaseNotesLink>notes/1.3.html</sparkle:releaseNotesLink>\n"
                 "  <enclosure url=\"https://127.0.0.1:8443/q-1.3.tar.gz\" sparkle:version=\"9\"/></item>\n"
                 // The older style: versions on the enclosure.
                 "<item><enclosure url=\"q-1.4.tar.gz\" sparkle:version=\"140\"\n"
                 "  sparkle:shortVersionString=\"1.4\" sparkle:os=\"linux\"/></item>"
                 // Links end up in the user's browser: no files, no custom URL handlers.
                 + item("2.0",
                        "<link>file:///etc/passwd</link><enclosure url=\"smb://server/share/quorvel\"/>"
                        "<sparkle:releaseNotesLink>javascript:alert(1)</sparkle:releaseNotesLink>")),
            feedUrl);
        QVERIFY2(appcast.isValid(), qPrintable(appcast.errorString()));
        QCOMPARE(appcast.items().size(), 3);
        const Appcast::Item &first = appcast.items()[0];
        QCOMPARE(first.version, QStringLiteral("130")); // the element wins over the enclosure
        QCOMPARE(first.displayVersion(), QStringLiteral("1.3"));
        QCOMPARE(first.releaseNotesLink,
                 QUrl(QStringLiteral("https://127.0.0.1:8443/quorvel/notes/1.3.html")));
        QCOMPARE(first.downloadPage(), QUrl(QStringLiteral("https://127.0.0.1:8443/quorvel/1.3.html")));
        const Appcast::Item &second = appcast.items()[1];
        QCOMPARE(second.version + second.displayVersion() + second.os, QStringLiteral("1401.4linux"));
        QCOMPARE(second.downloadPage(), QUrl(QStringLiteral("https://127.0.0.1:8443/quorvel/q-1.4.tar.gz")));
        QVERIFY(appcast.items()[2].releaseNotesLink.isEmpty() && appcast.items()[2].downloadPage().isEmpty());
    }

    // Not a beta, not for another system, not for a newer kernel; numbers compare as numbers.
    void newestApplicableItem()
    {
        const Appcast appcast = Appcast::parse(
            feed(item("1.9") + item("1.10") + item("1.10-rc1")
                 + item("9.0", "<sparkle:channel>beta</sparkle:channel>")
                 + item("8.0", "<enclosure url=\"https://127.0.0.1/q.dmg\" sparkle:os=\"macos\"/>")
                 + item("7.0", "<sparkle:minimumSystemVersion>6.2</sparkle:minimumSystemVersion>")
                 + item("1.15", "<sparkle:minimumSystemVersion>6.1</sparkle:minimumSystemVersion>")
                 + "<item><title>no version</title></item>"),
            feedUrl);
        QCOMPARE(appcast.items().size(), 8);
        QCOMPARE(appcast.newestApplicable(QStringLiteral("6.1.0"))->displayVersion(), QStringLiteral("1.15"));
        QCOMPARE(appcast.newestApplicable(QStringLiteral("6.2"))->displayVersion(), QStringLiteral("7.0"));
        QCOMPARE(appcast.newestApplicable(QStringLiteral("5.10"))->displayVersion(), QStringLiteral("1.10"));
    }

    void unreadableFeeds()
    {
        const char *notXml = "The update feed is not valid XML (line ";
        // A "billion laughs" feed must fail, not eat the memory of an always-running utility.
        QByteArray bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE rss [\n<!ENTITY a0 \"laugh\">\n";
        for (int i = 1; i <= 12; ++i)
            bomb += "<!ENTITY a" + QByteArray::number(i) + " \""
                + QByteArray("&a" + QByteArray::number(i - 1) + ";").repeated(10) + "\">\n";
        bomb += "]>\n<rss version=\"2.0\"><channel><item><title>&a12;</title></item></channel></rss>\n";
        for (const auto &[data, error] :
             {std::pair {QByteArray(" \n "), "The update feed is empty."},
              {feed("<item><sparkle:version>1.3</item>"), notXml},
              {"<feed xmlns=\"http://www.w3.org/2005/Atom\"></feed>", "The update feed is not an RSS feed."},
              {QByteArray(Appcast::maxBytes + 1, ' '), "The update feed is larger than 1 MiB."},
              {bomb, notXml}}) {
            const Appcast appcast = Appcast::parse(data, feedUrl);
            QVERIFY(!appcast.isValid() && appcast.items().isEmpty());
            QVERIFY2(appcast.errorString().startsWith(QString::fromUtf8(error))
                         && !appcast.errorString().contains(u'\n'),
                     qPrintable(appcast.errorString()));
        }
    }
};

QTEST_APPLESS_MAIN(TestAppcast)
#include "tst_Appcast.moc"
