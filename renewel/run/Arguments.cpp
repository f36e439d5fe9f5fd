#include "run/Arguments.h"

bool QuietArgument(const QStringList& arguments)
{
    return arguments.size() > 1 && arguments.at(1) == QLatin1String("quiet");
}

bool RepairArgument(const QStringList& arguments)
{
    return arguments.size() > 1 && arguments.at(1) == QLatin1String("repair");
}

TCommand CommandOf(const QStringList& arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--help") || arguments[i] == QLatin1String("-h"))
            return TCommand::Help;
        if (arguments[i] == QLatin1String("--version"))
            return TCommand::Version;
    }
    return TCommand::Update;
}

QString UsageText()
{
    return QStringLiteral(
        "Usage: renewel [quiet | repair]\n"
        "Brings the installation in the program's folder up to date from the update site named\n"
        "in renewel.lng (read from the current folder).\n"
        "\n"
        "  (no argument)  show the update window; the update starts when Update is pressed\n"
        "  quiet          update at once without any message, and end by itself\n"
        "  repair         like quiet, but compare every file by its checksum (signed sites),\n"
        "                 so that a damaged file of the right size is fetched again\n"
        "  --help         show this text\n"
        "  --version      show the version\n"
        "\n"
        "Exit status: 0 the update completed (or nothing needed doing; after repair: the\n"
        "installation is intact), 1 it stopped on a\n"
        "failure (one line on standard error says which file and why), 2 the window was closed\n"
        "during the update.\n");
}
