// renewel-publish, the studio's tool that turns a release folder into a (signed) update site,
// checks a published site, and sends it to its origin:
//   renewel-publish RELEASE_DIR SITE_DIR [--key SECRET_KEY_FILE] [--expires DAYS] [--dry-run]
//   renewel-publish verify SITE_DIR [--pub PUBLIC_KEY_FILE]
//   renewel-publish push SITE_DIR REMOTE [--keep N]
//   renewel-publish releases SITE_DIR
//   renewel-publish rollback SITE_DIR RELEASE [--key SECRET_KEY_FILE] [--expires DAYS]
// Exit status: 0 done (verify: the site is whole), 1 failed, 2 bad usage. Failures are one line
// on standard error, "renewel-publish: WHAT: WHY".

#include "cli/PublishCommand.h"
#include "cli/PushCommand.h"
#include "cli/ReleasesCommand.h"
#include "cli/RollbackCommand.h"
#include "cli/VerifyCommand.h"

#include <QCoreApplication>
#include <QHash>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("renewel-publish"));
    QCoreApplication::setApplicationVersion(QStringLiteral(IV_PUBLISH_VERSION));

    QStringList arguments = QCoreApplication::arguments();
    const QString command = arguments.value(1);
    const QHash<QString, int (*)(const QStringList&)> commands = {
        {QStringLiteral("verify"), verifyCommand},
        {QStringLiteral("push"), pushCommand},
        {QStringLiteral("releases"), releasesCommand},
        {QStringLiteral("rollback"), rollbackCommand},
    };
    if (const auto run = commands.value(command)) {
        arguments.removeAt(1);
        return run(arguments);
    }
    return publishCommand(arguments);
}
