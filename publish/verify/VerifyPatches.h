#pragma once
// The check of the binary patches update.sums lists ("chunks/patches/<old>-<new>.patch"): each
// must be at most as long as the listed file it makes (a player fetches no more), hold the bytes
// its line names, and be the patch its name says, from the old content to a listed file's new one.

#include "verify/SiteCheck.h"

#include <QString>

class Sums;
struct UpdateListEntries;

void checkPatches(const QString& siteDir, const UpdateListEntries& list, const Sums& sums, SiteCheck& check);
