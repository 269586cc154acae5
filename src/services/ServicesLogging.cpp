#include "services/ServicesLogging.h"

Q_LOGGING_CATEGORY(lcServices, "quorvel.services", QtInfoMsg)
