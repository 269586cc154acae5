#include "device/DeviceLogging.h"

Q_LOGGING_CATEGORY(lcDevice, "quorvel.device", QtInfoMsg)
