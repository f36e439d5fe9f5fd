#pragma once
// The check of a site's chunk store as an updater would make it: each index update.sums lists
// (its SHA-256, its form, that it describes the listed file) and each chunk an index names (there,
// decompresses to its length, SHA-256 as named). Each chunk is checked once however many indexes
// name it, on all cores; and each index's pack (there, of its chunks' stored length in all).

#include "common/ProgressMeter.h"
#include "verify/SiteCheck.h"

#include <QString>

class Sums;
struct UpdateListEntries;

void checkChunkStore(const QString& siteDir, const UpdateListEntries& list, const Sums& sums, SiteCheck& check,
                     ProgressMeter& progress);
