#include "trust/Minisign.h"

#include <QList>

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

namespace {

constexpr qsizetype KeyIdSize = 8;
constexpr qsizetype KeySize = 32;
constexpr qsizetype SignatureSize = 64;

// Strict base64: only the canonical encoding of its bytes is accepted (no blanks, no missing or
// extra padding, no stray characters).
std::optional<QByteArray> decodeBase64(QByteArrayView text)
{
    const QByteArray bytes = text.toByteArray();
    auto decoded = QByteArray::fromBase64Encoding(bytes, QByteArray::AbortOnBase64DecodingErrors);
    if (decoded.decodingStatus != QByteArray::Base64DecodingStatus::Ok
        || decoded.decoded.toBase64() != bytes)
        return std::nullopt;
    return decoded.decoded;
}

bool verifyEd25519(const QByteArray& key, const QByteArray& signature, QByteArrayView message)
{
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                    reinterpret_cast<const unsigned char*>(key.constData()),
                                    size_t(key.size())),
        &EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!pkey || !ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) != 1)
        return false;
    return EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.constData()),
                            size_t(signature.size()),
                            reinterpret_cast<const unsigned char*>(message.data()),
                            size_t(message.size()))
        == 1;
}

std::optional<QByteArray> blake2b512(QByteArrayView data)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data.data(), size_t(data.size()), digest, &length, EVP_blake2b512(), nullptr) != 1)
        return std::nullopt;
    return QByteArray(reinterpret_cast<const char*>(digest), int(length));
}

}  // namespace

Result<MinisignPublicKey> MinisignPublicKey::parse(QByteArrayView line)
{
    const std::optional<QByteArray> bytes = decodeBase64(line.trimmed());
    if (!bytes || bytes->size() != 2 + KeyIdSize + KeySize || !bytes->startsWith("Ed")) {
        return Result<MinisignPublicKey>::failure(QStringLiteral("not a minisign public key"));
    }
    MinisignPublicKey key;
    key.keyId = bytes->mid(2, KeyIdSize);
    key.key = bytes->mid(2 + KeyIdSize);
    return key;
}

Result<MinisignSignature> MinisignSignature::parse(QByteArrayView file)
{
    QList<QByteArrayView> lines;
    for (QByteArrayView rest = file; !rest.isEmpty();) {
        const qsizetype end = rest.indexOf('\n');
        QByteArrayView line = end < 0 ? rest : rest.first(end);
        if (line.endsWith('\r'))
            line.chop(1);
        lines << line;
        rest = end < 0 ? QByteArrayView() : rest.sliced(end + 1);
    }
    while (lines.size() > 4 && lines.last().isEmpty())
        lines.removeLast();
    if (lines.size() != 4) {
        return Result<MinisignSignature>::failure(QStringLiteral("not four lines"));
    }
    static constexpr QByteArrayView untrusted("untrusted comment:");
    static constexpr QByteArrayView trusted("trusted comment: ");
    if (!lines[0].startsWith(untrusted) || !lines[2].startsWith(trusted)) {
        return Result<MinisignSignature>::failure(QStringLiteral("comment lines missing"));
    }
    const std::optional<QByteArray> head = decodeBase64(lines[1]);
    const std::optional<QByteArray> global = decodeBase64(lines[3]);
    if (!head || head->size() != 2 + KeyIdSize + SignatureSize || !global
        || global->size() != SignatureSize) {
        return Result<MinisignSignature>::failure(QStringLiteral("signature lines are not valid"));
    }
    MinisignSignature signature;
    if (head->startsWith("ED")) {
        signature.prehashed = true;
    } else if (head->startsWith("Ed")) {
        signature.prehashed = false;
    } else {
        return Result<MinisignSignature>::failure(QStringLiteral("unknown signature algorithm"));
    }
    signature.keyId = head->mid(2, KeyIdSize);
    signature.signature = head->mid(2 + KeyIdSize);
    signature.trustedComment = lines[2].sliced(trusted.size()).toByteArray();
    signature.globalSignature = *global;
    return signature;
}

MinisignCheck verifyMinisign(const MinisignPublicKey& key, const MinisignSignature& signature,
                             QByteArrayView message)
{
    if (signature.keyId != key.keyId)
        return MinisignCheck::WrongKey;
    bool valid = false;
    if (signature.prehashed) {
        const std::optional<QByteArray> digest = blake2b512(message);
        valid = digest && verifyEd25519(key.key, signature.signature, *digest);
    } else {
        valid = verifyEd25519(key.key, signature.signature, message);
    }
    if (!valid)
        return MinisignCheck::BadSignature;
    if (!verifyEd25519(key.key, signature.globalSignature,
                       signature.signature + signature.trustedComment))
        return MinisignCheck::BadTrustedComment;
    return MinisignCheck::Valid;
}

QString minisignKeyIdText(const QByteArray& keyId)
{
    // minisign shows the id as a little-endian 64-bit number.
    QByteArray reversed = keyId;
    std::reverse(reversed.begin(), reversed.end());
    return QString::fromLatin1(reversed.toHex().toUpper());
}
