#include "run/install/UpdateRoom.h"

#include "net/DownloadFile.h"

#include "platform/Folders.h"

#include <algorithm>

namespace {
constexpr qint64 MB = 1000 * 1000;
}  // namespace

Result<UpdateRoom> UpdateRoom::measure(const QList<Changed>& changed, const QString& folder)
{
    UpdateRoom room;
    qint64 largestRebuild = 0;
    for (const Changed& file : changed) {
        const qint64 size = file.planned->entry.size;
        room.needed += std::max<qint64>(0, size - std::max<qint64>(0, DownloadFileSize(file.staged)));
        if (file.rebuilt)
            largestRebuild = std::max(largestRebuild, size);
    }
    room.needed += largestRebuild;
    const Result<qint64> free = platform::freeSpace(folder);
    if (!free)
        return Result<UpdateRoom>::failure(QStringLiteral("cannot measure the free space: ") + free.error());
    room.free = *free;
    return room;
}

QByteArray UpdateRoom::figures() const
{
    // The need rounded up and the free space down: "enough" is never shown for a shortage.
    return QByteArray::number((needed + MB - 1) / MB) + " MB, " + QByteArray::number(free / MB) + " MB free";
}

QString UpdateRoom::shortage() const { return QStringLiteral("needs ") + QString::fromLatin1(figures()); }
