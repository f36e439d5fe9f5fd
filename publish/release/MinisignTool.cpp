#include "release/MinisignTool.h"

#include "common/PublishError.h"
#include "platform/StandardStreams.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <cstdio>


QString findMinisign()
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("minisign"));
    if (tool.isEmpty())
        throw PublishError{QStringLiteral("minisign"), QStringLiteral("not found (install the minisign package)")};
    return tool;
}

bool keyHasPassword(const QString& secretKey)
{
    // The second line is base64 of: signature algorithm "Ed" (2 bytes), key derivation algorithm
    // (2 bytes: "Sc" for scrypt, two zero bytes for none), checksum algorithm (2), salt (32),
    // limits (8 + 8), key id, key and checksum (104): 158 bytes.
    QFile file(secretKey);
    const QByteArray second = file.open(QIODevice::ReadOnly) ? file.read(4096).split('\n').value(1).trimmed()
                                                             : QByteArray();
    const QByteArray data = QByteArray::fromBase64(second);
    if (data.size() != 158 || !data.startsWith("Ed"))
        throw PublishError{secretKey, QStringLiteral("not a minisign secret key")};
    return data.mid(2, 2) != QByteArray(2, '\0');
}

QByteArray readPassword(const QString& file)
{
    QByteArray line;
    if (file == QStringLiteral("-")) {
        char buffer[1024];
        if (!std::fgets(buffer, sizeof buffer, stdin))
            throw PublishError{QStringLiteral("--password-file -"), QStringLiteral("no password on standard input")};
        line = buffer;
    } else {
        QFile in(file);
        if (!in.open(QIODevice::ReadOnly))
            throw PublishError{file, in.errorString()};
        line = in.readLine(1024);
    }
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return line;
}

std::optional<QByteArray> keyPassword(const QString& secretKey, const QString& passwordFile)
{
    const QFileInfo key(secretKey);
    if (!key.isFile() || !key.isReadable())
        throw PublishError{secretKey, QStringLiteral("no readable secret key file")};
    if (!passwordFile.isEmpty())
        return readPassword(passwordFile);
    if (keyHasPassword(secretKey) && !platform::isTerminal(platform::StandardInput))
        throw PublishError{secretKey,
                           QStringLiteral("the key is protected by a password and there is no terminal to ask for it: "
                                          "give the password with --password-file FILE (or --password-file - on "
                                          "standard input), or make a key without a password for automation with "
                                          "minisign -G -W")};
    return std::nullopt;
}

void signWithMinisign(const QString& tool, const QString& secretKey, const std::optional<QByteArray>& password,
                      const QString& file, const QString& signatureFile, const QByteArray& trustedComment)
{
    QProcess process;
    if (!password)
        process.setInputChannelMode(QProcess::ForwardedInputChannel);
    // On a terminal the password prompt must be seen; otherwise the tool's messages are kept for
    // the error line.
    if (!password && platform::isTerminal(platform::StandardInput))
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(tool, {QStringLiteral("-S"), QStringLiteral("-s"), secretKey, QStringLiteral("-m"), file,
                         QStringLiteral("-x"), signatureFile, QStringLiteral("-t"),
                         QString::fromLatin1(trustedComment)});
    if (password && process.waitForStarted(-1)) {
        process.write(*password + '\n');
        process.closeWriteChannel();
    }
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        QString message = QString::fromLocal8Bit(process.readAllStandardError()).simplified();
        message.remove(QStringLiteral("Password: "));
        if (message.isEmpty())
            message = process.error() == QProcess::FailedToStart ? process.errorString()
                                                                  : QStringLiteral("signing failed");
        throw PublishError{secretKey, QStringLiteral("minisign: ") + message};
    }
}
