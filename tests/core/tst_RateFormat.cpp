#include "core/RateFormat.h"

#include <QLocale>
#include <QTest>

#include <clocale>

class TestRateFormat : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A decimal point whatever the locale (de_DE may be missing; then that part proves less).
    void kilohertz()
    {
        const QLocale saved;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
        for (const auto &[hertz, text, compact] : {std::tuple {48000, "48.0 kHz", "48k"},
                                                   {44100, "44.1 kHz", "44.1k"},
                                                   {176400, "176.4 kHz", "176.4k"},
                                                   {0, "0.0 kHz", "0k"},
                                                   {-48000, "-48.0 kHz", "-48k"}}) {
            QCOMPARE(RateFormat::kilohertz(hertz), QString::fromUtf8(text));
            QCOMPARE(RateFormat::kilohertzOrDash(hertz), QString::fromUtf8(text));
            QCOMPARE(RateFormat::compact(hertz), QString::fromUtf8(compact));
        }
        QCOMPARE(RateFormat::kilohertzOrDash(std::nullopt), QStringLiteral("—"));
        std::setlocale(LC_NUMERIC, "C");
        QLocale::setDefault(saved);
    }
};

QTEST_GUILESS_MAIN(TestRateFormat)
#include "tst_RateFormat.moc"
