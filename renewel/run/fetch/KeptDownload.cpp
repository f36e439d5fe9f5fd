#include "run/fetch/KeptDownload.h"

#include "net/DownloadFile.h"
#include "trust/Sha256.h"

bool KeptDownload::worthChecking(const QString& file, const PlannedEntry& planned)
{
    return planned.digest && DownloadFileSize(file) == planned.entry.size;  // a link there is no download
}

void KeptDownload::check(const QString& file, const QByteArray& digest, std::function<void(bool)> then)
{
    tasks_.run<bool>(
        [file, digest] {
            const Result<QByteArray> local = sha256OfFile(file);
            return local && *local == digest;
        },
        std::move(then));
}
