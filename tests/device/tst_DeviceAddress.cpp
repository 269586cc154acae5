#include "device/DeviceAddress.h"

#include <QRegularExpression>
#include <QTest>

class TestDeviceAddress : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void accepted_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QByteArray>("url"); // the whole URL: nothing but host and port may vary
        const auto row = [](const char *name, const QString &host, const QByteArray &url) {
            QTest::newRow(name) << host << url;
        };
        row("default address", "172.20.0.1", "http://172.20.0.1/api/v2/self");
        row("zero octets", "0.0.0.0", "http://0.0.0.0/api/v2/self");
        row("capitals, hyphen", "RME-M-1620.local", "http://rme-m-1620.local/api/v2/self");
        row("trailing dot", "m1620.local.", "http://m1620.local./api/v2/self");
        row("name starting with digits", "1620-studio.local", "http://1620-studio.local/api/v2/self");
        row("port 1", "h:1", "http://h:1/api/v2/self");
        row("port 65535", "h:65535", "http://h:65535/api/v2/self");
        row("IPv6 with port", "[::1]:8080", "http://[::1]:8080/api/v2/self");
        row("non-ASCII name", "Jörgs-M1620.local", "http://xn--jrgs-m1620-ecb.local/api/v2/self");
    }

    void accepted()
    {
        QFETCH(QString, host);
        QFETCH(QByteArray, url);
        const M1620Result<QUrl> result = DeviceAddress::apiUrl(host);
        QVERIFY2(result.ok(), qPrintable(result.ok() ? QString() : result.error().errorDescription()));
        QCOMPARE(result.value().toEncoded(), url);
    }

    void rejected_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("problem");
        const auto row = [](const char *name, const QString &host, const QString &problem) {
            QTest::newRow(name) << host << problem;
        };
        const QString range = QStringLiteral("the port must be a number from 1 to 65535");
        const QString notName = QStringLiteral("is not a valid host name");
        const QString notIpv4 = QStringLiteral("is not a valid IPv4 address");
        const QString notIpv6 = QStringLiteral("is not a valid IPv6 address");
        const QString brackets = QStringLiteral("an IPv6 address must be written in brackets, as in “[::1]”");
        row("empty", "", "is empty");
        row("discovered service name", "M-1620 Pro (Studio A).local", "contains a space");
        row("slash", "h/x", "contains “/”");
        row("IPv6 zone", "[fe80::1%eth0]", "contains “%”");
        row("fullwidth digits", "１２７.０.０.１", "contains “１”");
        row("newline", "\n", "contains the control character U+000A");
        row("zero-width space", "a\u200Bb", "contains the invisible character U+200B");
        row("port 0", "h:0", range);
        row("port 65536", "h:65536", range);
        row("two colons", "h:80:90", brackets);
        row("bare IPv6", "::1", brackets);
        row("IPv6 unclosed", "[::1", "an IPv6 address needs a closing “]”");
        row("text after bracket", "[::1]x", notName);
        row("IPv4 in brackets", "[127.0.0.1]", notIpv6);
        row("port without host", ":80", "the host name is missing");
        row("empty label", "a..b", notName);
        row("leading hyphen", "-a", notName);
        row("short IPv4", "127.1", notIpv4);
        row("hex IPv4", "0x7f.0.0.1", notIpv4);
        row("octal IPv4", "010.0.0.1", notIpv4);
        row("octet over 255", "1.2.3.256", notIpv4);
        row("IPv4 trailing dot", "1.2.3.4.", notIpv4);
    }

    void rejected()
    {
        QFETCH(QString, host);
        QFETCH(QString, problem);
        const M1620Result<QUrl> url = DeviceAddress::apiUrl(host);
        QVERIFY(!url.ok());
        QCOMPARE(url.error().kind(), M1620Error::Kind::Unreachable);
        // Invisible characters are shown as U+FFFD, so that the text cannot break a log line.
        const QString shown = QString(host).replace(QRegularExpression(QStringLiteral("[\\x00-\\x1f\u200B]")),
                                                    QStringLiteral("\uFFFD"));
        QCOMPARE(url.error().errorDescription(),
                 QStringLiteral("Invalid device address “%1”: %2").arg(shown, problem));
    }
};

QTEST_GUILESS_MAIN(TestDeviceAddress)
#include "tst_DeviceAddress.moc"
