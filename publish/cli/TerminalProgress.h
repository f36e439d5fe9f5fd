#pragma once
// The progress of long work shown on a terminal: one line, "renewel-publish: 1200 of 20000 files,
// 118 of 2048 MiB", redrawn in place at most five times a second and cleared when the work ends.
// Shown only when standard output is a terminal, so that logs and pipes get the result lines alone.

#include "common/ProgressMeter.h"

#include <QElapsedTimer>

class TerminalProgress : public ProgressMeter {
public:
    TerminalProgress();
    ~TerminalProgress() override;
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    void begin(int totalFiles, qint64 totalBytes) override;
    void advance(qint64 bytes) override;
    // Removes the line, so that what is printed next starts on a clean line.
    void end() override;

private:
    void draw();

    bool shown_ = false;
    bool drawn_ = false;
    int totalFiles_ = 0;
    qint64 totalBytes_ = 0;
    int files_ = 0;
    qint64 bytes_ = 0;
    QElapsedTimer sinceDraw_;
};
