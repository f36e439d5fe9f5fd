#include "cli/VerifyCommand.h"

#include "cli/CommandLine.h"
#include "cli/TerminalProgress.h"
#include "verify/VerifySite.h"

#include <QDateTime>
#include <QFile>

namespace {

// "renewel-publish: SITE: N files, B bytes[, I chunk indexes, C chunks] checked; VERDICT"
QByteArray summaryLine(const QString& site, const SiteCheck& check, bool signatureChecked)
{
    QByteArray line = "renewel-publish: " + QFile::encodeName(site) + ": " + QByteArray::number(check.files)
        + " files, " + QByteArray::number(check.bytes) + " bytes";
    if (check.indexes > 0)
        line += ", " + QByteArray::number(check.indexes) + " chunk indexes, " + QByteArray::number(check.chunks) + " chunks";
    line += " checked; ";
    line += check.problems.isEmpty() ? QByteArray(signatureChecked ? "the site is whole and its signature verifies"
                                                                    : "the site is whole (signature not checked)")
                                     : QByteArray::number(check.problems.size()) + " problems";
    return line;
}

}  // namespace

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
    TerminalProgress progress;
    const SiteCheck check = verifySite(site, parser.value(pub), QDateTime::currentSecsSinceEpoch(), progress);
    for (const SiteProblem& problem : check.problems)
        printError(problem.subject, problem.reason);
    printLine(summaryLine(site, check, parser.isSet(pub)));
    return check.problems.isEmpty() ? ExitDone : ExitFailed;
}
