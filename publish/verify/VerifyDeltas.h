#pragma once
// The check of the index deltas a site holds beside its listed indexes
// ("chunks/index/<new>.from-<old>.cidd"): each must turn the store's index of the old content into
// exactly the index update.sums lists for the new one, as a player's updater rebuilds it. A delta
// whose old index is not in the store can't be checked here and is passed over.

#include "store/ChunkIndexes.h"
#include "verify/SiteCheck.h"

#include <QList>
#include <QString>

void checkDeltas(const QString& siteDir, const QList<ListedIndex>& listed, SiteCheck& check);
