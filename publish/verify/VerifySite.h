#pragma once
// The check of a published site as a player's updater would make it, file by file: the signature
// of update.sums with the studio's public key (its trusted comment's timestamp and expiry
// included), update.txt against its checksum, every listed file's size and SHA-256, and the chunk
// store (see VerifyChunks), the head and the compressed lists (see VerifyHead). Every problem is
// reported, not only the first.

#include "common/ProgressMeter.h"
#include "verify/SiteCheck.h"

#include <QString>

// publicKeyFile: a minisign .pub file; empty checks the checksums without a signature.
SiteCheck verifySite(const QString& siteDir, const QString& publicKeyFile, qint64 now,
                     ProgressMeter& progress = ProgressMeter::silent());
