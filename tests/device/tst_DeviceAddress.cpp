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
        QTest::addColumn<QString>("urlHost");
        QTest::addColumn<int>("port");
        QTest::newRow("default address") << "172.20.0.1"
                                         << "172.20.0.1" << -1;
        QTest::newRow("IPv4 with port") << "127.0.0.1:8080"
                                        << "127.0.0.1" << 8080;
        QTest::newRow("zero octets") << "0.0.0.0"
                                     << "0.0.0.0" << -1;
        QTest::newRow("single name") << "localhost"
                                     << "localhost" << -1;
        QTest::newRow(".local name") << "m1620.local"
                                     << "m1620.local" << -1;
        QTest::newRow("capitals, hyphen") << "RME-M-1620.local"
                                          << "rme-m-1620.local" << -1;
        QTest::newRow("trailing dot") << "m1620.local."
                                      << "m1620.local." << -1;
        QTest::newRow("underscore") << "studio_a.local"
                                    << "studio_a.local" << -1;
        QTest::newRow("name starting with digits") << "1620-studio.local"
                                                   << "1620-studio.local" << -1;
        QTest::newRow("port 1") << "h:1"
                                << "h" << 1;
        QTest::newRow("port 65535") << "h:65535"
                                    << "h" << 65535;
        QTest::newRow("IPv6 loopback") << "[::1]"
                                       << "::1" << -1;
        QTest::newRow("IPv6 with port") << "[::1]:8080"
                                        << "::1" << 8080;
        QTest::newRow("IPv6 full") << "[2001:db8:0:0:0:0:0:1]"
                                   << "2001:db8::1" << -1;
        QTest::newRow("IPv4-mapped IPv6") << "[::ffff:127.0.0.1]"
                                          << "::ffff:127.0.0.1" << -1;
        QTest::newRow("non-ASCII name") << "Jörgs-M1620.local"
                                        << "xn--jrgs-m1620-ecb.local" << -1;
    }

    void accepted()
    {
        QFETCH(QString, host);
        QFETCH(QString, urlHost);
        QFETCH(int, port);
        const M1620Result<QUrl> url = DeviceAddress::apiUrl(host);
        QVERIFY2(url.ok(), qPrintable(url.ok() ? QString() : url.error().errorDescription()));
        QCOMPARE(url.value().scheme(), QStringLiteral("http"));
        QCOMPARE(url.value().host(QUrl::EncodeUnicode), urlHost);
        QCOMPARE(url.value().port(), port);
        QCOMPARE(url.value().path(), QStringLiteral("/api/v2/self"));
        QVERIFY(!url.value().hasQuery());
        QVERIFY(url.value().userInfo().isEmpty());
    }

    void urlIsTheHostTextVerbatim()
    {
        QCOMPARE(DeviceAddress::apiUrl("172.20.0.1").value().toString(),
                 QStringLiteral("http://172.20.0.1/api/v2/self"));
        QCOMPARE(DeviceAddress::apiUrl("[::1]:8080").value().toString(),
                 QStringLiteral("http://[::1]:8080/api/v2/self"));
    }

    void rejected_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("problem");
        const QString range = QStringLiteral("the port must be a number from 1 to 65535");
        const QString notName = QStringLiteral("is not a valid host name");
        const QString notIpv4 = QStringLiteral("is not a valid IPv4 address");
        const QString notIpv6 = QStringLiteral("is not a valid IPv6 address");
        const QString brackets = QStringLiteral("an IPv6 address must be written in brackets, as in “[::1]”");
        QTest::newRow("empty") << ""
                               << "is empty";
        QTest::newRow("blank") << " "
                               << "contains a space";
        QTest::newRow("space inside") << "a b"
                                      << "contains a space";
        QTest::newRow("space before port") << "h :80"
                                           << "contains a space";
        QTest::newRow("no-break space") << "a\u00A0b"
                                        << "contains a space";
        QTest::newRow("discovered service name") << "M-1620 Pro (Studio A).local"
                                                 << "contains a space";
        QTest::newRow("slash") << "h/x"
                               << "contains “/”";
        QTest::newRow("slash after port") << "h:80/x"
                                          << "contains “/”";
        QTest::newRow("backslash") << "h\\x"
                                   << "contains “\\”";
        QTest::newRow("question mark") << "h?x"
                                       << "contains “?”";
        QTest::newRow("hash") << "h#x"
                              << "contains “#”";
        QTest::newRow("user info") << "u@h"
                                   << "contains “@”";
        QTest::newRow("percent") << "h%41"
                                 << "contains “%”";
        QTest::newRow("IPv6 zone") << "[fe80::1%eth0]"
                                   << "contains “%”";
        QTest::newRow("fullwidth digits") << "１２７.０.０.１"
                                          << "contains “１”";
        QTest::newRow("newline") << "\n"
                                 << "contains the control character U+000A";
        QTest::newRow("tab") << "h\tx"
                             << "contains the control character U+0009";
        QTest::newRow("NUL") << QString(QChar(0)) + "h"
                             << "contains the control character U+0000";
        QTest::newRow("zero-width space") << "a\u200Bb"
                                          << "contains the invisible character U+200B";
        QTest::newRow("port 0") << "h:0" << range;
        QTest::newRow("port 65536") << "h:65536" << range;
        QTest::newRow("port empty") << "h:" << range;
        QTest::newRow("port letters") << "h:http" << range;
        QTest::newRow("port too long") << "h:000080" << range;
        QTest::newRow("IPv6 port 0") << "[::1]:0" << range;
        QTest::newRow("two colons") << "h:80:90" << brackets;
        QTest::newRow("bare IPv6") << "::1" << brackets;
        QTest::newRow("IPv6 unclosed") << "[::1"
                                       << "an IPv6 address needs a closing “]”";
        QTest::newRow("text after bracket") << "[::1]x" << notName;
        QTest::newRow("IPv4 in brackets") << "[127.0.0.1]" << notIpv6;
        QTest::newRow("empty brackets") << "[]" << notIpv6;
        QTest::newRow("bracket inside name") << "a[b]" << notName;
        QTest::newRow("port without host") << ":80"
                                           << "the host name is missing";
        QTest::newRow("empty label") << "a..b" << notName;
        QTest::newRow("leading dot") << ".a" << notName;
        QTest::newRow("leading hyphen") << "-a" << notName;
        QTest::newRow("short IPv4") << "127.1" << notIpv4;
        QTest::newRow("hex IPv4") << "0x7f.0.0.1" << notIpv4;
        QTest::newRow("hex last label") << "a.0x7f" << notIpv4;
        QTest::newRow("octal IPv4") << "010.0.0.1" << notIpv4;
        QTest::newRow("octet over 255") << "1.2.3.256" << notIpv4;
        QTest::newRow("five octets") << "1.2.3.4.5" << notIpv4;
        QTest::newRow("IPv4 trailing dot") << "1.2.3.4." << notIpv4;
        QTest::newRow("single number") << "2130706433" << notIpv4;
    }

    void rejected()
    {
        QFETCH(QString, host);
        QFETCH(QString, problem);
        const M1620Result<QUrl> url = DeviceAddress::apiUrl(host);
        QVERIFY(!url.ok());
        QCOMPARE(url.error().kind(), M1620Error::Kind::Unreachable);
        QCOMPARE(url.error().errorDescription(),
                 QStringLiteral("Invalid device address “%1”: %2")
                     .arg(QString(host).replace(QRegularExpression(QStringLiteral("[\\x00-\\x1f\u200B]")),
                                                QStringLiteral("\uFFFD")),
                          problem));
    }
};

QTEST_GUILESS_MAIN(TestDeviceAddress)
#include "tst_DeviceAddress.moc"
