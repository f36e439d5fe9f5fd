#pragma once
// Start-up of the thumbnail maker's window: "Mapsmith" as the application title, Form1 centred
// on the screen and, when a map file is named on the command line, its thumbnail already made.

#include "ThumbArguments.h"

#include <QString>
#include <QStringList>
#include <memory>

class TForm1;

// The desktop entry's name (ironvale-thumb.desktop), which is also the window's class.
inline const QString DesktopEntryName = QStringLiteral("ironvale-thumb");

// Creates and shows Form1. A map named in arguments (the program's arguments without the
// program name) is opened as "Make Thumbnail from map" would; its errors are reported the same way.
std::unique_ptr<TForm1> createForm1(const QStringList& arguments);

// Runs the window until it is closed; returns the exit code of the message loop.
int runThumbWindow(const QStringList& arguments);
