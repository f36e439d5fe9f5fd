#include "release/StopPoint.h"

#include <QByteArray>

#include <csignal>

void stopPoint(const char* step)
{
    static const QByteArray stopAt = qgetenv("RENEWEL_PUBLISH_STOP_AT");
    if (!stopAt.isEmpty() && stopAt == step)
        std::raise(SIGKILL);
}
