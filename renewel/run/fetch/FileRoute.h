#pragma once
// One way of obtaining a listed file's new content in the download folder: whole from the site,
// built from chunks, and later from a binary patch or a pack. The run prepares an entry as soon
// as it knows the entry differs (downloads run ahead of the installs) and asks for the file once
// it reaches the entry; the answer comes later, on the main thread.

#include "run/plan/PlannedEntry.h"

#include "Result.h"

#include <QByteArray>
#include <QString>

#include <functional>

// The file obtained, checked and on disk for good, with its SHA-256. An empty file: the route
// declines the entry (another route is to obtain it).
struct ObtainedFile {
    QString file;
    QByteArray digest;
};

class FileRoute {
public:
    using Done = std::function<void(Result<ObtainedFile>)>;
    // The bytes obtaining an entry will download; -1 when this route will decline it (the next
    // route is asked).
    using Cost = std::function<void(qint64 bytes)>;

    virtual ~FileRoute() = default;
    // Whether this route can obtain the entry at all.
    virtual bool takes(const PlannedEntry& planned) const = 0;
    // What obtaining entry i will download, worked out as obtain would (fetching only what it
    // needs to know, such as a chunk index): cost runs once, now or later. Entries are estimated
    // one at a time, before any of them is obtained.
    virtual void estimate(qsizetype i, const PlannedEntry& planned, Cost cost) = 0;
    // Starts what can run ahead for entry i.
    virtual void prepare(qsizetype i, const PlannedEntry& planned) = 0;
    // The file of entry i (prepared before): done runs once, now or later. A failure has been
    // reported to the run's report before done runs.
    virtual void obtain(qsizetype i, const PlannedEntry& planned, Done done) = 0;
};
