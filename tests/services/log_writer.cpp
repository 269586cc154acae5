// Logs N numbered lines through the shared logger and returns from main without flushing:
// the lines must still reach the file before the process ends.
#include "services/Logger.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    Logger &logger = Logger::shared();
    std::printf("%s\n", logger.logDir().toUtf8().constData());
    for (int i = 0; i < count; ++i)
        logger.info(QString::number(i));
    return 0;
}
