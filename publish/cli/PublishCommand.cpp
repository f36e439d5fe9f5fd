#include "cli/PublishCommand.h"

#include "cli/CommandLine.h"
#include "cli/FileCostLines.h"
#include "cli/SigningOptions.h"
#include "cli/TerminalProgress.h"
#include "common/PublishError.h"
#include "release/Publish.h"

#include <QDateTime>
#include <QFile>


namespace {

void printChanges(const ChangeList& changes)
{
    for (const auto& [word, paths] : {std::pair{"added", &changes.added}, std::pair{"changed", &changes.changed},
                                      std::pair{"removed", &changes.removed}}) {
        for (const QString& path : *paths)
            printLine(QByteArray(word) + ' ' + path.toUtf8());
    }
}

void printSummary(const PublishOptions& options, const PublishSummary& summary)
{
    const ChangeList& changes = summary.changes;
    const QByteArray site = QFile::encodeName(options.siteDir);
    QByteArray line = "renewel-publish: " + QByteArray::number(changes.added.size()) + " added, "
        + QByteArray::number(changes.changed.size()) + " changed, " + QByteArray::number(changes.removed.size())
        + " removed, " + QByteArray::number(changes.unchanged) + " unchanged; "
        + QByteArray::number(summary.files) + " files, " + QByteArray::number(summary.bytes) + " bytes ";
    line += options.dryRun ? "would be published to " + site + " (dry run, nothing written"
                           : "published to " + site + (options.secretKey.isEmpty() ? " (not signed" : " (signed");
    line += "; " + QByteArray::number(summary.filesRead) + " files read, " + QByteArray::number(summary.bytesRead)
        + " bytes)";
    if (const ChunkStoreSummary& chunks = summary.chunks; chunks.enabled)
        line += "; chunk store: " + QByteArray::number(chunks.chunksWritten) + " chunks written ("
            + QByteArray::number(chunks.bytesWritten) + " bytes), " + QByteArray::number(chunks.chunksKept) + " kept ("
            + QByteArray::number(chunks.bytesKept) + " bytes)";
    if (const PatchSummary& patches = summary.patches; patches.enabled && patches.patched + patches.chunked + patches.whole > 0)
        line += "; changed files for players of the previous release: " + QByteArray::number(patches.patched)
            + " by patch (" + QByteArray::number(patches.patchBytes) + " bytes), " + QByteArray::number(patches.chunked)
            + " by chunks (" + QByteArray::number(patches.chunkBytes) + " bytes), " + QByteArray::number(patches.whole)
            + " whole (" + QByteArray::number(patches.wholeBytes) + " bytes)";
    printLine(line);
    for (const QByteArray& cost : fileCostLines(summary.patches))
        printLine(cost);
    for (const PatchSummary::LowReuse& file : summary.patches.lowReuse)
        printLine("renewel-publish: warning: " + file.file.toUtf8() + ": players of the previous release download "
                  + QByteArray::number(file.cost * 100 / file.size) + " % of its " + QByteArray::number(file.size)
                  + " bytes (little of it is reused: compressed or encrypted content changes throughout)");
}

const QString Description = QStringLiteral(
    "Turns a release folder into an update site for renewel: copies every file of RELEASE_DIR into\n"
    "the site under the same path and writes update.txt and update.sums (SHA-256 of each file).\n"
    "With --key, update.sums is signed with the minisign tool into update.sums.minisig, with the\n"
    "current time as timestamp (one second after the site's last signature when this machine's\n"
    "clock is behind it); players' updaters with the matching UpdateKey accept only that.\n"
    "SITE_DIR becomes a link to the complete release in SITE_DIR.releases, switched in one step.\n"
    "Files unchanged since the last publish are not read again. Other files of the site carry\n"
    "over. Nothing is written when a check fails. Prints each file added, changed and removed.\n"
    "Files of at least --chunk-min-size bytes also go into the site's chunk store (chunks/, kept\n"
    "once in SITE_DIR.releases for all releases), from which updaters fetch only changed chunks.\n"
    "\n"
    "Other commands (see renewel-publish verify --help, renewel-publish push --help):\n"
    "  renewel-publish verify SITE_DIR [--pub PUBLIC_KEY_FILE]   check a published site\n"
    "  renewel-publish push SITE_DIR REMOTE [--keep N]           send a site to its origin\n"
    "  renewel-publish releases SITE_DIR                        list the releases kept to go back to\n"
    "  renewel-publish rollback SITE_DIR RELEASE [--key ...]    publish a kept release again, signed anew\n"
    "\n"
    "Exit status: 0 published, 1 failed, 2 bad usage.");

// The command's options, added to a parser.
struct Options {
    explicit Options(QCommandLineParser& parser)
        : signing(parser, QStringLiteral(" Without it, a key with a password is asked for on the terminal."))
    {
        parser.setApplicationDescription(Description);
        parser.addPositionalArgument(QStringLiteral("RELEASE_DIR"), QStringLiteral("The release folder."));
        parser.addPositionalArgument(QStringLiteral("SITE_DIR"), QStringLiteral("The update site folder."));
        parser.addOptions({dryRun, chunkMinSize});
    }

