#include "patch/ZeroRuns.h"

#include "patch/ControlTuple.h"

#include <algorithm>
#include <cstring>

void splitZeroRuns(QByteArrayView diff, QByteArray& runs, QByteArray& words)
{
    quint64 run = 0;
    for (qsizetype i = 0; i < diff.size();) {
        if (diff[i] == 0) {
            ++run;
            ++i;
            continue;
        }
        appendVarint(runs, run);
        run = 0;
        const qsizetype n = std::min<qsizetype>(4, diff.size() - i);
        words.append(diff.data() + i, n);
        i += n;
    }
    appendVarint(runs, run);
}

// The next run's length; after it comes a word unless the diff ends with the run.
Status ZeroRunReader::nextRun()
{
    const Result<quint64> run = runs_.next();
    if (!run)
        return Status::failure(run.error());
    if (*run > left_)
        return Status::failure(QStringLiteral("a run of zeros goes past the diff's end"));
    zeros_ = *run;
    word_ = std::min<quint64>(4, left_ - zeros_);
    needRun_ = false;
    return {};
}

Status ZeroRunReader::read(char* into, quint64 length)
{
    if (length > left_)
        return Status::failure(QStringLiteral("asks for more than the diff holds"));
    while (length > 0) {
        if (needRun_) {
            if (Status s = nextRun(); !s)
                return s;
        }
        quint64 n = std::min(length, zeros_);
        std::memset(into, 0, size_t(n));
        zeros_ -= n;
        if (n == 0) {
            n = std::min(length, word_);
            if (Status s = words_.read(into, n); !s)
                return s;
            word_ -= n;
            needRun_ = word_ == 0;
        }
        into += n;
        length -= n;
        left_ -= n;
    }
    return {};
}

Status ZeroRunReader::finish()
{
    if (needRun_) {
        if (Status s = nextRun(); !s)
            return s;
    }
    if (left_ != 0 || zeros_ != 0 || word_ != 0)
        return Status::failure(QStringLiteral("%1 bytes of the diff were not used").arg(left_));
    if (!runs_.atEnd())
        return Status::failure(QStringLiteral("the zero runs go on after the diff's end"));
    return words_.finish();
}
