#include "services/Appcast.h"

#include <QTest>

namespace {

const QUrl feedUrl(QStringLiteral("https://127.0.0.1:8443/quorvel/appcast.xml"));

QByteArray feed(const QByteArray &items)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"\n"
           "     xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
           "  <channel>\n"
           "    <title>Quorvel</title>\n"
           "    <link>https://127.0.0.1:8443/quorvel/</link>\n"
        + items + "\n  </channel>\n</rss>\n";
}

QByteArray item(const QByteArray &version, const QByteArray &extra = {})
{
    return "<item><title>Quorvel " + version + "</title><sparkle:version>" + version + "</sparkle:version>"
        + extra + "</item>\n";
}

} // namespace

class TestAppcast : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsTheSparkleElements()
    {
        const Appcast appcast = Appcast::parse(
            feed("\n"
                 "    <item>\n"
                 "      <title>Quorvel 1.3</title>\n"
                 "      <link>https://127.0.0.1:8443/quorvel/1.3.html</link>\n"
                 "      <sparkle:version>130</sparkle:version>\n"
                 "      <sparkle:shortVersionString>1.3</sparkle:shortVersionString>\n"
                 "      <sparkle:releaseNotesLink>notes/1.3.html</sparkle:releaseNotesLink>\n"
                 "      <sparkle:minimumSystemVersion>5.10</sparkle:minimumSystemVersion>\n"
                 "      <pubDate>Mon, 01 Jul 2024 10:00:00 +0000</pubDate>\n"
                 "      <enclosure url=\"https://127.0.0.1:8443/quorvel/quorvel-1.3.tar.gz\" length=\"123\"\n"
                 "                 type=\"application/octet-stream\" sparkle:edSignature=\"abc=\" />\n"
                 "    </item>"),
            feedUrl);
        QVERIFY2(appcast.isValid(), qPrintable(appcast.errorString()));
        QCOMPARE(appcast.items().size(), 1);
        const Appcast::Item &item = appcast.items().first();
        QCOMPARE(item.title, QStringLiteral("Quorvel 1.3"));
        QCOMPARE(item.version, QStringLiteral("130"));
        QCOMPARE(item.shortVersionString, QStringLiteral("1.3"));
        QCOMPARE(item.displayVersion(), QStringLiteral("1.3"));
        QCOMPARE(item.minimumSystemVersion, QStringLiteral("5.10"));
        // Relative links are resolved against the feed.
        QCOMPARE(item.releaseNotesLink,
                 QUrl(QStringLiteral("https://127.0.0.1:8443/quorvel/notes/1.3.html")));
        QCOMPARE(item.link, QUrl(QStringLiteral("https://127.0.0.1:8443/quorvel/1.3.html")));
        QCOMPARE(item.enclosureUrl,
                 QUrl(QStringLiteral("https://127.0.0.1:8443/quorvel/quorvel-1.3.tar.gz")));
        QCOMPARE(item.downloadPage(), item.link);
    }

    void versionsOnTheEnclosure()
    {
        // The older style: versions as attributes of the enclosure; elements win over them.
        const Appcast appcast = Appcast::parse(
            feed("\n"
                 "    <item><enclosure url=\"https://127.0.0.1/q-1.4.tar.gz\" sparkle:version=\"140\"\n"
                 "                     sparkle:shortVersionString=\"1.4\" sparkle:os=\"linux\"/></item>\n"
                 "    <item><sparkle:version>150</sparkle:version>\n"
                 "          <enclosure url=\"https://127.0.0.1/q-1.5.tar.gz\" "
                 "sparkle:version=\"999\"/></item>"),
            feedUrl);
        QVERIFY(appcast.isValid());
        QCOMPARE(appcast.items().size(), 2);
        QCOMPARE(appcast.items()[0].version, QStringLiteral("140"));
        QCOMPARE(appcast.items()[0].displayVersion(), QStringLiteral("1.4"));
        QCOMPARE(appcast.items()[0].os, QStringLiteral("linux"));
        QCOMPARE(appcast.items()[0].downloadPage(), QUrl(QStringLiteral("https://127.0.0.1/q-1.4.tar.gz")));
        QCOMPARE(appcast.items()[1].version, QStringLiteral("150"));
        QCOMPARE(appcast.items()[1].displayVersion(), QStringLiteral("150"));
    }

    void onlyWebLinksAreKept()
    {
        // Links end up in the user's browser: a feed must not make the desktop open files or
        // run custom URL handlers.
        const Appcast appcast = Appcast::parse(
            feed("\n"
                 "    <item><sparkle:version>2.0</sparkle:version>\n"
                 "      <link>file:///etc/passwd</link>\n"
                 "      <sparkle:releaseNotesLink>javascript:alert(1)</sparkle:releaseNotesLink>\n"
                 "      <enclosure url=\"smb://server/share/quorvel\" /></item>\n"
                 "    <item><sparkle:version>2.1</sparkle:version><link>http://127.0.0.1/q</link></item>"),
            feedUrl);
        QVERIFY(appcast.isValid());
        QVERIFY(appcast.items()[0].link.isEmpty());
        QVERIFY(appcast.items()[0].releaseNotesLink.isEmpty());
        QVERIFY(appcast.items()[0].enclosureUrl.isEmpty());
        QVERIFY(appcast.items()[0].downloadPage().isEmpty());
        QCOMPARE(appcast.items()[1].link, QUrl(QStringLiteral("http://127.0.0.1/q")));
    }

    void newestIsByVersionNotOrder()
    {
        const Appcast appcast
            = Appcast::parse(feed(item("1.9") + item("1.10") + item("1.2") + item("1.10-rc1")), feedUrl);
        QVERIFY(appcast.isValid());
        const std::optional<Appcast::Item> newest = appcast.newestApplicable(QString());
        QVERIFY(newest);
        QCOMPARE(newest->displayVersion(), QStringLiteral("1.10"));
    }

    void itemsNotForUsAreSkipped()
    {
        const Appcast appcast = Appcast::parse(
            feed(item("1.1") + item("9.0", "<sparkle:channel>beta</sparkle:channel>")
                 + item("8.0", "<enclosure url=\"https://127.0.0.1/q.dmg\" sparkle:os=\"macos\"/>")
                 + item("7.0", "<sparkle:minimumSystemVersion>6.2</sparkle:minimumSystemVersion>")
                 + item("1.5", "<sparkle:minimumSystemVersion>6.1</sparkle:minimumSystemVersion>")
                 + "<item><title>no version</title></item>"),
            feedUrl);
        QVERIFY(appcast.isValid());
        QCOMPARE(appcast.items().size(), 6);
        QCOMPARE(appcast.newestApplicable(QStringLiteral("6.1.0"))->displayVersion(), QStringLiteral("1.5"));
        QCOMPARE(appcast.newestApplicable(QStringLiteral("6.2"))->displayVersion(), QStringLiteral("7.0"));
        QCOMPARE(appcast.newestApplicable(QStringLiteral("5.10"))->displayVersion(), QStringLiteral("1.1"));
        QCOMPARE(appcast.newestApplicable(QString())->displayVersion(), QStringLiteral("7.0"));
    }

    void emptyChannelHasNothingNewer()
    {
        const Appcast appcast = Appcast::parse(feed(""), feedUrl);
        QVERIFY(appcast.isValid());
        QVERIFY(appcast.items().isEmpty());
        QVERIFY(!appcast.newestApplicable(QString()));
    }

    void unreadableFeeds_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("error");
        QTest::newRow("empty") << QByteArray() << QStringLiteral("The update feed is empty.");
        QTest::newRow("blank") << QByteArray(" \n ") << QStringLiteral("The update feed is empty.");
        QTest::newRow("cut short") << feed(item("1.0")).left(200) << QStringLiteral("not valid XML");
        QTest::newRow("not xml") << QByteArray("{\"version\": \"1.3\"}") << QStringLiteral("not valid XML");
        QTest::newRow("unclosed tag")
            << feed("<item><sparkle:version>1.3</item>") << QStringLiteral("not valid XML");
        QTest::newRow("html page") << QByteArray("<html><body>Moved</body></html>")
                                   << QStringLiteral("The update feed is not an RSS feed.");
        QTest::newRow("atom") << QByteArray("<feed xmlns=\"http://www.w3.org/2005/Atom\"></feed>")
                              << QStringLiteral("The update feed is not an RSS feed.");
        QTest::newRow("too large") << QByteArray(Appcast::maxBytes + 1, ' ')
                                   << QStringLiteral("The update feed is larger than 1 MiB.");
    }

    void unreadableFeeds()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, error);
        const Appcast appcast = Appcast::parse(data, feedUrl);
        QVERIFY(!appcast.isValid());
        QVERIFY2(appcast.errorString().contains(error), qPrintable(appcast.errorString()));
        QVERIFY(!appcast.errorString().contains(u'\n'));
        QVERIFY(appcast.items().isEmpty());
    }

    void entityExpansionIsBounded()
    {
        // A "billion laughs" feed must fail, not eat the memory of an always-running utility.
        QByteArray bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE rss [\n<!ENTITY a0 \"laugh\">\n";
        for (int i = 1; i <= 12; ++i)
            bomb += "<!ENTITY a" + QByteArray::number(i) + " \""
                + QByteArray("&a" + QByteArray::number(i - 1) + ";").repeated(10) + "\">\n";
        bomb += "]>\n<rss version=\"2.0\"><channel><item><title>&a12;</title></item></channel></rss>\n";
        const Appcast appcast = Appcast::parse(bomb, feedUrl);
        QVERIFY(!appcast.isValid());
    }
};

QTEST_APPLESS_MAIN(TestAppcast)
#include "tst_Appcast.moc"
