#pragma once
// The executable bit of a regular file, never through a link: whether its owner may execute it,
// and setting or clearing that for everyone who may read it. Windows has no such bit: there a
// file counts as not executable and setting it changes nothing.

#include "platform/Result.h"

#include <QString>

#include <optional>

namespace platform {

// Whether the regular file at path has its owner's execute bit; nothing when there is no regular
// file there.
std::optional<bool> isExecutable(const QString& path);

// Sets the execute bits of the regular file at path where it has the matching read bits (0644
// becomes 0755, 0600 becomes 0700), or clears all three; other bits stay as they are.
Status setExecutable(const QString& path, bool executable);

}  // namespace platform
