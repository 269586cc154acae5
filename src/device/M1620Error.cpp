#include "device/M1620Error.h"

QString M1620Error::errorDescription() const
{
    if (m_kind == Kind::BadResponse)
        return QStringLiteral("Unexpected response from device");
    return m_message;
}
