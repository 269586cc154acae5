#pragma once

#include <QLoggingCategory>

// "quorvel.platform": what the desktop's services answered (trays, file manager, processes).
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)
