#pragma once
// Machine-readable progress for launchers ("renewel quiet --progress"): one line per event on
// standard output, fields separated by single spaces, paths last and as the list writes them:
//   list ENTRIES               the list was accepted and names ENTRIES files
//   total FILES BYTES          the run will obtain FILES files by downloading BYTES bytes; once
//                              after list, and again only when a file turns out to cost more
//   start PATH SIZE            the file PATH is awaited (SIZE bytes to download for it now)
//   bytes DONE TOTAL           bytes downloaded by the whole run so far, of TOTAL (the last total);
//                              never going backwards, at most ten lines a second, ending at TOTAL
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
    void runPlanned(qsizetype files, qint64 bytes);
    void fileStarted(const QByteArray& listed, qint64 size);
    void runProgress(qint64 done, qint64 total);
    void fileInstalled(const QByteArray& listed);
    void fileDeleted(const QByteArray& listed);
    void finished(const UpdateOutcome& outcome);

private:
    void line(const QByteArray& text);

    std::FILE* out_;
    QElapsedTimer lastBytes_;
    qint64 shown_ = -1;  // the last DONE printed
};

// Whether the command line asks for progress lines ("--progress" after quiet or repair).
bool ProgressArgument(const QStringList& arguments);
