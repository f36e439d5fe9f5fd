#pragma once
// Turns a release folder into an update site: copies every file of the release into the site
// under the same relative path and writes update.txt (a first line naming the list and its UTC
// date, then path and size of every file, CR LF line ends) and update.sums (SHA-256 of
// update.txt and of every file, and which files are executable: ExecutableMarks). With a secret key, update.sums is signed with the minisign tool
// into update.sums.minisig, whose trusted comment holds "timestamp:N" and, with an expiry,
// "expires:N".
//
// Everything is checked before anything is written. The new site is built complete as a new
// release beside the current one, with the site's other files (its news page, say) carried over,
// and SITE_DIR is then switched to it in one step (see SiteLayout). An unsigned release has no
// signature file, so a stale one never outlives its list. Files that have not changed since the
// last publish are neither read nor copied again (see PublishRecord). Big files also go into the
// site's chunk store, whose indexes update.sums lists (see ChunkPublisher), with binary patches
// from the previous release and the one before it, where kept (see PatchPublisher).

#include "common/ProgressMeter.h"
#include "release/PreviousList.h"
#include "store/ChunkPublisher.h"
#include "store/PatchPublisher.h"

#include <QString>

struct PublishOptions {
    QString releaseDir;
    QString siteDir;
    QString secretKey;     // empty: no signature
    QString passwordFile;  // the key's password ("-": standard input); empty: asked on the terminal
    int expiresDays = 0;   // 0: no expiry
    qint64 now = 0;        // Unix seconds: the list's date and timestamp
    bool dryRun = false;   // find what would change, write nothing
    qint64 chunkMinSize = ChunkPublisher::DefaultMinSize;  // files this big go into the chunk store; 0: no store
};

struct PublishSummary {
    int files = 0;
    qint64 bytes = 0;
    int filesRead = 0;  // files read (copied, or hashed in a dry run) by this run
    qint64 bytesRead = 0;
    ChangeList changes;
    ChunkStoreSummary chunks;
    PatchSummary patches;  // the changed files, for players of the previous release
    qint64 signedAt = 0;       // the signature's timestamp (Unix seconds)
    qint64 clockBehindBy = 0;  // seconds the clock was behind the site's last signature (see SigningTime)
};

// Throws PublishError; tells progress how far copying and chunking have come.
PublishSummary publishRelease(const PublishOptions& options, ProgressMeter& progress = ProgressMeter::silent());
