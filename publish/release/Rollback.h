#pragma once
// Going back to an earlier release kept beside the site (see SiteLayout): the kept release's
// files and lists become a new release, its update.sums signed anew with a fresh timestamp (see
// SigningTime), and the site switches to it like a publish. Players return to it by a normal
// update, while the old signature of the same lists, replayed, stays refused as older than the
// one they hold.

#include <QList>
#include <QString>

struct RollbackOptions {
    QString siteDir;
    QString release;       // the kept release's name, as keptReleasesOf gives it
    QString secretKey;     // empty: no signature (refused for a release that was signed)
    QString passwordFile;  // as PublishOptions
    int expiresDays = 0;   // 0: no expiry
    qint64 now = 0;        // Unix seconds
};

struct RollbackSummary {
    QString release;           // the new release folder
    int files = 0;             // files its list names
    qint64 signedAt = 0;       // 0: not signed
    qint64 clockBehindBy = 0;  // as PublishSummary
};

struct KeptRelease {
    QString name;         // "release-20261208-213000-1a2b3c4d": what rollback is given
    qint64 published = 0;  // the time its lists were signed, else the time its name holds (Unix seconds)
    int files = 0;
    bool isSigned = false;
};

// The releases a site can go back to, newest first. Throws PublishError when SITE_DIR is not a site.
QList<KeptRelease> keptReleasesOf(const QString& siteDir);

// Throws PublishError; nothing changes when it does.
RollbackSummary rollBack(const RollbackOptions& options);
