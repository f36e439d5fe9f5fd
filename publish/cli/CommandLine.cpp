#include "cli/CommandLine.h"

#include "SafeText.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

void printError(const QByteArray& subject, const QString& reason)
{
    std::fprintf(stderr, "renewel-publish: %s: %s\n", SafeText(subject, StrayBytes::Escape).constData(),
                 SafeText(reason.toUtf8(), StrayBytes::Escape).constData());
}

void printError(const QString& subject, const QString& reason) { printError(QFile::encodeName(subject), reason); }

void printLine(const QByteArray& line)
{
    std::printf("%s\n", SafeText(line, StrayBytes::Escape).constData());
    std::fflush(stdout);  // a pipe or log sees each line when it happens
}

bool parseCommand(QCommandLineParser& parser, const QStringList& arguments, const QString& command)
{
    parser.addHelpOption();
    parser.addVersionOption();
    if (!parser.parse(arguments)) {
        printError(QStringLiteral("usage"), parser.errorText() + QStringLiteral(" (see --help)"));
        return false;
    }
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        // The usage line names the program, not the path it was started by.
        QString text = parser.helpText();
        const qsizetype end = text.indexOf('\n');
        QString first = text.left(end);
        first.replace(arguments.constFirst(), command.isEmpty() ? QStringLiteral("renewel-publish")
                                                               : QStringLiteral("renewel-publish ") + command);
        text.replace(0, end, first);
        std::fputs(text.toLocal8Bit().constData(), stdout);
        std::exit(ExitDone);
    }
    return true;
}
