// renewel-publish verify and push: the commands that work on a published site.

#include "CommandLine.h"
#include "PublishError.h"
#include "Push.h"
#include "VerifySite.h"

#include <QDateTime>
#include <QFile>

int verifyCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Checks a published site as a player's updater would: the signature of update.sums with the\n"
        "public key (and its timestamp and expiry), update.txt against its checksum, every listed\n"
        "file's size and SHA-256, and each chunk index update.sums lists with each chunk it names.\n"
        "Each problem is one line on standard error.\n"
        "Exit status: 0 the site is whole, 1 it is not (or can't be read), 2 bad usage."));
    parser.addPositionalArgument(QStringLiteral("SITE_DIR"), QStringLiteral("The update site folder."));
    const QCommandLineOption pub(QStringLiteral("pub"),
                                 QStringLiteral("The studio's minisign public key file; without it, the signature is "
                                                "not checked."),
                                 QStringLiteral("PUBLIC_KEY_FILE"));
    parser.addOption(pub);
    if (!parseCommand(parser, arguments, QStringLiteral("verify")))
        return ExitUsage;
    if (parser.positionalArguments().size() != 1) {
        printError(QStringLiteral("usage"), QStringLiteral("SITE_DIR is needed (see verify --help)"));
        return ExitUsage;
    }
    const QString site = parser.positionalArguments().constFirst();
    const SiteCheck check = verifySite(site, parser.value(pub), QDateTime::currentSecsSinceEpoch());
    for (const SiteProblem& problem : check.problems)
        printError(problem.subject, problem.reason);
    QByteArray line = "renewel-publish: " + QFile::encodeName(site) + ": " + QByteArray::number(check.files)
        + " files, " + QByteArray::number(check.bytes) + " bytes";
    if (check.indexes > 0)
        line += ", " + QByteArray::number(check.indexes) + " chunk indexes, " + QByteArray::number(check.chunks) + " chunks";
    line += " checked; ";
    line += check.problems.isEmpty() ? QByteArray(parser.isSet(pub) ? "the site is whole and its signature verifies"
                                                                    : "the site is whole (signature not checked)")
                                     : QByteArray::number(check.problems.size()) + " problems";
    printLine(line);
    return check.problems.isEmpty() ? ExitDone : ExitFailed;
}

int pushCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sends a published site to its origin with rclone (any remote rclone knows, such as\n"
        "\"s3:bucket/updates\" or \"origin:/srv/updates\"): changed objects first, then the lists\n"
        "(update.sums.minisig, update.sums, update.txt), and only then deletes the objects that no\n"
        "site of the last N pushes held, so a player still using an older list finds its files.\n"
        "Only objects that changed are sent. Prints each object sent and deleted.\n"
        "Exit status: 0 pushed, 1 failed, 2 bad usage."));
    parser.addPositionalArgument(QStringLiteral("SITE_DIR"), QStringLiteral("The update site folder."));
    parser.addPositionalArgument(QStringLiteral("REMOTE"), QStringLiteral("The rclone remote and path."));
    const QCommandLineOption keep(QStringLiteral("keep"),
                                  QStringLiteral("Keep the objects of the N pushes before this one (default 1)."),
                                  QStringLiteral("N"), QStringLiteral("1"));
    parser.addOption(keep);
    if (!parseCommand(parser, arguments, QStringLiteral("push")))
        return ExitUsage;
    if (parser.positionalArguments().size() != 2) {
        printError(QStringLiteral("usage"), QStringLiteral("SITE_DIR and REMOTE are needed (see push --help)"));
        return ExitUsage;
    }
    PushOptions options{parser.positionalArguments()[0], parser.positionalArguments()[1]};
    bool ok = false;
    options.keep = parser.value(keep).toInt(&ok);
    if (!ok || options.keep < 0 || options.keep > 1000) {
        printError(QStringLiteral("--keep"), QStringLiteral("N must be a whole number from 0 to 1000"));
        return ExitUsage;
    }
    try {
        const PushSummary summary = pushSite(options);
        for (const QString& object : summary.sent)
            printLine("sent " + object.toUtf8());
        for (const QString& object : summary.deleted)
            printLine("deleted " + object.toUtf8());
        printLine("renewel-publish: " + options.remote.toUtf8() + ": " + QByteArray::number(summary.sent.size())
                  + " objects sent, " + QByteArray::number(summary.deleted.size()) + " deleted");
        return ExitDone;
    } catch (const PublishError& error) {
        printError(error.subject, error.reason);
        return ExitFailed;
    }
}
