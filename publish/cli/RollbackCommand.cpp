#include "cli/RollbackCommand.h"

#include "cli/CommandLine.h"
#include "common/PublishError.h"
#include "release/Rollback.h"

#include <QDateTime>

namespace {

constexpr int MaxExpiresDays = 36500;

const QString Description = QStringLiteral(
    "Goes back to an earlier release kept beside the site (renewel-publish releases SITE_DIR lists\n"
    "them): its files and lists become the site's new release, switched in one step, and its\n"
    "update.sums is signed anew with the current time (one second after the site's last signature\n"
    "when this machine's clock is behind it). Players return to it by a normal update; its old\n"
    "signature, replayed, stays refused. A signed release needs --key. Push the site afterwards.\n"
    "Exit status: 0 done, 1 failed, 2 bad usage.");

struct Options {
    explicit Options(QCommandLineParser& parser)
    {
        parser.setApplicationDescription(Description);
        parser.addPositionalArgument(QStringLiteral("SITE_DIR"), QStringLiteral("The update site folder."));
        parser.addPositionalArgument(QStringLiteral("RELEASE"), QStringLiteral("The kept release to go back to."));
        parser.addOptions({key, password, expires});
    }

    const QCommandLineOption key{QStringLiteral("key"), QStringLiteral("Sign with this minisign secret key file."),
                                 QStringLiteral("SECRET_KEY_FILE")};
    const QCommandLineOption password{QStringLiteral("password-file"),
                                      QStringLiteral("Read the key's password from the first line of FILE (\"-\": "
                                                     "standard input)."),
                                      QStringLiteral("FILE")};
    const QCommandLineOption expires{QStringLiteral("expires"),
                                     QStringLiteral("The signed list expires after DAYS days (1-%1).").arg(MaxExpiresDays),
                                     QStringLiteral("DAYS")};
};

// The rollback the command line asks for; false after printing a usage error.
bool readOptions(const QCommandLineParser& parser, const Options& given, RollbackOptions& options)
{
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2) {
        printError(QStringLiteral("usage"), QStringLiteral("SITE_DIR and RELEASE are needed (see rollback --help)"));
        return false;
    }
    options = {positional[0], positional[1], parser.value(given.key), parser.value(given.password), 0,
               QDateTime::currentSecsSinceEpoch()};
    bool ok = true;
    if (parser.isSet(given.expires))
        options.expiresDays = parser.value(given.expires).toInt(&ok);
    if (!ok || (parser.isSet(given.expires) && (options.expiresDays < 1 || options.expiresDays > MaxExpiresDays))) {
        printError(QStringLiteral("--expires"), QStringLiteral("DAYS must be a whole number from 1 to %1").arg(MaxExpiresDays));
        return false;
    }
    if ((parser.isSet(given.expires) || parser.isSet(given.password)) && options.secretKey.isEmpty()) {
        printError(parser.isSet(given.expires) ? QStringLiteral("--expires") : QStringLiteral("--password-file"),
                   QStringLiteral("only a signed list can have it (give --key)"));
        return false;
    }
    return true;
}

QByteArray utc(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1()
        + " UTC";
}

void printOutcome(const RollbackOptions& options, const RollbackSummary& summary)
{
    if (summary.clockBehindBy > 0)
        printLine("renewel-publish: this machine's clock is " + QByteArray::number(summary.clockBehindBy)
                  + " seconds behind the site's last signature; signed as " + utc(summary.signedAt)
                  + ", one second after it, so that players do not refuse the release as replayed");
    printLine("renewel-publish: " + options.siteDir.toUtf8() + ": back to " + options.release.toUtf8() + ", "
              + QByteArray::number(summary.files) + " files ("
              + (summary.signedAt > 0 ? "signed " + utc(summary.signedAt) : QByteArray("not signed")) + ")");
}

}  // namespace

int rollbackCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    const Options given(parser);
    if (!parseCommand(parser, arguments, QStringLiteral("rollback")))
        return ExitUsage;
    RollbackOptions options;
    if (!readOptions(parser, given, options))
        return ExitUsage;
    try {
        printOutcome(options, rollBack(options));
        return ExitDone;
    } catch (const PublishError& error) {
        printError(error.subject, error.reason);
        return ExitFailed;
    }
}
