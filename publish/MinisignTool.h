#pragma once
// Signing with the minisign tool. Its secret key may be protected by a password: the tool then
// asks for it on standard error and reads it from standard input, which are passed through.

#include <QByteArray>
#include <QString>

// The tool's path; throws PublishError when it is not installed.
QString findMinisign();

// Writes signatureFile, a signature of file with the given trusted comment. Throws PublishError
// with the tool's own message when it fails.
void signWithMinisign(const QString& tool, const QString& secretKey, const QString& file,
                      const QString& signatureFile, const QByteArray& trustedComment);
