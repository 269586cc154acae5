#include "services/VersionNumber.h"

#include <algorithm>

namespace {

QString withoutLeadingZeros(QStringView digits)
{
    qsizetype first = 0;
    while (first < digits.size() - 1 && digits[first] == u'0')
        ++first;
    return digits.mid(first).toString();
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

bool isLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

int wordRank(const QString &word)
{
    if (word == u"dev" || word == u"snapshot")
        return 1;
    if (word == u"a" || word == u"alpha")
        return 2;
    if (word == u"b" || word == u"beta")
        return 3;
    if (word == u"pre" || word == u"preview")
        return 4;
    if (word == u"rc" || word == u"c")
        return 5;
    return 0;
}

} // namespace

VersionNumber::VersionNumber(QStringView text)
    : m_text(text.trimmed().toString())
{
    QStringView rest = QStringView(m_text);
    if (rest.startsWith(u'v', Qt::CaseInsensitive) && rest.size() > 1 && isDigit(rest[1]))
        rest = rest.mid(1);
    if (const qsizetype plus = rest.indexOf(u'+'); plus >= 0)
        rest = rest.left(plus);

    // The release: dot-separated numbers up to the first character that is neither.
    qsizetype pos = 0;
    while (pos < rest.size() && isDigit(rest[pos])) {
        const qsizetype start = pos;
        while (pos < rest.size() && isDigit(rest[pos]))
            ++pos;
        m_release.append(withoutLeadingZeros(rest.mid(start, pos - start)));
        if (pos + 1 < rest.size() && rest[pos] == u'.' && isDigit(rest[pos + 1]))
            ++pos;
        else
            break;
    }

    // The rest is the pre-release tag: runs of digits and runs of letters; anything else
    // ("-", ".", "_", spaces) only separates them.
    while (pos < rest.size()) {
        const QChar c = rest[pos];
        if (!isDigit(c) && !isLetter(c)) {
            ++pos;
            continue;
        }
        const bool numeric = isDigit(c);
        const qsizetype start = pos;
        while (pos < rest.size() && (numeric ? isDigit(rest[pos]) : isLetter(rest[pos])))
            ++pos;
        Identifier identifier;
        identifier.numeric = numeric;
        if (numeric) {
            identifier.digits = withoutLeadingZeros(rest.mid(start, pos - start));
        } else {
            identifier.word = rest.mid(start, pos - start).toString().toLower();
            identifier.rank = wordRank(identifier.word);
        }
        m_preRelease.append(identifier);
    }
}

int VersionNumber::compare(QStringView a, QStringView b)
{
    const std::weak_ordering order = VersionNumber(a) <=> VersionNumber(b);
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

// Digit strings of any length, so no version can overflow an integer.
std::strong_ordering VersionNumber::compareDigits(const QString &a, const QString &b)
{
    if (a.size() != b.size())
        return a.size() <=> b.size();
    const int order = a.compare(b);
    return order <=> 0;
}

std::strong_ordering VersionNumber::compareIdentifiers(const Identifier &a, const Identifier &b)
{
    // A number sorts before a word, as in semantic versioning.
    if (a.numeric != b.numeric)
        return a.numeric ? std::strong_ordering::less : std::strong_ordering::greater;
    if (a.numeric)
        return compareDigits(a.digits, b.digits);
    if (a.rank != b.rank)
        return a.rank <=> b.rank;
    return a.word.compare(b.word) <=> 0;
}

std::weak_ordering operator<=>(const VersionNumber &a, const VersionNumber &b)
{
    const qsizetype parts = std::max(a.m_release.size(), b.m_release.size());
    const QString zero = QStringLiteral("0");
    for (qsizetype i = 0; i < parts; ++i) {
        const std::weak_ordering order
            = VersionNumber::compareDigits(a.m_release.value(i, zero), b.m_release.value(i, zero));
        if (order != 0)
            return order;
    }
    // Missing parts count as zero, so "1.2" and "1.2.0" are one version. Same release: the
    // release itself is newer than any of its pre-releases.
    if (a.m_preRelease.isEmpty() != b.m_preRelease.isEmpty())
        return a.m_preRelease.isEmpty() ? std::weak_ordering::greater : std::weak_ordering::less;
    const qsizetype tags = std::min(a.m_preRelease.size(), b.m_preRelease.size());
    for (qsizetype i = 0; i < tags; ++i) {
        const std::weak_ordering order
            = VersionNumber::compareIdentifiers(a.m_preRelease[i], b.m_preRelease[i]);
        if (order != 0)
            return order;
    }
    // "beta" < "beta1": more pieces mean later.
    return a.m_preRelease.size() <=> b.m_preRelease.size();
}
