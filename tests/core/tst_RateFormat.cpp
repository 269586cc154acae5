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
        const auto row = [](qint64 hertz, const char *text, const char *compact) {
            QTest::addRow("%lld", hertz) << hertz << QString::fromUtf8(text) << QString::fromUtf8(compact);
        };
        row(48000, "48.0 kHz", "48k");
        row(44100, "44.1 kHz", "44.1k");
        row(176400, "176.4 kHz", "176.4k");
        row(0, "0.0 kHz", "0k");
        row(-48000, "-48.0 kHz", "-48k");
    }

    // A decimal point whatever the locale (de_DE may be missing; then that part proves less).
    void kilohertz()
    {
        QFETCH(qint64, hertz);
        const QLocale saved;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
        QTEST(RateFormat::kilohertz(hertz), "text");
        QTEST(RateFormat::compact(hertz), "compact");
        QTEST(RateFormat::kilohertzOrDash(hertz), "text");
        QCOMPARE(RateFormat::kilohertzOrDash(std::nullopt), QStringLiteral("—"));
        std::setlocale(LC_NUMERIC, "C");
        QLocale::setDefault(saved);
    }
};

QTEST_GUILESS_MAIN(TestRateFormat)
#include "tst_RateFormat.moc"
