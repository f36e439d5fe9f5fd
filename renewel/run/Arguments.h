#pragma once
// renewel's command line: "quiet" as the first argument selects quiet mode (exact and
// case-sensitive; later arguments don't count); --help and --version print and exit.

#include <QString>
#include <QStringList>

// Whether the command line asks for quiet mode (arguments[0] is the program).
bool QuietArgument(const QStringList& arguments);
// Whether it asks for a repair: "repair" as the first argument, a quiet run that compares every
// listed file by its checksum where the site has a checksum list.
bool RepairArgument(const QStringList& arguments);

enum class Command { Update, Check, Help, Version };
// --help or --version anywhere on the line; "check" as the first argument; anything else updates.
Command CommandOf(const QStringList& arguments);

// What --help prints.
QString UsageText();
