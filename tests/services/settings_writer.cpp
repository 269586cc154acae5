// Writes the settings file in an endless loop until it is killed, with a large value so that
// a kill is likely to land in the middle of a write.
#include "services/SettingsStore.h"

#include <QJsonArray>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    SettingsStore store(QString::fromLocal8Bit(argv[1]));
    QJsonArray payload;
    for (int i = 0; i < 20000; ++i)
        payload.append(QStringLiteral("entry %1 of the payload").arg(i));
    for (qint64 round = 0;; ++round) {
        store.setValue(QStringLiteral("payload"), payload);
        store.setValue(QStringLiteral("round"), round);
        if (round == 0) {
            std::puts("writing");
            std::fflush(stdout);
        }
    }
}
