#pragma once

#include <QLoggingCategory>

// The discovery layer's diagnostics, off by default; QT_LOGGING_RULES="quorvel.discovery.debug=true"
// turns them on without a rebuild.
Q_DECLARE_LOGGING_CATEGORY(lcDiscovery)
