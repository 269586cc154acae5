#include "device/DeviceAddress.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <optional>

namespace {

bool isInvisible(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Letters and digits of any script may form a name (Qt converts them for DNS); digits must be
// ASCII so that no look-alike digit slips into an address.
bool isAllowed(char32_t c)
{
    if (c < 0x80)
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'
            || c == '_' || c == '.' || c == ':' || c == '[' || c == ']';
    return QChar::isLetter(c) || QChar::isMark(c);
}

QString codePoint(char32_t c)
{
    return QStringLiteral("U+") + QString::number(uint(c), 16).toUpper().rightJustified(4, u'0');
}

// The address as shown in a message: control characters would break the log line.
QString shown(const QString &host)
{
    QString text;
    for (const char32_t c : host.toUcs4())
        text += isInvisible(c) ? QStringLiteral("\uFFFD") : QString::fromUcs4(&c, 1);
    return text;
}

M1620Error invalid(const QString &host, const QString &problem)
{
    return M1620Error::unreachable(
        QStringLiteral("Invalid device address “%1”: %2").arg(shown(host), problem));
}

// Four decimal numbers 0-255 without leading zeros: the one IPv4 form that means the same to
// every reader. Qt would read "127.1", "0x7f.1" or "010.0.0.1" (as 8.0.0.1) as addresses too.
bool isStrictIpv4(QStringView text)
{
    const auto parts = text.split(u'.');
    if (parts.size() != 4)
        return false;
    for (const QStringView part : parts) {
        if (part.isEmpty() || part.size() > 3 || (part.size() > 1 && part.front() == u'0'))
            return false;
        if (!std::all_of(part.begin(), part.end(), isAsciiDigit) || part.toInt() > 255)
            return false;
    }
    return true;
}

// The address's bytes, so that two spellings of one address compare equal; empty for a text
// that is not an address of the family asked for.
QByteArray addressBytes(QStringView text, int family)
{
    std::array<char, 16> bytes {};
    if (inet_pton(family, text.toLatin1().constData(), bytes.data()) != 1)
        return {};
    return QByteArray(bytes.data(), family == AF_INET6 ? 16 : 4);
}

} // namespace

namespace DeviceAddress {

M1620Result<QUrl> apiUrl(const QString &host)
{
    if (host.isEmpty())
        return invalid(host, QStringLiteral("is empty"));
    for (const char32_t c : host.toUcs4()) {
        if (isInvisible(c)) {
            const bool control = QChar::category(c) == QChar::Other_Control;
            return invalid(
                host,
                QStringLiteral("contains the %1 character %2")
                    .arg(control ? QStringLiteral("control") : QStringLiteral("invisible"), codePoint(c)));
        }
        if (QChar::isSpace(c))
            return invalid(host, QStringLiteral("contains a space"));
        if (!isAllowed(c))
            return invalid(host, QStringLiteral("contains “%1”").arg(QString::fromUcs4(&c, 1)));
    }

    QStringView name;
    std::optional<QStringView> port;
    QByteArray address; // of a literal address
    if (host.startsWith(u'[')) {
        const qsizetype close = host.indexOf(u']');
        if (close < 0)
            return invalid(host, QStringLiteral("an IPv6 address needs a closing “]”"));
        name = QStringView(host).sliced(1, close - 1);
        const QStringView rest = QStringView(host).sliced(close + 1);
        if (!rest.isEmpty() && rest.front() != u':')
            return invalid(host, QStringLiteral("is not a valid host name"));
        if (!rest.isEmpty())
            port = rest.sliced(1);
        address = addressBytes(name, AF_INET6);
        if (address.isEmpty())
            return invalid(host, QStringLiteral("is not a valid IPv6 address"));
    } else {
        if (host.count(u':') > 1)
            return invalid(host,
                           QStringLiteral("an IPv6 address must be written in brackets, as in “[::1]”"));
        const qsizetype colon = host.indexOf(u':');
        name = QStringView(host).first(colon < 0 ? host.size() : colon);
        if (colon >= 0)
            port = QStringView(host).sliced(colon + 1);
        if (name.isEmpty())
            return invalid(host, QStringLiteral("the host name is missing"));
        if (name.contains(u'[') || name.contains(u']'))
            return invalid(host, QStringLiteral("is not a valid host name"));
        auto labels = name.split(u'.');
        if (labels.size() > 1 && labels.back().isEmpty())
            labels.removeLast(); // "device.local." is a fully qualified name
        if (std::any_of(labels.begin(), labels.end(), [](QStringView label) { return label.isEmpty(); }))
            return invalid(host, QStringLiteral("is not a valid host name"));
        // A last label that is a number makes the whole text an IPv4 address to Qt and to
        // browsers alike; only the plain dotted form is taken.
        const QStringView last = labels.back();
        if (std::all_of(last.begin(), last.end(), isAsciiDigit)
            || last.startsWith(u"0x", Qt::CaseInsensitive)) {
            if (!isStrictIpv4(name))
                return invalid(host, QStringLiteral("is not a valid IPv4 address"));
            address = addressBytes(name, AF_INET);
        }
    }

    int portNumber = -1;
    if (port) {
        bool ok = port->size() <= 5 && std::all_of(port->begin(), port->end(), isAsciiDigit);
        portNumber = ok ? port->toInt(&ok) : 0;
        if (!ok || portNumber < 1 || portNumber > 65535)
            return invalid(host, QStringLiteral("the port must be a number from 1 to 65535"));
    }

    // Last line of defence: Qt must read back exactly the host, port and path meant.
    const QUrl url(QStringLiteral("http://") + host + apiPath, QUrl::StrictMode);
    const QString readBack = url.host();
    const bool sameHost = address.isEmpty()
        ? addressBytes(readBack, AF_INET).isEmpty() && addressBytes(readBack, AF_INET6).isEmpty()
        : addressBytes(readBack, address.size() == 16 ? AF_INET6 : AF_INET) == address;
    if (!url.isValid() || url.scheme() != u"http" || !url.userInfo().isEmpty() || url.port() != portNumber
        || url.path() != apiPath || url.hasQuery() || url.hasFragment() || !sameHost)
        return invalid(host, QStringLiteral("is not a valid host name"));
    return url;
}

} // namespace DeviceAddress
