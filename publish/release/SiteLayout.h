#pragma once
// The site on disk: SITE_DIR is a symbolic link to SITE_DIR.releases/<release>, a folder that
// holds one complete release. Publishing builds the next release beside the current one and
// switches with one rename of the link, so a reader (the web server) sees the old site or the
// new one, never a mix. The release a switch replaces is kept, renamed "kept-<its name>", to go
// back to (see Rollback); the KeptReleases newest are kept, older ones removed by the next run. A plain SITE_DIR folder is taken over on first use: exchanged with the
// link in one step where the file system can (Linux renameat2), else moved aside first.
//
// What an interrupted run leaves in SITE_DIR.releases (a release never switched to, a temporary
// link, the old plain folder) is recognised by its name and removed by the next run; the lock
// file there keeps two runs from working on one site at once. What goes (a plain site taken over,
// a kept release past the newest KeptReleases) is removed by the next run on a thread of its own
// while it builds, so removing 20,000 names no longer adds to the time of a publish.

#include "common/PublishError.h"
#include "platform/FileDescriptor.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <thread>

class SiteLayout {
public:
    // Earlier releases kept beside the current one. They cost only the files they do not share
    // with the current release (shared files are hard links).
    static constexpr int KeptReleases = 3;

    // Reads what SITE_DIR is. Throws PublishError when it is neither missing, a folder, nor a
    // link this tool made.
    explicit SiteLayout(const QString& siteDir);
    ~SiteLayout();
    SiteLayout(const SiteLayout&) = delete;
    SiteLayout& operator=(const SiteLayout&) = delete;

    const QString& site() const { return site_; }
    const QString& releases() const { return releases_; }
    // The folder whose files the site serves now; empty when there is none.
    const QString& current() const { return current_; }

    // Creates the releases folder, takes the lock (throws when another run holds it) and starts
    // removing the leftovers of earlier runs.
    void prepare();
    // The earlier releases kept, newest first (not those the next run removes).
    QStringList keptReleases() const;
    // The kept release of that name ("release-…", or "kept-release-…"); empty when there is none.
    QString keptRelease(const QString& name) const;
    // A new, empty release folder, named for the time of publishing (the time signed, where it
    // is signed, so that names sort as the releases were published whatever the clock said).
    QString newRelease(qint64 now);
    // Points SITE_DIR at the release in one step; the release it served before is retired.
    void switchTo(const QString& release);
    // Waits until the leftovers are removed; throws PublishError when one could not be.
    void finishCleanup();
    // After a failure before the switch: removes the unfinished release, and the releases folder
    // when this run made it, so that a failed first run leaves the site as it was.
    void abandon(const QString& release);

private:
    QStringList leftovers() const;
    // Every kept release, the ones past KeptReleases too, newest first.
    QStringList allKept() const;
    // Exchanges the plain SITE_DIR folder with the link; where the folder is now.
    QString replacePlainFolder(const QString& link);
    void joinCleaner();

    QString site_;
    QString releases_;
    QString current_;
    bool plain_ = false;  // current_ is the plain SITE_DIR folder (or what was moved aside of it)
    FileDescriptor lock_;  // held locked while the run works on the site
    bool madeReleases_ = false;  // this run created the releases folder
    std::thread cleaner_;
    std::optional<PublishError> cleanupError_;
};
