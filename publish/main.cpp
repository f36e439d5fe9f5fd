// renewel-publish, the studio's tool that turns a release folder into a (signed) update site,
// checks a published site, and sends it to its origin:
//   renewel-publish RELEASE_DIR SITE_DIR [--key SECRET_KEY_FILE] [--expires DAYS] [--dry-run]
//   renewel-publish verify SITE_DIR [--pub PUBLIC_KEY_FILE]
//   renewel-publish push SITE_DIR REMOTE [--keep N]
// Exit status: 0 done (verify: the site is whole), 1 failed, 2 bad usage. Failures are one line
// on standard error, "renewel-publish: WHAT: WHY".

#include "cli/PublishCommand.h"
#include "cli/PushCommand.h"
#include "cli/VerifyCommand.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("renewel-publish"));
    QCoreApplication::setApplicationVersion(QStringLiteral(IV_PUBLISH_VERSION));

    QStringList arguments = QCoreApplication::arguments();
    const QString command = arguments.value(1);
    if (command == QStringLiteral("verify") || command == QStringLiteral("push")) {
        arguments.removeAt(1);
        return command == QStringLiteral("verify") ? verifyCommand(arguments) : pushCommand(arguments);
    }
    return publishCommand(arguments);
}
