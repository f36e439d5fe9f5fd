#pragma once
// What renewel-publish's commands share: the error line and the usage text.

#include <QByteArray>
#include <QCommandLineParser>
#include <QString>

constexpr int ExitDone = 0, ExitFailed = 1, ExitUsage = 2;

// "renewel-publish: SUBJECT: REASON" on standard error, one line whatever the names hold.
void printError(const QByteArray& subject, const QString& reason);
void printError(const QString& subject, const QString& reason);
// One line of standard output, escaped like the error lines.
void printLine(const QByteArray& line);

// Parses arguments (the program, then the command's own arguments); handles --help and
// --version. Returns false after printing a usage error.
bool parseCommand(QCommandLineParser& parser, const QStringList& arguments, const QString& command);
