#pragma once
// Where a download's body goes. The transfer calls Begin once the final response is known to be
// accepted, Write for each chunk, and Finish when the body is complete; a call that returns false
// ends the download as failed, with Error saying why.

#include <QByteArray>
#include <QFile>
#include <QString>

#include "Sha256.h"

#include <optional>

class THTTPSink {
public:
    virtual ~THTTPSink() = default;
    // total: the announced length, or -1 when none was announced.
    virtual bool Begin(qint64 total) = 0;
    virtual bool Write(const char* data, qint64 size) = 0;
    virtual bool Finish() = 0;
    QString Error;
};

// The body into a file, created (or replaced) only when the body begins; a failed download leaves
// what was written so far.
class TFileSink : public THTTPSink {
public:
    explicit TFileSink(QString fileName, bool hash = false) : fileName_(std::move(fileName))
    {
        if (hash)
            hasher_.emplace();
    }
    bool Begin(qint64 total) override;
    bool Write(const char* data, qint64 size) override;
    bool Finish() override;

    // The SHA-256 of what was written, once Finish has succeeded (when asked for).
    QByteArray Digest;

private:
    bool fail(const QString& what);
    QString fileName_;
    QFile file_;
    std::optional<Sha256> hasher_;
};

// The body collected in memory.
class TTextSink : public THTTPSink {
public:
    bool Begin(qint64) override { return true; }
    bool Write(const char* data, qint64 size) override;
    bool Finish() override { return true; }
    QByteArray Result;
};
