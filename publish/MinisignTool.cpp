#include "MinisignTool.h"

#include "PublishError.h"

#include <QProcess>
#include <QStandardPaths>

#include <unistd.h>

QString findMinisign()
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("minisign"));
    if (tool.isEmpty())
        throw PublishError{QStringLiteral("minisign"), QStringLiteral("not found (install the minisign package)")};
    return tool;
}

void signWithMinisign(const QString& tool, const QString& secretKey, const QString& file,
                      const QString& signatureFile, const QByteArray& trustedComment)
{
    QProcess process;
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    // On a terminal the password prompt must be seen; otherwise the tool's messages are kept for
    // the error line.
    if (isatty(STDIN_FILENO))
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(tool, {QStringLiteral("-S"), QStringLiteral("-s"), secretKey, QStringLiteral("-m"), file,
                         QStringLiteral("-x"), signatureFile, QStringLiteral("-t"),
                         QString::fromLatin1(trustedComment)});
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        QString message = QString::fromLocal8Bit(process.readAllStandardError()).simplified();
        if (message.isEmpty())
            message = process.error() == QProcess::FailedToStart ? process.errorString()
                                                                  : QStringLiteral("signing failed");
        throw PublishError{secretKey, QStringLiteral("minisign: ") + message};
    }
}
