#pragma once
// The SHA-256 of an installed file, read on a thread of its own while the calling (main) thread
// keeps handling its events: downloads in flight keep reporting progress and flowing meanwhile.

#include "Result.h"

#include <QByteArray>
#include <QString>

Result<QByteArray> HashWhileEventsFlow(const QString& path);
