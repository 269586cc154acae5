#include "sync/SyncLogging.h"

Q_LOGGING_CATEGORY(lcSync, "quorvel.sync", QtInfoMsg)
