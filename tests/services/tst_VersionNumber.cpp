#include "services/VersionNumber.h"

#include <QTest>

class TestVersionNumber : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void compare_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order"); // of a against b
        const auto row = [](const char *a, const char *b, int order) {
            QTest::addRow("%s %s %s", a, order < 0 ? "<" : "=", b)
                << QString::fromUtf8(a) << QString::fromUtf8(b) << order;
        };
        row("1.9", "1.10", -1); // numbers, not text
        row("1.2", "1.2.0.1", -1);
        row("1.99999999999999999999", "1.100000000000000000000", -1); // no overflow
        row("v1.9", "1.10", -1);
        // A pre-release comes before its release: dev < alpha < beta < preview < rc.
        row("1.2.0-rc9", "1.2", -1);
        row("1.2-beta9", "1.2-beta10", -1);
        row("1.2-dev", "1.2-alpha1", -1);
        row("1.2b1", "1.2rc1", -1);
        row("1", "1.0.0", 0);
        row(" 1.2+linux.7 ", "1.2", 0); // build metadata, blanks
        row("1.2.0-RC-2", "1.2rc2", 0); // tag separators and case
    }

    void compare()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);
        QCOMPARE(VersionNumber::compare(a, b), order);
        QCOMPARE(VersionNumber::compare(b, a), -order);
        QCOMPARE(VersionNumber(a) < VersionNumber(b), order < 0);
        QCOMPARE(VersionNumber(a) == VersionNumber(b), order == 0);
    }
};

QTEST_APPLESS_MAIN(TestVersionNumber)
#include "tst_VersionNumber.moc"
