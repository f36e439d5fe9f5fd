#include "run/Arguments.h"

bool QuietArgument(const QStringList& arguments)
{
    return arguments.size() > 1 && arguments.at(1) == QLatin1String("quiet");
}

bool RepairArgument(const QStringList& arguments)
{
    return arguments.size() > 1 && arguments.at(1) == QLatin1String("repair");
}

Command CommandOf(const QStringList& arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--help") || arguments[i] == QLatin1String("-h"))
            return Command::Help;
        if (arguments[i] == QLatin1String("--version"))
            return Command::Version;
    }
    if (arguments.size() > 1 && arguments.at(1) == QLatin1String("check"))
        return Command::Check;
    return Command::Update;
}

QString UsageText()
{
    return QStringLiteral(
        "Usage: renewel [quiet | repair | check]\n"
        "Brings the installation in the program's folder up to date from the update site named\n"
        "in renewel.lng (read from the current folder, else from the program's folder).\n"
        "\n"
        "  (no argument)  show the update window; the update starts when Update is pressed\n"
        "  quiet          update at once without any message, and end by itself\n"
        "  repair         like quiet, but read every file again to compare it with its checksum,\n"
        "                 however sure the record of installed files is that it is unchanged\n"
        "  quiet --progress, repair --progress\n"
        "                 also write one line per event on standard output for a launcher:\n"
        "                 \"list N\", \"start PATH SIZE\", \"bytes DONE TOTAL\", \"installed PATH\",\n"
        "                 \"deleted PATH\", and last \"end completed|failed|cancelled STATUS\"\n"
        "  check          print what an update would do and change nothing: one line per file,\n"
        "                 \"fetch PATH SIZE\", \"delete PATH\" or \"mode PATH +x|-x\", then \"up to\n"
        "                 date\" or \"update due: N to fetch (B bytes), M to delete\" (and\n"
        "                 \", K to change mode\"); no window, no display\n"
        "  --help         show this text\n"
        "  --version      show the version\n"
        "\n"
        "Where the site has checksums (update.sums), files are compared by content, otherwise by\n"
        "size; files a newer release dropped are deleted unless the player changed them.\n"
        "\n"
        "Exit status: 0 the update completed (or nothing needed doing; check: up to date), 1 it\n"
        "stopped on a failure (one line on standard error says which file and why), 2 the update\n"
        "was cancelled (the window closed; SIGINT, SIGTERM or SIGHUP), 3 (check only) an update\n"
        "is due. quiet, repair and check need no display.\n");
}
