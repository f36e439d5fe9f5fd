#pragma once
// The file layouts of the minisign tool, and the check of a signature against a public key.
//
// Public key line (second line of a .pub file): base64 of "Ed", an 8-byte key id and the 32-byte
// Ed25519 key. Signature file (.minisig), four lines:
//   untrusted comment: ...
//   base64 of algorithm id (2 bytes), key id (8 bytes), signature (64 bytes)
//   trusted comment: TEXT
//   base64 of the global signature (64 bytes)
// Algorithm "ED" signs the BLAKE2b-512 hash of the file, "Ed" (legacy) the file itself. The
// global signature signs the 64 signature bytes followed by TEXT, so TEXT is authenticated too.
// The cryptography is OpenSSL's; only the layout is read here.

#include "Result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

struct MinisignPublicKey {
    QByteArray keyId;  // 8 bytes, as stored
    QByteArray key;    // 32 bytes

    // The reason when the line is not such a key.
    static Result<MinisignPublicKey> parse(QByteArrayView line);
};

struct MinisignSignature {
    bool prehashed = true;  // "ED"; false for the legacy "Ed"
    QByteArray keyId;            // 8 bytes
    QByteArray signature;        // 64 bytes
    QByteArray trustedComment;   // TEXT, without the line's prefix and end
    QByteArray globalSignature;  // 64 bytes

    // The reason when the bytes are not a signature file. Lines may end with LF or CR LF; empty
    // lines after the fourth are allowed.
    static Result<MinisignSignature> parse(QByteArrayView file);
};

enum class MinisignCheck {
    Valid,
    WrongKey,              // made with another key (key ids differ)
    BadSignature,          // the message or the signature was changed
    BadTrustedComment,     // the trusted comment or the global signature was changed
};

MinisignCheck verifyMinisign(const MinisignPublicKey& key, const MinisignSignature& signature,
                             QByteArrayView message);

// A key id the way minisign prints it (16 uppercase hex digits), for messages.
QString minisignKeyIdText(const QByteArray& keyId);
