#pragma once
// What the update run tells the window that hosts it while it works: the list's stage, each entry
// reached, the current download's progress, and each file installed or deleted. The window shows them (status line, progress
// bars) and handles its pending messages at each stage and entry, so input and repaints keep
// flowing; tests use a stand-in that records them. How the run ended is its outcome, which the
// window presents once the run has returned.

#include <QByteArray>

class UpdateHost {
public:
    enum class ListStage { Fetching, Checking };

    virtual ~UpdateHost() = default;

    virtual void listStageReached(ListStage stage) = 0;
    // The list has been read: entries is the number of files it names.
    virtual void listRead(qsizetype entries) = 0;
    // The run has come to entry index (0-based) of count; listed is its path as the list writes it.
    virtual void entryReached(qsizetype index, qsizetype count, const QByteArray& listed) = 0;
    virtual void fileProgress(qint64 total, qint64 readed) = 0;
    // The download of an entry is being waited for; it is installed; a dropped file was deleted.
    virtual void fileStarted(const QByteArray& listed, qint64 size) { (void)listed, (void)size; }
    virtual void fileInstalled(const QByteArray& listed) { (void)listed; }
    virtual void fileDeleted(const QByteArray& listed) { (void)listed; }
    // What the run will download in all (files to obtain, bytes): told once before the first
    // download, and again before the progress passes it when a file costs more than planned.
    virtual void runPlanned(qsizetype files, qint64 bytes) { (void)files, (void)bytes; }
    // The bytes the run has downloaded so far of total; never less than told before.
    virtual void runProgress(qint64 done, qint64 total) { (void)done, (void)total; }
};
