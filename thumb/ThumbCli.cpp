#include "ThumbCli.h"

#include "ErrorReport.h"
#include "Exception.h"
#include "ExportTargets.h"
#include "ThumbnailExport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <memory>
#include <optional>

namespace {

struct Request {
    QString out;
    QStringList maps;
};

// Window options Qt takes for itself; with these alone the window opens.
bool isQtWindowOption(const QString& arg)
{
    static const QStringList options = {
        QStringLiteral("-platform"), QStringLiteral("-platformpluginpath"), QStringLiteral("-platformtheme"),
        QStringLiteral("-plugin"), QStringLiteral("-qwindowgeometry"), QStringLiteral("-qwindowtitle"),
        QStringLiteral("-qwindowicon"), QStringLiteral("-style"), QStringLiteral("-stylesheet"),
        QStringLiteral("-reverse"), QStringLiteral("-session"), QStringLiteral("-widgetcount"),
        QStringLiteral("-display"), QStringLiteral("-geometry"), QStringLiteral("-nograb"),
        QStringLiteral("-dograb"), QStringLiteral("-sync")};
    return options.contains(arg) || options.contains(arg.section(QLatin1Char('='), 0, 0));
}

bool takesValue(const QString& option)
{
    return option != QStringLiteral("-reverse") && option != QStringLiteral("-nograb")
        && option != QStringLiteral("-dograb") && option != QStringLiteral("-sync")
        && option != QStringLiteral("-widgetcount") && !option.contains(QLatin1Char('='));
}

std::optional<Request> parse(const QStringList& args)
{
    Request request;
    bool haveOut = false;
    bool onlyMaps = false;
    for (int i = 1; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (!onlyMaps && arg == QStringLiteral("--")) {
            onlyMaps = true;
        } else if (!onlyMaps && arg == QStringLiteral("-o")) {
            if (haveOut || i + 1 >= args.size() || args[i + 1].isEmpty())
                return std::nullopt;
            request.out = args[++i];
            haveOut = true;
        } else if (!onlyMaps && arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            return std::nullopt;
        } else {
            request.maps << arg;
        }
    }
    if (!haveOut || request.maps.isEmpty())
        return std::nullopt;
    return request;
}

void printError(const QString& text)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

} // namespace

bool isCommandLineRun(const QStringList& args)
{
    for (int i = 1; i < args.size(); ++i) {
        if (!isQtWindowOption(args[i]))
            return true;
        if (takesValue(args[i]))
            ++i;
    }
    return false;
}

QString commandLineUsage()
{
    return QStringLiteral(
        "Usage: thumb -o OUT MAP...\n"
        "Renders the 160 x 160 thumbnail of each map file as a 24-bit BMP, without a window.\n"
        "  -o OUT   with one MAP, the output file (\".bmp\" is appended unless the name ends in\n"
        "           a three-letter extension); with several, the output folder (created when\n"
        "           missing), which receives <map name without extension>.bmp for each map;\n"
        "           a second map of the same name is reported and not written, and no output\n"
        "           is ever written over one of the maps\n"
        "  --help   show this text\n"
        "Without arguments, thumb opens its window; \"thumb MAP\" opens it with that map.\n"
        "Exit status: 0 all thumbnails written, 1 some map failed, 2 bad usage.\n");
}

int runCommandLine(const QStringList& args)
{
    if (args.size() == 2 && (args[1] == QStringLiteral("--help") || args[1] == QStringLiteral("-h"))) {
        std::fputs(commandLineUsage().toLocal8Bit().constData(), stdout);
        return 0;
    }
    const std::optional<Request> request = parse(args);
    if (!request) {
        std::fputs(commandLineUsage().toLocal8Bit().constData(), stderr);
        return 2;
    }

    // The export draws into images only: a core application is all it needs, so no display is
    // ever asked for.
    static int argc = 1;
    static char name[] = "thumb";
    static char* argv[] = {name, nullptr};
    std::unique_ptr<QCoreApplication> app;
    if (!QCoreApplication::instance())
        app = std::make_unique<QCoreApplication>(argc, argv);

    std::unique_ptr<BundledTextures> bundled;
    try {
        bundled = std::make_unique<BundledTextures>();
    } catch (const Exception& e) {
        printError(QStringLiteral("thumb: ") + errorReportText(e.message()));
        return 1;
    }

    const bool toFolder = request->maps.size() > 1;
    if (toFolder)
        QDir().mkpath(request->out);
    MapRenderer renderer;
    ExportTargets targets(request->maps);
    int failures = 0;
    for (const QString& map : request->maps) {
        const QString target = toFolder
            ? QDir(request->out).filePath(QFileInfo(map).completeBaseName() + QStringLiteral(".bmp"))
            : withBmpExtension(request->out);
        try {
            targets.check(map, target);
            exportMapThumbnail(map, target, renderer, bundled->textures());
            targets.written(map, target);
        } catch (const Exception& e) {
            printError(map + QStringLiteral(": ") + errorReportText(e.message()));
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
