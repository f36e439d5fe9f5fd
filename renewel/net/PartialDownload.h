#pragma once
// The rules a download into a file follows around its transfer, shared by the component's worker
// and the transfer engine: continuing a partial file, judging what arrived, and tidying up.

#include "net/HTTPRequest.h"

#include <QString>

struct TransferResult;

// A partial file with the validator of the response that began it is continued where it ends.
void ContinuePartial(HTTPRequest& request, const QString& fileName);

// A file is complete when it has the announced length (none announced: an empty body). Sets
// result.Error (and Transient) when it is not; removes the partial file when it can't be
// continued, and the validator once it is no longer needed (no file: nothing is removed). True
// when the download succeeded.
bool SettleFileDownload(TransferResult& result, const QString& fileName, bool terminated);
