#include "platform/LinuxMachineInfo.h"

#include <QFile>
#include <QSysInfo>

namespace {
// The value of a small system file up to its first NUL, as UTF-8 without surrounding blanks.
QString readSystemValue(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = file.readAll();
    if (const qsizetype nul = bytes.indexOf('\0'); nul >= 0)
        bytes.truncate(nul);
    return QString::fromUtf8(bytes).trimmed();
}
} // namespace

LinuxMachineInfo::LinuxMachineInfo(QString dmiProductNameFile, QString deviceTreeModelFile)
    : m_dmiProductNameFile(std::move(dmiProductNameFile))
    , m_deviceTreeModelFile(std::move(deviceTreeModelFile))
{ }

QString LinuxMachineInfo::model() const
{
    QString model = readSystemValue(m_dmiProductNameFile);
    if (model.isEmpty())
        model = readSystemValue(m_deviceTreeModelFile);
    return model.isEmpty() ? QStringLiteral("unknown") : model;
}

QString LinuxMachineInfo::architecture() const
{
    return QSysInfo::currentCpuArchitecture();
}

QString LinuxMachineInfo::systemName() const
{
    return QSysInfo::prettyProductName();
}

QString LinuxMachineInfo::kernelRelease() const
{
    return QSysInfo::kernelVersion();
}
