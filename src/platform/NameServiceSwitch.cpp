#include "platform/NameServiceSwitch.h"

#include <QFile>
#include <QRegularExpression>

bool NameServiceSwitch::resolvesLocalNames(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    static const QRegularExpression hostsLine(QStringLiteral(R"(^\s*hosts\s*:(.*)$)"),
                                              QRegularExpression::MultilineOption);
    static const QRegularExpression mdnsModule(QStringLiteral(R"(\bmdns\w*)"));
    const QRegularExpressionMatch line = hostsLine.match(QString::fromUtf8(file.readAll()));
    return line.hasMatch() && mdnsModule.match(line.captured(1)).hasMatch();
}
