#include "ThumbArguments.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

#include <utility>

namespace {

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

ThumbRequest badUsage(const QString& problem)
{
    ThumbRequest request;
    request.problem = problem;
    return request;
}

ThumbRequest badUsageSeeHelp(const QString& problem)
{
    return badUsage(problem + QStringLiteral(" (see thumb --help)"));
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

QString windowMapArgument(const QStringList& args)
{
    if (!isCommandLineRun(args))
        return QString();  // only Qt's own options: no map
    // From the end, so that the value of a Qt option ("-platform offscreen") is not taken for it.
    for (qsizetype i = args.size() - 1; i >= 1; --i) {
        if (args[i].startsWith(QLatin1Char('-')))
            continue;
        QStringList rest = args;
        rest.removeAt(i);
        if (!isCommandLineRun(rest))
            return args[i];
    }
    return QString();
}

QString commandLineUsage()
{
    return QStringLiteral(
        "Usage: thumb -o OUT MAP... [--size N] [--fill] [--format bmp|png] [--preview]\n"
        "Renders the thumbnail of each map file without a window: the map's terrain over a grass\n"
        "background, 160 x 160 pixels unless --size says otherwise.\n"
        "  -o OUT        with one MAP, the output file: a PNG when OUT ends in \".png\", else a BMP\n"
        "                (\".bmp\" is appended unless the name ends in a three-letter extension);\n"
        "                with several, the output folder (created when missing), which receives\n"
        "                <map name without extension>.bmp (or .png) for each map; a second map of\n"
        "                the same name is reported and not written, and no output is ever written\n"
        "                over one of the maps\n"
        "  --size N      the thumbnail's edge in pixels, from 16 to 1024 (default 160); each cell\n"
        "                is N div (map width) by N div (map height) pixels, as in the window\n"
        "  --fill        the cells fill the whole square, whatever the map's size (they differ by\n"
        "                at most a pixel); without it a 100-cell map at --size 256 covers 200 x 200\n"
        "  --format FMT  bmp (24-bit) or png (8 bits per channel); OUT is then used exactly as given\n"
        "  --preview     a file manager's preview: the map scaled to fill the square, centred, with\n"
        "                transparent margins, as a PNG under exactly the name OUT; an existing OUT is\n"
        "                written into (the file manager made it); maps must be 1 to 100 cells across\n"
        "                and down\n"
        "  --help        show this text\n"
        "  --version     show the version\n"
        "Without arguments, thumb opens its window; \"thumb MAP\" opens it with that map.\n"
        "Exit status: 0 all thumbnails written, 1 some map failed, 2 bad usage.\n");
}

QString ThumbRequest::target(const QString& map) const
{
    const QString extension = file.format == ImageFormat::Png ? QStringLiteral(".png") : QStringLiteral(".bmp");
    if (toFolder())
        return QDir(out).filePath(QFileInfo(map).completeBaseName() + extension);
    if (formatGiven || file.format == ImageFormat::Png)
        return out;
    return withBmpExtension(out);
}

ThumbRequest parseThumbArguments(const QStringList& args)
{
    QCommandLineParser parser;
    const QCommandLineOption outOption(QStringLiteral("o"), QString(), QStringLiteral("OUT"));
    const QCommandLineOption sizeOption(QStringLiteral("size"), QString(), QStringLiteral("N"));
    const QCommandLineOption formatOption(QStringLiteral("format"), QString(), QStringLiteral("FMT"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption versionOption(QStringLiteral("version"));
    const QCommandLineOption previewOption(QStringLiteral("preview"));
    const QCommandLineOption fillOption(QStringLiteral("fill"));
    parser.addOptions({outOption, sizeOption, formatOption, helpOption, versionOption, previewOption, fillOption});
    if (!parser.parse(args))
        return badUsageSeeHelp(parser.errorText());

    const int given = int(parser.optionNames().size());
    ThumbRequest request;
    if (parser.isSet(helpOption) || parser.isSet(versionOption)) {
        if (given != 1 || !parser.positionalArguments().isEmpty())
            return badUsageSeeHelp(QStringLiteral("--help and --version take nothing else"));
        request.kind = parser.isSet(helpOption) ? ThumbRequest::Kind::Help : ThumbRequest::Kind::Version;
        return request;
    }

    const QStringList outs = parser.values(outOption);
    request.maps = parser.positionalArguments();
    if (outs.isEmpty() || outs.first().isEmpty())
        return badUsageSeeHelp(QStringLiteral("-o OUT is needed"));
    if (request.maps.isEmpty())
        return badUsageSeeHelp(QStringLiteral("no map given"));
    const std::pair<const QCommandLineOption*, const char*> once[] = {
        {&outOption, "-o"}, {&sizeOption, "--size"}, {&formatOption, "--format"}};
    for (const auto& [option, name] : once)
        if (parser.values(*option).size() > 1)
            return badUsageSeeHelp(QStringLiteral("%1 given more than once").arg(QLatin1String(name)));
    request.out = outs.first();
    request.file.preview = parser.isSet(previewOption);
    request.file.fill = parser.isSet(fillOption);

    if (parser.isSet(sizeOption)) {
        const QString text = parser.value(sizeOption);
        bool ok = false;
        const int size = text.toInt(&ok);
        if (!ok || size < MinThumbnailSize || size > MaxThumbnailSize)
            return badUsage(QStringLiteral("--size %1: not a whole number from %2 to %3")
                                .arg(text).arg(MinThumbnailSize).arg(MaxThumbnailSize));
        request.file.size = size;
    }
    if (parser.isSet(formatOption)) {
        const QString format = parser.value(formatOption).toLower();
        if (format != QStringLiteral("bmp") && format != QStringLiteral("png"))
            return badUsage(QStringLiteral("--format %1: not bmp or png").arg(parser.value(formatOption)));
        request.file.format = format == QStringLiteral("png") ? ImageFormat::Png : ImageFormat::Bmp;
        request.formatGiven = true;
    }
    if (request.file.preview) {
        if (request.file.format == ImageFormat::Bmp && request.formatGiven)
            return badUsage(QStringLiteral("--preview makes PNG pictures, not --format bmp"));
        request.file.format = ImageFormat::Png;
        request.formatGiven = true;
    } else if (!request.formatGiven && !request.toFolder()
               && request.out.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive)) {
        request.file.format = ImageFormat::Png;
    }
    request.kind = ThumbRequest::Kind::Export;
    return request;
}
