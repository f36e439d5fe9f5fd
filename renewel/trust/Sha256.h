#pragma once
// SHA-256 through OpenSSL's EVP interface (which uses the processor's SHA instructions where
// present). Sha256 is incremental, so a download can be hashed chunk by chunk as it is written;
// sha256OfFile hashes an installed file with a streaming read.

#include "Result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

struct evp_md_ctx_st;

class Sha256 {
public:
    static constexpr int Size = 32;

    Sha256();
    ~Sha256();
    Sha256(Sha256&& other) noexcept;
    Sha256& operator=(Sha256&& other) noexcept;
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const void* data, size_t length);
    void update(QByteArrayView data) { update(data.data(), size_t(data.size())); }
    // The 32-byte digest of everything fed since construction or the last final(); the hasher
    // then starts over.
    QByteArray final();
    // The digest as 64 lowercase hex digits; the hasher then starts over.
    QByteArray finalHex() { return final().toHex(); }

    static QByteArray hash(QByteArrayView data);

private:
    void start();

    evp_md_ctx_st* ctx_ = nullptr;
};

// The 32-byte SHA-256 of a file, read in 1 MiB blocks; the reason when it can't be opened or read,
// or is not a regular file.
Result<QByteArray> sha256OfFile(const QString& path);
