#pragma once

#include <QLoggingCategory>

// "quorvel.sync": each reading and wait of the polling loop; off unless QT_LOGGING_RULES turns it on.
Q_DECLARE_LOGGING_CATEGORY(lcSync)
