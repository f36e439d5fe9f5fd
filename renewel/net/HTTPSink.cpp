#include "net/HTTPSink.h"

#include "net/DownloadFile.h"
#include "trust/Sha256.h"

#include "platform/FileDescriptor.h"
#include "platform/FileIO.h"

#include <algorithm>
#include <cerrno>

bool FileSink::fail(const QString& what)
{
    // errno still holds the write's own error: a full disk is worth naming plainly.
    Error = errno == ENOSPC ? QStringLiteral("disk full") : what + QStringLiteral(": ") + file_.errorString();
    file_.close();
    return false;
}

bool FileSink::begin(qint64 total, qint64 keep, const QByteArray& validator)
{
    QString why;
    FileDescriptor fd(OpenDownloadFile(fileName_, keep > 0, &why));
    if (!fd.isOpen() || !file_.open(fd.fd(), QIODevice::ReadWrite | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        Error = QStringLiteral("cannot create file: ") + (why.isEmpty() ? file_.errorString() : why);
        return false;
    }
    fd.release();  // the QFile owns it now
    if (keep > 0) {
        if (!file_.resize(keep) || !file_.seek(keep))
            return fail(QStringLiteral("cannot write file"));
        return true;
    }
    // The validator lets a cut-off download continue where it stopped. A small file is simply
    // fetched again: cheaper than a second file created and deleted beside every download.
    if (!validator.isEmpty() && total >= ResumableFrom)
        WriteDownloadFile(validatorFile(fileName_), validator);  // replaces an older one
    else
        QFile::remove(validatorFile(fileName_));
    return true;
}

bool FileSink::write(const char* data, qint64 size)
{
    errno = 0;
    if (file_.write(data, size) != size)
        return fail(QStringLiteral("cannot write file"));
    return true;
}

// The checksum is that of the file as it is on disk, read back through the descriptor that wrote
// it: what is installed is exactly what was checked.
bool FileSink::finish()
{
    errno = 0;
    if (!file_.flush() || (sync_ && !platform::syncFile(file_.handle())))
        return fail(QStringLiteral("cannot write file"));
    if (hash_) {
        Sha256 hasher;
        // One buffer per thread: an engine finishing thousands of small files allocates it once.
        thread_local QByteArray block(1 << 20, Qt::Uninitialized);
        for (qint64 at = 0;;) {
            const qint64 n = platform::readAllAt(file_.handle(), block.data(), block.size(), at);
            if (n < 0)
                return fail(QStringLiteral("cannot read file"));
            if (n == 0)
                break;
            hasher.update(block.constData(), size_t(n));
            at += n;
        }
        Digest = hasher.final();
    }
    file_.close();
    if (file_.error() != QFileDevice::NoError)
        return fail(QStringLiteral("cannot close file"));
    return true;
}

bool TextSink::write(const char* data, qint64 size)
{
    Result.append(data, size);
    return true;
}
