#include "platform/XdgAutostartEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace {

// A value of a desktop entry: backslash, newline, tab and carriage return are escaped.
QString escapeValue(const QString &value)
{
    QString escaped;
    for (const QChar c : value) {
        if (c == u'\\')
            escaped += QStringLiteral("\\\\");
        else if (c == u'\n')
            escaped += QStringLiteral("\\n");
        else if (c == u'\t')
            escaped += QStringLiteral("\\t");
        else if (c == u'\r')
            escaped += QStringLiteral("\\r");
        else
            escaped += c;
    }
    // A leading space would be taken for the space around "=".
    if (escaped.startsWith(u' '))
        escaped.replace(0, 1, QStringLiteral("\\s"));
    return escaped;
}

// One argument of Exec: quoted when it holds a reserved character, with ", `, $ and \ escaped
// inside the quotes; "%" doubled, since a single one would start a field code.
QString execArgument(const QString &argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString quoted = argument;
    quoted.replace(u'%', QStringLiteral("%%"));
    if (std::none_of(argument.begin(), argument.end(), [](QChar c) { return reserved.contains(c); }))
        return quoted;
    QString inner;
    for (const QChar c : std::as_const(quoted)) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            inner += u'\\';
        inner += c;
    }
    return u'"' + inner + u'"';
}

bool hasControlCharacter(const QString &text)
{
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return c.category() == QChar::Other_Control; });
}

} // namespace

XdgAutostartEntry::XdgAutostartEntry(QString autostartDir, QString program)
    : m_autostartDir(std::move(autostartDir))
    , m_program(std::move(program))
{ }

QString XdgAutostartEntry::path() const
{
    return m_autostartDir + u'/' + fileName;
}

bool XdgAutostartEntry::isEnabled() const
{
    QFile file(path());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false; // absent, or nothing the session could read either
    // The desktop hides an entry whose main group says Hidden=true: it counts as deleted.
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'[')) {
            inMainGroup = line == u"[Desktop Entry]";
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals <= 0 || QStringView(line).left(equals).trimmed() != u"Hidden")
            continue;
        // GLib, which reads the entry for most sessions, takes "1" for true as well.
        const QStringView value = QStringView(line).mid(equals + 1).trimmed();
        if (value == u"true" || value == u"1")
            return false;
    }
    return true;
}

std::optional<QString> XdgAutostartEntry::enable()
{
    if (m_program.isEmpty() || !QDir::isAbsolutePath(m_program) || hasControlCharacter(m_program))
        return QStringLiteral("the program's path \"") + m_program
            + QStringLiteral("\" cannot be started from a desktop entry");
    if (!QDir().mkpath(m_autostartDir))
        return QStringLiteral("could not create the folder ") + m_autostartDir;
    // Written whole or not at all: a half-written entry could start nothing, or the wrong thing.
    QSaveFile file(path());
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    const QByteArray bytes = entryText().toUtf8();
    if (file.write(bytes) != bytes.size() || !file.commit())
        return file.errorString();
    return std::nullopt;
}

std::optional<QString> XdgAutostartEntry::disable()
{
    QFile entry(path());
    if (entry.remove())
        return std::nullopt;
    const QFileInfo info(path());
    if (!info.exists() && !info.isSymLink())
        return std::nullopt;
    return entry.errorString();
}

QString XdgAutostartEntry::entryText() const
{
    const QString lines[] = {
        QStringLiteral("[Desktop Entry]"),
        QStringLiteral("Type=Application"),
        QStringLiteral("Name=Quorvel"),
        QStringLiteral("Comment=Keeps the M-1620's sample rate in step with its MADI input"),
        QStringLiteral("Exec=") + escapeValue(execArgument(m_program)),
        QStringLiteral("TryExec=") + escapeValue(m_program),
        QStringLiteral("Icon=app.quorvel.Quorvel"),
        QStringLiteral("Terminal=false"),
        // Start after the panel, so that the tray is there for the icon.
        QStringLiteral("X-GNOME-Autostart-Delay=2"),
        QStringLiteral("X-KDE-autostart-after=panel"),
        QStringLiteral("X-LXQt-Need-Tray=true"),
    };
    QString text;
    for (const QString &line : lines)
        text += line + u'\n';
    return text;
}
