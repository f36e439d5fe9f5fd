// renewel-publish, the studio's tool that turns a release folder into a (signed) update site:
//   renewel-publish RELEASE_DIR SITE_DIR [--key SECRET_KEY_FILE] [--expires DAYS]
// Exit status: 0 published, 1 failed, 2 bad usage. Failures are one line on standard error,
// "renewel-publish: WHAT: WHY".

#include "Publish.h"
#include "PublishError.h"
#include "ShownText.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>

#include <cstdio>

namespace {

constexpr int MaxExpiresDays = 36500;

// One line whatever the subject and reason hold (names may carry CR, LF or bytes that are not UTF-8).
void printError(const QByteArray& subject, const QString& reason)
{
    std::fprintf(stderr, "renewel-publish: %s: %s\n", shownText(subject).constData(),
                 shownText(reason.toUtf8()).constData());
}

void printError(const QString& subject, const QString& reason) { printError(QFile::encodeName(subject), reason); }

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("renewel-publish"));
    QCoreApplication::setApplicationVersion(QStringLiteral(IV_PUBLISH_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Turns a release folder into an update site for renewel: copies every file of RELEASE_DIR into\n"
        "the site under the same path and writes update.txt and update.sums (SHA-256 of each file).\n"
        "With --key, update.sums is signed with the minisign tool into update.sums.minisig, with the\n"
        "current time as timestamp; players' updaters with the matching UpdateKey accept only that.\n"
        "SITE_DIR becomes a link to the complete release in SITE_DIR.releases, switched in one step.\n"
        "Other files of the site carry over. Nothing is written when a check fails.\n"
        "Exit status: 0 published, 1 failed, 2 bad usage."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("RELEASE_DIR"), QStringLiteral("The release folder."));
    parser.addPositionalArgument(QStringLiteral("SITE_DIR"), QStringLiteral("The update site folder."));
    const QCommandLineOption key(QStringLiteral("key"),
                                 QStringLiteral("Sign with this minisign secret key file."),
                                 QStringLiteral("SECRET_KEY_FILE"));
    const QCommandLineOption expires(QStringLiteral("expires"),
                                     QStringLiteral("The signed list expires after DAYS days (1-%1).")
                                         .arg(MaxExpiresDays),
                                     QStringLiteral("DAYS"));
    parser.addOption(key);
    parser.addOption(expires);

    if (!parser.parse(QCoreApplication::arguments())) {
        printError(QStringLiteral("usage"), parser.errorText() + QStringLiteral(" (see --help)"));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2) {
        printError(QStringLiteral("usage"), QStringLiteral("RELEASE_DIR and SITE_DIR are needed (see --help)"));
        return 2;
    }

    PublishOptions options;
    options.releaseDir = positional[0];
    options.siteDir = positional[1];
    options.secretKey = parser.value(key);
    options.now = QDateTime::currentSecsSinceEpoch();
    if (parser.isSet(expires)) {
        bool ok = false;
        options.expiresDays = parser.value(expires).toInt(&ok);
        if (!ok || options.expiresDays < 1 || options.expiresDays > MaxExpiresDays) {
            printError(QStringLiteral("--expires"), QStringLiteral("DAYS must be a whole number from 1 to %1")
                                                        .arg(MaxExpiresDays));
            return 2;
        }
        if (options.secretKey.isEmpty()) {
            printError(QStringLiteral("--expires"), QStringLiteral("only a signed list can expire (give --key)"));
            return 2;
        }
    }

    try {
        const PublishSummary summary = publishRelease(options);
        std::printf("renewel-publish: %d files, %lld bytes published to %s%s\n", summary.files,
                    static_cast<long long>(summary.bytes), options.siteDir.toLocal8Bit().constData(),
                    options.secretKey.isEmpty() ? " (not signed)" : ", signed");
        return 0;
    } catch (const PublishError& error) {
        printError(error.subject, error.reason);
        return 1;
    } catch (const std::exception& error) {
        printError(options.siteDir, QString::fromLocal8Bit(error.what()));
        return 1;
    }
}
