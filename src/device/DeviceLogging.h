#pragma once

#include <QLoggingCategory>

// "quorvel.device": each request, its answer or failure; off unless QT_LOGGING_RULES turns it on.
Q_DECLARE_LOGGING_CATEGORY(lcDevice)
