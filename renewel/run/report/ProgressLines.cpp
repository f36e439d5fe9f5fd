#include "run/report/ProgressLines.h"

#include "SafeText.h"

#include <QStringList>

void ProgressLines::line(const QByteArray& text)
{
    const QByteArray shown = SafeText(text);  // a path with a line break stays on its line
    std::fwrite(shown.constData(), 1, size_t(shown.size()), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

void ProgressLines::listRead(qsizetype entries) { line("list " + QByteArray::number(entries)); }

void ProgressLines::runPlanned(qsizetype files, qint64 bytes)
{
    line("total " + QByteArray::number(files) + ' ' + QByteArray::number(bytes));
}

void ProgressLines::fileStarted(const QByteArray& listed, qint64 size)
{
    line("start " + listed + ' ' + QByteArray::number(size));
}

// The end of the run's downloads is always shown; the bytes before it at a bounded rate.
void ProgressLines::runProgress(qint64 done, qint64 total)
{
    if (done == shown_ || (lastBytes_.isValid() && lastBytes_.elapsed() < 100 && done != total))
        return;
    lastBytes_.start();
    shown_ = done;
    line("bytes " + QByteArray::number(done) + ' ' + QByteArray::number(total));
}

void ProgressLines::fileInstalled(const QByteArray& listed) { line("installed " + listed); }

void ProgressLines::fileDeleted(const QByteArray& listed) { line("deleted " + listed); }

void ProgressLines::finished(const UpdateOutcome& outcome)
{
    const char* kind = outcome.kind == UpdateOutcome::Failed      ? "failed"
                       : outcome.kind == UpdateOutcome::Cancelled ? "cancelled"
                                                                   : "completed";
    line(QByteArray("end ") + kind + ' ' + QByteArray::number(ExitStatus(outcome)));
}

bool ProgressArgument(const QStringList& arguments)
{
    return arguments.size() > 2 && (arguments.at(1) == QLatin1String("quiet") || arguments.at(1) == QLatin1String("repair")) &&
           arguments.mid(2).contains(QLatin1String("--progress"));
}
