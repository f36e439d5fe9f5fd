#include "trust/Sha256.h"

#include "platform/RegularFile.h"
#include "platform/SystemError.h"

#include <cerrno>

#include <openssl/evp.h>

#include <new>
#include <stdexcept>
#include <utility>

namespace {
// Fetched once: an explicit fetch keeps the provider lookup out of every new hasher.
const EVP_MD* sha256Method()
{
    static EVP_MD* md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    if (!md)
        throw std::runtime_error("OpenSSL offers no SHA-256");
    return md;
}
}  // namespace

Sha256::Sha256()
{
    ctx_ = EVP_MD_CTX_new();
    if (!ctx_)
        throw std::bad_alloc();
    start();
}

Sha256::~Sha256() { EVP_MD_CTX_free(ctx_); }

Sha256::Sha256(Sha256&& other) noexcept : ctx_(std::exchange(other.ctx_, nullptr)) {}

Sha256& Sha256::operator=(Sha256&& other) noexcept
{
    std::swap(ctx_, other.ctx_);
    return *this;
}

void Sha256::start()
{
    if (EVP_DigestInit_ex(ctx_, sha256Method(), nullptr) != 1)
        throw std::runtime_error("SHA-256 initialisation failed");
}

void Sha256::update(const void* data, size_t length)
{
    if (length > 0 && EVP_DigestUpdate(ctx_, data, length) != 1)
        throw std::runtime_error("SHA-256 update failed");
}

QByteArray Sha256::final()
{
    QByteArray digest(Size, Qt::Uninitialized);
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx_, reinterpret_cast<unsigned char*>(digest.data()), &length) != 1
        || length != Size)
        throw std::runtime_error("SHA-256 finalisation failed");
    start();
    return digest;
}

QByteArray Sha256::hash(QByteArrayView data)
{
    Sha256 hasher;
    hasher.update(data);
    return hasher.final();
}

Result<QByteArray> sha256OfFile(const QString& path)
{
    // Never blocks on a pipe or device: only a regular file (or a link to one) is read.
    const RegularFile file = RegularFile::open(path, RegularFile::Access::Read, Links::Follow);
    if (!file)
        return Result<QByteArray>::failure(file.failure() == RegularFile::Failure::Folder ? QStringLiteral("not a regular file")
                                                                                         : file.reason());
    constexpr qint64 BlockSize = 1024 * 1024;
    QByteArray block(qsizetype(BlockSize), Qt::Uninitialized);
    Sha256 hasher;
    for (;;) {
        const qint64 n = platform::readAll(file.fd(), block.data(), BlockSize);
        if (n < 0)
            return Result<QByteArray>::failure(systemReason(errno));
        hasher.update(block.data(), size_t(n));
        if (n < BlockSize)
            break;
    }
    return hasher.final();
}
