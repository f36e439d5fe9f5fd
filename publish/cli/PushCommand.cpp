#include "cli/PushCommand.h"

#include "cli/CommandLine.h"
#include "cli/TerminalProgress.h"
#include "common/PublishError.h"
#include "push/Pusher.h"

#include <QFile>

namespace {

const QString Description = QStringLiteral(
    "Sends a published site to its origin with rclone (any remote rclone knows, such as\n"
    "\"s3:bucket/updates\" or \"origin:/srv/updates\"): changed objects first, then the lists\n"
    "(update.sums.minisig, update.sums, update.txt), and only then deletes the objects that no\n"
    "site of the last N pushes held, so a player still using an older list finds its files.\n"
    "Only what the remote lacks or holds otherwise is sent (one listing of the remote says what it\n"
    "holds), and an object the remote holds is sent beside it and moved over its name. Prints each\n"
    "object as it is sent and deleted, and a progress line on a terminal.\n"
    "Exit status: 0 pushed, 1 failed, 2 bad usage.");

int runPush(const PushOptions& options)
{
    try {
        // Each object is told as it lands; the progress line makes way for it.
        TerminalProgress progress;
        const auto line = [&](const char* word) {
            return [&progress, word](const QString& object) {
                progress.end();
                printLine(word + object.toUtf8());
            };
        };
        const PushSummary summary = Pusher(options, progress, {line("sent "), line("deleted ")}).run();
        progress.end();
        printLine("renewel-publish: " + options.remote.toUtf8() + ": " + QByteArray::number(summary.sent.size())
                  + " objects sent, " + QByteArray::number(summary.deleted.size()) + " deleted");
        return ExitDone;
    } catch (const PublishError& error) {
        printError(error.subject, error.reason);
        return ExitFailed;
    }
}

}  // namespace

int pushCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(Description);
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
    return runPush(options);
}
