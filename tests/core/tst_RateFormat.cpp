#include "core/RateFormat.h"

#include <QLocale>
#include <QTest>

#include <clocale>

class TestRateFormat : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void kilohertz_data()
    {
        QTest::addColumn<qint64>("hertz");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("compact");
        QTest::newRow("48000") << qint64(48000) << "48.0 kHz"
                               << "48k";
        QTest::newRow("44100") << qint64(44100) << "44.1 kHz"
                               << "44.1k";
        QTest::newRow("88200") << qint64(88200) << "88.2 kHz"
                               << "88.2k";
        QTest::newRow("96000") << qint64(96000) << "96.0 kHz"
                               << "96k";
        QTest::newRow("176400") << qint64(176400) << "176.4 kHz"
                                << "176.4k";
        QTest::newRow("192000") << qint64(192000) << "192.0 kHz"
                                << "192k";
        QTest::newRow("zero") << qint64(0) << "0.0 kHz"
                              << "0k";
        QTest::newRow("negative whole") << qint64(-48000) << "-48.0 kHz"
                                        << "-48k";
    }

    void kilohertz()
    {
        QFETCH(qint64, hertz);
        QFETCH(QString, text);
        QFETCH(QString, compact);
        QCOMPARE(RateFormat::kilohertz(hertz), text);
        QCOMPARE(RateFormat::compact(hertz), compact);
    }

    void absentRateIsADash()
    {
        QCOMPARE(RateFormat::kilohertzOrDash(std::nullopt), QStringLiteral("—"));
        QCOMPARE(RateFormat::kilohertzOrDash(44100), QStringLiteral("44.1 kHz"));
    }

    void decimalPointWhateverTheLocale()
    {
        const QLocale saved;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        std::setlocale(LC_NUMERIC, "de_DE.UTF-8"); // may be missing; then this part proves nothing more
        QCOMPARE(RateFormat::compact(44100), QStringLiteral("44.1k"));
        QCOMPARE(RateFormat::kilohertz(44100), QStringLiteral("44.1 kHz"));
        std::setlocale(LC_NUMERIC, "C");
        QLocale::setDefault(saved);
    }
};

QTEST_GUILESS_MAIN(TestRateFormat)
#include "tst_RateFormat.moc"
