#include "net/PartialDownload.h"

#include "net/DownloadFile.h"
#include "net/HTTPSink.h"
#include "net/HTTPTransfer.h"

#include <QFile>

void ContinuePartial(HTTPRequest& request, const QString& fileName)
{
    if (request.ExpectedSize <= 0)
        return;
    const qint64 have = DownloadFileSize(fileName);
    if (have <= 0 || have >= request.ExpectedSize)
        return;
    const QByteArray value = ReadDownloadFile(FileSink::validatorFile(fileName), 4096).trimmed();
    if (value.isEmpty() || value.contains('\n') || value.contains('\r'))
        return;
    request.RangeFrom = have;
    request.IfRange = value;
}

bool SettleFileDownload(TransferResult& result, const QString& fileName, bool terminated)
{
    if (result.Succeeded && result.Bytes != result.TotalSize) {
        result.Error = result.TotalSize == 0
                           ? QStringLiteral("no content length")
                           : QStringLiteral("short body (%1 of %2 bytes)").arg(result.Bytes).arg(result.TotalSize);
        result.Transient = result.TotalSize != 0;
    }
    const bool succeeded = result.Succeeded && result.Error.isEmpty() && !terminated;
    if (fileName.isEmpty())  // the body went to a sink of the caller's
        return succeeded;
    if (result.StartOver)
        QFile::remove(fileName);
    if (succeeded || result.StartOver)
        QFile::remove(FileSink::validatorFile(fileName));
    return succeeded;
}
