#pragma once
// renewel.stamp in the program folder: the timestamp (Unix seconds) of the newest update list
// that was accepted, as one decimal line. An older list is a replay and is refused.

#include "Result.h"

#include <QString>

#include <optional>

QString updateStampPath(const QString& programFolder);

// The stored timestamp; no value (std::nullopt) only when there is no stamp yet. A stamp that
// can't be read, is not a regular file, or does not hold one decimal line is a failure with its
// reason: replay protection is never silently turned off.
Result<std::optional<qint64>> readUpdateStamp(const QString& programFolder);

// Replaces the file atomically (a link there is replaced, never written through); the old file
// stays as it was on failure.
Status writeUpdateStamp(const QString& programFolder, qint64 timestamp);
