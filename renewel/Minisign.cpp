#include "Minisign.h"

#include <QList>

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

namespace {

constexpr qsizetype KeyIdSize = 8;
constexpr qsizetype KeySize = 32;
constexpr qsizetype SignatureSize = 64;

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

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

// A decimal field value: digits only, within 64 bits.
std::optional<qint64> decimal(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > 18)
        return std::nullopt;
    qint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

std::optional<MinisignPublicKey> MinisignPublicKey::parse(QByteArrayView line, QString* error)
{
    const std::optional<QByteArray> bytes = decodeBase64(line.trimmed());
    if (!bytes || bytes->size() != 2 + KeyIdSize + KeySize || !bytes->startsWith("Ed")) {
        setError(error, QStringLiteral("not a minisign public key"));
        return std::nullopt;
    }
    MinisignPublicKey key;
    key.keyId = bytes->mid(2, KeyIdSize);
    key.key = bytes->mid(2 + KeyIdSize);
    return key;
}

std::optional<MinisignSignature> MinisignSignature::parse(QByteArrayView file, QString* error)
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
        setError(error, QStringLiteral("not four lines"));
        return std::nullopt;
    }
    static constexpr QByteArrayView untrusted("untrusted comment:");
    static constexpr QByteArrayView trusted("trusted comment: ");
    if (!lines[0].startsWith(untrusted) || !lines[2].startsWith(trusted)) {
        setError(error, QStringLiteral("comment lines missing"));
        return std::nullopt;
    }
    const std::optional<QByteArray> head = decodeBase64(lines[1]);
    const std::optional<QByteArray> global = decodeBase64(lines[3]);
    if (!head || head->size() != 2 + KeyIdSize + SignatureSize || !global
        || global->size() != SignatureSize) {
        setError(error, QStringLiteral("signature lines are not valid"));
        return std::nullopt;
    }
    MinisignSignature signature;
    if (head->startsWith("ED")) {
        signature.prehashed = true;
    } else if (head->startsWith("Ed")) {
        signature.prehashed = false;
    } else {
        setError(error, QStringLiteral("unknown signature algorithm"));
        return std::nullopt;
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

std::optional<TrustedFields> TrustedFields::parse(QByteArrayView text, QString* error)
{
    TrustedFields fields;
    qsizetype pos = 0;
    while (pos < text.size()) {
        qsizetype end = pos;
        while (end < text.size() && text[end] != ' ' && text[end] != '\t')
            ++end;
        const QByteArrayView field = text.sliced(pos, end - pos);
        pos = end + 1;
        std::optional<qint64>* target = nullptr;
        QByteArrayView value;
        if (field.startsWith("timestamp:")) {
            target = &fields.timestamp;
            value = field.sliced(10);
        } else if (field.startsWith("expires:")) {
            target = &fields.expires;
            value = field.sliced(8);
        } else {
            continue;
        }
        const QString name = QString::fromLatin1(field.first(field.indexOf(':')));
        if (target->has_value()) {
            setError(error, QStringLiteral("%1 given twice in the trusted comment").arg(name));
            return std::nullopt;
        }
        *target = decimal(value);
        if (!target->has_value()) {
            setError(error, QStringLiteral("%1 in the trusted comment is not a number").arg(name));
            return std::nullopt;
        }
    }
    return fields;
}
