#pragma once
// Where a download's body goes. The transfer calls begin once the final response is known to be
// accepted, write for each chunk, and finish when the body is complete; a call that returns false
// ends the download as failed, with Error saying why.

#include <QByteArray>
#include <QFile>
#include <QString>



class HTTPSink {
public:
    virtual ~HTTPSink() = default;
    // total: the announced length, or -1 when none was announced. keep: bytes already in the
    // destination that the body continues (a resumed download); 0 starts it over. validator: the
    // response's ETag or Last-Modified, kept with a fresh start so a later try can resume.
    virtual bool begin(qint64 total, qint64 keep, const QByteArray& validator) = 0;
    // Before begin: the response's Content-Type and Content-Range (empty when it had none), for a
    // sink that reads the body by them (the parts of a range answer).
    virtual void response(const QByteArray& contentType, const QByteArray& contentRange)
    {
        Q_UNUSED(contentType);
        Q_UNUSED(contentRange);
    }
    virtual bool write(const char* data, qint64 size) = 0;
    virtual bool finish() = 0;
    QString Error;
};

// The body into a file, created (or replaced) only when the body begins, never through a link; a
// failed download leaves
// what was written so far, and beside it ("<file>.validator") what identifies the server's
// version of it, so that the next try can continue it (files of ResumableFrom bytes or more).
class FileSink : public HTTPSink {
public:
    static constexpr qint64 ResumableFrom = 64 * 1024;
    static QString validatorFile(const QString& fileName) { return fileName + QStringLiteral(".validator"); }

    // hash: compute Digest; sync: flush the finished file to disk before reporting it done.
    explicit FileSink(QString fileName, bool hash = false, bool sync = false)
        : fileName_(std::move(fileName)), sync_(sync), hash_(hash)
    {
    }
    bool begin(qint64 total, qint64 keep, const QByteArray& validator) override;
    bool write(const char* data, qint64 size) override;
    bool finish() override;

    // The SHA-256 of what was written, once finish has succeeded (when asked for).
    QByteArray Digest;

private:
    bool fail(const QString& what);
    QString fileName_;
    QFile file_;
    bool sync_;
    bool hash_;
};

// The body collected in memory.
class TextSink : public HTTPSink {
public:
    bool begin(qint64, qint64, const QByteArray&) override { return true; }
    bool write(const char* data, qint64 size) override;
    bool finish() override { return true; }
    QByteArray Result;
};
