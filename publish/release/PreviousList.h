#pragma once
// What a publish changes for the players: the release files that are new to the site's list, those
// whose content differs from what the current list's checksums name, and the files the current
// list names that the release no longer has. Paths are shown as the release names them
// ("maps/coast/harbour.ivm").

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

struct ChangeList {
    QStringList added;
    QStringList changed;
    QStringList removed;
    int unchanged = 0;
};

// The list and checksums of the release the site serves now.
class PreviousList {
public:
    // Empty when there is no current release or it has no readable list.
    static PreviousList read(const QString& currentRelease);

    // Files the release is publishing (listed path -> SHA-256) compared with this list.
    // The SHA-256 of the listed path's content (empty when it is not listed with one).
    QByteArray digest(const QByteArray& listed) const;
    ChangeList compare(const QList<QByteArray>& listed, const QHash<QByteArray, QByteArray>& digests) const;

private:
    QList<QByteArray> listed_;              // in list order
    QHash<QString, QByteArray> digests_;  // folded key of the listed path -> SHA-256, where update.sums has one
};
