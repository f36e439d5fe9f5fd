#include "HTTPSink.h"

#include <cerrno>

bool TFileSink::fail(const QString& what)
{
    // errno still holds the write's own error: a full disk is worth naming plainly.
    Error = errno == ENOSPC ? QStringLiteral("disk full") : what + QStringLiteral(": ") + file_.errorString();
    file_.close();
    return false;
}

bool TFileSink::Begin(qint64)
{
    file_.setFileName(fileName_);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        Error = QStringLiteral("cannot create file: ") + file_.errorString();
        return false;
    }
    return true;
}

bool TFileSink::Write(const char* data, qint64 size)
{
    errno = 0;
    if (file_.write(data, size) != size)
        return fail(QStringLiteral("cannot write file"));
    if (hasher_)
        hasher_->update(data, size_t(size));
    return true;
}

bool TFileSink::Finish()
{
    errno = 0;
    if (!file_.flush())
        return fail(QStringLiteral("cannot write file"));
    file_.close();
    if (file_.error() != QFileDevice::NoError)
        return fail(QStringLiteral("cannot close file"));
    if (hasher_)
        Digest = hasher_->final();
    return true;
}

bool TTextSink::Write(const char* data, qint64 size)
{
    Result.append(data, size);
    return true;
}
