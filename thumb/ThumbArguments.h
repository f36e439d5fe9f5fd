#pragma once
// The arguments of thumb's command line: which run they ask for, and where each map's
// thumbnail goes in which format.

#include "ThumbnailExport.h"

#include <QString>
#include <QStringList>

// True when the arguments (program name first) ask for the command line rather than the window:
// any argument other than Qt's own window options.
bool isCommandLineRun(const QStringList& args);

// The map of a "thumb MAP" start (one map file and nothing else but Qt's window options), which
// opens the window with that map; an empty string for any other arguments (program name first).
QString windowMapArgument(const QStringList& args);

QString commandLineUsage();

struct ThumbRequest {
    enum class Kind { Export, Help, Version, BadUsage };
    Kind kind = Kind::BadUsage;
    // For BadUsage: one line saying what is wrong.
    QString problem;

    QString out;
    QStringList maps;
    ThumbnailFile file;
    bool formatGiven = false;

    // Several maps go into the folder out; one map goes to the file out.
    bool toFolder() const { return maps.size() > 1; }
    // Where map's thumbnail is written:
    //   one map, no --format: out, in PNG when it ends in ".png" (any case), else in BMP with
    //     ".bmp" appended unless out ends in a three-letter extension;
    //   one map with --format: out exactly as given;
    //   several maps: out/<map name without its last extension>.bmp or .png.
    QString target(const QString& map) const;
};

// Parses the arguments (program name first).
ThumbRequest parseThumbArguments(const QStringList& args);
