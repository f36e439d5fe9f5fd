#pragma once
// renewel.stamp in the program folder: the timestamp (Unix seconds) of the newest update list
// that was accepted, as one decimal line. An older list is a replay and is refused.

#include <QString>

#include <optional>

QString updateStampPath(const QString& programFolder);

// The stored timestamp. Nothing when the file is missing; nothing, with the reason in problem,
// when it can't be read or does not hold one decimal line (the next accepted list writes it
// anew). Writes are atomic, so a damaged file means outside interference, which could just as
// well have deleted it.
std::optional<qint64> readUpdateStamp(const QString& programFolder, QString* problem = nullptr);

// Replaces the file atomically (a temporary file renamed over it). False, with the reason in
// error, when that fails; the old file then stays as it was.
bool writeUpdateStamp(const QString& programFolder, qint64 timestamp, QString* error = nullptr);
