#pragma once
// Machine-readable progress for launchers ("renewel quiet --progress"): one line per event on
// standard output, fields separated by single spaces, paths last and as the list writes them:
//   list ENTRIES               the list was accepted and names ENTRIES files
//   start PATH SIZE            the download of PATH (SIZE bytes) is awaited
//   bytes DONE TOTAL           progress of that download, at most ten lines a second
//   installed PATH             PATH is in place
//   deleted PATH               a file the release dropped was deleted
//   end completed|failed|cancelled STATUS   the run is over; STATUS is the exit status

#include "run/report/UpdateOutcome.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <cstdio>

class ProgressLines {
public:
    explicit ProgressLines(std::FILE* out) : out_(out) {}

    void listRead(qsizetype entries);
    void fileStarted(const QByteArray& listed, qint64 size);
    void fileProgress(qint64 total, qint64 done);
    void fileInstalled(const QByteArray& listed);
    void fileDeleted(const QByteArray& listed);
    void finished(const UpdateOutcome& outcome);

private:
    void line(const QByteArray& text);

    std::FILE* out_;
    QElapsedTimer lastBytes_;
};

// Whether the command line asks for progress lines ("--progress" after quiet or repair).
bool ProgressArgument(const QStringList& arguments);
