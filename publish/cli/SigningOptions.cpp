#include "cli/SigningOptions.h"

#include "cli/CommandLine.h"

#include <QDateTime>

SigningOptions::SigningOptions(QCommandLineParser& parser, const QString& passwordNote)
    : key_{QStringLiteral("key"), QStringLiteral("Sign with this minisign secret key file."),
           QStringLiteral("SECRET_KEY_FILE")},
      password_{QStringLiteral("password-file"),
                QStringLiteral("Read the key's password from the first line of FILE (\"-\": standard input).")
                    + passwordNote,
                QStringLiteral("FILE")},
      expires_{QStringLiteral("expires"),
               QStringLiteral("The signed list expires after DAYS days (1-%1).").arg(MaxExpiresDays),
               QStringLiteral("DAYS")}
{
    parser.addOptions({key_, password_, expires_});
}

bool SigningOptions::read(const QCommandLineParser& parser, Signing& signing) const
{
    signing.secretKey = parser.value(key_);
    signing.passwordFile = parser.value(password_);
    bool ok = true;
    if (parser.isSet(expires_))
        signing.expiresDays = parser.value(expires_).toInt(&ok);
    if (!ok || (parser.isSet(expires_) && (signing.expiresDays < 1 || signing.expiresDays > MaxExpiresDays))) {
        printError(QStringLiteral("--expires"), QStringLiteral("DAYS must be a whole number from 1 to %1").arg(MaxExpiresDays));
        return false;
    }
    if ((parser.isSet(expires_) || parser.isSet(password_)) && signing.secretKey.isEmpty()) {
        printError(parser.isSet(expires_) ? QStringLiteral("--expires") : QStringLiteral("--password-file"),
                   QStringLiteral("only a signed list can have it (give --key)"));
        return false;
    }
    return true;
}

void printClockNote(qint64 behindBy, qint64 signedAt)
{
    if (behindBy <= 0)
        return;
    const QDateTime at = QDateTime::fromSecsSinceEpoch(signedAt, Qt::UTC);
    printLine("renewel-publish: this machine's clock is " + QByteArray::number(behindBy)
              + " seconds behind the site's last signature; signed as "
              + at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1()
              + " UTC, one second after it, so that players do not refuse the release as replayed");
}
