#pragma once
// Applying a patch to a file or to bytes (see PatchApplier for the checks and the memory bound).

#include "Result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The new file's bytes made from old and patch, or why the patch does not apply.
Result<QByteArray> applyPatch(QByteArrayView old, QByteArrayView patch);

// Makes outputPath from the file at oldPath and the patch file at patchPath, both mapped. The
// output is written to a temporary file beside it and renamed into place only when its SHA-256
// is the one the patch names, so a failure leaves outputPath as it was.
Status applyPatchFile(const QString& oldPath, const QString& patchPath, const QString& outputPath);
