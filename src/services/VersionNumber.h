#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <compare>

// A program version as people write it: "1.10", "1.2.0", "v2.0-beta2", "1.2rc1". Numbers
// compare as numbers ("1.10" > "1.9"), missing parts count as zero ("1.2" == "1.2.0"), and a
// pre-release comes before its release, ordered dev < alpha < beta < preview < rc ("1.2-beta2"
// > "1.2-beta1", "1.2-rc1" > "1.2-beta3", "1.2-rc1" < "1.2"). Build metadata after "+" is
// ignored. Only ASCII digits and letters count; text that starts with no number reads as a
// pre-release of 0, so it is never newer than a real version.
class VersionNumber
{
public:
    explicit VersionNumber(QStringView text);

    QString text() const { return m_text; }
    bool isPreRelease() const { return !m_preRelease.isEmpty(); }

    // < 0, 0 or > 0 as a is older than, the same as, or newer than b.
    static int compare(QStringView a, QStringView b);

    friend std::weak_ordering operator<=>(const VersionNumber &a, const VersionNumber &b);
    friend bool operator==(const VersionNumber &a, const VersionNumber &b) { return (a <=> b) == 0; }

private:
    // One piece of a pre-release tag: a number, or a word ranked by its meaning.
    struct Identifier
    {
        bool numeric = false;
        QString digits; // numeric: without leading zeros
        int rank = 0; // word: dev 1, alpha 2, beta 3, preview 4, rc 5; other words 0, first
        QString word; // lower case
    };

    static std::strong_ordering compareDigits(const QString &a, const QString &b);
    static std::strong_ordering compareIdentifiers(const Identifier &a, const Identifier &b);

    QString m_text;
    QList<QString> m_release; // numeric parts, without leading zeros
    QList<Identifier> m_preRelease;
};
