#include "ThumbCli.h"

#include "ErrorReport.h"
#include "Exception.h"
#include "ExportTargets.h"
#include "FileName.h"
#include "ThumbnailExport.h"

#include <QCoreApplication>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#ifndef IV_VERSION
#error "IV_VERSION must name the program's version"
#endif

namespace {

// One line on standard error, "thumb: WHAT: WHY"; file names in it keep their own bytes.
void printError(const QString& text)
{
    std::fprintf(stderr, "thumb: %s\n", fileNameBytes(text).constData());
}

} // namespace

QString thumbVersion() { return QStringLiteral(IV_VERSION); }

int runCommandLine(const QStringList& args)
{
    const ThumbRequest request = parseThumbArguments(args);
    switch (request.kind) {
    case ThumbRequest::Kind::Help:
        std::fputs(commandLineUsage().toLocal8Bit().constData(), stdout);
        return 0;
    case ThumbRequest::Kind::Version:
        std::printf("thumb %s\n", qPrintable(thumbVersion()));
        return 0;
    case ThumbRequest::Kind::BadUsage:
        printError(request.problem);
        return 2;
    case ThumbRequest::Kind::Export:
        break;
    }

    // The export draws into images only: a core application is all it needs, so no display is
    // ever asked for and no platform plugin or font is loaded. BMP and PNG are built into Qt and
    // the textures are decoded by our own JPEG reader, so no image format plugin is looked for.
    static int argc = 1;
    static char name[] = "thumb";
    static char* argv[] = {name, nullptr};
    std::unique_ptr<QCoreApplication> app;
    if (!QCoreApplication::instance()) {
        QCoreApplication::setLibraryPaths({});
        app = std::make_unique<QCoreApplication>(argc, argv);
    }

    std::unique_ptr<BundledTextures> bundled;
    try {
        bundled = std::make_unique<BundledTextures>();
    } catch (const Exception& e) {
        printError(errorReportText(e.message()));
        return 1;
    }

    // A folder that cannot be made shows as each map's "Cannot create file".
    if (request.toFolder()) {
        std::error_code ignored;
        std::filesystem::create_directories(fileNameBytes(request.out).toStdString(), ignored);
    }
    MapRenderer renderer;
    ExportTargets targets(request.maps);
    int failures = 0;
    for (const QString& map : request.maps) {
        const QString target = request.target(map);
        try {
            targets.check(map, target);
            exportMapThumbnail(map, target, renderer, bundled->textures(), request.file);
            targets.written(map, target);
        } catch (const Exception& e) {
            printError(map + QStringLiteral(": ") + errorReportText(e.message()));
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
