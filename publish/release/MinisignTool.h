#pragma once
// Signing with the minisign tool. Its secret key may be protected by a password, which the tool
// reads from its standard input: given to renewel-publish in a file (or on its standard input,
// "-"), it is written there; otherwise the tool asks on the terminal, which is passed through.

#include <QByteArray>
#include <QString>

#include <optional>

// The tool's path; throws PublishError when it is not installed.
QString findMinisign();

// Whether the secret key file is protected by a password (its key data names a key derivation).
// Throws PublishError when the file is not a minisign secret key.
bool keyHasPassword(const QString& secretKey);

// The key's password when one is needed and given (from passwordFile; empty: the tool asks on
// the terminal). Throws PublishError when the key can't be read, or needs a password that can't
// be asked for (no terminal).
std::optional<QByteArray> keyPassword(const QString& secretKey, const QString& passwordFile);

// The first line of a password file ("-": standard input), without its line end. Throws
// PublishError when it can't be read.
QByteArray readPassword(const QString& file);

// Writes signatureFile, a signature of file with the given trusted comment. Throws PublishError
// with the tool's own message when it fails.
void signWithMinisign(const QString& tool, const QString& secretKey, const std::optional<QByteArray>& password,
                      const QString& file, const QString& signatureFile, const QByteArray& trustedComment);
