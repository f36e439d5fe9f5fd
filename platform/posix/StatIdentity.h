#pragma once
// The identity a stat call found (for the POSIX part's own use).

#include "platform/FileIdentity.h"

struct stat;

FileIdentity identityFromStat(const struct stat& status);
