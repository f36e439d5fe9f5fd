#pragma once
// What long work tells about how far it has come: a phase of so many files and bytes, then each
// file (or chunk) done. The command line shows it on a terminal (TerminalProgress); the library
// itself prints nothing. A phase is opened and closed by ProgressMeter::Phase, so that a failure
// inside it still closes it.

#include <QtGlobal>

class ProgressMeter {
public:
    virtual ~ProgressMeter() = default;

    virtual void begin(int totalFiles, qint64 totalBytes) { Q_UNUSED(totalFiles) Q_UNUSED(totalBytes) }
    virtual void advance(qint64 bytes) { Q_UNUSED(bytes) }
    virtual void end() {}

    // A meter that shows nothing.
    static ProgressMeter& silent()
    {
        static ProgressMeter none;
        return none;
    }

    // One phase of work: begun on construction, ended on destruction or by end().
    class Phase {
    public:
        Phase(ProgressMeter& meter, int totalFiles, qint64 totalBytes) : meter_(meter) { meter_.begin(totalFiles, totalBytes); }
        ~Phase() { end(); }
        Phase(const Phase&) = delete;
        Phase& operator=(const Phase&) = delete;

        void advance(qint64 bytes) { meter_.advance(bytes); }
        void end()
        {
            if (open_)
                meter_.end();
            open_ = false;
        }

    private:
        ProgressMeter& meter_;
        bool open_ = true;
    };
};
