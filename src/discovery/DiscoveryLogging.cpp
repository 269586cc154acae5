#include "discovery/DiscoveryLogging.h"

Q_LOGGING_CATEGORY(lcDiscovery, "quorvel.discovery", QtInfoMsg)
