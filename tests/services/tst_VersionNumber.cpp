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
        QTest::newRow("numbers, not text") << QStringLiteral("1.9") << QStringLiteral("1.10");
        QTest::newRow("minor") << QStringLiteral("1.2") << QStringLiteral("1.3");
        QTest::newRow("patch") << QStringLiteral("1.2.9") << QStringLiteral("1.2.10");
        QTest::newRow("major beats minor") << QStringLiteral("1.99.99") << QStringLiteral("2");
        QTest::newRow("extra part") << QStringLiteral("1.2") << QStringLiteral("1.2.0.1");
        QTest::newRow("beta before release") << QStringLiteral("1.2-beta1") << QStringLiteral("1.2");
        QTest::newRow("beta before release.0") << QStringLiteral("1.2.0-beta1") << QStringLiteral("1.2");
        QTest::newRow("beta numbers") << QStringLiteral("1.2-beta1") << QStringLiteral("1.2-beta2");
        QTest::newRow("beta numbers as numbers")
            << QStringLiteral("1.2-beta9") << QStringLiteral("1.2-beta10");
        QTest::newRow("rc after beta") << QStringLiteral("1.2-beta3") << QStringLiteral("1.2-rc1");
        QTest::newRow("alpha before beta") << QStringLiteral("1.2-alpha5") << QStringLiteral("1.2-beta1");
        QTest::newRow("dev first") << QStringLiteral("1.2-dev") << QStringLiteral("1.2-alpha1");
        QTest::newRow("rc before release") << QStringLiteral("1.2-rc9") << QStringLiteral("1.2");
        QTest::newRow("pre-release of later version") << QStringLiteral("1.2") << QStringLiteral("1.3-beta1");
        QTest::newRow("short tags") << QStringLiteral("1.2b1") << QStringLiteral("1.2rc1");
        QTest::newRow("a before b") << QStringLiteral("2.0a2") << QStringLiteral("2.0b1");
        QTest::newRow("bare tag before numbered")
            << QStringLiteral("1.2-beta") << QStringLiteral("1.2-beta1");
        QTest::newRow("dotted tag") << QStringLiteral("1.2-rc.1") << QStringLiteral("1.2-rc.2");
        QTest::newRow("case") << QStringLiteral("1.2-BETA2") << QStringLiteral("1.2-Rc1");
        QTest::newRow("huge numbers")
            << QStringLiteral("1.99999999999999999999") << QStringLiteral("1.100000000000000000000");
        QTest::newRow("leading v") << QStringLiteral("v1.9") << QStringLiteral("1.10");
        QTest::newRow("no version at all") << QStringLiteral("") << QStringLiteral("0.0.1");
    }

    void compare()
    {
        QFETCH(QString, older);
        QFETCH(QString, newer);
        QCOMPARE(VersionNumber::compare(older, newer), -1);
        QCOMPARE(VersionNumber::compare(newer, older), 1);
        QVERIFY(VersionNumber(older) < VersionNumber(newer));
        QVERIFY(VersionNumber(newer) > VersionNumber(older));
        QVERIFY(!(VersionNumber(older) == VersionNumber(newer)));
    }

    void same_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::newRow("identical") << QStringLiteral("1.2") << QStringLiteral("1.2");
        QTest::newRow("trailing zero") << QStringLiteral("1.2") << QStringLiteral("1.2.0");
        QTest::newRow("trailing zeros") << QStringLiteral("1") << QStringLiteral("1.0.0.0");
        QTest::newRow("leading zeros") << QStringLiteral("1.02") << QStringLiteral("1.2");
        QTest::newRow("leading v") << QStringLiteral("v1.2") << QStringLiteral("1.2.0");
        QTest::newRow("build metadata") << QStringLiteral("1.2+linux.7") << QStringLiteral("1.2");
        QTest::newRow("spaces") << QStringLiteral(" 1.2 ") << QStringLiteral("1.2");
        QTest::newRow("tag separators") << QStringLiteral("1.2-beta-2") << QStringLiteral("1.2beta2");
        QTest::newRow("tag case") << QStringLiteral("1.2-RC1") << QStringLiteral("1.2-rc1");
        QTest::newRow("pre-release trailing zero")
            << QStringLiteral("1.2.0-beta1") << QStringLiteral("1.2-beta1");
    }

    void same()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QCOMPARE(VersionNumber::compare(a, b), 0);
        QCOMPARE(VersionNumber::compare(b, a), 0);
        QVERIFY(VersionNumber(a) == VersionNumber(b));
    }

    void keepsItsText()
    {
        const VersionNumber version(QStringLiteral(" 1.2-beta1 "));
        QCOMPARE(version.text(), QStringLiteral("1.2-beta1"));
        QVERIFY(version.isPreRelease());
        QVERIFY(!VersionNumber(QStringLiteral("1.2.0")).isPreRelease());
    }
};

QTEST_APPLESS_MAIN(TestVersionNumber)
#include "tst_VersionNumber.moc"
