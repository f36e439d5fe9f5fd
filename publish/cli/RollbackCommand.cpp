#include "cli/RollbackCommand.h"

#include "cli/CommandLine.h"
#include "cli/SigningOptions.h"
#include "common/PublishError.h"
#include "release/Rollback.h"

#include <QDateTime>

namespace {

const QString Description = QStringLiteral(
    "Goes back to an earlier release kept beside the site (renewel-publish releases SITE_DIR lists\n"
    "them): its files and lists become the site's new release, switched in one step, and its\n"
    "update.sums is signed anew with the current time (one second after the site's last signature\n"
    "when this machine's clock is behind it). Players return to it by a normal update; its old\n"
    "signature, replayed, stays refused. A signed release needs --key. Push the site afterwards.\n"
    "Exit status: 0 done, 1 failed, 2 bad usage.");

struct Options {
    explicit Options(QCommandLineParser& parser) : signing(parser, {})
    {
        parser.setApplicationDescription(Description);
        parser.addPositionalArgument(QStringLiteral("SITE_DIR"), QStringLiteral("The update site folder."));
        parser.addPositionalArgument(QStringLiteral("RELEASE"), QStringLiteral("The kept release to go back to."));
    }

    const SigningOptions signing;
};

// The rollback the command line asks for; false after printing a usage error.
bool readOptions(const QCommandLineParser& parser, const Options& given, RollbackOptions& options)
{
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2) {
        printError(QStringLiteral("usage"), QStringLiteral("SITE_DIR and RELEASE are needed (see rollback --help)"));
        return false;
    }
    Signing signing;
    if (!given.signing.read(parser, signing))
        return false;
    options = {positional[0], positional[1], signing.secretKey, signing.passwordFile, signing.expiresDays,
               QDateTime::currentSecsSinceEpoch()};
    return true;
}

QByteArray utc(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1()
        + " UTC";
}

void printOutcome(const RollbackOptions& options, const RollbackSummary& summary)
{
    printClockNote(summary.clockBehindBy, summary.signedAt);
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
