#pragma once
// Decides, entry by entry, whether an installed file differs from what the list names. By size
// where the site has no checksums (and always first); where it has them, by SHA-256: the hash
// comes from the installed-state record while the file is unchanged since it was hashed,
// otherwise (and always for a repair) from reading the file on a pool of threads, several files
// at once and ahead of the entry being decided, while the main thread keeps handling events.

#include "run/InstalledState.h"
#include "site/UpdateList.h"

#include <QObject>
#include <QThreadPool>

#include <functional>
#include <optional>
#include <vector>

class QEventLoop;
class Sums;

class EntryCheck : public QObject {
    Q_OBJECT
public:
    EntryCheck(const QList<UpdateEntry>& entries, QString installBase, const Sums* sums, InstalledState& state,
                bool repair);
    // Waits for the hashes in flight; none is reported afterwards.
    ~EntryCheck() override;

    // Whether entry i differs; nothing while its file is still being hashed. Starts the hashing
    // of the next files that need it.
    std::optional<bool> Differs(qsizetype i);
    // The same, waiting with events flowing until it is known.
    bool AwaitDiffers(qsizetype i);
    // Starts hashing files from entry i on, without deciding anything yet.
    void Prefetch(qsizetype i);
    // Runs on the main thread whenever a hash has arrived.
    std::function<void()> OnHashed;

private:
    struct Slot {
        enum { Unknown, Hashing, Known } state = Unknown;
        bool differs = false;
        FileIdentity identity;
    };
    void decide(qsizetype i);
    void hashed(qsizetype i, const std::optional<QByteArray>& digest);

    const QList<UpdateEntry>& entries_;
    const QString installBase_;
    const Sums* sums_;
    InstalledState& state_;
    const bool repair_;
    std::vector<Slot> slots_;
    QThreadPool pool_;
    int inFlight_ = 0;
    qsizetype ahead_ = 0;  // entries below this have been decided or started
    QEventLoop* wait_ = nullptr;
    qsizetype awaited_ = -1;
};
