#pragma once

#include "platform/MachineInfo.h"

// The model from the DMI product name, else the device-tree model (boards without DMI).
class LinuxMachineInfo final : public MachineInfo
{
public:
    explicit LinuxMachineInfo(QString dmiProductNameFile
                              = QStringLiteral("/sys/devices/virtual/dmi/id/product_name"),
                              QString deviceTreeModelFile = QStringLiteral("/proc/device-tree/model"));

    QString model() const override;
    QString architecture() const override;
    QString systemName() const override;
    QString kernelRelease() const override;

private:
    QString m_dmiProductNameFile;
    QString m_deviceTreeModelFile;
};
