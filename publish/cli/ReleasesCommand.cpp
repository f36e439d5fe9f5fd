#include "cli/ReleasesCommand.h"

#include "cli/CommandLine.h"
#include "common/PublishError.h"
#include "release/Rollback.h"
#include "release/SiteLayout.h"

#include <QDateTime>

namespace {

const QString Description = QStringLiteral(
    "Lists the earlier releases kept beside the site (the last %1 before the current one), newest\n"
    "first: the name to give renewel-publish rollback, when it was published (its signature's\n"
    "time), how many files its list names, and whether it was signed.\n"
    "Exit status: 0 listed, 1 failed, 2 bad usage.");

QByteArray line(const KeptRelease& release)
{
    const QDateTime published = QDateTime::fromSecsSinceEpoch(release.published, Qt::UTC);
    return release.name.toUtf8() + "  published " + published.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1()
        + " UTC  " + QByteArray::number(release.files) + " files  " + (release.isSigned ? "signed" : "not signed");
}

}  // namespace

int releasesCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(Description.arg(SiteLayout::KeptReleases));
    parser.addPositionalArgument(QStringLiteral("SITE_DIR"), QStringLiteral("The update site folder."));
    if (!parseCommand(parser, arguments, QStringLiteral("releases")))
        return ExitUsage;
    if (parser.positionalArguments().size() != 1) {
        printError(QStringLiteral("usage"), QStringLiteral("SITE_DIR is needed (see releases --help)"));
        return ExitUsage;
    }
    try {
        const QList<KeptRelease> releases = keptReleasesOf(parser.positionalArguments()[0]);
        for (const KeptRelease& release : releases)
            printLine(line(release));
        printLine("renewel-publish: " + QByteArray::number(releases.size()) + " earlier releases kept");
        return ExitDone;
    } catch (const PublishError& error) {
        printError(error.subject, error.reason);
        return ExitFailed;
    }
}
