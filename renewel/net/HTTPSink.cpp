#include "net/HTTPSink.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

bool TFileSink::fail(const QString& what)
{
    // errno still holds the write's own error: a full disk is worth naming plainly.
    Error = errno == ENOSPC ? QStringLiteral("disk full") : what + QStringLiteral(": ") + file_.errorString();
    file_.close();
    return false;
}

bool TFileSink::Begin(qint64, qint64 keep, const QByteArray& validator)
{
    file_.setFileName(fileName_);
    const QIODevice::OpenMode mode = keep > 0 ? QIODevice::ReadWrite : QIODevice::WriteOnly | QIODevice::Truncate;
    if (!file_.open(mode | QIODevice::Unbuffered)) {
        Error = QStringLiteral("cannot create file: ") + file_.errorString();
        return false;
    }
    if (keep > 0) {
        // The kept part is read once, for the checksum of the whole file.
        if (hasher_) {
            QByteArray block;
            for (qint64 left = keep; left > 0;) {
                block = file_.read(std::min<qint64>(left, 1 << 20));
                if (block.isEmpty())
                    return fail(QStringLiteral("cannot read file"));
                hasher_->Update(block.constData(), block.size());
                left -= block.size();
            }
        }
        if (!file_.resize(keep) || !file_.seek(keep))
            return fail(QStringLiteral("cannot write file"));
        return true;
    }
    QFile::remove(ValidatorFile(fileName_));
    if (!validator.isEmpty()) {
        QFile kept(ValidatorFile(fileName_));
        if (kept.open(QIODevice::WriteOnly))
            kept.write(validator);
    }
    return true;
}

bool TFileSink::Write(const char* data, qint64 size)
{
    errno = 0;
    if (file_.write(data, size) != size)
        return fail(QStringLiteral("cannot write file"));
    if (hasher_)
        hasher_->Update(data, size);
    return true;
}

bool TFileSink::Finish()
{
    errno = 0;
    if (!file_.flush() || (sync_ && ::fsync(file_.handle()) != 0))
        return fail(QStringLiteral("cannot write file"));
    file_.close();
    if (file_.error() != QFileDevice::NoError)
        return fail(QStringLiteral("cannot close file"));
    if (hasher_)
        Digest = hasher_->Final();
    return true;
}

bool TTextSink::Write(const char* data, qint64 size)
{
    Result.append(data, size);
    return true;
}
