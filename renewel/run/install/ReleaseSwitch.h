#pragma once
// A release arrives whole: every changed file is obtained and checked into the download folder
// first and stays there, staged; once all are, the release is switched in one short phase of
// renames, recorded beforehand in the switch journal (SwitchJournal). Dropped files leave and the
// stamp is written in the same phase. A run that ends before the switch leaves the installation
// as it was; a run cut off during it is finished by the next one (finishLeftover).

#include "run/install/SwitchJournal.h"
#include "run/plan/PlannedEntry.h"
#include "run/plan/RunFolders.h"

#include "Result.h"

#include <QSet>

#include <functional>

class InstalledState;

class ReleaseSwitch {
public:
    struct Hooks {
        std::function<void(const QByteArray& listed)> installed;
        std::function<void(const QByteArray& listed)> deleted;
    };

    ReleaseSwitch(const RunFolders& folders, InstalledState& state) : folders_(folders), state_(state) {}

    // Keeps the obtained file of an entry under stagedName in the download folder until the switch.
    Status stage(const PlannedEntry& planned, const QString& file, const QByteArray& digest, const QString& stagedName);
    // A file whose content is current but whose executable bit is due to change, at the switch.
    void changeMode(const PlannedEntry& planned) { modes_ << planned; }
    // The staged files' names in the download folder.
    const QSet<QString>& stagedNames() const { return names_; }

    // Switches the release in; the failure's subject in *subject. A failure after the journal is
    // written leaves it for the next run.
    Status switchIn(const QList<QByteArray>& dropped, std::optional<qint64> stamp, const Hooks& hooks, QString* subject);
    // Once the installed-state record is written: the switch is over.
    void finish() { SwitchJournal::remove(folders_.download); }

    // The work of a journal a cut-off switch left, done and the journal removed; nothing when none.
    static Status finishLeftover(const RunFolders& folders, InstalledState& state, QString* subject);

private:
    Status prepare(SwitchJournal& journal, QString* subject);
    static Status carryOut(const SwitchJournal& journal, const RunFolders& folders, InstalledState& state,
                           const Hooks& hooks, QString* subject);
    static Status settle(const SwitchJournal& journal, const RunFolders& folders, InstalledState& state,
                         const Hooks& hooks, const QSet<QString>& touched, QString* subject);

    const RunFolders& folders_;
    InstalledState& state_;
    QList<std::pair<PlannedEntry, SwitchJournal::Move>> staged_;
    QList<PlannedEntry> modes_;
    QSet<QString> names_;
};
