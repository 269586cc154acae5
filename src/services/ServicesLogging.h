#pragma once

#include <QLoggingCategory>

// The services layer's diagnostics, off by default; QT_LOGGING_RULES="quorvel.services.debug=true"
// turns them on without a rebuild.
Q_DECLARE_LOGGING_CATEGORY(lcServices)
