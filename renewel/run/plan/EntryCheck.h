#pragma once
// Decides, entry by entry, whether an installed file differs from what the list names (a file
// renewel may not write, such as the running program, is compared all the same). By size
// where the site has no checksums (and always first); where it has them, by SHA-256: the hash
// comes from the installed-state record while the file is unchanged since it was hashed,
// otherwise (and always for a repair) from reading the file on a pool of threads, several files
// at once and ahead of the entry being decided. Each hash that arrives is reported on the main
// thread (onHashed); nothing here waits.

#include "run/install/InstalledState.h"
#include "run/plan/PlannedEntry.h"

#include <QObject>
#include <QThreadPool>

#include <functional>
#include <optional>
#include <vector>

class EntryCheck : public QObject {
    Q_OBJECT
public:
    EntryCheck(const QList<PlannedEntry>& entries, QString installBase, InstalledState& state, bool repair);
    // Waits for the hashes in flight; none is reported afterwards.
    ~EntryCheck() override;

    // Whether entry i differs; nothing while its file is still being hashed (onHashed follows).
    // Starts the hashing of the next files that need it.
    std::optional<bool> differs(qsizetype i);
    // Starts hashing files from entry i on, without deciding anything yet.
    void prefetch(qsizetype i);
    // Runs on the main thread whenever a hash has arrived.
    std::function<void()> onHashed;

private:
    struct Slot {
        enum { Unknown, Hashing, Known } state = Unknown;
        bool differs = false;
        FileIdentity identity;
    };
    void decide(qsizetype i);
    void hashed(qsizetype i, const std::optional<QByteArray>& digest);

    const QList<PlannedEntry>& entries_;
    const QString installBase_;
    InstalledState& state_;
    const bool repair_;
    std::vector<Slot> slots_;
    QThreadPool pool_;
    int inFlight_ = 0;
    qsizetype ahead_ = 0;  // entries below this have been decided or started
};
