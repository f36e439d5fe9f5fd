#pragma once
// One listed file, resolved once when the lists are accepted: its path and size as listed, the
// SHA-256 update.sums gives it, and whether the site keeps a chunk index of that content.

#include "site/UpdateList.h"

#include <QByteArray>
#include <QList>

#include <optional>

class Sums;

struct PlannedEntry {
    UpdateEntry entry;
    std::optional<QByteArray> digest;
    std::optional<QByteArray> indexDigest;  // of the chunk index, where the site keeps one

    bool hasChunkIndex() const { return indexDigest.has_value(); }

    // The entries of a list, with what sums says of each (sums may be null).
    static QList<PlannedEntry> resolve(const QList<UpdateEntry>& entries, const Sums* sums);
};