    const SigningOptions signing;
    const QCommandLineOption dryRun{QStringLiteral("dry-run"),
                                    QStringLiteral("Print what would be added, changed and removed; write nothing.")};
    const QCommandLineOption chunkMinSize{QStringLiteral("chunk-min-size"),
                                          QStringLiteral("Put files of at least BYTES bytes into the chunk store "
                                                         "(default %1; 0: no chunk store).")
                                              .arg(ChunkPublisher::DefaultMinSize),
                                          QStringLiteral("BYTES")};
};

// --chunk-min-size into options; false after printing a usage error.
bool readChunkMinSize(const QCommandLineParser& parser, const Options& given, PublishOptions& options)
{
    bool ok = false;
    if (parser.isSet(given.chunkMinSize)) {
        options.chunkMinSize = parser.value(given.chunkMinSize).toLongLong(&ok);
        if (!ok || options.chunkMinSize < 0) {
            printError(QStringLiteral("--chunk-min-size"), QStringLiteral("BYTES must be a whole number, 0 or more"));
            return false;
        }
    }
    return true;
}

// The publish the command line asks for; false after printing a usage error.
bool readOptions(const QCommandLineParser& parser, const Options& given, PublishOptions& options)
{
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2) {
        printError(QStringLiteral("usage"), QStringLiteral("RELEASE_DIR and SITE_DIR are needed (see --help)"));
        return false;
    }
    options.releaseDir = positional[0];
    options.siteDir = positional[1];
    options.dryRun = parser.isSet(given.dryRun);
    options.now = QDateTime::currentSecsSinceEpoch();
    Signing signing;
    if (!given.signing.read(parser, signing) || !readChunkMinSize(parser, given, options))
        return false;
    options.secretKey = signing.secretKey;
    options.passwordFile = signing.passwordFile;
    options.expiresDays = signing.expiresDays;
    return true;
}

int runPublish(const PublishOptions& options)
{
    try {
        TerminalProgress progress;
        const PublishSummary summary = publishRelease(options, progress);
        printChanges(summary.changes);
        printClockNote(summary.clockBehindBy, summary.signedAt);
        printSummary(options, summary);
        return ExitDone;
    } catch (const PublishError& error) {
        printError(error.subject, error.reason);
        return ExitFailed;
    } catch (const std::exception& error) {
        printError(options.siteDir, QString::fromLocal8Bit(error.what()));
        return ExitFailed;
    }
}

}  // namespace

int publishCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    const Options given(parser);
    if (!parseCommand(parser, arguments, {}))
        return ExitUsage;
    PublishOptions options;
    if (!readOptions(parser, given, options))
        return ExitUsage;
    return runPublish(options);
}

