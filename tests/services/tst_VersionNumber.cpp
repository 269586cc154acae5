#include "services/VersionNumber.h"

#include <QTest>

class TestVersionNumber : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void compare_data()
    {
        QTest::addColumn<QString>("older");
        QTest::addColumn<QString>("newer");
        const auto row = [](const char *older, const char *newer) {
            QTest::addRow("%s < %s", older, newer) << QString::fromUtf8(older) << QString::fromUtf8(newer);
        };
        row("1.9", "1.10"); // numbers, not text
        row("1.2.9", "1.2.10");
        row("1.99.99", "2");
        row("1.2", "1.2.0.1");
        row("1.99999999999999999999", "1.100000000000000000000"); // no overflow
        row("v1.9", "1.10");
        row("", "0.0.1");
        // A pre-release comes before its release: dev < alpha < beta < preview < rc.
        row("1.2-beta1", "1.2");
        row("1.2.0-rc9", "1.2");
        row("1.2-beta9", "1.2-beta10");
        row("1.2-beta", "1.2-beta1");
        row("1.2-dev", "1.2-alpha1");
        row("1.2-alpha5", "1.2-beta1");
        row("1.2-BETA3", "1.2-Rc1");
        row("1.2b1", "1.2rc1");
        row("1.2", "1.3-beta1");
    }

    void compare()
    {
        QFETCH(QString, older);
        QFETCH(QString, newer);
        QCOMPARE(VersionNumber::compare(older, newer), -1);
        QCOMPARE(VersionNumber::compare(newer, older), 1);
        QVERIFY(VersionNumber(older) < VersionNumber(newer));
        QVERIFY(!(VersionNumber(older) == VersionNumber(newer)));
    }

    void same_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::newRow("trailing zeros") << "1"
                                        << "1.0.0";
        QTest::newRow("leading zeros and v") << "v1.02"
                                             << "1.2.0";
        QTest::newRow("build metadata, blanks") << " 1.2+linux.7 "
                                                << "1.2";
        QTest::newRow("tag separators and case") << "1.2.0-RC-2"
                                                 << "1.2rc2";
    }

    void same()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QCOMPARE(VersionNumber::compare(a, b), 0);
        QCOMPARE(VersionNumber::compare(b, a), 0);
        QVERIFY(VersionNumber(a) == VersionNumber(b));
    }
};

QTEST_APPLESS_MAIN(TestVersionNumber)
#include "tst_VersionNumber.moc"
