#pragma once
// One listed file, resolved once when the lists are accepted: its path and size as listed, the
// SHA-256 update.sums gives it, whether the site keeps a chunk index of that content, and
// whether it is to be executable.

#include "site/UpdateList.h"

#include <QByteArray>
#include <QList>

#include <optional>

class Sums;

struct PlannedEntry {
    UpdateEntry entry;
    std::optional<QByteArray> digest;
    std::optional<QByteArray> indexDigest;  // of the chunk index, where the site keeps one
    std::optional<bool> executable;         // nothing: the site says nothing of modes

    bool hasChunkIndex() const { return indexDigest.has_value(); }

    // The entries of a list, with what sums says of each (sums may be null).
    static QList<PlannedEntry> resolve(const QList<UpdateEntry>& entries, const Sums* sums);
};
